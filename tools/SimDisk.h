// A raw disk image of a Windows 98/ME machine as the simulated machine's C: drive, read only as
// far as the run goes and never written.
#ifndef UNINST_TOOLS_SIMDISK_H
#define UNINST_TOOLS_SIMDISK_H

#include <memory>
#include <string>

#include "platform/sim/sim.h"

namespace simtool {

struct DiskVolume;  // the open image and what has been read of its FAT volume (SimDisk.cpp)

struct Disk {
  std::string image;                    // the path given, for messages
  std::shared_ptr<DiskVolume> pVolume;  // set by OpenDisk; the image stays open while a copy lives
};

/// Thrown by the disk's drive source when what the run touches cannot be read faithfully: a name
/// Windows could not hold, a damaged folder or cluster chain. The message is one printable line.
struct DiskError {
  std::string message;
};

/// Finds the FAT volume: the first FAT16/FAT32 partition of the MBR partition table, or the image
/// itself when it is a bare FAT volume, and checks its boot sector against the room it has.
/// "" or the one-line error.
std::string OpenDisk(const std::string &image, Disk *pDisk);
/// OpenDisk on an image's bytes held in memory, named image in messages.
std::string OpenDiskBytes(const std::string &bytes, const std::string &image, Disk *pDisk);
/// The drive source that lists and reads the disk's folders and files; it throws DiskError.
sim::DriveSource DiskSource(const Disk &disk);
/// Copies every file of a disk folder (its path as DriveSource takes it) into an existing host
/// folder. "" or the one-line error.
std::string CopyDiskFolder(const Disk &disk, const std::string &folder, const std::string &hostFolder);
/// The Windows directory an MSDOS.SYS names in [Paths] WinDir=, or "" when it names none.
std::string WindowsDirectoryOf(const std::string &msdosSys);
/// Whether a Windows directory can be taken: a C:\ path of at most 64 characters without control
/// characters, already in the form Windows resolves it to.
bool IsWindowsDirectory(const std::string &path);

}  // namespace simtool

#endif

// A raw disk image of a Windows 98/ME machine as the simulated machine's C: drive, read with
// mtools only as far as the run goes and never written.
#ifndef UNINST_TOOLS_SIMDISK_H
#define UNINST_TOOLS_SIMDISK_H

#include <cstdint>
#include <string>

#include "platform/sim/sim.h"

namespace simtool {

struct Disk {
  std::string image;
  std::uint64_t ullOffset = 0;  // of the FAT volume, in bytes
};

/// Thrown by the disk's drive source when mtools cannot read what the run touches.
struct DiskError {
  std::string message;
};

/// Finds the FAT volume: the first FAT16/FAT32 partition of the MBR partition table, or the image
/// itself when it is a bare FAT volume. "" or the one-line error.
std::string OpenDisk(const std::string &image, Disk *pDisk);
/// The drive source that lists and reads the disk's folders and files with mtools.
sim::DriveSource DiskSource(const Disk &disk);
/// Copies every file of a disk folder (its path as DriveSource takes it) into a host folder, in
/// one mtools call.
void CopyDiskFolder(const Disk &disk, const std::string &folder, const std::string &hostFolder);
/// The Windows directory an MSDOS.SYS names in [Paths] WinDir=, or "" when it names none.
std::string WindowsDirectoryOf(const std::string &msdosSys);
/// Whether a Windows directory can be taken: a C:\ path of at most 64 characters, already in
/// the form Windows resolves it to.
bool IsWindowsDirectory(const std::string &path);

}  // namespace simtool

#endif

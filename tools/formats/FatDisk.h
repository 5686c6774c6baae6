// A disk image of a Windows 98/ME machine, raw or a virtual machine's disk file: its FAT volume's folders listed and
// files read, only as far as the caller asks, never written.
#ifndef UNINST_TOOLS_FORMATS_FATDISK_H
#define UNINST_TOOLS_FORMATS_FATDISK_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/formats/Names.h"

namespace formats {

struct FatVolume;  // the open image and what has been read of its FAT volume (FatDisk.cpp)

struct FatDisk {
  std::string image;                   // the path given, for messages
  std::shared_ptr<FatVolume> pVolume;  // set by OpenFatDisk; the image stays open while a copy lives
};

/// Thrown when what is asked cannot be read faithfully: a name Windows could not hold, a damaged
/// folder or cluster chain. The message is one printable line naming the image.
struct DiskError {
  std::string message;
};

/// Finds the FAT volume: the first FAT16/FAT32 partition of the MBR partition table, or the image
/// itself when it is a bare FAT volume, and checks its boot sector against the room it has. The
/// image is raw, or a virtual machine's disk file (told by its content) read through
/// VirtualDisk.h with its server's socket in scratchFolder. Each folder's names are put to
/// namesCheck when it is first read, before its files' clusters are taken. "" or the one-line
/// error.
std::string OpenFatDisk(const std::string &image, const std::string &scratchFolder, const NamesCheck &namesCheck,
                        FatDisk *pDisk);
/// Whether a file's first bytes (its first sector, or all of a shorter file) are those of an image
/// OpenFatDisk opens: a FAT boot sector, a partition table's 55AA, or a virtual machine disk's
/// signature.
bool IsDiskImageHead(std::string_view head);
/// OpenFatDisk on an image's bytes held in memory, named image in messages.
std::string OpenFatDiskBytes(const std::string &bytes, const std::string &image, const NamesCheck &namesCheck,
                             FatDisk *pDisk);
/// A folder's entries, in its order; folder is a path relative to the volume's root, names joined
/// by '/', "" for the root. A folder the disk lacks is empty. Throws DiskError.
std::vector<FolderEntryName> ListFatFolder(const FatDisk &disk, const std::string &folder);
/// A file's bytes (its path as ListFatFolder takes a folder's). Throws DiskError.
std::string ReadFatFile(const FatDisk &disk, const std::string &file);
/// Copies every file of a disk folder into an existing host folder. "" or the one-line error.
std::string CopyFatFolder(const FatDisk &disk, const std::string &folder, const std::string &hostFolder);
/// The Windows directory an MSDOS.SYS names in [Paths] WinDir=, or "" when it names none.
std::string WindowsDirectoryOf(const std::string &msdosSys);

}  // namespace formats

#endif

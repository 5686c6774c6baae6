// What a user's file is, told by its first bytes alone, so that one given to the wrong option can
// be named for what it is. Only a bounded prefix is ever read.
#ifndef UNINST_TOOLS_FORMATS_FILEKIND_H
#define UNINST_TOOLS_FORMATS_FILEKIND_H

#include <cstddef>
#include <string>
#include <string_view>

namespace formats {

enum class FileKind {
  Unknown,
  Regedit4,        // a REGEDIT4 export, as Windows 98/ME writes it
  TwiceConverted,  // a REGEDIT4 export whose CR LF line ends were converted again, to CR CR LF
  LaterExport,     // an export of Windows 2000 or later: UTF-16, or "Windows Registry Editor Version 5.00"
  RegistryFile,    // a Windows 9x registry file (CREG)
  Cabinet,         // a cabinet, as a registry backup RB00n.CAB is
  DiskImage,       // what the disk reader opens: FAT boot sector, partition table, virtual disk
};

/// The bytes of a file's start that tell its kind: a sector, where the disks keep their marks.
const std::size_t KIND_PREFIX = 512;

/// The kind of a file starting with head (KIND_PREFIX bytes, or all of a shorter file).
FileKind KindOf(std::string_view head);
/// The kind of the file at path, from its first KIND_PREFIX bytes; Unknown when it cannot be read.
FileKind KindOfFile(const std::string &path);

}  // namespace formats

#endif

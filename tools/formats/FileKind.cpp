// File kinds from their first bytes.
#include "tools/formats/FileKind.h"

#include <fcntl.h>
#include <unistd.h>

#include "tools/formats/FatDisk.h"

namespace formats {

namespace {

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

}  // namespace

FileKind KindOf(std::string_view head) {
  // Regedit of Windows 2000 and later writes UTF-16 with a byte order mark; its version 5 header
  // stays once the text is converted to 8 bits.
  if (StartsWith(head, "\xFF\xFE") || StartsWith(head, "Windows Registry Editor Version 5.00"))
    return FileKind::LaterExport;
  if (StartsWith(head, "REGEDIT4\r\r\n"))
    return FileKind::TwiceConverted;
  if (StartsWith(head, "REGEDIT4\r\n") || StartsWith(head, "REGEDIT4\n"))
    return FileKind::Regedit4;
  if (StartsWith(head, "CREG"))
    return FileKind::RegistryFile;
  if (StartsWith(head, "MSCF"))
    return FileKind::Cabinet;
  return IsDiskImageHead(head) ? FileKind::DiskImage : FileKind::Unknown;
}

FileKind KindOfFile(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0)
    return FileKind::Unknown;
  char ucHead[KIND_PREFIX];
  size_t ulHead = 0;
  while (ulHead < sizeof ucHead) {
    ssize_t got = read(fd, ucHead + ulHead, sizeof ucHead - ulHead);
    if (got <= 0)
      break;
    ulHead += static_cast<size_t>(got);
  }
  close(fd);
  return KindOf(std::string_view(ucHead, ulHead));
}

}  // namespace formats

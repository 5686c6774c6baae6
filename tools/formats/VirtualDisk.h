// Virtual machines' disk files (qcow2, VDI, VMDK, VHD, VHDX) read as the disk they hold, sector
// ranges on demand, never written and never copied whole. VMDK goes through libvmdk; the others
// through qemu's own block layer, served read-only by qemu-nbd on a socket in a scratch folder
// and read with libnbd. Before either opens anything, every other host file the image names (a
// backing file, an external data file, an extent, a parent disk) is checked: it must be a plain
// file in the image's own folder. qemu is then handed exactly the files checked, each with its
// format spelt out, so that it never follows a name of the image's own.
#ifndef UNINST_TOOLS_FORMATS_VIRTUALDISK_H
#define UNINST_TOOLS_FORMATS_VIRTUALDISK_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace vdisk {

enum class Format { Raw, Qcow2, Vdi, Vmdk, Vhd, Vhdx };

/// What an image file holds, told by its bytes alone (never by its name): a container's
/// signature at its start, or a fixed VHD's footer in its last sector. Raw for anything else.
Format FormatOf(int fd);
/// The same told by the file's first ulSize bytes (up to a sector) alone: a fixed VHD, known
/// only by its last sector, is Raw here.
Format FormatOfHead(const char *pucHead, std::size_t ulSize);
/// "qcow2", "VDI", "VMDK", "VHD", "VHDX" or "raw", for messages.
const char *FormatName(Format format);

struct Reader;  // the library's handle on the image (VirtualDisk.cpp)

struct VirtualDisk {
  Format format = Format::Raw;
  std::uint64_t ullSize = 0;  // bytes of the disk the image holds
  Reader *pReader = nullptr;
};

/// Opens a container image for reading. scratchFolder is an existing private folder for the
/// server's socket. "" or the one-line reason it is refused: a file it names outside its folder
/// or through a link, an encrypted image, or one the library cannot read.
std::string Open(const std::string &path, Format format, const std::string &scratchFolder, VirtualDisk *pDisk);
/// Reads ulSize bytes at ullOffset; false when the library fails or the range is past the end.
bool ReadAt(const VirtualDisk &disk, std::uint64_t ullOffset, void *pTo, std::size_t ulSize);
/// Closes the library's handle and stops the server.
void Close(VirtualDisk *pDisk);

}  // namespace vdisk

#endif

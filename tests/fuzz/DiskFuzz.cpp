// The disk image reader (uninst-sim --disk) on arbitrary bytes: customers' files, untrusted. Each
// input is read twice: as a whole image (partition table, boot sector), and laid after a sound
// FAT12 boot sector as its FAT, root folder and clusters (folders, long names, cluster chains).
// Whatever the bytes: no crash, no hang on looping chains or folders, every refusal one printable
// line naming the image, every name listed one that stays in its folder, and never more read than
// the image holds.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tools/formats/FatDisk.h"

namespace {

bool HasControlCharacters(const std::string &text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return (c >= 0 && c < 0x20) || c == 0x7F; });
}

bool IsPrintableLine(const std::string &message) {
  return !HasControlCharacters(message) && message.find("disk.img") != std::string::npos;
}

bool StaysInItsFolder(const std::string &name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos &&
         !HasControlCharacters(name);
}

// A FAT12 volume: one reserved sector, one FAT sector, a root folder of 16 entries, one sector
// per cluster, as many sectors as the bytes fill.
std::string AfterBootSector(const std::string &bytes) {
  std::string image(512, '\0');
  const unsigned char ucFields[] = {0xEB, 0x3C, 0x90, 'M', 'S', 'W', 'I', 'N', '4', '.',
                                    '1',  0x00, 0x02, 1,   1,   0,   1,   16,  0};
  std::memcpy(&image[0], ucFields, sizeof ucFields);
  std::memcpy(&image[54], "FAT12   ", 8);
  image[510] = '\x55';
  image[511] = '\xAA';
  image += bytes;
  image.resize((image.size() + 511) / 512 * 512, '\0');
  size_t ulSectors = std::min<size_t>(image.size() / 512, 0xFFFF);
  image[19] = static_cast<char>(ulSectors & 0xFF);
  image[20] = static_cast<char>(ulSectors >> 8);
  image[21] = '\xF8';
  image[22] = 1;
  return image;
}

void ReadWhole(const std::string &image) {
  formats::FatDisk disk;
  std::string error = formats::OpenFatDiskBytes(image, "disk.img", sim::FolderNamesProblem, &disk);
  if (!error.empty()) {
    if (!IsPrintableLine(error))
      __builtin_trap();  // a refusal that is not one printable line naming the image
    return;
  }
  std::vector<std::string> folders = {""};
  size_t ulRead = 0;
  try {
    for (size_t i = 0; i < folders.size() && i < 64; ++i) {
      for (const auto &entry : formats::ListFatFolder(disk, folders[i])) {
        if (!StaysInItsFolder(entry.first))
          __builtin_trap();  // a name that would reach another folder
        std::string path = folders[i].empty() ? entry.first : folders[i] + "/" + entry.first;
        if (entry.second)
          folders.push_back(path);
        else
          ulRead += formats::ReadFatFile(disk, path).size();
      }
    }
  } catch (const formats::DiskError &failure) {
    if (!IsPrintableLine(failure.message))
      __builtin_trap();
  }
  if (ulRead > image.size())
    __builtin_trap();  // more read than the image holds: a cluster read for two files
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t ulSize) {
  std::string bytes(reinterpret_cast<const char *>(pData), ulSize);
  ReadWhole(bytes);
  ReadWhole(AfterBootSector(bytes));
  return 0;
}

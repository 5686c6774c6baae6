// Disk images read here, from one read-only descriptor opened on the path given: no other program
// opens the image, so no name in it (nor the image's own name) is ever read as a pattern, an
// option or a path. An image is a customer's file: every boot sector field is checked against the
// room the image gives it before any is used; each folder and file is read only through its own
// cluster chain, and each cluster is taken for one chain only, so that cross-linked or looping
// chains are refused rather than read twice or followed forever; nothing recurses on the image's
// depth, and what the run reads never exceeds what the volume holds.
#include "tools/formats/FatDisk.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <vector>

#include "tools/formats/Printable.h"
#include "tools/formats/VirtualDisk.h"

namespace formats {

namespace {

const unsigned char PARTITION_TYPES[] = {0x04, 0x06, 0x0E, 0x0B, 0x0C};  // FAT16, FAT32 (CHS, LBA)
const std::uint32_t MAX_FOLDER_BYTES = 65536 * 32;                       // Windows keeps a folder to 65536 entries
const std::uint32_t PAGE_CLUSTERS = 65536;                               // clusters per page of the taken-cluster map
const std::uint32_t FAT_BLOCK = 65536;                                   // bytes of the FAT read at a time

// The volume's layout, from its boot sector; every offset is from the image's start, in bytes.
struct Geometry {
  std::uint64_t ullFat = 0;         // the first FAT
  std::uint64_t ullRoot = 0;        // FAT12/16: the root folder's fixed area
  std::uint32_t ulRootBytes = 0;    // FAT12/16: its size
  std::uint32_t ulRootCluster = 0;  // FAT32: the root folder's first cluster
  std::uint64_t ullData = 0;        // cluster 2
  std::uint32_t ulClusterBytes = 0;
  std::uint32_t ulClusters = 0;  // clusters 2 .. ulClusters + 1 hold data
  int iFatBits = 0;              // 12, 16 or 32
};

struct DiskEntry {
  std::string name;  // UTF-8: the long name, or the short one
  bool fFolder;
  std::uint32_t ulCluster;  // the first; 0 for an empty file
  std::uint32_t ulSize;     // bytes, for a file
};

struct Folder {
  std::vector<DiskEntry> entries;        // in the folder's order
  std::map<std::string, size_t> byName;  // index in entries
};

}  // namespace

struct FatVolume {
  std::string image;  // for messages
  NamesCheck namesCheck;
  int fd = -1;                     // a raw image, read-only; -1 otherwise
  vdisk::VirtualDisk virtualDisk;  // a virtual machine's disk file, read through its library
  std::string bytes;               // an image held in memory
  std::uint64_t ullImageSize = 0;
  Geometry g;
  std::map<std::uint64_t, std::string> fatBlocks;  // FAT bytes read so far, by block
  std::vector<std::vector<bool>> taken;            // clusters of the chains read, by page
  std::map<std::string, Folder> folders;           // the folders listed, by path

  ~FatVolume() {
    if (fd >= 0)
      close(fd);
    vdisk::Close(&virtualDisk);
  }
};

namespace {

std::uint32_t Le16(const unsigned char *pucBytes) {
  return pucBytes[0] | (pucBytes[1] << 8);
}

std::uint32_t Le32(const unsigned char *pucBytes) {
  return Le16(pucBytes) | (static_cast<std::uint32_t>(Le16(pucBytes + 2)) << 16);
}

std::string WindowsName(const std::string &path) {
  std::string name = "C:\\" + path;
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

[[noreturn]] void Unreadable(const FatVolume &v, const std::string &path, const std::string &why) {
  throw DiskError{Printable(v.image + ": cannot read " + WindowsName(path) + ": " + why)};
}

[[noreturn]] void Damaged(const FatVolume &v, const std::string &path, const std::string &why) {
  Unreadable(v, path, "the volume is damaged: " + why);
}

bool ReadImage(const FatVolume &v, std::uint64_t ullOffset, void *pBuffer, size_t ulSize) {
  if (ullOffset > v.ullImageSize || ulSize > v.ullImageSize - ullOffset)
    return false;
  if (v.virtualDisk.pReader != nullptr)
    return vdisk::ReadAt(v.virtualDisk, ullOffset, pBuffer, ulSize);
  if (v.fd < 0) {
    std::memcpy(pBuffer, v.bytes.data() + ullOffset, ulSize);
    return true;
  }
  char *pucTo = static_cast<char *>(pBuffer);
  while (ulSize > 0) {
    ssize_t got = pread(v.fd, pucTo, ulSize, static_cast<off_t>(ullOffset));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    pucTo += got;
    ullOffset += static_cast<std::uint64_t>(got);
    ulSize -= static_cast<size_t>(got);
  }
  return true;
}

// ---- Partition table and boot sector ----------------------------------------------------------

// A FAT boot sector: a jump, and "FAT" where FAT12/16 or FAT32 name themselves.
bool IsFatBootSector(const unsigned char *pucSector) {
  bool fJump = pucSector[0] == 0xEB || pucSector[0] == 0xE9;
  return fJump && (std::memcmp(pucSector + 54, "FAT", 3) == 0 || std::memcmp(pucSector + 82, "FAT", 3) == 0);
}

std::string Field(const char *pucName, std::uint64_t ullValue, const std::string &why) {
  return std::string(pucName) + " " + std::to_string(ullValue) + (why.empty() ? "" : " (" + why + ")");
}

// The boot sector's fields that size the volume.
struct BootFields {
  std::uint32_t ulPerCluster, ulReserved, ulFats, ulRootEntries;
  std::uint64_t ullSectors, ullFatSectors, ullRootSectors, ullClusters;
  bool fFat32;
};

// The fields of the boot sector s, with ullRoom bytes to hold the volume (named room: "the
// image", "partition 1"); "" or the field that does not fit.
std::string ReadBootFields(const unsigned char *s, std::uint64_t ullRoom, const std::string &room, BootFields *pF) {
  BootFields &f = *pF;
  f.ulPerCluster = s[13];
  f.ulReserved = Le16(s + 14);
  f.ulFats = s[16];
  f.ulRootEntries = Le16(s + 17);
  f.ullSectors = Le16(s + 19) != 0 ? Le16(s + 19) : Le32(s + 32);
  f.ullFatSectors = Le16(s + 22) != 0 ? Le16(s + 22) : Le32(s + 36);
  f.fFat32 = Le16(s + 22) == 0;
  if (Le16(s + 11) != 512)
    return Field("bytes per sector", Le16(s + 11), "not 512");
  if (f.ulPerCluster == 0 || (f.ulPerCluster & (f.ulPerCluster - 1)) != 0)
    return Field("sectors per cluster", f.ulPerCluster, "not a power of two");
  if (f.ulReserved == 0)
    return Field("reserved sectors", 0, "");
  if (f.ulFats == 0)
    return Field("number of FATs", 0, "");
  if (f.ullSectors == 0 || f.ullSectors > ullRoom / 512)
    return Field("total sectors", f.ullSectors, "more than " + room + " holds: " + std::to_string(ullRoom / 512));
  if (f.ulReserved >= f.ullSectors)
    return Field("reserved sectors", f.ulReserved, "larger than the volume");
  if (f.fFat32 != (f.ulRootEntries == 0))
    return Field("root folder entries", f.ulRootEntries, f.fFat32 ? "not 0 on FAT32" : "0 on FAT12/16");
  f.ullRootSectors = (f.ulRootEntries * 32ull + 511) / 512;
  std::uint64_t ullMeta = f.ulReserved + f.ulFats * f.ullFatSectors + f.ullRootSectors;
  if (f.ullFatSectors == 0 || ullMeta >= f.ullSectors)
    return Field("sectors per FAT", f.ullFatSectors, "larger than the volume");
  f.ullClusters = (f.ullSectors - ullMeta) / f.ulPerCluster;
  return "";
}

// The FAT type as Windows tells it: FAT32 when the 16-bit FAT size is 0, else FAT12 below 4085
// clusters; clusters past what the FAT can number are not used.
int CountClusters(BootFields *pF) {
  BootFields &f = *pF;
  int iBits = f.fFat32 ? 32 : f.ullClusters < 4085 ? 12 : 16;
  std::uint64_t ullNumbered = f.ullFatSectors * 512 * 8 / static_cast<std::uint64_t>(iBits);
  f.ullClusters = std::min<std::uint64_t>({f.ullClusters, ullNumbered - std::min<std::uint64_t>(ullNumbered, 2),
                                           std::uint64_t(iBits == 12   ? 0xFF4
                                                         : iBits == 16 ? 0xFFF4
                                                                       : 0x0FFFFFF4)});
  return iBits;
}

// The layout of the volume whose boot sector s starts at ullStart, with ullRoom bytes to hold it;
// "" or the boot sector field that does not fit.
std::string ReadGeometry(const unsigned char *s, std::uint64_t ullStart, std::uint64_t ullRoom, const std::string &room,
                         Geometry *pGeometry) {
  BootFields f{};
  std::string why = ReadBootFields(s, ullRoom, room, &f);
  if (!why.empty())
    return why;
  int iBits = CountClusters(&f);
  if (f.ullClusters == 0)
    return Field("sectors per cluster", f.ulPerCluster, "no cluster fits the volume");
  // A FAT32 volume may keep one FAT up to date alone (mirroring off), the one its flags name.
  std::uint32_t ulActiveFat = f.fFat32 && (Le16(s + 40) & 0x80) != 0 ? Le16(s + 40) & 0x0F : 0;
  if (ulActiveFat >= f.ulFats)
    return Field("active FAT", ulActiveFat, "past the number of FATs");
  Geometry &g = *pGeometry;
  g.ullFat = ullStart + (f.ulReserved + ulActiveFat * f.ullFatSectors) * 512;
  std::uint64_t ullFirstFat = ullStart + f.ulReserved * 512ull;
  g.ullRoot = ullFirstFat + f.ulFats * f.ullFatSectors * 512;
  g.ulRootBytes = f.ulRootEntries * 32;
  g.ulRootCluster = f.fFat32 ? Le32(s + 44) : 0;
  g.ullData = g.ullRoot + f.ullRootSectors * 512;
  g.ulClusterBytes = f.ulPerCluster * 512;
  g.ulClusters = static_cast<std::uint32_t>(f.ullClusters);
  g.iFatBits = iBits;
  return "";
}

// The FAT volume: the image itself when its first sector is a FAT boot sector, else the first FAT
// partition of its MBR. "" or the one-line error.
std::string FindVolume(FatVolume *pVolume) {
  FatVolume &v = *pVolume;
  unsigned char ucSector[512];
  if (!ReadImage(v, 0, ucSector, sizeof ucSector))
    return "cannot read the disk image " + v.image + ": " +
           (v.ullImageSize < sizeof ucSector ? "shorter than one sector" : "its first sector cannot be read");
  if (IsFatBootSector(ucSector)) {
    std::string problem = ReadGeometry(ucSector, 0, v.ullImageSize, "the image", &v.g);
    return problem.empty() ? "" : v.image + ": boot sector: " + problem;
  }
  if (ucSector[510] != 0x55 || ucSector[511] != 0xAA)
    return v.image + ": neither a partitioned disk nor a FAT volume";
  for (int i = 0; i < 4; ++i) {
    const unsigned char *pucEntry = ucSector + 446 + 16 * i;
    if (std::find(std::begin(PARTITION_TYPES), std::end(PARTITION_TYPES), pucEntry[4]) == std::end(PARTITION_TYPES))
      continue;
    std::string partition = "partition " + std::to_string(i + 1);
    std::uint64_t ullStart = Le32(pucEntry + 8) * 512ull;
    unsigned char ucBoot[512];
    if (ullStart == 0 || !ReadImage(v, ullStart, ucBoot, sizeof ucBoot) || !IsFatBootSector(ucBoot))
      return v.image + ": " + partition + " holds no readable FAT volume";
    std::uint64_t ullRoom = std::min<std::uint64_t>(v.ullImageSize - ullStart, Le32(pucEntry + 12) * 512ull);
    std::string problem = ReadGeometry(ucBoot, ullStart, ullRoom, partition, &v.g);
    return problem.empty() ? "" : v.image + ": " + partition + ": boot sector: " + problem;
  }
  return v.image + ": no FAT16 or FAT32 partition (types 04, 06, 0E, 0B, 0C) in its partition table";
}

// ---- FAT and cluster chains -----------------------------------------------------------------

unsigned char FatByte(FatVolume &v, const std::string &path, std::uint64_t ullOffset) {
  std::uint64_t ullBlock = ullOffset / FAT_BLOCK;
  auto it = v.fatBlocks.find(ullBlock);
  if (it == v.fatBlocks.end()) {
    std::string block(FAT_BLOCK, '\0');
    std::uint64_t ullFrom = v.g.ullFat + ullBlock * FAT_BLOCK;
    size_t ulSize =
        static_cast<size_t>(std::min<std::uint64_t>(FAT_BLOCK, v.ullImageSize - std::min(v.ullImageSize, ullFrom)));
    if (!ReadImage(v, ullFrom, &block[0], ulSize))
      Damaged(v, path, "its FAT cannot be read");
    it = v.fatBlocks.emplace(ullBlock, std::move(block)).first;
  }
  return static_cast<unsigned char>(it->second[ullOffset % FAT_BLOCK]);
}

// The FAT's entry for a cluster, as a FAT32 value (end marks from 0x0FFFFFF8, bad 0x0FFFFFF7).
std::uint32_t NextCluster(FatVolume &v, const std::string &path, std::uint32_t ulCluster) {
  if (v.g.iFatBits == 12) {
    std::uint64_t ullAt = ulCluster * 3ull / 2;
    std::uint32_t ulPair = FatByte(v, path, ullAt) | (FatByte(v, path, ullAt + 1) << 8);
    std::uint32_t ulNext = (ulCluster & 1) != 0 ? ulPair >> 4 : ulPair & 0xFFF;
    return ulNext >= 0xFF7 ? ulNext | 0x0FFFF000 : ulNext;
  }
  if (v.g.iFatBits == 16) {
    std::uint32_t ulNext = FatByte(v, path, ulCluster * 2ull) | (FatByte(v, path, ulCluster * 2ull + 1) << 8);
    return ulNext >= 0xFFF7 ? ulNext | 0x0FFF0000 : ulNext;
  }
  std::uint64_t ullAt = ulCluster * 4ull;
  std::uint32_t ulNext = 0;
  for (int i = 3; i >= 0; --i)
    ulNext = (ulNext << 8) | FatByte(v, path, ullAt + static_cast<unsigned>(i));
  return ulNext & 0x0FFFFFFF;
}

bool IsDataCluster(const FatVolume &v, std::uint32_t ulCluster) {
  return ulCluster >= 2 && ulCluster - 2 < v.g.ulClusters;
}

// Takes the clusters of the chain from ulFirst for one entry and returns how many there are (at
// most ulLimit). A cluster already taken (two chains joining, or a loop), a free, bad or
// out-of-range one makes the volume damaged: such a chain is refused rather than read twice or
// followed forever. Each cluster is taken once, so the walk ends within the volume's clusters.
std::uint32_t TakeChain(FatVolume &v, const std::string &path, std::uint32_t ulFirst, std::uint32_t ulLimit) {
  std::uint32_t ulCount = 0;
  for (std::uint32_t ulCluster = ulFirst;;) {
    if (!IsDataCluster(v, ulCluster))
      Damaged(v, path, "its cluster chain leaves the volume (" + std::to_string(ulCluster) + ")");
    std::vector<bool> &page = v.taken[ulCluster / PAGE_CLUSTERS];
    if (page.empty())
      page.resize(PAGE_CLUSTERS);
    if (page[ulCluster % PAGE_CLUSTERS])
      Damaged(v, path, "cluster " + std::to_string(ulCluster) + " belongs to two files or twice to one");
    page[ulCluster % PAGE_CLUSTERS] = true;
    if (++ulCount > ulLimit)
      Damaged(v, path, "a folder of more than 65536 entries");
    ulCluster = NextCluster(v, path, ulCluster);
    if (ulCluster >= 0x0FFFFFF8)
      return ulCount;
  }
}

// Hands the first ullSize bytes of a taken chain to sink, a run of adjacent clusters at a time.
void ReadChain(FatVolume &v, const std::string &path, std::uint32_t ulFirst, std::uint64_t ullSize,
               const std::function<void(const char *, size_t)> &sink) {
  const std::uint64_t ullMaxRun = 1 << 20;
  std::vector<char> buffer;
  std::uint32_t ulCluster = ulFirst;
  while (ullSize > 0) {
    if (!IsDataCluster(v, ulCluster))
      Damaged(v, path, "its cluster chain leaves the volume (" + std::to_string(ulCluster) + ")");
    std::uint32_t ulRunStart = ulCluster;
    std::uint64_t ullRun = v.g.ulClusterBytes;
    ulCluster = NextCluster(v, path, ulCluster);
    while (ullRun < std::min(ullSize, ullMaxRun) && ulCluster == ulRunStart + ullRun / v.g.ulClusterBytes) {
      ullRun += v.g.ulClusterBytes;
      ulCluster = NextCluster(v, path, ulCluster);
    }
    ullRun = std::min(ullRun, ullSize);
    buffer.resize(static_cast<size_t>(ullRun));
    if (!ReadImage(v, v.g.ullData + (ulRunStart - 2ull) * v.g.ulClusterBytes, buffer.data(), buffer.size()))
      Damaged(v, path, "its clusters lie past the end of the image");
    sink(buffer.data(), buffer.size());
    ullSize -= ullRun;
  }
}

// ---- Folders --------------------------------------------------------------------------------

// Short names are in the OEM code page: 850, Western European Windows 98's (and the one mtools,
// which writes the test images, assumes).
const std::array<std::string, 128> &OemHighHalf() {
  static const std::array<std::string, 128> table = [] {
    std::array<std::string, 128> utf8;
    iconv_t convert = iconv_open("UTF-8", "CP850");
    for (size_t i = 0; i < utf8.size(); ++i) {
      char ucIn[1] = {static_cast<char>(0x80 + i)};
      char ucOut[8];
      char *pucIn = ucIn;
      char *pucOut = ucOut;
      size_t ulIn = 1;
      size_t ulOut = sizeof ucOut;
      bool fDone = convert != reinterpret_cast<iconv_t>(-1) &&
                   iconv(convert, &pucIn, &ulIn, &pucOut, &ulOut) != static_cast<size_t>(-1);
      utf8[i] = fDone ? std::string(ucOut, static_cast<size_t>(pucOut - ucOut)) : "?";
    }
    if (convert != reinterpret_cast<iconv_t>(-1))
      iconv_close(convert);
    return utf8;
  }();
  return table;
}

// An 8.3 entry's name, with the lower-case flags Windows NT and mtools set for names that need no
// long name (Windows 98 sets none).
std::string ShortName(const unsigned char *e) {
  std::string base(reinterpret_cast<const char *>(e), 8);
  std::string extension(reinterpret_cast<const char *>(e) + 8, 3);
  if (e[0] == 0x05)
    base[0] = static_cast<char>(0xE5);  // a name starting with 0xE5, which marks deleted entries
  std::string name;
  for (std::string *pPart : {&base, &extension}) {
    pPart->erase(pPart->find_last_not_of(' ') + 1);
    bool fLower = (e[12] & (pPart == &base ? 0x08 : 0x10)) != 0;
    if (pPart == &extension && !pPart->empty())
      name += '.';
    for (char c : *pPart) {
      unsigned char uc = static_cast<unsigned char>(c);
      name += uc >= 0x80 ? OemHighHalf()[uc - 0x80]
                         : std::string(1, fLower && c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
    }
  }
  return name;
}

unsigned char ShortNameChecksum(const unsigned char *e) {
  unsigned char sum = 0;
  for (int i = 0; i < 11; ++i)
    sum = static_cast<unsigned char>(((sum & 1) << 7) + (sum >> 1) + e[i]);
  return sum;
}

void AppendUtf8(std::uint32_t ulCode, std::string *pText) {
  std::string &text = *pText;
  if (ulCode < 0x80) {
    text += static_cast<char>(ulCode);
  } else if (ulCode < 0x800) {
    text += static_cast<char>(0xC0 | (ulCode >> 6));
    text += static_cast<char>(0x80 | (ulCode & 0x3F));
  } else if (ulCode < 0x10000) {
    text += static_cast<char>(0xE0 | (ulCode >> 12));
    text += static_cast<char>(0x80 | ((ulCode >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (ulCode & 0x3F));
  } else {
    text += static_cast<char>(0xF0 | (ulCode >> 18));
    text += static_cast<char>(0x80 | ((ulCode >> 12) & 0x3F));
    text += static_cast<char>(0x80 | ((ulCode >> 6) & 0x3F));
    text += static_cast<char>(0x80 | (ulCode & 0x3F));
  }
}

// The long name an 8.3 entry's preceding entries give, as Windows takes it: parts stored last
// first, numbered down to 1, each with the checksum of the 8.3 entry that follows them; anything
// else is an orphan, and the entry goes by its 8.3 name.
class LongName {
 public:
  void Reset() {
    iNext_ = -1;
  }

  void Add(const unsigned char *e) {
    int iOrder = e[0] & 0x1F;
    if ((e[0] & 0x40) != 0 && iOrder >= 1 && iOrder <= 20) {
      units_.assign(static_cast<size_t>(iOrder) * 13, 0xFFFF);
      checksum_ = e[13];
      iNext_ = iOrder;
    }
    if (iOrder != iNext_ || iOrder < 1 || e[13] != checksum_) {
      Reset();
      return;
    }
    static const int OFFSETS[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    for (int i = 0; i < 13; ++i)
      units_[static_cast<size_t>(iOrder - 1) * 13 + static_cast<size_t>(i)] =
          static_cast<std::uint16_t>(Le16(e + OFFSETS[i]));
    --iNext_;
  }

  // The name for the 8.3 entry e, in UTF-8 ("" when there is none); the parts are used up.
  std::string Take(const unsigned char *e) {
    bool fWhole = iNext_ == 0 && ShortNameChecksum(e) == checksum_;
    Reset();
    std::string name;
    for (size_t i = 0; fWhole && i < units_.size() && units_[i] != 0; ++i) {
      std::uint32_t ulCode = units_[i];
      bool fPair = ulCode >= 0xD800 && ulCode < 0xDC00 && i + 1 < units_.size() && units_[i + 1] >= 0xDC00 &&
                   units_[i + 1] < 0xE000;
      if (fPair)
        ulCode = 0x10000 + ((ulCode - 0xD800) << 10) + (units_[++i] - 0xDC00);
      else if (ulCode >= 0xD800 && ulCode < 0xE000)
        ulCode = 0xFFFD;
      AppendUtf8(ulCode, &name);
    }
    return name;
  }

 private:
  std::vector<std::uint16_t> units_;
  unsigned char checksum_ = 0;
  int iNext_ = -1;  // the part expected next; -1: none
};

// A folder's entries in its order, as Windows reads them: up to the first entry whose name
// starts with 0, without deleted entries, volume labels and the . and .. entries (never
// followed, so where they point does not matter).
std::vector<DiskEntry> ParseFolder(const std::string &raw, bool fFat32) {
  std::vector<DiskEntry> entries;
  LongName longName;
  for (size_t ulAt = 0; ulAt + 32 <= raw.size(); ulAt += 32) {
    const unsigned char *e = reinterpret_cast<const unsigned char *>(raw.data() + ulAt);
    if (e[0] == 0x00)
      break;
    if (e[0] == 0xE5) {
      longName.Reset();
    } else if ((e[11] & 0x3F) == 0x0F) {
      longName.Add(e);
    } else {
      std::string name = longName.Take(e);
      bool fDot = std::memcmp(e, ".          ", 11) == 0 || std::memcmp(e, "..         ", 11) == 0;
      if ((e[11] & 0x08) != 0 || (name.empty() && fDot))
        continue;
      std::uint32_t ulCluster = Le16(e + 26) | (fFat32 ? Le16(e + 20) << 16 : 0);
      entries.push_back(DiskEntry{name.empty() ? ShortName(e) : name, (e[11] & 0x10) != 0, ulCluster, Le32(e + 28)});
    }
  }
  return entries;
}

// Why a name read from a folder cannot be a name of the drive's, or "". Beyond what a machine
// folder's names are held to (FolderNamesProblem), a name from an image may hold anything.
std::string NameProblem(const std::string &name) {
  if (name.empty() || name == "." || name == "..")
    return "a name that is empty, . or ..";
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return "a name holding a control character";
    if (c == '/' || c == '\\')
      return "a name holding a path separator";
    if (std::strchr("\"*:<>?|", c) != nullptr)
      return "a name holding a character Windows forbids";
  }
  return "";
}

// A folder's raw entries, its chain taken; cluster 0 is the root.
std::string ReadFolderBytes(FatVolume &v, const std::string &path, std::uint32_t ulCluster) {
  std::string raw;
  if (ulCluster == 0 && v.g.iFatBits != 32) {
    raw.resize(v.g.ulRootBytes);
    if (!ReadImage(v, v.g.ullRoot, &raw[0], raw.size()))
      Damaged(v, path, "its root folder lies past the end of the image");
    return raw;
  }
  std::uint32_t ulFirst = ulCluster == 0 ? v.g.ulRootCluster : ulCluster;
  std::uint32_t ulCount =
      TakeChain(v, path, ulFirst, std::max<std::uint32_t>(1, MAX_FOLDER_BYTES / v.g.ulClusterBytes));
  raw.reserve(static_cast<size_t>(ulCount) * v.g.ulClusterBytes);
  ReadChain(v, path, ulFirst, static_cast<std::uint64_t>(ulCount) * v.g.ulClusterBytes,
            [&raw](const char *pucBytes, size_t ulSize) { raw.append(pucBytes, ulSize); });
  return raw;
}

// Each name of a folder, against what an image may hold and then what its caller takes.
void CheckNames(FatVolume &v, const std::string &path, const std::vector<DiskEntry> &entries) {
  std::vector<std::string> names;
  for (const DiskEntry &entry : entries) {
    std::string problem = NameProblem(entry.name);
    if (!problem.empty())
      Unreadable(v, path, problem + ": " + entry.name);
    names.push_back(entry.name);
  }
  std::string name;
  std::string problem = v.namesCheck ? v.namesCheck(names, &name) : "";
  if (!problem.empty())
    Unreadable(v, path.empty() ? name : path + "/" + name, problem);
}

// Takes the chain of a folder's entry: a folder's when it is listed, a file's now.
void TakeEntryChain(FatVolume &v, const std::string &entryPath, const DiskEntry &entry) {
  if (entry.fFolder && entry.ulCluster == 0)
    Damaged(v, entryPath, "a folder without clusters");
  if (entry.fFolder || (entry.ulCluster == 0 && entry.ulSize == 0))
    return;
  if (entry.ulCluster == 0)
    Damaged(v, entryPath, "a file of " + std::to_string(entry.ulSize) + " bytes without clusters");
  std::uint64_t ullHeld = TakeChain(v, entryPath, entry.ulCluster, UINT32_MAX) * std::uint64_t(v.g.ulClusterBytes);
  if (entry.ulSize > ullHeld)
    Damaged(v, entryPath, "its size is more than its clusters hold");
}

// Reads, checks and takes a folder's entries and the chains of its files; cluster 0 is the root.
Folder LoadFolder(FatVolume &v, const std::string &path, std::uint32_t ulCluster) {
  Folder folder;
  folder.entries = ParseFolder(ReadFolderBytes(v, path, ulCluster), v.g.iFatBits == 32);
  CheckNames(v, path, folder.entries);
  for (size_t i = 0; i < folder.entries.size(); ++i) {
    const DiskEntry &entry = folder.entries[i];
    folder.byName[entry.name] = i;
    TakeEntryChain(v, path.empty() ? entry.name : path + "/" + entry.name, entry);
  }
  return folder;
}

// A folder by its path ("" the root, "WINDOWS/INF"), listed once and kept; each folder on the
// way is listed first, one level after the other.
const Folder &ListedFolder(FatVolume &v, const std::string &path) {
  auto it = v.folders.find("");
  if (it == v.folders.end())
    it = v.folders.emplace("", LoadFolder(v, "", 0)).first;
  std::string walked;
  for (size_t ulStart = 0; ulStart < path.size();) {
    size_t ulEnd = std::min(path.find('/', ulStart), path.size());
    std::string name = path.substr(ulStart, ulEnd - ulStart);
    std::string next = walked.empty() ? name : walked + "/" + name;
    auto found = it->second.byName.find(name);
    bool fOnDisk = found != it->second.byName.end() && it->second.entries[found->second].fFolder;
    auto listed = v.folders.find(next);
    // A folder the disk lacks is one the simulation made (the Windows directory): it is empty.
    if (listed == v.folders.end())
      listed =
          v.folders.emplace(next, fOnDisk ? LoadFolder(v, next, it->second.entries[found->second].ulCluster) : Folder())
              .first;
    it = listed;
    walked = next;
    ulStart = ulEnd + 1;
  }
  return it->second;
}

const DiskEntry &FileEntry(FatVolume &v, const std::string &file) {
  size_t ulSlash = file.rfind('/');
  const Folder &folder = ListedFolder(v, ulSlash == std::string::npos ? "" : file.substr(0, ulSlash));
  auto found = folder.byName.find(ulSlash == std::string::npos ? file : file.substr(ulSlash + 1));
  if (found == folder.byName.end() || folder.entries[found->second].fFolder)
    Unreadable(v, file, "no such file");
  return folder.entries[found->second];
}

std::string ReadDiskFile(FatVolume &v, const std::string &file) {
  const DiskEntry &entry = FileEntry(v, file);
  std::string bytes;
  bytes.reserve(entry.ulSize);
  ReadChain(v, file, entry.ulCluster, entry.ulSize,
            [&bytes](const char *pucBytes, size_t ulSize) { bytes.append(pucBytes, ulSize); });
  return bytes;
}

std::string Attach(const std::shared_ptr<FatVolume> &pVolume, FatDisk *pDisk) {
  std::string error = FindVolume(pVolume.get());
  if (!error.empty())
    return Printable(error);
  pVolume->taken.resize((pVolume->g.ulClusters + 1ull) / PAGE_CLUSTERS + 1);
  pDisk->image = pVolume->image;
  pDisk->pVolume = pVolume;
  return "";
}

// A descriptor closed when it goes out of scope, also when a damaged chain throws.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0)
      close(fd);
  }
};

// Writes a file whole through a descriptor; false on the first failure.
bool WriteAll(int fd, const char *pucBytes, size_t ulSize) {
  while (ulSize > 0) {
    ssize_t written = write(fd, pucBytes, ulSize);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    pucBytes += written;
    ulSize -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

std::string OpenFatDisk(const std::string &image, const std::string &scratchFolder, const NamesCheck &namesCheck,
                        FatDisk *pDisk) {
  auto pVolume = std::make_shared<FatVolume>();
  pVolume->image = image;
  pVolume->namesCheck = namesCheck;
  pVolume->fd = open(image.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  struct stat st;
  if (pVolume->fd < 0 || fstat(pVolume->fd, &st) != 0)
    return Printable("cannot read the disk image " + image + ": " + std::strerror(errno));
  if (!(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode)))
    return Printable("cannot read the disk image " + image + ": " +
                     (S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "neither a plain file nor a block device"));
  off_t size = lseek(pVolume->fd, 0, SEEK_END);
  pVolume->ullImageSize = size > 0 ? static_cast<std::uint64_t>(size) : 0;
  vdisk::Format format = vdisk::FormatOf(pVolume->fd);
  if (format != vdisk::Format::Raw) {
    close(pVolume->fd);
    pVolume->fd = -1;
    std::string why = vdisk::Open(image, format, scratchFolder, &pVolume->virtualDisk);
    if (!why.empty())
      return Printable(why);
    pVolume->ullImageSize = pVolume->virtualDisk.ullSize;
  }
  return Attach(pVolume, pDisk);
}

bool IsDiskImageHead(std::string_view head) {
  if (vdisk::FormatOfHead(head.data(), head.size()) != vdisk::Format::Raw)
    return true;
  if (head.size() < 512)
    return false;
  const unsigned char *pucSector = reinterpret_cast<const unsigned char *>(head.data());
  return IsFatBootSector(pucSector) || (pucSector[510] == 0x55 && pucSector[511] == 0xAA);
}

std::string OpenFatDiskBytes(const std::string &bytes, const std::string &image, const NamesCheck &namesCheck,
                             FatDisk *pDisk) {
  auto pVolume = std::make_shared<FatVolume>();
  pVolume->image = image;
  pVolume->namesCheck = namesCheck;
  pVolume->bytes = bytes;
  pVolume->ullImageSize = bytes.size();
  return Attach(pVolume, pDisk);
}

std::vector<FolderEntryName> ListFatFolder(const FatDisk &disk, const std::string &folder) {
  std::vector<FolderEntryName> entries;
  for (const DiskEntry &entry : ListedFolder(*disk.pVolume, folder).entries)
    entries.emplace_back(entry.name, entry.fFolder);
  return entries;
}

std::string ReadFatFile(const FatDisk &disk, const std::string &file) {
  return ReadDiskFile(*disk.pVolume, file);
}

std::string CopyFatFolder(const FatDisk &disk, const std::string &folder, const std::string &hostFolder) {
  FatVolume &v = *disk.pVolume;
  Descriptor folderFd{open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (folderFd.fd < 0)
    return Printable("cannot write " + hostFolder + ": " + std::strerror(errno));
  try {
    for (const DiskEntry &entry : ListedFolder(v, folder).entries) {
      if (entry.fFolder)
        continue;
      // The name passed NameProblem: one component, so it stays in the folder.
      Descriptor file{
          openat(folderFd.fd, entry.name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644)};
      int iError = file.fd < 0 ? errno : 0;
      if (file.fd >= 0) {
        ReadChain(v, folder.empty() ? entry.name : folder + "/" + entry.name, entry.ulCluster, entry.ulSize,
                  [&](const char *pucBytes, size_t ulSize) {
                    if (iError == 0 && !WriteAll(file.fd, pucBytes, ulSize))
                      iError = errno;
                  });
        if (close(file.fd) != 0 && iError == 0)
          iError = errno;
        file.fd = -1;
      }
      if (iError != 0)
        return Printable("cannot write " + hostFolder + "/" + entry.name + ": " + std::strerror(iError));
    }
  } catch (const DiskError &failure) {
    return failure.message;
  }
  return "";
}

std::string WindowsDirectoryOf(const std::string &msdosSys) {
  bool fPaths = false;
  std::istringstream lines(msdosSys);
  std::string line;
  while (std::getline(lines, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    std::string folded = line;
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    if (!folded.empty() && folded[0] == '[')
      fPaths = folded == "[PATHS]";
    else if (fPaths && folded.compare(0, 7, "WINDIR=") == 0)
      return line.substr(7);
  }
  return "";
}

}  // namespace formats

// Windows 9x registry files and registry backup cabinets, read from memory. The layout is checked
// here first: libcreg follows the key hierarchy's links without checking them, and a link back to
// a key already seen makes it loop for seconds through gigabytes. libcreg then opens the file (its
// header, key navigation area and data block headers) and the keys are read here from the checked
// bytes as libcreg reads them: libcreg finds a key's name entry by parsing every entry before it
// in its block, once per key, so that a block of 64,000 keys takes minutes, where here each block
// is parsed once into an index. tests/fuzz/HiveFuzz.cpp holds this reading to libcreg's own.
#include "tools/formats/Hive.h"

#include <fcntl.h>
#include <libcreg.h>
#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <unordered_set>
#include <vector>

#include "tools/formats/Printable.h"

namespace formats {

namespace {

// Far above any real SYSTEM.DAT, which Windows 9x keeps to a few megabytes.
const std::size_t MAX_HIVE_SIZE = 64u << 20;
const std::size_t FILE_HEADER = 32;
const std::size_t RGKN_HEADER = 32;
const std::size_t ENTRY_SIZE = 28;
const std::size_t FIRST_CHILD = 16;
const std::size_t NEXT_SIBLING = 20;
const std::size_t BLOCK_HEADER = 32;
const std::size_t NAME_HEADER = 20;
const std::size_t VALUE_HEADER = 12;
const std::string DAMAGED = "damaged registry file: ";
const std::size_t NOTHING_HIDDEN = ~std::size_t(0);

std::uint32_t Get16(const std::string &bytes, std::size_t at) {
  return static_cast<unsigned char>(bytes[at]) | static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1]))
                                                     << 8;
}

std::uint32_t Get32(const std::string &bytes, std::size_t at) {
  return Get16(bytes, at) | Get16(bytes, at + 2) << 16;
}

std::string Hex(std::size_t value) {
  char ucText[24];
  std::snprintf(ucText, sizeof ucText, "0x%zx", value);
  return ucText;
}

std::string Shown(std::string_view text) {
  return ShownCp1252(text);
}

// A name as Windows compares names: ASCII letters in lower case, every other byte as it is.
std::string Fold(std::string_view name) {
  std::string folded(name);
  for (char &c : folded)
    c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return folded;
}

std::size_t SaturatingSum(std::size_t a, std::size_t b) {
  return a > SIZE_MAX - b ? SIZE_MAX : a + b;
}

std::size_t SaturatingProduct(std::size_t a, std::size_t b) {
  return b != 0 && a > SIZE_MAX / b ? SIZE_MAX : a * b;
}

std::string TooLarge() {
  return "over " + std::to_string(MAX_HIVE_SIZE >> 20) + " MiB, too large for a registry file";
}

// The data blocks must tile the rest of the file, as many as the header counts.
std::string CheckBlocks(const std::string &bytes, std::vector<std::size_t> *pStarts) {
  std::size_t pos = Get32(bytes, 8);
  std::size_t declared = Get16(bytes, 16);
  for (std::size_t found = 0; pos < bytes.size(); found = pStarts->size()) {
    if (bytes.size() - pos < BLOCK_HEADER || bytes.compare(pos, 4, "RGDB") != 0)
      return DAMAGED + "no data block at " + Hex(pos);
    std::size_t size = Get32(bytes, pos + 4);
    if (size < BLOCK_HEADER)
      return DAMAGED + "data block " + std::to_string(found) + " has a size of " + std::to_string(size) + " bytes";
    if (size > bytes.size() - pos)
      return DAMAGED + "cut short (data block " + std::to_string(found) + " ends past the end of the file)";
    pStarts->push_back(pos);
    pos += size;
  }
  std::size_t found = pStarts->size();
  if (found < declared)
    return DAMAGED + "cut short (" + std::to_string(found) + " of its " + std::to_string(declared) + " data blocks)";
  if (found > declared)
    return DAMAGED + std::to_string(found) + " data blocks where the header counts " + std::to_string(declared);
  return "";
}

// The key navigation area's header; "" or why it is damaged.
std::string CheckNavigationArea(const std::string &bytes, std::size_t areaSize) {
  if (bytes.compare(FILE_HEADER, 4, "RGKN") != 0)
    return DAMAGED + "no key navigation area at " + Hex(FILE_HEADER);
  if (areaSize < RGKN_HEADER + ENTRY_SIZE + RGKN_HEADER)
    return DAMAGED + "the key navigation area has a size of " + std::to_string(areaSize) + " bytes";
  if (areaSize > bytes.size() - FILE_HEADER)
    return DAMAGED + "cut short (the key navigation area ends past the end of the file)";
  if (Get32(bytes, FILE_HEADER + 8) != RGKN_HEADER)  // libcreg takes it as the area's file offset
    return DAMAGED + "the key entries start at " + Hex(Get32(bytes, FILE_HEADER + 8)) + ", not " + Hex(RGKN_HEADER);
  return "";
}

// The walk of the hierarchy: which entries it reached, the bytes they cover, those still to follow.
struct HierarchyWalk {
  const std::string &bytes;
  std::size_t areaSize;
  std::vector<bool> starts;
  std::vector<bool> covered;
  std::vector<std::size_t> pending;
  std::size_t from = RGKN_HEADER;
};

void Reach(HierarchyWalk *pWalk, std::size_t link) {
  pWalk->starts[link] = true;
  for (std::size_t i = link; i < link + ENTRY_SIZE; ++i)
    pWalk->covered[i] = true;
  pWalk->pending.push_back(link);
}

// Follows the link in field of the entry the walk is at; "" or why it cannot be followed.
std::string Follow(HierarchyWalk *pWalk, std::size_t field) {
  HierarchyWalk &w = *pWalk;
  std::int32_t lLink = static_cast<std::int32_t>(Get32(w.bytes, FILE_HEADER + w.from + field));
  if (lLink < 0)
    return "";
  std::size_t link = static_cast<std::size_t>(lLink);
  std::string entry = "the key entry at " + Hex(FILE_HEADER + w.from) + " links to ";
  if (link < RGKN_HEADER || link > w.areaSize - RGKN_HEADER - ENTRY_SIZE)
    return DAMAGED + entry + Hex(FILE_HEADER + link) + ", outside the key navigation area";
  if (w.starts[link])
    return DAMAGED + entry + "the key entry at " + Hex(FILE_HEADER + link) +
           ", reached before (a loop in the key hierarchy)";
  auto first = w.covered.begin() + static_cast<std::ptrdiff_t>(link);
  if (std::find(first, first + static_cast<std::ptrdiff_t>(ENTRY_SIZE), true) !=
      first + static_cast<std::ptrdiff_t>(ENTRY_SIZE))
    return DAMAGED + entry + Hex(FILE_HEADER + link) + ", inside another key entry";
  Reach(pWalk, link);
  return "";
}

// Follows the hierarchy as libcreg does (the root's sub-keys, then from each key its first
// sub-key and its next sibling; a negative link ends) and refuses a link libcreg cannot read (it
// reads no entry from the last 32 bytes of the area) or to an entry already reached, before
// libcreg follows it round, and entries sharing bytes.
std::string CheckHierarchy(const std::string &bytes) {
  std::size_t areaSize = Get32(bytes, FILE_HEADER + 4);
  std::string error = CheckNavigationArea(bytes, areaSize);
  if (!error.empty())
    return error;
  HierarchyWalk walk{bytes, areaSize, std::vector<bool>(areaSize), std::vector<bool>(areaSize), {}};
  Reach(&walk, RGKN_HEADER);
  walk.pending.clear();
  error = Follow(&walk, FIRST_CHILD);
  while (error.empty() && !walk.pending.empty()) {
    walk.from = walk.pending.back();
    walk.pending.pop_back();
    error = Follow(&walk, NEXT_SIBLING);
    if (error.empty())
      error = Follow(&walk, FIRST_CHILD);
  }
  return error;
}

std::string CheckLayout(const std::string &bytes, std::vector<std::size_t> *pBlocks) {
  if (bytes.size() < FILE_HEADER || bytes.compare(0, 4, "CREG") != 0)
    return "not a Windows 9x registry file (no CREG signature)";
  if (bytes.size() < FILE_HEADER + RGKN_HEADER)
    return DAMAGED + "cut short (" + std::to_string(bytes.size()) + " bytes)";
  std::string error = CheckHierarchy(bytes);
  return error.empty() ? CheckBlocks(bytes, pBlocks) : error;
}

// ---- libcreg --------------------------------------------------------------------------------

// The innermost reason of a libcreg failure, without the function name it starts with.
std::string Reason(libcreg_error_t **ppError) {
  char ucText[2048] = "";
  if (*ppError != nullptr)
    libcreg_error_backtrace_sprint(*ppError, ucText, sizeof ucText);
  ucText[sizeof ucText - 1] = '\0';
  libcreg_error_free(ppError);
  std::string reason(ucText, std::strcspn(ucText, "\r\n"));
  std::size_t colon = reason.find(": ");
  if (colon != std::string::npos)
    reason.erase(0, colon + 2);
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' '))
    reason.pop_back();
  return "libcreg: " + (reason.empty() ? std::string("unreadable") : reason);
}

// libcreg's opening of the file: its header, key navigation area and data block headers.
std::string OpenWithLibcreg(const std::string &bytes) {
  std::string error;
  libcreg_error_t *pError = nullptr;
  libbfio_handle_t *pHandle = nullptr;
  libcreg_file_t *pFile = nullptr;
  // Read only: libbfio takes the range as writable all the same.
  auto *pucImage = reinterpret_cast<std::uint8_t *>(const_cast<char *>(bytes.data()));
  if (libbfio_memory_range_initialize(&pHandle, nullptr) != 1 ||
      libbfio_memory_range_set(pHandle, pucImage, bytes.size(), nullptr) != 1 ||
      libcreg_file_initialize(&pFile, &pError) != 1 ||
      libcreg_file_set_ascii_codepage(pFile, LIBCREG_CODEPAGE_WINDOWS_1252, &pError) != 1) {
    error = "cannot set up libcreg (" + Reason(&pError) + ")";
  } else if (libcreg_file_open_file_io_handle(pFile, pHandle, LIBCREG_OPEN_READ, &pError) != 1) {
    error = DAMAGED + Reason(&pError);
  } else {
    libcreg_file_close(pFile, nullptr);
  }
  libcreg_file_free(&pFile, nullptr);
  libbfio_handle_free(&pHandle, nullptr);
  return error;
}

// ---- the keys -------------------------------------------------------------------------------

// Whether libcreg parses the key name entry at `at`, of `size` bytes: a used size of 20 or more,
// the name inside the entry, and each value inside the first min(used, size) bytes after it.
bool EntryParses(const std::string &bytes, std::size_t at, std::size_t size) {
  std::size_t used = Get32(bytes, at + 8);
  std::size_t nameSize = Get16(bytes, at + 12);
  std::size_t count = Get16(bytes, at + 14);
  if (used < NAME_HEADER || nameSize > size - NAME_HEADER)
    return false;
  if (count == 0)
    return true;
  std::size_t end = at + std::min(used, size);
  std::size_t pos = at + NAME_HEADER + nameSize;
  if (pos >= end)
    return false;
  for (; count > 0; --count) {
    if (end - pos < VALUE_HEADER || end - pos - VALUE_HEADER < Get16(bytes, pos + 8) + Get16(bytes, pos + 10))
      return false;
    pos += VALUE_HEADER + Get16(bytes, pos + 8) + Get16(bytes, pos + 10);
  }
  return true;
}

class HiveReader {
 public:
  HiveReader(const std::string &bytes, const std::vector<std::size_t> &blocks, const HiveLimits &limits)
      : bytes_(bytes), limits_(limits) {
    for (std::size_t block = 0; block < blocks.size(); ++block)
      IndexBlock(block, blocks[block]);
    std::sort(index_.begin(), index_.end());
  }

  // Calls visit(path below the root, name entry, parent's index) for every key but the root,
  // parents first, in the file's order, each key's index being how many were visited before it;
  // stops at the first key that cannot be read, or that Windows could not hold.
  std::string Walk(const std::function<std::string(const std::string &, std::size_t, std::size_t)> &visit) {
    std::string error = CheckRoot();
    std::vector<Level> levels;
    levels.push_back({RGKN_HEADER, 0, {}, HIVE_ROOT});
    std::string path;
    std::size_t visited = 0;
    std::int32_t lAt = Link(RGKN_HEADER, FIRST_CHILD);
    while (error.empty() && !levels.empty()) {
      if (lAt < 0) {  // the level is done: on to its parent's next sibling
        lAt = Link(levels.back().link, NEXT_SIBLING);
        levels.pop_back();
        continue;
      }
      std::size_t link = static_cast<std::size_t>(lAt);
      std::size_t entry = 0;
      error = CheckKey(link, &levels, &path, &entry);
      if (error.empty())
        error = visit(path, entry, levels.back().index);
      levels.push_back({link, path.size(), {}, visited++});
      lAt = Link(link, FIRST_CHILD);
    }
    return error;
  }

  // The name of a key read, as stored.
  std::string_view Name(std::size_t entry) const {
    return std::string_view(bytes_).substr(entry + NAME_HEADER, Get16(bytes_, entry + 12));
  }

  // Each value of a key's name entry, in order.
  void ForEachValue(std::size_t entry, const std::function<void(const HiveValue &)> &each) const {
    if (entry == 0)
      return;
    std::size_t pos = entry + NAME_HEADER + Get16(bytes_, entry + 12);
    const std::string_view bytes(bytes_);
    HiveValue value;
    for (std::size_t count = Get16(bytes_, entry + 14); count > 0; --count) {
      std::size_t nameSize = Get16(bytes_, pos + 8);
      std::size_t dataSize = Get16(bytes_, pos + 10);
      value.ulType = Get32(bytes_, pos);
      value.name = bytes.substr(pos + VALUE_HEADER, nameSize);
      value.data = bytes.substr(pos + VALUE_HEADER + nameSize, dataSize);
      each(value);
      pos += VALUE_HEADER + nameSize + dataSize;
    }
  }

 private:
  // A key above the one read: one of its ancestors, with the names of its sub-keys read so far.
  struct Level {
    std::size_t link;
    std::size_t pathLength;
    std::unordered_set<std::string> names;  // folded
    std::size_t index;                      // of the key, HIVE_ROOT for the root
  };

  std::string CheckRoot() const {
    std::size_t rootEntry = 0;
    std::string error = NameEntry(RGKN_HEADER, &rootEntry);
    if (error.empty() && rootEntry != 0 && Get16(bytes_, rootEntry + 14) != 0)
      error = DAMAGED + "values in the root key";
    return error;
  }

  // Reads the name entry of the key at link and checks the key against its siblings read so far
  // and the limits; *pPath becomes its path.
  std::string CheckKey(std::size_t link, std::vector<Level> *pLevels, std::string *pPath, std::size_t *pEntry) {
    std::string error = NameEntry(link, pEntry);
    const std::size_t entry = *pEntry;
    std::string name = entry == 0 ? "" : std::string(Name(entry));
    Level &level = pLevels->back();
    auto under = [&] {
      return "\"" + Shown(name) + "\" under " +
             (pLevels->size() == 1 ? "the root" : Shown(pPath->substr(0, level.pathLength)));
    };
    if (error.empty() && (name.empty() || name.find_first_of(std::string("\\\0", 2)) != std::string::npos))
      error = DAMAGED + "a key named " + under();
    if (error.empty() && !level.names.insert(Fold(name)).second)
      error = DAMAGED + "two keys named " + under();
    pPath->resize(level.pathLength);
    *pPath += (pPath->empty() ? "" : "\\") + name;
    if (error.empty())
      error = CheckLimits(pLevels->size(), *pPath);
    if (error.empty())
      error = CheckValues(entry, *pPath);
    return error;
  }

  // Where the entries of a block can be found, as libcreg lists them (each of 20 bytes or more,
  // with 20 bytes or more left, else the block is unreadable; an entry running past the block
  // ends the list) and looks one up: by parsing every entry before it, so that the first entry
  // that does not parse hides the ones after it.
  void IndexBlock(std::size_t block, std::size_t start) {
    const std::size_t end = start + Get32(bytes_, start + 4);
    hidden_.push_back(NOTHING_HIDDEN);
    hiddenWhy_.emplace_back();
    for (std::size_t pos = start + BLOCK_HEADER; pos < end;) {
      std::size_t size = end - pos < NAME_HEADER ? 0 : Get32(bytes_, pos);
      if (size < NAME_HEADER) {
        hidden_.back() = start;
        hiddenWhy_.back() = "data block " + std::to_string(block) + " holds an entry of " +
                            std::to_string(end - pos < NAME_HEADER ? end - pos : size) + " bytes at " + Hex(pos);
        return;
      }
      if (size > end - pos)
        return;
      if (hidden_.back() == NOTHING_HIDDEN && !EntryParses(bytes_, pos, size)) {
        hidden_.back() = pos;
        hiddenWhy_.back() = "the entry at " + Hex(pos) + " of data block " + std::to_string(block) +
                            " holds a name or values running past it";
      }
      index_.push_back(std::uint64_t(block) << 48 | std::uint64_t(Get16(bytes_, pos + 4)) << 32 | pos);
      pos += size;
    }
  }

  std::int32_t Link(std::size_t link, std::size_t field) const {
    return static_cast<std::int32_t>(Get32(bytes_, FILE_HEADER + link + field));
  }

  // The file offset of the name entry of the key whose hierarchy entry is at link, 0 for none.
  std::string NameEntry(std::size_t link, std::size_t *pEntry) const {
    std::size_t at = FILE_HEADER + link;
    std::int16_t iBlock = static_cast<std::int16_t>(Get16(bytes_, at + 26));
    std::uint32_t ulNumber = Get16(bytes_, at + 24);
    *pEntry = 0;
    if (iBlock < 0)
      return "";
    std::size_t block = static_cast<std::size_t>(iBlock);
    auto key = [&] {
      return DAMAGED + "the key entry at " + Hex(at) + " names entry " + std::to_string(ulNumber) + " of data block " +
             std::to_string(block);
    };
    if (block >= hidden_.size())
      return key() + ", of " + std::to_string(hidden_.size()) + " data blocks";
    const std::uint64_t first = std::uint64_t(block) << 48 | std::uint64_t(ulNumber) << 32;
    auto it = std::lower_bound(index_.begin(), index_.end(), first);
    if (it != index_.end() && (*it >> 32) == (first >> 32) && (*it & 0xFFFFFFFF) < hidden_[block]) {
      *pEntry = static_cast<std::size_t>(*it & 0xFFFFFFFF);
      return "";
    }
    return key() + (hidden_[block] == NOTHING_HIDDEN ? ", which holds no such entry" : ": " + hiddenWhy_[block]);
  }

  // Bounds that keep every output writing full paths within a small multiple of the file.
  std::string CheckLimits(std::size_t depth, const std::string &path) const {
    const std::size_t SHOWN = 60;
    std::string excerpt = Shown(path.substr(0, SHOWN)) + (path.size() > SHOWN ? "..." : "");
    if (depth > limits_.depth)
      return "a key path deeper than " + std::to_string(limits_.depth) + " levels (" + excerpt + ")";
    if (path.size() > limits_.length)
      return "a key path longer than " + std::to_string(limits_.length) + " bytes (" + excerpt + ")";
    return "";
  }

  std::string CheckValues(std::size_t entry, const std::string &path) const {
    std::unordered_set<std::string> seen;  // folded names: a list of shared DLLs holds thousands
    std::string error;
    ForEachValue(entry, [&](const HiveValue &value) {
      if (error.empty() && !seen.insert(Fold(value.name)).second)
        error = DAMAGED + "two values named \"" + Shown(value.name) + "\" in key " + Shown(path);
    });
    return error;
  }

  const std::string &bytes_;
  const HiveLimits &limits_;
  std::vector<std::uint64_t> index_;    // block << 48 | entry number << 32 | file offset, sorted
  std::vector<std::size_t> hidden_;     // per block: the file offset from which no entry is found
  std::vector<std::string> hiddenWhy_;  // per block: why, when some are
};

// Checked whole first, so that a file refused is refused before any of it is used.
std::string ReadKeys(const std::string &bytes, const HiveLimits &limits, std::vector<HiveKey> *pKeys) {
  std::vector<std::size_t> blocks;
  std::string error = CheckLayout(bytes, &blocks);
  if (error.empty())
    error = OpenWithLibcreg(bytes);
  if (!error.empty())
    return error;
  HiveReader reader(bytes, blocks, limits);
  const std::size_t budget =
      SaturatingSum(SaturatingProduct(limits.footprintPerByte, bytes.size()), limits.footprintBase);
  std::size_t footprint = 0;
  return reader.Walk([&](const std::string &path, std::size_t entry, std::size_t parent) {
    footprint += limits.keyFootprint + path.size();
    HiveKey key{parent, reader.Name(entry), {}};
    std::size_t count = 0;
    reader.ForEachValue(entry, [&](const HiveValue &value) {
      footprint += limits.valueFootprint + value.name.size() + value.data.size();
      footprint += ++count >= limits.indexedValues ? limits.indexFootprint : 0;
      key.values.push_back(value);
    });
    pKeys->push_back(std::move(key));
    return footprint <= budget ? "" : "more keys and values than uninst-sim takes from a file of its size";
  });
}

// ---- libmspack ------------------------------------------------------------------------------

// The cabinet is read from memory and the file extracted to memory: nothing touches the disk.
struct MemorySystem {
  mspack_system base;
  const std::string *pCabinet;
  std::string extracted;
};
struct MemoryFile {
  MemorySystem *pSystem;
  bool fWrite;
  std::size_t pos;
};
const char CABINET_NAME[] = "cabinet";

mspack_file *MemOpen(mspack_system *pSelf, const char *pucName, int iMode) {
  auto *pSystem = reinterpret_cast<MemorySystem *>(pSelf);
  bool fWrite = iMode == MSPACK_SYS_OPEN_WRITE;
  if (!fWrite && (iMode != MSPACK_SYS_OPEN_READ || std::strcmp(pucName, CABINET_NAME) != 0))
    return nullptr;
  if (fWrite)
    pSystem->extracted.clear();
  return reinterpret_cast<mspack_file *>(new MemoryFile{pSystem, fWrite, 0});
}

void MemClose(mspack_file *pFile) {
  delete reinterpret_cast<MemoryFile *>(pFile);
}

int MemRead(mspack_file *pFile, void *pBuffer, int iBytes) {
  auto *pMem = reinterpret_cast<MemoryFile *>(pFile);
  const std::string &cabinet = *pMem->pSystem->pCabinet;
  if (pMem->fWrite || iBytes < 0)
    return -1;
  std::size_t count = std::min(static_cast<std::size_t>(iBytes), cabinet.size() - std::min(pMem->pos, cabinet.size()));
  if (count > 0)
    std::memcpy(pBuffer, cabinet.data() + pMem->pos, count);
  pMem->pos += count;
  return static_cast<int>(count);
}

int MemWrite(mspack_file *pFile, void *pBuffer, int iBytes) {
  auto *pMem = reinterpret_cast<MemoryFile *>(pFile);
  std::string &out = pMem->pSystem->extracted;
  if (!pMem->fWrite || iBytes < 0 || out.size() + static_cast<std::size_t>(iBytes) > MAX_HIVE_SIZE)
    return -1;
  out.append(static_cast<const char *>(pBuffer), static_cast<std::size_t>(iBytes));
  return iBytes;
}

int MemSeek(mspack_file *pFile, off_t offset, int iMode) {
  auto *pMem = reinterpret_cast<MemoryFile *>(pFile);
  off_t base = iMode == MSPACK_SYS_SEEK_START ? 0
               : iMode == MSPACK_SYS_SEEK_CUR ? static_cast<off_t>(pMem->pos)
                                              : static_cast<off_t>(pMem->pSystem->pCabinet->size());
  if (pMem->fWrite || offset < -base || base + offset > static_cast<off_t>(pMem->pSystem->pCabinet->size()))
    return -1;
  pMem->pos = static_cast<std::size_t>(base + offset);
  return 0;
}

off_t MemTell(mspack_file *pFile) {
  return static_cast<off_t>(reinterpret_cast<MemoryFile *>(pFile)->pos);
}

void MemMessage(mspack_file *, const char *, ...) {}

void *MemAlloc(mspack_system *, std::size_t bytes) {
  return std::malloc(bytes);
}

void MemFree(void *pBlock) {
  std::free(pBlock);
}

void MemCopy(void *pFrom, void *pTo, std::size_t bytes) {
  std::memmove(pTo, pFrom, bytes);
}

const char *const CAB_ERRORS[] = {"",
                                  "bad arguments",
                                  "cannot open",
                                  "read error",
                                  "write error",
                                  "seek error",
                                  "out of memory",
                                  "bad signature",
                                  "bad data format",
                                  "checksum error",
                                  "compression error",
                                  "damaged compressed data"};

std::string CabError(int iCode) {
  if (iCode > 0 && iCode < static_cast<int>(sizeof CAB_ERRORS / sizeof CAB_ERRORS[0]))
    return CAB_ERRORS[iCode];
  return "error " + std::to_string(iCode);
}

std::string Extract(mscab_decompressor *pCabs, mscabd_file *pFile, MemorySystem *pSystem, std::string *pHive) {
  pSystem->extracted.reserve(pFile->length);  // room made once: a growing copy would hold it three times over
  if (int iCode = pCabs->extract(pCabs, pFile, const_cast<char *>("SYSTEM.DAT")))
    return "SYSTEM.DAT: damaged in the cabinet (" + CabError(iCode) + ")";
  *pHive = std::move(pSystem->extracted);
  return "";
}

// The SYSTEM.DAT of a registry backup cabinet.
std::string ExtractSystemDat(const std::string &cabinet, std::string *pHive) {
  MemorySystem system{
      {MemOpen, MemClose, MemRead, MemWrite, MemSeek, MemTell, MemMessage, MemAlloc, MemFree, MemCopy, nullptr},
      &cabinet,
      ""};
  mscab_decompressor *pCabs = mspack_create_cab_decompressor(&system.base);
  if (pCabs == nullptr)
    return "cannot set up libmspack";
  std::string error;
  mscabd_cabinet *pCabinet = pCabs->open(pCabs, const_cast<char *>(CABINET_NAME));
  if (pCabinet == nullptr) {
    error = "damaged cabinet (" + CabError(pCabs->last_error(pCabs)) + ")";
  } else {
    mscabd_file *pFound = nullptr;
    int iFound = 0;
    for (mscabd_file *pEntry = pCabinet->files; pEntry != nullptr; pEntry = pEntry->next) {
      if (Fold(pEntry->filename) == "system.dat" && iFound++ == 0)
        pFound = pEntry;
    }
    if (pFound == nullptr)
      error = "a cabinet without SYSTEM.DAT";
    else if (iFound > 1)  // which one Windows would restore is not known
      error = "a cabinet holding " + std::to_string(iFound) + " files named SYSTEM.DAT";
    else if (pFound->length > MAX_HIVE_SIZE)
      error = "SYSTEM.DAT: " + TooLarge();
    else
      error = Extract(pCabs, pFound, &system, pHive);
    pCabs->close(pCabs, pCabinet);
  }
  mspack_destroy_cab_decompressor(pCabs);
  return error;
}

// Appends what fd holds, up to ulLimit bytes in all; 0 or the errno of the failed read.
int ReadUpTo(int fd, std::size_t ulLimit, std::string *pBytes) {
  char ucChunk[65536];
  while (pBytes->size() < ulLimit) {
    ssize_t got = read(fd, ucChunk, std::min(sizeof ucChunk, ulLimit - pBytes->size()));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return got < 0 ? errno : 0;
    pBytes->append(ucChunk, static_cast<std::size_t>(got));
  }
  return 0;
}

}  // namespace

std::string ReadHive(const std::string &bytes, const HiveLimits &limits, Hive *pHive) {
  std::string error;
  pHive->keys.clear();
  if (bytes.size() > MAX_HIVE_SIZE) {
    error = TooLarge();
  } else if (bytes.compare(0, 4, "MSCF") == 0) {
    error = ExtractSystemDat(bytes, &pHive->extracted);
    if (error.empty()) {
      error = ReadKeys(pHive->extracted, limits, &pHive->keys);
      if (!error.empty())
        error = "SYSTEM.DAT: " + error;
    }
  } else {
    error = ReadKeys(bytes, limits, &pHive->keys);
  }
  if (!error.empty())
    pHive->keys.clear();
  return error;
}

std::string ReadHiveFile(const std::string &path, std::string *pBytes) {
  // Not only plain files: a pipe (a shell's process substitution) is read as well.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
  struct stat st;
  int iError = fd < 0 || fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (iError == 0) {
    if (S_ISREG(st.st_mode))  // room made once, as for a cabinet's SYSTEM.DAT
      pBytes->reserve(std::min(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)), MAX_HIVE_SIZE + 1));
    iError = ReadUpTo(fd, MAX_HIVE_SIZE + 1, pBytes);
  }
  if (fd >= 0)
    close(fd);
  if (iError != 0)
    return "cannot read " + path + ": " + std::strerror(iError);
  return pBytes->size() > MAX_HIVE_SIZE ? path + ": " + TooLarge() : "";
}

}  // namespace formats

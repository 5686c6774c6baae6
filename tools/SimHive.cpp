// Windows 9x registry files read with libcreg, cabinets with libmspack, both from memory. libcreg
// follows the key hierarchy's links without checking them: a link back to a key already seen
// makes it loop for seconds through gigabytes before it fails, so the hierarchy is walked here
// first, and a file cut short is named as such rather than by the first read that runs out.
#include "tools/SimHive.h"

#include <libcreg.h>
#include <mspack.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>
#include <vector>

#include "platform/sim/sim.h"

namespace simtool {

namespace {

// Far above any real SYSTEM.DAT, which Windows 9x keeps to a few megabytes.
const std::size_t MAX_HIVE_SIZE = 64u << 20;
const std::size_t FILE_HEADER = 32;
const std::size_t RGKN_HEADER = 32;
const std::size_t ENTRY_SIZE = 28;
const std::size_t BLOCK_HEADER = 32;
const std::string DAMAGED = "damaged registry file: ";

std::uint32_t Get32(const std::string &bytes, std::size_t at) {
  std::uint32_t ulValue = 0;
  for (int i = 3; i >= 0; --i)
    ulValue = ulValue << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  return ulValue;
}

std::string Hex(std::size_t value) {
  char ucText[24];
  std::snprintf(ucText, sizeof ucText, "0x%zx", value);
  return ucText;
}

std::string Shown(const std::string &text) {
  return sim::Utf8FromCp1252(text, true);
}

// The data blocks must tile the rest of the file, as many as the header counts.
std::string CheckBlocks(const std::string &bytes) {
  std::size_t pos = Get32(bytes, 8);
  std::size_t declared = static_cast<unsigned char>(bytes[16]) | static_cast<unsigned char>(bytes[17]) << 8;
  std::size_t found = 0;
  for (; pos < bytes.size(); ++found) {
    if (bytes.size() - pos < BLOCK_HEADER || bytes.compare(pos, 4, "RGDB") != 0)
      return DAMAGED + "no data block at " + Hex(pos);
    std::size_t size = Get32(bytes, pos + 4);
    if (size < BLOCK_HEADER)
      return DAMAGED + "data block " + std::to_string(found) + " has a size of " + std::to_string(size) + " bytes";
    if (size > bytes.size() - pos)
      return DAMAGED + "cut short (data block " + std::to_string(found) + " ends past the end of the file)";
    pos += size;
  }
  if (found < declared)
    return DAMAGED + "cut short (" + std::to_string(found) + " of its " + std::to_string(declared) + " data blocks)";
  if (found > declared)
    return DAMAGED + std::to_string(found) + " data blocks where the header counts " + std::to_string(declared);
  return "";
}

// Follows the hierarchy as libcreg does (the root's sub-keys, then from each key its first
// sub-key and its next sibling; a negative link ends) and refuses a link outside the navigation
// area or to an entry already reached, before libcreg follows it round.
std::string CheckHierarchy(const std::string &bytes) {
  std::size_t areaSize = Get32(bytes, FILE_HEADER + 4);
  if (bytes.compare(FILE_HEADER, 4, "RGKN") != 0)
    return DAMAGED + "no key navigation area at " + Hex(FILE_HEADER);
  if (areaSize < RGKN_HEADER + ENTRY_SIZE)
    return DAMAGED + "the key navigation area has a size of " + std::to_string(areaSize) + " bytes";
  if (areaSize > bytes.size() - FILE_HEADER)
    return DAMAGED + "cut short (the key navigation area ends past the end of the file)";
  std::vector<bool> reached(areaSize);
  reached[RGKN_HEADER] = true;
  std::vector<std::size_t> pending;
  std::size_t from = RGKN_HEADER;
  auto follow = [&](std::size_t field) -> std::string {
    std::int32_t lLink = static_cast<std::int32_t>(Get32(bytes, FILE_HEADER + from + field));
    if (lLink < 0)
      return "";
    std::size_t link = static_cast<std::size_t>(lLink);
    if (link < RGKN_HEADER || link > areaSize - ENTRY_SIZE)
      return DAMAGED + "the key entry at " + Hex(FILE_HEADER + from) + " links to " + Hex(FILE_HEADER + link) +
             ", outside the key navigation area";
    if (reached[link])
      return DAMAGED + "the key entry at " + Hex(FILE_HEADER + from) + " links to the key entry at " +
             Hex(FILE_HEADER + link) + ", reached before (a loop in the key hierarchy)";
    reached[link] = true;
    pending.push_back(link);
    return "";
  };
  std::string error = follow(16);
  while (error.empty() && !pending.empty()) {
    from = pending.back();
    pending.pop_back();
    error = follow(20);
    if (error.empty())
      error = follow(16);
  }
  return error;
}

std::string CheckLayout(const std::string &bytes) {
  if (bytes.size() < FILE_HEADER || bytes.compare(0, 4, "CREG") != 0)
    return "not a Windows 9x registry file (no CREG signature)";
  if (bytes.size() < FILE_HEADER + RGKN_HEADER)
    return DAMAGED + "cut short (" + std::to_string(bytes.size()) + " bytes)";
  std::string error = CheckHierarchy(bytes);
  return error.empty() ? CheckBlocks(bytes) : error;
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

struct Reader {
  libcreg_error_t *pError = nullptr;
  std::string where;  // the key being read, for the error line

  std::string Failed() {
    return DAMAGED + (where.empty() ? "" : "at key " + Shown(where) + ": ") + Reason(&pError);
  }

  bool KeyName(libcreg_key_t *pKey, std::string *pName) {
    std::size_t size = 0;
    if (libcreg_key_get_name_size(pKey, &size, &pError) != 1)
      return false;
    std::vector<std::uint8_t> name(size + 1);
    if (size > 0 && libcreg_key_get_name(pKey, name.data(), name.size(), &pError) != 1)
      return false;
    pName->assign(reinterpret_cast<const char *>(name.data()), size);
    return true;
  }

  bool Value(libcreg_value_t *pValue, sim::RegistryValue *pOut) {
    std::size_t nameSize = 0;
    std::size_t dataSize = 0;
    std::uint32_t ulType = 0;
    if (libcreg_value_get_name_size(pValue, &nameSize, &pError) != 1 ||
        libcreg_value_get_value_type(pValue, &ulType, &pError) != 1 ||
        libcreg_value_get_value_data_size(pValue, &dataSize, &pError) != 1)
      return false;
    std::vector<std::uint8_t> name(nameSize + 1);
    std::vector<std::uint8_t> data(dataSize + 1);
    if ((nameSize > 0 && libcreg_value_get_name(pValue, name.data(), name.size(), &pError) != 1) ||
        (dataSize > 0 && libcreg_value_get_value_data(pValue, data.data(), dataSize, &pError) != 1))
      return false;
    pOut->name.assign(reinterpret_cast<const char *>(name.data()), nameSize);
    pOut->dwType = ulType;
    pOut->data.assign(reinterpret_cast<const char *>(data.data()), dataSize);
    return true;
  }

  // The key's values into *pKey and its sub-keys into *pSubKeys, in the file's order.
  std::string ReadKey(libcreg_key_t *pKey, sim::RegistryKey *pOut, std::vector<libcreg_key_t *> *pSubKeys) {
    int iValues = 0;
    if (libcreg_key_get_number_of_values(pKey, &iValues, &pError) != 1)
      return Failed();
    std::set<std::string> seen;  // folded names: a list of shared DLLs holds thousands
    for (int i = 0; i < iValues; ++i) {
      libcreg_value_t *pValue = nullptr;
      sim::RegistryValue value;
      bool fRead = libcreg_key_get_value_by_index(pKey, i, &pValue, &pError) == 1 && Value(pValue, &value);
      libcreg_value_free(&pValue, nullptr);
      if (!fRead)
        return Failed();
      if (!seen.insert(sim::Fold(value.name)).second)
        return DAMAGED + "two values named \"" + Shown(value.name) + "\" in key " + Shown(where);
      pOut->values.push_back(std::move(value));
    }
    int iSubKeys = 0;
    if (libcreg_key_get_number_of_sub_keys(pKey, &iSubKeys, &pError) != 1)
      return Failed();
    for (int i = 0; i < iSubKeys; ++i) {
      libcreg_key_t *pSubKey = nullptr;
      if (libcreg_key_get_sub_key_by_index(pKey, i, &pSubKey, &pError) != 1)
        return Failed();
      pSubKeys->push_back(pSubKey);
    }
    return "";
  }
};

// Every key of the file, parents first, in the file's order, as HKEY_LOCAL_MACHINE keys.
std::string ReadKeys(libcreg_file_t *pFile, std::vector<sim::RegistryKey> *pKeys) {
  Reader reader;
  libcreg_key_t *pRoot = nullptr;
  if (libcreg_file_get_root_key(pFile, &pRoot, &reader.pError) != 1)
    return reader.Failed();
  // Depth first without recursion: a file's hierarchy can be as deep as it has keys.
  struct Pending {
    libcreg_key_t *pKey;
    std::string path;
  };
  std::vector<Pending> pending{{pRoot, ""}};
  std::string error;
  while (!pending.empty() && error.empty()) {
    Pending current = pending.back();
    pending.pop_back();
    reader.where = current.path;
    sim::RegistryKey key{"HKEY_LOCAL_MACHINE" + (current.path.empty() ? "" : "\\" + current.path), {}};
    std::vector<libcreg_key_t *> subKeys;
    error = reader.ReadKey(current.pKey, &key, &subKeys);
    bool fRoot = current.path.empty();
    if (error.empty() && fRoot && !key.values.empty())
      error = DAMAGED + "values in the root key";
    std::set<std::string> names;  // folded
    for (libcreg_key_t *pSubKey : subKeys) {
      std::string name;
      if (error.empty() && !reader.KeyName(pSubKey, &name))
        error = reader.Failed();
      else if (error.empty() && (name.empty() || name.find_first_of(std::string("\\\0", 2)) != std::string::npos))
        error = DAMAGED + "a key named \"" + Shown(name) + "\" under " +
                (current.path.empty() ? "the root" : Shown(current.path));
      if (error.empty() && !names.insert(sim::Fold(name)).second)
        error = DAMAGED + "two keys named \"" + Shown(name) + "\" under " +
                (current.path.empty() ? "the root" : Shown(current.path));
      pending.push_back({pSubKey, current.path.empty() ? name : current.path + "\\" + name});
    }
    std::reverse(pending.end() - static_cast<std::ptrdiff_t>(subKeys.size()), pending.end());
    libcreg_key_free(&current.pKey, nullptr);
    if (!fRoot)
      pKeys->push_back(std::move(key));
  }
  for (Pending &left : pending)
    libcreg_key_free(&left.pKey, nullptr);
  return error;
}

std::string ReadHive(const std::string &bytes, std::vector<sim::RegistryKey> *pKeys) {
  std::string error = CheckLayout(bytes);
  if (!error.empty())
    return error;
  std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
  libcreg_error_t *pError = nullptr;
  libbfio_handle_t *pHandle = nullptr;
  libcreg_file_t *pFile = nullptr;
  if (libbfio_memory_range_initialize(&pHandle, nullptr) != 1 ||
      libbfio_memory_range_set(pHandle, image.data(), image.size(), nullptr) != 1 ||
      libcreg_file_initialize(&pFile, &pError) != 1 ||
      libcreg_file_set_ascii_codepage(pFile, LIBCREG_CODEPAGE_WINDOWS_1252, &pError) != 1) {
    error = "cannot set up libcreg (" + Reason(&pError) + ")";
  } else if (libcreg_file_open_file_io_handle(pFile, pHandle, LIBCREG_OPEN_READ, &pError) != 1) {
    error = DAMAGED + Reason(&pError);
  } else {
    error = ReadKeys(pFile, pKeys);
    libcreg_file_close(pFile, nullptr);
  }
  libcreg_file_free(&pFile, nullptr);
  libbfio_handle_free(&pHandle, nullptr);
  return error;
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
    for (mscabd_file *pEntry = pCabinet->files; pEntry != nullptr && pFound == nullptr; pEntry = pEntry->next) {
      if (sim::SameName(pEntry->filename, "SYSTEM.DAT"))
        pFound = pEntry;
    }
    if (pFound == nullptr)
      error = "a cabinet without SYSTEM.DAT";
    else if (pFound->length > MAX_HIVE_SIZE)
      error = "SYSTEM.DAT: over " + std::to_string(MAX_HIVE_SIZE >> 20) + " MiB, too large for a registry file";
    else if (int iCode = pCabs->extract(pCabs, pFound, const_cast<char *>("SYSTEM.DAT")))
      error = "SYSTEM.DAT: damaged in the cabinet (" + CabError(iCode) + ")";
    else
      *pHive = std::move(system.extracted);
    pCabs->close(pCabs, pCabinet);
  }
  mspack_destroy_cab_decompressor(pCabs);
  return error;
}

}  // namespace

std::string LoadHiveBytes(const std::string &bytes, const std::string &name) {
  std::string error;
  std::vector<sim::RegistryKey> keys;
  if (bytes.compare(0, 4, "MSCF") == 0) {
    std::string hive;
    error = ExtractSystemDat(bytes, &hive);
    if (error.empty()) {
      error = ReadHive(hive, &keys);
      if (!error.empty())
        error = "SYSTEM.DAT: " + error;
    }
  } else {
    error = ReadHive(bytes, &keys);
  }
  if (!error.empty())
    return name + ": " + error;
  for (const sim::RegistryKey &key : keys) {
    std::string path = key.path.substr(key.path.find('\\') + 1);
    sim::CreateKey(os::HKEY_LOCAL_MACHINE, path);
    for (const sim::RegistryValue &value : key.values)
      sim::SetValue(os::HKEY_LOCAL_MACHINE, path, value.name, value.dwType, value.data);
  }
  return "";
}

std::string LoadHive(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return "cannot read " + path;
  std::string bytes;
  char ucChunk[65536];
  while (in.read(ucChunk, sizeof ucChunk) || in.gcount() > 0) {
    bytes.append(ucChunk, static_cast<std::size_t>(in.gcount()));
    if (bytes.size() > MAX_HIVE_SIZE)
      return path + ": over " + std::to_string(MAX_HIVE_SIZE >> 20) + " MiB, too large for a registry file";
  }
  if (in.bad())
    return "cannot read " + path;
  return LoadHiveBytes(bytes, path);
}

}  // namespace simtool

// The Windows 9x registry file reader (uninst-sim --hive) on arbitrary bytes, as a file or as the
// SYSTEM.DAT of a cabinet: customers' files, untrusted. Whatever the bytes: no crash, no hang on a
// looping key hierarchy, and a file taken whole or refused whole with one line naming it. The
// reader reads the keys itself from the bytes libcreg opened; a file it takes must read the same
// through libcreg's own key calls, and one it refuses for an entry libcreg cannot parse must fail
// there too.
#include <libcreg.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tools/uninst-sim/Load.h"

// libcreg 20200725 leaks a key name entry when a data block's entries do not parse: its bug, on
// damaged files only, and a few bytes a file for a tool that reads one file and exits. The
// library has no frame pointers, so the leak's stack may stop at the entry's allocation.
extern "C" const char *__lsan_default_suppressions() {
  return "leak:libcreg_data_block_read_entries\nleak:libcreg_data_block_entry_initialize\n";
}

namespace {

bool KeyName(libcreg_key_t *pKey, std::string *pName) {
  std::size_t size = 0;
  if (libcreg_key_get_name_size(pKey, &size, nullptr) != 1)
    return false;
  std::vector<std::uint8_t> name(size + 1);
  if (size > 0 && libcreg_key_get_name(pKey, name.data(), name.size(), nullptr) != 1)
    return false;
  pName->assign(reinterpret_cast<const char *>(name.data()), size);
  return true;
}

bool Value(libcreg_value_t *pValue, sim::RegistryValue *pOut) {
  std::size_t nameSize = 0;
  std::size_t dataSize = 0;
  std::uint32_t ulType = 0;
  if (libcreg_value_get_name_size(pValue, &nameSize, nullptr) != 1 ||
      libcreg_value_get_value_type(pValue, &ulType, nullptr) != 1 ||
      libcreg_value_get_value_data_size(pValue, &dataSize, nullptr) != 1)
    return false;
  std::vector<std::uint8_t> name(nameSize + 1);
  std::vector<std::uint8_t> data(dataSize + 1);
  if ((nameSize > 0 && libcreg_value_get_name(pValue, name.data(), name.size(), nullptr) != 1) ||
      (dataSize > 0 && libcreg_value_get_value_data(pValue, data.data(), dataSize, nullptr) != 1))
    return false;
  *pOut = sim::RegistryValue{std::string(reinterpret_cast<const char *>(name.data()), nameSize), ulType,
                             std::string(reinterpret_cast<const char *>(data.data()), dataSize)};
  return true;
}

// A key's values through libcreg, and its sub-keys appended to *pSubKeys.
bool ReadKey(libcreg_key_t *pKey, sim::RegistryKey *pOut, std::vector<libcreg_key_t *> *pSubKeys) {
  int iValues = 0;
  int iSubKeys = 0;
  bool fRead = libcreg_key_get_number_of_values(pKey, &iValues, nullptr) == 1;
  for (int i = 0; fRead && i < iValues; ++i) {
    libcreg_value_t *pValue = nullptr;
    pOut->values.emplace_back();
    fRead = libcreg_key_get_value_by_index(pKey, i, &pValue, nullptr) == 1 && Value(pValue, &pOut->values.back());
    libcreg_value_free(&pValue, nullptr);
  }
  fRead = fRead && libcreg_key_get_number_of_sub_keys(pKey, &iSubKeys, nullptr) == 1;
  for (int i = 0; fRead && i < iSubKeys; ++i) {
    pSubKeys->push_back(nullptr);
    fRead = libcreg_key_get_sub_key_by_index(pKey, i, &pSubKeys->back(), nullptr) == 1;
  }
  return fRead;
}

// Every key but the root through libcreg, parents first, depth first without recursion.
bool ReadKeys(libcreg_key_t *pRoot, std::vector<sim::RegistryKey> *pKeys) {
  struct Pending {
    libcreg_key_t *pKey;
    std::string path;
  };
  std::vector<Pending> pending{{pRoot, ""}};
  bool fRead = true;
  while (fRead && !pending.empty()) {
    Pending current = pending.back();
    pending.pop_back();
    sim::RegistryKey key{"HKEY_LOCAL_MACHINE" + (current.path.empty() ? "" : "\\" + current.path), {}};
    std::vector<libcreg_key_t *> subKeys;
    fRead = ReadKey(current.pKey, &key, &subKeys);
    for (auto it = subKeys.rbegin(); it != subKeys.rend(); ++it) {
      std::string name;
      fRead = fRead && *it != nullptr && KeyName(*it, &name);
      pending.push_back({*it, current.path.empty() ? name : current.path + "\\" + name});
    }
    if (!current.path.empty())
      pKeys->push_back(std::move(key));
    if (current.pKey != pRoot)
      libcreg_key_free(&current.pKey, nullptr);
  }
  for (Pending &left : pending)
    libcreg_key_free(&left.pKey, nullptr);
  return fRead;
}

bool ReadWithLibcreg(const std::string &bytes, std::vector<sim::RegistryKey> *pKeys) {
  std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
  libbfio_handle_t *pHandle = nullptr;
  libcreg_file_t *pFile = nullptr;
  libcreg_key_t *pRoot = nullptr;
  bool fRead = libbfio_memory_range_initialize(&pHandle, nullptr) == 1 &&
               libbfio_memory_range_set(pHandle, image.data(), image.size(), nullptr) == 1 &&
               libcreg_file_initialize(&pFile, nullptr) == 1 &&
               libcreg_file_set_ascii_codepage(pFile, LIBCREG_CODEPAGE_WINDOWS_1252, nullptr) == 1 &&
               libcreg_file_open_file_io_handle(pFile, pHandle, LIBCREG_OPEN_READ, nullptr) == 1;
  if (fRead) {
    fRead = libcreg_file_get_root_key(pFile, &pRoot, nullptr) == 1 && ReadKeys(pRoot, pKeys);
    libcreg_key_free(&pRoot, nullptr);
    libcreg_file_close(pFile, nullptr);
  }
  libcreg_file_free(&pFile, nullptr);
  libbfio_handle_free(&pHandle, nullptr);
  return fRead;
}

bool Same(const std::vector<sim::RegistryKey> &a, const std::vector<sim::RegistryKey> &b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].path != b[i].path || a[i].values.size() != b[i].values.size())
      return false;
    for (std::size_t j = 0; j < a[i].values.size(); ++j) {
      const sim::RegistryValue &x = a[i].values[j];
      const sim::RegistryValue &y = b[i].values[j];
      if (x.name != y.name || x.dwType != y.dwType || x.data != y.data)
        return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t ulSize) {
  sim::Reset();
  std::string bytes(reinterpret_cast<const char *>(pData), ulSize);
  std::string empty = uninstsim::ExportRegistry();
  std::string error = uninstsim::LoadHiveBytes(bytes, "SYSTEM.DAT");
  const bool fFile = bytes.compare(0, 4, "CREG") == 0;
  if (!error.empty()) {
    if (error.compare(0, 12, "SYSTEM.DAT: ") != 0 || error.find('\n') != std::string::npos ||
        uninstsim::ExportRegistry() != empty)
      __builtin_trap();  // refused, but not in one line naming the file, or not whole
    std::vector<sim::RegistryKey> keys;
    if (fFile && error.find(" names entry ") != std::string::npos && ReadWithLibcreg(bytes, &keys))
      __builtin_trap();  // an entry refused that libcreg reads
    return 0;
  }
  std::vector<sim::RegistryKey> keys = sim::RegistryKeys();
  for (const sim::RegistryKey &key : keys) {
    if (key.path.compare(0, 19, "HKEY_LOCAL_MACHINE\\") != 0)
      __builtin_trap();  // a hive holds HKEY_LOCAL_MACHINE only
  }
  std::vector<sim::RegistryKey> libcregKeys;
  if (fFile && (!ReadWithLibcreg(bytes, &libcregKeys) || !Same(keys, libcregKeys)))
    __builtin_trap();  // taken otherwise than libcreg reads it
  return 0;
}

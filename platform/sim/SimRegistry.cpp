// The registry of the simulated machine, with the Windows 98/ME behaviour the program relies on:
// names compared ignoring ASCII case and kept as spelt, KEY_WRITE handles that read and
// enumerate, RegDeleteKeyA removing a whole subtree, enumeration in insertion order with the
// following subkeys moving down one index after a deletion, and the 234 length rules.
#include <cstring>

#include "platform/registry.h"
#include "platform/sim/SimMachine.h"

namespace sim {

namespace {

const std::uint64_t FREE_SLOT = ~std::uint64_t(0);

std::uint32_t ChildHash(KeyId parent, std::string_view name) {
  std::uint64_t ulHash = 1469598103934665603ull ^ parent;
  for (char c : name)
    ulHash = (ulHash ^ static_cast<unsigned char>(FoldChar(c))) * 1099511628211ull;
  return static_cast<std::uint32_t>(ulHash ^ (ulHash >> 32));
}

std::uint64_t SlotOf(std::uint32_t ulHash, KeyId id) {
  return std::uint64_t(ulHash) << 32 | id;
}

KeyId IdIn(std::uint64_t slot) {
  return static_cast<KeyId>(slot & 0xFFFFFFFF);
}

void InsertSlot(std::uint64_t entry) {
  std::vector<std::uint64_t> &slots = M().childSlots;
  const size_t mask = slots.size() - 1;
  size_t slot = (entry >> 32) & mask;
  while (slots[slot] != FREE_SLOT)
    slot = (slot + 1) & mask;
  slots[slot] = entry;
}

// Room for count more entries, the table at most half full.
void ReserveSlots(size_t count) {
  Machine &m = M();
  size_t size = m.childSlots.empty() ? 1024 : m.childSlots.size();
  while ((m.childCount + count) * 2 > size)
    size *= 2;
  if (size == m.childSlots.size())
    return;
  std::vector<std::uint64_t> old(size, FREE_SLOT);
  old.swap(m.childSlots);
  for (std::uint64_t entry : old) {
    if (entry != FREE_SLOT)
      InsertSlot(entry);
  }
}

// Backward-shift deletion: the entries after the freed slot move up to where a probe finds them.
void UnindexChild(KeyId id) {
  std::vector<std::uint64_t> &slots = M().childSlots;
  const size_t mask = slots.size() - 1;
  const RegKey &key = Key(id);
  const std::uint64_t entry = SlotOf(ChildHash(key.parent, key.name), id);
  size_t hole = (entry >> 32) & mask;
  while (slots[hole] != entry)
    hole = (hole + 1) & mask;
  slots[hole] = FREE_SLOT;
  for (size_t slot = (hole + 1) & mask; slots[slot] != FREE_SLOT; slot = (slot + 1) & mask) {
    size_t home = (slots[slot] >> 32) & mask;
    bool fStays = hole < slot ? (home > hole && home <= slot) : (home > hole || home <= slot);
    if (!fStays) {
      slots[hole] = slots[slot];
      slots[slot] = FREE_SLOT;
      hole = slot;
    }
  }
  --M().childCount;
}

// A removed subtree leaves the index and is marked for the handles still open on it; walked
// without recursion, as a tree made through the API can be as deep as it has keys.
void MarkDeleted(KeyId top) {
  std::vector<KeyId> pending{top};
  while (!pending.empty()) {
    const KeyId id = pending.back();
    pending.pop_back();
    RegKey &key = Key(id);
    key.fDeleted = true;
    UnindexChild(id);
    pending.insert(pending.end(), key.children.begin(), key.children.end());
  }
}

template <typename F>
void ForEachPart(std::string_view path, F each) {
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('\\', pos);
    size_t end = slash == std::string_view::npos ? path.size() : slash;
    if (end > pos)
      each(path.substr(pos, end - pos));
    pos = end + 1;
  }
}

std::vector<std::string> SplitPath(const std::string &path) {
  std::vector<std::string> parts;
  ForEachPart(path, [&](std::string_view part) { parts.emplace_back(part); });
  return parts;
}

// The key behind a handle and its full path; 6 for a closed or unknown handle.
os::LONG Resolve(os::HKEY hKey, KeyId *pKey, std::string *pPath, const char *pucCall) {
  if (RegRoot *pRoot = RootByHandle(hKey)) {
    *pKey = pRoot->key;
    *pPath = pRoot->name;
    return 0;
  }
  auto it = M().keys.find(reinterpret_cast<std::uintptr_t>(hKey));
  if (it == M().keys.end()) {
    Problem(std::string(pucCall) + " on a closed or unknown key handle");
    return os::ERROR_INVALID_HANDLE;
  }
  *pKey = it->second.key;
  *pPath = it->second.path;
  return Key(*pKey).fDeleted ? os::ERROR_KEY_DELETED : 0;
}

// Walks the named subkeys down from key; NO_KEY when one is missing. *pPath (when given) gets
// each name appended as spelt in the registry.
KeyId Descend(KeyId key, const std::vector<std::string> &parts, std::string *pPath) {
  for (const std::string &part : parts) {
    key = ChildOf(key, part);
    if (key == NO_KEY)
      return NO_KEY;
    if (pPath)
      *pPath += "\\" + Key(key).name;
  }
  return key;
}

std::string JoinPath(const std::string &base, const std::vector<std::string> &parts) {
  std::string path = base;
  for (const std::string &part : parts)
    path += "\\" + part;
  return path;
}

void IndexValues(RegKey *pKey, size_t first) {
  for (size_t i = first; i < pKey->values.size(); ++i)
    (*pKey->valueIndex)[Fold(pKey->values[i].name)] = i;
}

KeyId NewKey(KeyId parent, std::string_view name) {
  Machine &m = M();
  KeyId id = static_cast<KeyId>(m.regKeys.size());
  m.regKeys.emplace_back();
  m.regKeys.back().name.assign(name.data(), name.size());
  m.regKeys.back().parent = parent;
  if (parent != NO_KEY)
    m.regKeys[parent].children.push_back(id);
  return id;
}

// The slot holding key's subkey of that name (ulHash being ChildHash of both), or the free slot
// that ends the probe, where it would go. The index must have slots.
size_t ProbeChild(KeyId key, std::string_view name, std::uint32_t ulHash) {
  const Machine &m = M();
  const size_t mask = m.childSlots.size() - 1;
  size_t slot = ulHash & mask;
  for (; m.childSlots[slot] != FREE_SLOT; slot = (slot + 1) & mask) {
    if (m.childSlots[slot] >> 32 != ulHash)
      continue;
    const RegKey &child = m.regKeys[IdIn(m.childSlots[slot])];
    if (child.parent == key && SameName(child.name, name))
      break;
  }
  return slot;
}

// The subkey of that name, made when missing: one probe of the index either way.
KeyId ChildOrNew(KeyId key, std::string_view name) {
  ReserveSlots(1);
  Machine &m = M();
  const std::uint32_t ulHash = ChildHash(key, name);
  const size_t slot = ProbeChild(key, name, ulHash);
  if (m.childSlots[slot] != FREE_SLOT)
    return IdIn(m.childSlots[slot]);
  KeyId id = NewKey(key, name);
  m.childSlots[slot] = SlotOf(ulHash, id);
  ++m.childCount;
  return id;
}
}  // namespace

void ReserveKeys(size_t count) {
  M().regKeys.reserve(M().regKeys.size() + count);
  ReserveSlots(count);
}

KeyRef RootKey(std::string_view name) {
  return AddRoot(name).key;
}

KeyRef Subkey(KeyRef parent, std::string_view name) {
  return ChildOrNew(parent, name);
}

RegKey &Key(KeyId id) {
  return M().regKeys[id];
}

KeyId ChildOf(KeyId key, std::string_view name) {
  const std::vector<std::uint64_t> &slots = M().childSlots;
  if (slots.empty())
    return NO_KEY;
  const std::uint64_t entry = slots[ProbeChild(key, name, ChildHash(key, name))];
  return entry == FREE_SLOT ? NO_KEY : IdIn(entry);
}

KeyId CreatePath(KeyId key, std::string_view path) {
  ForEachPart(path, [&](std::string_view part) { key = ChildOrNew(key, part); });
  return key;
}

RegValue *ValueOf(KeyId key, std::string_view name) {
  RegKey &owner = Key(key);
  if (owner.valueIndex) {
    auto it = owner.valueIndex->find(Fold(std::string(name)));
    return it == owner.valueIndex->end() ? nullptr : &owner.values[it->second];
  }
  for (RegValue &value : owner.values) {
    if (SameName(value.name, name))
      return &value;
  }
  return nullptr;
}

void PutValue(KeyId key, std::string_view name, os::DWORD dwType, std::string_view data) {
  if (RegValue *pValue = ValueOf(key, name)) {
    pValue->dwType = dwType;
    pValue->data.assign(data.data(), data.size());
    return;
  }
  RegKey &owner = Key(key);
  if (owner.values.size() == owner.values.capacity())  // by a quarter: a list of thousands stays near its size
    owner.values.reserve(owner.values.size() + owner.values.size() / 4 + 1);
  owner.values.push_back(RegValue{std::string(name), dwType, std::string(data)});
  if (owner.valueIndex) {
    IndexValues(&owner, owner.values.size() - 1);
  } else if (owner.values.size() >= INDEXED_VALUES) {
    owner.valueIndex = std::make_unique<std::unordered_map<std::string, size_t>>();
    IndexValues(&owner, 0);
  }
}

std::string KeyPath(const RegRoot &root, KeyId key) {
  // The key and its parents gathered first, so that the path is built in one pass.
  std::vector<KeyId> chain;
  for (; key != NO_KEY && key != root.key; key = Key(key).parent)
    chain.push_back(key);
  std::string path = root.name;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    path += "\\" + Key(*it).name;
  return path;
}

const RegRoot *RootOf(KeyId key) {
  while (Key(key).parent != NO_KEY)
    key = Key(key).parent;
  for (const RegRoot &root : M().roots) {
    if (root.key == key)
      return &root;
  }
  return nullptr;
}

RegRoot *RootByHandle(os::HKEY hKey) {
  for (RegRoot &root : M().roots) {
    if (root.hKey == hKey)
      return &root;
  }
  return nullptr;
}

RegRoot &AddRoot(std::string_view name) {
  for (RegRoot &root : M().roots) {
    if (SameName(root.name, name))
      return root;
  }
  static const struct {
    const char *pucName;
    os::HKEY hKey;
  } KNOWN[] = {{"HKEY_CLASSES_ROOT", os::HKEY_CLASSES_ROOT},     {"HKEY_CURRENT_USER", os::HKEY_CURRENT_USER},
               {"HKEY_LOCAL_MACHINE", os::HKEY_LOCAL_MACHINE},   {"HKEY_USERS", os::HKEY_USERS},
               {"HKEY_CURRENT_CONFIG", os::HKEY_CURRENT_CONFIG}, {"HKEY_DYN_DATA", os::HKEY_DYN_DATA}};
  RegRoot root{std::string(name), nullptr, NewKey(NO_KEY, "")};
  for (const auto &known : KNOWN) {
    if (name == known.pucName)
      root.hKey = known.hKey;
  }
  M().roots.push_back(root);
  return M().roots.back();
}

void ResetRegistry() {
  M().roots.clear();
  AddRoot("HKEY_LOCAL_MACHINE");
  AddRoot("HKEY_DYN_DATA");
}

namespace {
KeyId FindPath(os::HKEY hRoot, const std::string &path) {
  RegRoot *pRoot = RootByHandle(hRoot);
  if (pRoot == nullptr)
    return NO_KEY;
  KeyId key = pRoot->key;
  ForEachPart(path, [&](std::string_view part) {
    if (key != NO_KEY)
      key = ChildOf(key, part);
  });
  return key;
}

KeyId CreateUnder(os::HKEY hRoot, const std::string &path) {
  RegRoot *pRoot = RootByHandle(hRoot);
  if (pRoot == nullptr) {
    Problem("unknown registry root");
    return NO_KEY;
  }
  return CreatePath(pRoot->key, path);
}
}  // namespace

void CreateKey(os::HKEY hRoot, const std::string &path) {
  CreateUnder(hRoot, path);
}

void SetStringValue(os::HKEY hRoot, const std::string &path, const std::string &name, const std::string &data) {
  SetValue(hRoot, path, name, os::REG_SZ, data + std::string(1, '\0'));
}

void SetValue(os::HKEY hRoot, const std::string &path, const std::string &name, os::DWORD dwType,
              const std::string &data) {
  KeyId key = CreateUnder(hRoot, path);
  if (key != NO_KEY)
    PutValue(key, name, dwType, data);
}

bool KeyExists(os::HKEY hRoot, const std::string &path) {
  return FindPath(hRoot, path) != NO_KEY;
}

bool HasSubkeys(os::HKEY hRoot, const std::string &path) {
  KeyId key = FindPath(hRoot, path);
  return key != NO_KEY && !Key(key).children.empty();
}

bool GetValue(os::HKEY hRoot, const std::string &path, const std::string &name, std::string *pData) {
  KeyId key = FindPath(hRoot, path);
  RegValue *pValue = key != NO_KEY ? ValueOf(key, name) : nullptr;
  if (pValue && pData)
    *pData = pValue->data;
  return pValue != nullptr;
}

}  // namespace sim

namespace os {

using sim::Call;
using sim::Fails;
using sim::M;

LONG RegOpenKeyExA(HKEY hKey, const char *lpSubKey, DWORD, REGSAM, HKEY *phkResult) {
  sim::KeyId key = sim::NO_KEY;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegOpenKeyExA");
  std::vector<std::string> parts = sim::SplitPath(lpSubKey ? lpSubKey : "");
  DWORD dwCode = 0;
  if (Fails(Call::RegOpenKeyEx, sim::JoinPath(path, parts), &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  key = sim::Descend(key, parts, &path);
  if (key == sim::NO_KEY)
    return ERROR_FILE_NOT_FOUND;
  std::uintptr_t handle = sim::NewHandle();
  M().keys[handle] = sim::OpenKey{key, path};
  *phkResult = reinterpret_cast<HKEY>(handle);
  return 0;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char *lpName, DWORD *lpcchName, DWORD *, char *, DWORD *, FILETIME *) {
  sim::KeyId key = sim::NO_KEY;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegEnumKeyExA");
  DWORD dwCode = 0;
  if (Fails(Call::RegEnumKeyEx, path, &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  const std::vector<sim::KeyId> &children = sim::Key(key).children;
  if (dwIndex >= children.size())
    return ERROR_NO_MORE_ITEMS;
  const std::string &name = sim::Key(children[dwIndex]).name;
  if (name.size() + 1 > *lpcchName)
    return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = static_cast<DWORD>(name.size());
  return 0;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char *lpValueName, DWORD *lpcchValueName, DWORD *, DWORD *lpType,
                   BYTE *lpData, DWORD *lpcbData) {
  sim::KeyId key = sim::NO_KEY;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegEnumValueA");
  DWORD dwCode = 0;
  if (Fails(Call::RegEnumValue, path, &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  const std::vector<sim::RegValue> &values = sim::Key(key).values;
  if (dwIndex >= values.size())
    return ERROR_NO_MORE_ITEMS;
  const sim::RegValue &value = values[dwIndex];
  if (value.name.size() + 1 > *lpcchValueName)
    return ERROR_MORE_DATA;
  if (lpData != nullptr && lpcbData != nullptr && value.data.size() > *lpcbData)
    return ERROR_MORE_DATA;
  std::memcpy(lpValueName, value.name.c_str(), value.name.size() + 1);
  *lpcchValueName = static_cast<DWORD>(value.name.size());
  if (lpType)
    *lpType = value.dwType;
  if (lpData != nullptr && lpcbData != nullptr)
    std::memcpy(lpData, value.data.data(), value.data.size());
  if (lpcbData)
    *lpcbData = static_cast<DWORD>(value.data.size());
  return 0;
}

LONG RegQueryValueExA(HKEY hKey, const char *lpValueName, DWORD *, DWORD *lpType, BYTE *lpData, DWORD *lpcbData) {
  sim::KeyId key = sim::NO_KEY;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegQueryValueExA");
  DWORD dwCode = 0;
  if (Fails(Call::RegQueryValueEx, path, &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  sim::RegValue *pValue = sim::ValueOf(key, lpValueName ? lpValueName : "");
  if (pValue == nullptr)
    return ERROR_FILE_NOT_FOUND;
  DWORD dwSize = static_cast<DWORD>(pValue->data.size());
  if (lpData != nullptr) {
    if (lpcbData == nullptr)
      return ERROR_INVALID_PARAMETER;
    if (dwSize > *lpcbData) {
      *lpcbData = dwSize;
      return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, pValue->data.data(), dwSize);
  }
  if (lpType)
    *lpType = pValue->dwType;
  if (lpcbData)
    *lpcbData = dwSize;
  return 0;
}

LONG RegDeleteKeyA(HKEY hKey, const char *lpSubKey) {
  sim::KeyId key = sim::NO_KEY;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegDeleteKeyA");
  std::vector<std::string> parts = sim::SplitPath(lpSubKey ? lpSubKey : "");
  DWORD dwCode = 0;
  if (Fails(Call::RegDeleteKey, sim::JoinPath(path, parts), &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  key = sim::Descend(key, parts, nullptr);
  if (key == sim::NO_KEY)
    return ERROR_FILE_NOT_FOUND;
  // An empty subkey name deletes the key the handle names, as the NT family does: the most
  // destructive reading, so that a caller passing one is caught.
  sim::KeyId parent = sim::Key(key).parent;
  if (parent == sim::NO_KEY)
    return ERROR_ACCESS_DENIED;
  std::vector<sim::KeyId> &siblings = sim::Key(parent).children;
  for (size_t i = 0; i < siblings.size(); ++i) {
    if (siblings[i] == key) {
      sim::RecordRemovedKey(key);
      sim::MarkDeleted(key);
      siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  return 0;
}

LONG RegDeleteValueA(HKEY hKey, const char *lpValueName) {
  sim::KeyId key = sim::NO_KEY;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegDeleteValueA");
  DWORD dwCode = 0;
  if (Fails(Call::RegDeleteValue, path, &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  sim::RegKey &owner = sim::Key(key);
  sim::RegValue *pValue = sim::ValueOf(key, lpValueName ? lpValueName : "");
  if (pValue == nullptr)
    return ERROR_FILE_NOT_FOUND;
  sim::RecordRemovedValue(key, *pValue);
  // The values after it move down one index, as the enumeration sees them.
  const size_t erased = static_cast<size_t>(pValue - owner.values.data());
  if (owner.valueIndex) {
    owner.valueIndex->erase(sim::Fold(pValue->name));
    for (auto &entry : *owner.valueIndex)
      entry.second -= entry.second > erased ? 1 : 0;
  }
  owner.values.erase(owner.values.begin() + static_cast<std::ptrdiff_t>(erased));
  return 0;
}

LONG RegCloseKey(HKEY hKey) {
  if (sim::RootByHandle(hKey))
    return 0;
  if (M().keys.erase(reinterpret_cast<std::uintptr_t>(hKey)) == 0) {
    sim::Problem("RegCloseKey on a closed or unknown key handle");
    return ERROR_INVALID_HANDLE;
  }
  return 0;
}

}  // namespace os

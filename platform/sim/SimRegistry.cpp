// The registry of the simulated machine: the key tree, the index that finds a key's subkey by
// name, values and key paths, and the sim:: functions that set a registry up and read it back.
// Names compare ignoring ASCII case and are kept as spelt; subkeys and values keep insertion
// order. Relies on the machine record and the path rules.
#include "platform/sim/SimRegistry.h"

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

// The live subkey of that name, or NO_KEY; made when missing and fMake: one probe of the index
// either way.
KeyId ChildOf(KeyId key, std::string_view name, bool fMake) {
  if (fMake)
    ReserveSlots(1);
  Machine &m = M();
  if (m.childSlots.empty())
    return NO_KEY;
  const std::uint32_t ulHash = ChildHash(key, name);
  const size_t slot = ProbeChild(key, name, ulHash);
  if (m.childSlots[slot] != FREE_SLOT)
    return IdIn(m.childSlots[slot]);
  if (!fMake)
    return NO_KEY;
  KeyId id = NewKey(key, name);
  m.childSlots[slot] = SlotOf(ulHash, id);
  ++m.childCount;
  return id;
}

// each(name) for every name of a key path, in order; empty names between backslashes drop out.
template <typename F>
void ForEachKeyName(std::string_view path, F each) {
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t slash = path.find('\\', pos);
    size_t end = slash == std::string_view::npos ? path.size() : slash;
    if (end > pos)
      each(path.substr(pos, end - pos));
    pos = end + 1;
  }
}

// The one walk down the tree that every lookup takes: from key through each name of path,
// stopping at the first missing one unless fMake.
KeyId WalkDown(KeyId key, std::string_view path, bool fMake, std::string *pSpelt) {
  ForEachKeyName(path, [&](std::string_view name) {
    if (key == NO_KEY)
      return;
    key = ChildOf(key, name, fMake);
    if (key != NO_KEY && pSpelt)
      *pSpelt += "\\" + Key(key).name;
  });
  return key;
}

void IndexValues(RegKey *pKey, size_t first) {
  for (size_t i = first; i < pKey->values.size(); ++i)
    (*pKey->valueIndex)[Fold(pKey->values[i].name)] = i;
}

// The key a sim:: function names by root and path; NO_KEY (a problem when fMake) for an unknown
// root.
KeyId KeyUnder(os::HKEY hRoot, const std::string &path, bool fMake) {
  RegRoot *pRoot = RootByHandle(hRoot);
  if (pRoot == nullptr) {
    if (fMake)
      Problem("unknown registry root");
    return NO_KEY;
  }
  return WalkDown(pRoot->key, path, fMake, nullptr);
}

}  // namespace

RegKey &Key(KeyId id) {
  return M().regKeys[id];
}

std::string JoinKeyPath(const std::string &base, std::string_view path) {
  std::string joined = base;
  ForEachKeyName(path, [&](std::string_view name) {
    joined += "\\";
    joined += name;
  });
  return joined;
}

KeyId FindKey(KeyId key, std::string_view path, std::string *pSpelt) {
  return WalkDown(key, path, false, pSpelt);
}

KeyId MakeKey(KeyId key, std::string_view path) {
  return WalkDown(key, path, true, nullptr);
}

void DetachKey(KeyId key) {
  std::vector<KeyId> &siblings = Key(Key(key).parent).children;
  for (size_t i = 0; i < siblings.size(); ++i) {
    if (siblings[i] == key) {
      MarkDeleted(key);
      siblings.erase(siblings.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
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

void RemoveValue(KeyId key, const RegValue *pValue) {
  RegKey &owner = Key(key);
  const size_t erased = static_cast<size_t>(pValue - owner.values.data());
  if (owner.valueIndex) {
    owner.valueIndex->erase(Fold(pValue->name));
    for (auto &entry : *owner.valueIndex)
      entry.second -= entry.second > erased ? 1 : 0;
  }
  owner.values.erase(owner.values.begin() + static_cast<std::ptrdiff_t>(erased));
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

void CollectSubtree(const RegRoot &root, KeyId top, std::vector<RegistryKey> *pKeys) {
  ForEachInSubtree(top, KeyPath(root, top), [&](const RegKey &key, const std::string &path) {
    RegistryKey collected{path, {}};
    for (const RegValue &value : key.values)
      collected.values.push_back(RegistryValue{value.name, value.dwType, value.data});
    pKeys->push_back(std::move(collected));
  });
}

std::vector<RegistryKey> RegistryKeys() {
  std::vector<RegistryKey> keys;
  for (const RegRoot &root : M().roots) {
    for (KeyId child : Key(root.key).children)
      CollectSubtree(root, child, &keys);
  }
  return keys;
}

void ForEachKey(const std::function<void(const std::string &path, const std::vector<RegistryValue> &values)> &each) {
  for (const RegRoot &root : M().roots) {
    for (KeyId child : Key(root.key).children)
      ForEachInSubtree(child, root.name + "\\" + Key(child).name,
                       [&](const RegKey &key, const std::string &path) { each(path, key.values); });
  }
}

void ReserveKeys(size_t count) {
  M().regKeys.reserve(M().regKeys.size() + count);
  ReserveSlots(count);
}

KeyRef RootKey(std::string_view name) {
  return AddRoot(name).key;
}

KeyRef Subkey(KeyRef parent, std::string_view name) {
  return ChildOf(parent, name, true);
}

void CreateKey(os::HKEY hRoot, const std::string &path) {
  KeyUnder(hRoot, path, true);
}

void SetStringValue(os::HKEY hRoot, const std::string &path, const std::string &name, const std::string &data) {
  SetValue(hRoot, path, name, os::REG_SZ, data + std::string(1, '\0'));
}

void SetValue(os::HKEY hRoot, const std::string &path, const std::string &name, os::DWORD dwType,
              const std::string &data) {
  KeyId key = KeyUnder(hRoot, path, true);
  if (key != NO_KEY)
    PutValue(key, name, dwType, data);
}

bool KeyExists(os::HKEY hRoot, const std::string &path) {
  return KeyUnder(hRoot, path, false) != NO_KEY;
}

bool HasSubkeys(os::HKEY hRoot, const std::string &path) {
  KeyId key = KeyUnder(hRoot, path, false);
  return key != NO_KEY && !Key(key).children.empty();
}

bool GetValue(os::HKEY hRoot, const std::string &path, const std::string &name, std::string *pData) {
  KeyId key = KeyUnder(hRoot, path, false);
  RegValue *pValue = key != NO_KEY ? ValueOf(key, name) : nullptr;
  if (pValue && pData)
    *pData = pValue->data;
  return pValue != nullptr;
}

}  // namespace sim

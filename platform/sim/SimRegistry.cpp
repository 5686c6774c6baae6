// The registry of the simulated machine, with the Windows 98/ME behaviour the program relies on:
// names compared ignoring ASCII case and kept as spelt, KEY_WRITE handles that read and
// enumerate, RegDeleteKeyA removing a whole subtree, enumeration in insertion order with the
// following subkeys moving down one index after a deletion, and the 234 length rules.
#include <cstring>

#include "platform/registry.h"
#include "platform/sim/SimMachine.h"

namespace sim {

namespace {
const os::LONG ERROR_KEY_DELETED = 1018;

void MarkDeleted(RegKey *pKey) {
  pKey->fDeleted = true;
  for (auto &child : pKey->children)
    MarkDeleted(child.get());
}

std::vector<std::string> SplitPath(const std::string &path) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : path) {
    if (c == '\\') {
      if (!part.empty())
        parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty())
    parts.push_back(part);
  return parts;
}

// The key behind a handle and its full path; 6 for a closed or unknown handle.
os::LONG Resolve(os::HKEY hKey, std::shared_ptr<RegKey> *pKey, std::string *pPath, const char *pucCall) {
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
  return (*pKey)->fDeleted ? ERROR_KEY_DELETED : 0;
}

std::shared_ptr<RegKey> SharedChild(RegKey *pKey, const std::string &name) {
  auto it = pKey->childByName.find(Fold(name));
  return it == pKey->childByName.end() ? nullptr : it->second;
}

// Walks the named subkeys down from key; null when one is missing. *pPath (when given) gets
// each name appended as spelt in the registry.
std::shared_ptr<RegKey> Descend(std::shared_ptr<RegKey> key, const std::vector<std::string> &parts,
                                std::string *pPath) {
  for (const std::string &part : parts) {
    key = SharedChild(key.get(), part);
    if (!key)
      return nullptr;
    if (pPath)
      *pPath += "\\" + key->name;
  }
  return key;
}

std::string JoinPath(const std::string &base, const std::vector<std::string> &parts) {
  std::string path = base;
  for (const std::string &part : parts)
    path += "\\" + part;
  return path;
}
}  // namespace

RegKey *ChildOf(RegKey *pKey, const std::string &name) {
  return SharedChild(pKey, name).get();
}

RegKey *CreatePath(RegKey *pKey, const std::string &path) {
  for (const std::string &part : SplitPath(path)) {
    RegKey *pChild = ChildOf(pKey, part);
    if (pChild == nullptr) {
      auto child = std::make_shared<RegKey>();
      child->name = part;
      child->pParent = pKey;
      pChild = child.get();
      pKey->children.push_back(child);
      pKey->childByName[Fold(part)] = child;
    }
    pKey = pChild;
  }
  return pKey;
}

RegValue *ValueOf(RegKey *pKey, const std::string &name) {
  auto it = pKey->valueByName.find(Fold(name));
  return it == pKey->valueByName.end() ? nullptr : &pKey->values[it->second];
}

void PutValue(RegKey *pKey, const std::string &name, os::DWORD dwType, const std::string &data) {
  if (RegValue *pValue = ValueOf(pKey, name)) {
    pValue->dwType = dwType;
    pValue->data = data;
    return;
  }
  pKey->valueByName[Fold(name)] = pKey->values.size();
  pKey->values.push_back(RegValue{name, dwType, data});
}

std::string KeyPath(const RegRoot &root, const RegKey *pKey) {
  std::string path;
  for (; pKey != nullptr && pKey != root.key.get(); pKey = pKey->pParent)
    path = "\\" + pKey->name + path;
  return root.name + path;
}

RegRoot *RootByName(const std::string &name) {
  for (RegRoot &root : M().roots) {
    if (SameName(root.name, name))
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

RegRoot &AddRoot(const std::string &name) {
  if (RegRoot *pRoot = RootByName(name))
    return *pRoot;
  static const struct {
    const char *pucName;
    os::HKEY hKey;
  } KNOWN[] = {{"HKEY_CLASSES_ROOT", os::HKEY_CLASSES_ROOT},     {"HKEY_CURRENT_USER", os::HKEY_CURRENT_USER},
               {"HKEY_LOCAL_MACHINE", os::HKEY_LOCAL_MACHINE},   {"HKEY_USERS", os::HKEY_USERS},
               {"HKEY_CURRENT_CONFIG", os::HKEY_CURRENT_CONFIG}, {"HKEY_DYN_DATA", os::HKEY_DYN_DATA}};
  RegRoot root{name, nullptr, std::make_shared<RegKey>()};
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
RegKey *FindPath(os::HKEY hRoot, const std::string &path) {
  RegRoot *pRoot = RootByHandle(hRoot);
  if (pRoot == nullptr)
    return nullptr;
  RegKey *pKey = pRoot->key.get();
  for (const std::string &part : SplitPath(path)) {
    pKey = ChildOf(pKey, part);
    if (pKey == nullptr)
      return nullptr;
  }
  return pKey;
}

RegKey *CreateUnder(os::HKEY hRoot, const std::string &path) {
  RegRoot *pRoot = RootByHandle(hRoot);
  if (pRoot == nullptr) {
    Problem("unknown registry root");
    return nullptr;
  }
  return CreatePath(pRoot->key.get(), path);
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
  if (RegKey *pKey = CreateUnder(hRoot, path))
    PutValue(pKey, name, dwType, data);
}

bool KeyExists(os::HKEY hRoot, const std::string &path) {
  return FindPath(hRoot, path) != nullptr;
}

bool HasSubkeys(os::HKEY hRoot, const std::string &path) {
  RegKey *pKey = FindPath(hRoot, path);
  return pKey != nullptr && !pKey->children.empty();
}

bool GetValue(os::HKEY hRoot, const std::string &path, const std::string &name, std::string *pData) {
  RegKey *pKey = FindPath(hRoot, path);
  RegValue *pValue = pKey ? ValueOf(pKey, name) : nullptr;
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
  std::shared_ptr<sim::RegKey> key;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegOpenKeyExA");
  std::vector<std::string> parts = sim::SplitPath(lpSubKey ? lpSubKey : "");
  DWORD dwCode = 0;
  if (Fails(Call::RegOpenKeyEx, sim::JoinPath(path, parts), &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  key = sim::Descend(key, parts, &path);
  if (!key)
    return ERROR_FILE_NOT_FOUND;
  std::uintptr_t handle = sim::NewHandle();
  M().keys[handle] = sim::OpenKey{key, path};
  *phkResult = reinterpret_cast<HKEY>(handle);
  return 0;
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char *lpName, DWORD *lpcchName, DWORD *, char *, DWORD *, FILETIME *) {
  std::shared_ptr<sim::RegKey> key;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegEnumKeyExA");
  DWORD dwCode = 0;
  if (Fails(Call::RegEnumKeyEx, path, &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  if (dwIndex >= key->children.size())
    return ERROR_NO_MORE_ITEMS;
  const std::string &name = key->children[dwIndex]->name;
  if (name.size() + 1 > *lpcchName)
    return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), name.size() + 1);
  *lpcchName = static_cast<DWORD>(name.size());
  return 0;
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char *lpValueName, DWORD *lpcchValueName, DWORD *, DWORD *lpType,
                   BYTE *lpData, DWORD *lpcbData) {
  std::shared_ptr<sim::RegKey> key;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegEnumValueA");
  DWORD dwCode = 0;
  if (Fails(Call::RegEnumValue, path, &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  if (dwIndex >= key->values.size())
    return ERROR_NO_MORE_ITEMS;
  const sim::RegValue &value = key->values[dwIndex];
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
  std::shared_ptr<sim::RegKey> key;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegQueryValueExA");
  DWORD dwCode = 0;
  if (Fails(Call::RegQueryValueEx, path, &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  sim::RegValue *pValue = sim::ValueOf(key.get(), lpValueName ? lpValueName : "");
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
  std::shared_ptr<sim::RegKey> key;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegDeleteKeyA");
  std::vector<std::string> parts = sim::SplitPath(lpSubKey ? lpSubKey : "");
  DWORD dwCode = 0;
  if (Fails(Call::RegDeleteKey, sim::JoinPath(path, parts), &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  key = sim::Descend(key, parts, nullptr);
  if (!key)
    return ERROR_FILE_NOT_FOUND;
  // An empty subkey name deletes the key the handle names, as the NT family does: the most
  // destructive reading, so that a caller passing one is caught.
  sim::RegKey *pParent = key->pParent;
  if (pParent == nullptr)
    return ERROR_ACCESS_DENIED;
  for (size_t i = 0; i < pParent->children.size(); ++i) {
    if (pParent->children[i] == key) {
      sim::RecordRemovedKey(key.get());
      sim::MarkDeleted(key.get());
      pParent->children.erase(pParent->children.begin() + static_cast<std::ptrdiff_t>(i));
      pParent->childByName.erase(sim::Fold(key->name));
      break;
    }
  }
  return 0;
}

LONG RegDeleteValueA(HKEY hKey, const char *lpValueName) {
  std::shared_ptr<sim::RegKey> key;
  std::string path;
  LONG lResult = sim::Resolve(hKey, &key, &path, "RegDeleteValueA");
  DWORD dwCode = 0;
  if (Fails(Call::RegDeleteValue, path, &dwCode))
    return static_cast<LONG>(dwCode);
  if (lResult != 0)
    return lResult;
  auto it = key->valueByName.find(sim::Fold(lpValueName ? lpValueName : ""));
  if (it == key->valueByName.end())
    return ERROR_FILE_NOT_FOUND;
  const size_t ulErased = it->second;
  sim::RecordRemovedValue(key.get(), key->values[ulErased]);
  key->valueByName.erase(it);
  key->values.erase(key->values.begin() + static_cast<std::ptrdiff_t>(ulErased));
  // The values after it move down one index, as the enumeration sees them.
  for (auto &entry : key->valueByName) {
    if (entry.second > ulErased)
      --entry.second;
  }
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

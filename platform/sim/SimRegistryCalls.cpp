// The registry calls of the simulated machine, with the Windows 98/ME behaviour the program relies
// on: KEY_WRITE handles that read and enumerate, RegDeleteKeyA removing a whole subtree,
// enumeration in insertion order with the following subkeys moving down one index after a
// deletion, and the 234 length rules. Relies on the key tree and the record of changes.
#include <cstring>

#include "platform/registry.h"
#include "platform/sim/SimChanges.h"
#include "platform/sim/SimRegistry.h"

namespace sim {

namespace {

// The key behind a handle and its full path; 6 for a closed or unknown handle, 1018 for a key
// deleted since it was opened.
os::LONG KeyOfHandle(os::HKEY hKey, KeyId *pKey, std::string *pPath, const char *pucCall) {
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

// Copies a name and its terminating NUL into a caller's buffer of *pcchName bytes.
os::LONG CopyName(const std::string &name, char *pucOut, os::DWORD *pcchName) {
  if (name.size() + 1 > *pcchName)
    return os::ERROR_MORE_DATA;
  std::memcpy(pucOut, name.c_str(), name.size() + 1);
  *pcchName = static_cast<os::DWORD>(name.size());
  return 0;
}

// The key behind a handle, for a call of that kind naming subKey under it ("" for none): the call
// is counted first, on the path it names, so that a planned fault strikes it even through a bad
// handle; then a closed or unknown handle answers 6.
os::LONG KeyForCall(os::HKEY hKey, Call kind, const char *pucCall, std::string_view subKey, KeyId *pKey,
                    std::string *pPath) {
  os::LONG lResult = KeyOfHandle(hKey, pKey, pPath, pucCall);
  os::DWORD dwCode = 0;
  if (Fails(kind, JoinKeyPath(*pPath, subKey), &dwCode))
    return static_cast<os::LONG>(dwCode);
  return lResult;
}

}  // namespace

}  // namespace sim

namespace os {

using sim::Call;
using sim::Fails;
using sim::M;

LONG RegOpenKeyExA(HKEY hKey, const char *lpSubKey, DWORD, REGSAM, HKEY *phkResult) {
  sim::KeyId key = sim::NO_KEY;
  std::string path;
  std::string_view subKey = lpSubKey ? lpSubKey : "";
  if (LONG lResult = sim::KeyForCall(hKey, Call::RegOpenKeyEx, "RegOpenKeyExA", subKey, &key, &path))
    return lResult;
  key = sim::FindKey(key, subKey, &path);
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
  if (LONG lResult = sim::KeyForCall(hKey, Call::RegEnumKeyEx, "RegEnumKeyExA", "", &key, &path))
    return lResult;
  const std::vector<sim::KeyId> &children = sim::Key(key).children;
  if (dwIndex >= children.size())
    return ERROR_NO_MORE_ITEMS;
  return sim::CopyName(sim::Key(children[dwIndex]).name, lpName, lpcchName);
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char *lpValueName, DWORD *lpcchValueName, DWORD *, DWORD *lpType,
                   BYTE *lpData, DWORD *lpcbData) {
  sim::KeyId key = sim::NO_KEY;
  std::string path;
  if (LONG lResult = sim::KeyForCall(hKey, Call::RegEnumValue, "RegEnumValueA", "", &key, &path))
    return lResult;
  const std::vector<sim::RegValue> &values = sim::Key(key).values;
  if (dwIndex >= values.size())
    return ERROR_NO_MORE_ITEMS;
  const sim::RegValue &value = values[dwIndex];
  if (value.name.size() + 1 > *lpcchValueName)
    return ERROR_MORE_DATA;
  if (lpData != nullptr && lpcbData != nullptr && value.data.size() > *lpcbData)
    return ERROR_MORE_DATA;
  sim::CopyName(value.name, lpValueName, lpcchValueName);
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
  if (LONG lResult = sim::KeyForCall(hKey, Call::RegQueryValueEx, "RegQueryValueExA", "", &key, &path))
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
  std::string_view subKey = lpSubKey ? lpSubKey : "";
  if (LONG lResult = sim::KeyForCall(hKey, Call::RegDeleteKey, "RegDeleteKeyA", subKey, &key, &path))
    return lResult;
  key = sim::FindKey(key, subKey);
  if (key == sim::NO_KEY)
    return ERROR_FILE_NOT_FOUND;
  // An empty subkey name deletes the key the handle names, as the NT family does: the most
  // destructive reading, so that a caller passing one is caught.
  if (sim::Key(key).parent == sim::NO_KEY)
    return ERROR_ACCESS_DENIED;
  sim::RecordRemovedKey(key);
  sim::DetachKey(key);
  return 0;
}

LONG RegDeleteValueA(HKEY hKey, const char *lpValueName) {
  sim::KeyId key = sim::NO_KEY;
  std::string path;
  if (LONG lResult = sim::KeyForCall(hKey, Call::RegDeleteValue, "RegDeleteValueA", "", &key, &path))
    return lResult;
  sim::RegValue *pValue = sim::ValueOf(key, lpValueName ? lpValueName : "");
  if (pValue == nullptr)
    return ERROR_FILE_NOT_FOUND;
  sim::RecordRemovedValue(key, *pValue);
  sim::RemoveValue(key, pValue);
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

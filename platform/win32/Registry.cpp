// Must work on every Windows from 98 on. Relies on Windows 98 behaviour: a KEY_WRITE handle reads
// and enumerates; RegDeleteKeyA removes a key with its whole subtree; deleting subkey n moves the
// following subkeys down one index. NT-family Windows (and Wine) refuse to delete a key that has
// subkeys, so os::RegDeleteKeyA removes the subkeys itself there and retries.
#include "platform/registry.h"

#include <windows.h>

static_assert(sizeof(os::FILETIME) == sizeof(::FILETIME), "FILETIME layout");
static_assert(sizeof(os::DWORD) == sizeof(::DWORD) && sizeof(os::LONG) == sizeof(::LONG), "integer sizes");

namespace {

::HKEY ToWin(os::HKEY hKey) {
  return reinterpret_cast<::HKEY>(hKey);
}

::DWORD *ToWin(os::DWORD *pdw) {
  return reinterpret_cast<::DWORD *>(pdw);
}

// Registry key names are at most 255 characters on every Windows.
const ::DWORD KEY_NAME_SIZE = 256;

// Deletes every subkey of hKey, deepest first. Stops at the first subkey that cannot go, so a
// refused subkey is never enumerated again and again.
void DeleteSubkeys(::HKEY hKey) {
  char ucName[KEY_NAME_SIZE];
  for (;;) {
    ::DWORD cchName = KEY_NAME_SIZE;
    if (::RegEnumKeyExA(hKey, 0, ucName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      return;
    }
    ucName[KEY_NAME_SIZE - 1] = '\0';
    if (os::RegDeleteKeyA(reinterpret_cast<os::HKEY>(hKey), ucName) != ERROR_SUCCESS) {
      return;
    }
  }
}

bool HasSubkeys(::HKEY hKey) {
  char ucName[KEY_NAME_SIZE];
  ::DWORD cchName = KEY_NAME_SIZE;
  ::LONG lResult = ::RegEnumKeyExA(hKey, 0, ucName, &cchName, nullptr, nullptr, nullptr, nullptr);
  return lResult == ERROR_SUCCESS || lResult == ERROR_MORE_DATA;
}

}  // namespace

namespace os {

LONG RegOpenKeyExA(HKEY hKey, const char *lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY *phkResult) {
  return ::RegOpenKeyExA(ToWin(hKey), lpSubKey, ulOptions, samDesired, reinterpret_cast<::HKEY *>(phkResult));
}

LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char *lpName, DWORD *lpcchName, DWORD *lpReserved, char *lpClass,
                   DWORD *lpcchClass, FILETIME *lpftLastWriteTime) {
  return ::RegEnumKeyExA(ToWin(hKey), dwIndex, lpName, ToWin(lpcchName), ToWin(lpReserved), lpClass, ToWin(lpcchClass),
                         reinterpret_cast<::FILETIME *>(lpftLastWriteTime));
}

LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char *lpValueName, DWORD *lpcchValueName, DWORD *lpReserved, DWORD *lpType,
                   BYTE *lpData, DWORD *lpcbData) {
  return ::RegEnumValueA(ToWin(hKey), dwIndex, lpValueName, ToWin(lpcchValueName), ToWin(lpReserved), ToWin(lpType),
                         lpData, ToWin(lpcbData));
}

LONG RegQueryValueExA(HKEY hKey, const char *lpValueName, DWORD *lpReserved, DWORD *lpType, BYTE *lpData,
                      DWORD *lpcbData) {
  return ::RegQueryValueExA(ToWin(hKey), lpValueName, ToWin(lpReserved), ToWin(lpType), lpData, ToWin(lpcbData));
}

LONG RegDeleteKeyA(HKEY hKey, const char *lpSubKey) {
  LONG lResult = ::RegDeleteKeyA(ToWin(hKey), lpSubKey);
  if (lResult == ERROR_SUCCESS || lpSubKey == nullptr || lpSubKey[0] == '\0') {
    return lResult;
  }
  ::HKEY hSubKey = nullptr;
  if (::RegOpenKeyExA(ToWin(hKey), lpSubKey, 0, KEY_READ, &hSubKey) != ERROR_SUCCESS) {
    return lResult;
  }
  bool fHadSubkeys = HasSubkeys(hSubKey);
  if (fHadSubkeys) {
    DeleteSubkeys(hSubKey);
  }
  ::RegCloseKey(hSubKey);
  return fHadSubkeys ? ::RegDeleteKeyA(ToWin(hKey), lpSubKey) : lResult;
}

LONG RegDeleteValueA(HKEY hKey, const char *lpValueName) {
  return ::RegDeleteValueA(ToWin(hKey), lpValueName);
}

LONG RegCloseKey(HKEY hKey) {
  return ::RegCloseKey(ToWin(hKey));
}

}  // namespace os

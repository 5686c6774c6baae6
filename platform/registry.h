// The registry calls the uninstaller makes (ADVAPI32, ANSI forms). Each returns the Win32 result
// code, 0 on success. Windows 98/ME behaviour the callers rely on, kept by every implementation:
// a KEY_WRITE handle reads and enumerates; RegDeleteKeyA removes a key with its whole subtree;
// deleting subkey n moves the following subkeys down one index.
#ifndef UNINST_PLATFORM_REGISTRY_H
#define UNINST_PLATFORM_REGISTRY_H

#include "platform/types.h"

namespace os {

/// Opens lpSubKey under hKey; 0 and *phkResult set, or an error code.
LONG RegOpenKeyExA(HKEY hKey, const char *lpSubKey, DWORD ulOptions, REGSAM samDesired, HKEY *phkResult);
/// Names subkey dwIndex; 0, 234 when the name does not fit *lpcchName, 259 past the last one.
LONG RegEnumKeyExA(HKEY hKey, DWORD dwIndex, char *lpName, DWORD *lpcchName, DWORD *lpReserved, char *lpClass,
                   DWORD *lpcchClass, FILETIME *lpftLastWriteTime);
/// Names value dwIndex and reads its data; 0, 234 when name or data does not fit, 259 past the end.
LONG RegEnumValueA(HKEY hKey, DWORD dwIndex, char *lpValueName, DWORD *lpcchValueName, DWORD *lpReserved, DWORD *lpType,
                   BYTE *lpData, DWORD *lpcbData);
/// Reads a value's data; 0, 2 when missing, 234 when it does not fit *lpcbData (buffer untouched).
LONG RegQueryValueExA(HKEY hKey, const char *lpValueName, DWORD *lpReserved, DWORD *lpType, BYTE *lpData,
                      DWORD *lpcbData);
/// Deletes lpSubKey of hKey together with everything under it.
LONG RegDeleteKeyA(HKEY hKey, const char *lpSubKey);
/// Deletes one value of hKey.
LONG RegDeleteValueA(HKEY hKey, const char *lpValueName);
/// Closes a key opened by RegOpenKeyExA.
LONG RegCloseKey(HKEY hKey);

}  // namespace os

#endif

// The few Win32 calls the Win32 tests make beyond the os:: interface, declared by hand so that
// <windows.h> stays inside platform/win32/. The stdcall decoration (@n) makes the linker check
// each argument list's size against the import libraries.
#ifndef UNINST_TESTS_WIN32_WIN32CALLS_H
#define UNINST_TESTS_WIN32_WIN32CALLS_H

#include "platform/types.h"

#define UNINST_IMPORT extern "C" __attribute__((dllimport, stdcall))

UNINST_IMPORT os::LONG RegCreateKeyExA(os::HKEY hKey, const char *lpSubKey, os::DWORD Reserved, char *lpClass,
                                       os::DWORD dwOptions, os::REGSAM samDesired, void *lpSecurityAttributes,
                                       os::HKEY *phkResult, os::DWORD *lpdwDisposition);
UNINST_IMPORT os::LONG RegSetValueExA(os::HKEY hKey, const char *lpValueName, os::DWORD Reserved, os::DWORD dwType,
                                      const os::BYTE *lpData, os::DWORD cbData);
UNINST_IMPORT os::BOOL SetFileAttributesA(const char *lpFileName, os::DWORD dwFileAttributes);
UNINST_IMPORT os::BOOL CreateDirectoryA(const char *lpPathName, void *lpSecurityAttributes);
UNINST_IMPORT os::BOOL RemoveDirectoryA(const char *lpPathName);
UNINST_IMPORT os::BOOL WriteFile(os::HANDLE hFile, const void *lpBuffer, os::DWORD nNumberOfBytesToWrite,
                                 os::DWORD *lpNumberOfBytesWritten, void *lpOverlapped);
UNINST_IMPORT os::DWORD GetTempPathA(os::DWORD nBufferLength, char *lpBuffer);
UNINST_IMPORT void OutputDebugStringA(const char *lpOutputString);
UNINST_IMPORT void SetLastError(os::DWORD dwErrCode);

const os::DWORD REG_OPTION_NON_VOLATILE = 0;
const os::DWORD REG_OPTION_VOLATILE = 1;
const os::DWORD REG_CREATED_NEW_KEY = 1;

#undef UNINST_IMPORT

#endif

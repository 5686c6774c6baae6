// Must work on every Windows from 98 on. Relies on Windows 98 behaviour: DeleteFileA gives 5 for
// a file in use; a mapping larger than its file grows the file, zero-filled. MoveFileExA lives in
// MoveFile.cpp, so that the test build can link a stand-in for it.
#include "platform/files.h"

#include <windows.h>

static_assert(sizeof(os::WIN32_FIND_DATAA) == sizeof(::WIN32_FIND_DATAA), "WIN32_FIND_DATAA layout");
static_assert(sizeof(os::WIN32_FIND_DATAA) == 320, "WIN32_FIND_DATAA is 320 bytes on i686");
static_assert(offsetof(os::WIN32_FIND_DATAA, cFileName) == offsetof(::WIN32_FIND_DATAA, cFileName), "cFileName offset");
static_assert(offsetof(os::WIN32_FIND_DATAA, cAlternateFileName) == offsetof(::WIN32_FIND_DATAA, cAlternateFileName),
              "cAlternateFileName offset");

namespace {

::WIN32_FIND_DATAA *ToWin(os::WIN32_FIND_DATAA *pData) {
  return reinterpret_cast<::WIN32_FIND_DATAA *>(pData);
}

::DWORD *ToWin(os::DWORD *pdw) {
  return reinterpret_cast<::DWORD *>(pdw);
}

}  // namespace

namespace os {

DWORD GetLastError() {
  return ::GetLastError();
}

UINT GetSystemDirectoryA(char *lpBuffer, UINT uSize) {
  return ::GetSystemDirectoryA(lpBuffer, uSize);
}

UINT GetWindowsDirectoryA(char *lpBuffer, UINT uSize) {
  return ::GetWindowsDirectoryA(lpBuffer, uSize);
}

BOOL DeleteFileA(const char *lpFileName) {
  return ::DeleteFileA(lpFileName);
}

HANDLE FindFirstFileA(const char *lpFileName, WIN32_FIND_DATAA *lpFindFileData) {
  return ::FindFirstFileA(lpFileName, ToWin(lpFindFileData));
}

BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA *lpFindFileData) {
  return ::FindNextFileA(hFindFile, ToWin(lpFindFileData));
}

BOOL FindClose(HANDLE hFindFile) {
  return ::FindClose(hFindFile);
}

HANDLE CreateFileA(const char *lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, void *lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  return ::CreateFileA(lpFileName, dwDesiredAccess, dwShareMode,
                       static_cast<LPSECURITY_ATTRIBUTES>(lpSecurityAttributes), dwCreationDisposition,
                       dwFlagsAndAttributes, hTemplateFile);
}

DWORD GetFileSize(HANDLE hFile, DWORD *lpFileSizeHigh) {
  return ::GetFileSize(hFile, ToWin(lpFileSizeHigh));
}

BOOL ReadFile(HANDLE hFile, void *lpBuffer, DWORD nNumberOfBytesToRead, DWORD *lpNumberOfBytesRead,
              void *lpOverlapped) {
  return ::ReadFile(hFile, lpBuffer, nNumberOfBytesToRead, ToWin(lpNumberOfBytesRead),
                    static_cast<LPOVERLAPPED>(lpOverlapped));
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG *lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  return ::SetFilePointer(hFile, lDistanceToMove, reinterpret_cast<::LONG *>(lpDistanceToMoveHigh), dwMoveMethod);
}

BOOL SetEndOfFile(HANDLE hFile) {
  return ::SetEndOfFile(hFile);
}

BOOL CloseHandle(HANDLE hObject) {
  return ::CloseHandle(hObject);
}

HANDLE CreateFileMappingA(HANDLE hFile, void *lpFileMappingAttributes, DWORD flProtect, DWORD dwMaximumSizeHigh,
                          DWORD dwMaximumSizeLow, const char *lpName) {
  return ::CreateFileMappingA(hFile, static_cast<LPSECURITY_ATTRIBUTES>(lpFileMappingAttributes), flProtect,
                              dwMaximumSizeHigh, dwMaximumSizeLow, lpName);
}

void *MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                    SIZE_T dwNumberOfBytesToMap) {
  return ::MapViewOfFile(hFileMappingObject, dwDesiredAccess, dwFileOffsetHigh, dwFileOffsetLow, dwNumberOfBytesToMap);
}

BOOL UnmapViewOfFile(const void *lpBaseAddress) {
  return ::UnmapViewOfFile(lpBaseAddress);
}

}  // namespace os

// File, directory, search and file-mapping calls (KERNEL32, ANSI forms), with Win32 results:
// BOOL calls return nonzero on success and leave the reason in GetLastError.
#ifndef UNINST_PLATFORM_FILES_H
#define UNINST_PLATFORM_FILES_H

#include "platform/types.h"

namespace os {

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  char cFileName[MAX_PATH];
  char cAlternateFileName[14];
};

/// The calling thread's last error code.
DWORD GetLastError();

/// Writes the system directory, without trailing backslash; its length, or 0 (GetLastError).
UINT GetSystemDirectoryA(char *lpBuffer, UINT uSize);
/// Writes the Windows directory, without trailing backslash; its length, or 0 (GetLastError).
UINT GetWindowsDirectoryA(char *lpBuffer, UINT uSize);

/// Deletes a file; 0 with 5 for a file in use, read-only or a directory, 2 when missing.
BOOL DeleteFileA(const char *lpFileName);
/// Queues a move or (lpNewFileName absent) a deletion; 0 where the system does not support it.
BOOL MoveFileExA(const char *lpExistingFileName, const char *lpNewFileName, DWORD dwFlags);

/// Starts a search with '*' and '?' wildcards; INVALID_HANDLE_VALUE when nothing matches.
HANDLE FindFirstFileA(const char *lpFileName, WIN32_FIND_DATAA *lpFindFileData);
/// Next entry of a search; 0 at the end (GetLastError 18).
BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA *lpFindFileData);
/// Ends a search.
BOOL FindClose(HANDLE hFindFile);

/// Opens or creates a file; INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileA(const char *lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, void *lpSecurityAttributes,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
/// The file's length (low part); INVALID_FILE_SIZE on failure.
DWORD GetFileSize(HANDLE hFile, DWORD *lpFileSizeHigh);
/// Reads from the file pointer on.
BOOL ReadFile(HANDLE hFile, void *lpBuffer, DWORD nNumberOfBytesToRead, DWORD *lpNumberOfBytesRead, void *lpOverlapped);
/// Moves the file pointer; INVALID_SET_FILE_POINTER on failure.
DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG *lpDistanceToMoveHigh, DWORD dwMoveMethod);
/// Cuts or grows the file at the file pointer.
BOOL SetEndOfFile(HANDLE hFile);
/// Closes a file or mapping handle.
BOOL CloseHandle(HANDLE hObject);

/// Creates a mapping; a mapping larger than the file grows it, zero-filled. 0 on failure.
HANDLE CreateFileMappingA(HANDLE hFile, void *lpFileMappingAttributes, DWORD flProtect, DWORD dwMaximumSizeHigh,
                          DWORD dwMaximumSizeLow, const char *lpName);
/// Maps a view of a mapping (0 bytes = the whole mapping); 0 on failure.
void *MapViewOfFile(HANDLE hFileMappingObject, DWORD dwDesiredAccess, DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                    SIZE_T dwNumberOfBytesToMap);
/// Unmaps a view, writing it back to the file.
BOOL UnmapViewOfFile(const void *lpBaseAddress);

}  // namespace os

#endif

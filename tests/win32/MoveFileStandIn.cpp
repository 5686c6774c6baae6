// The Win32 test build's os::MoveFileExA, linked in place of platform/win32/MoveFile.cpp: it fails
// as on Windows 98 and ME (0, 120), where Wine's call succeeds, so that the WinInit.ini queue runs
// through the real file and mapping calls.
#include "platform/files.h"
#include "tests/win32/Win32Calls.h"

namespace os {

BOOL MoveFileExA(const char *, const char *, DWORD) {
  ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

}  // namespace os

// MoveFileExA alone: Windows 98 and ME do not support it (0, 120), so callers fall back on
// WinInit.ini. The Win32 test build links tests/win32/MoveFileStandIn.cpp in its place, because
// Wine's call succeeds and the fallback would never run over the real file calls.
#include "platform/files.h"

#include <windows.h>

namespace os {

BOOL MoveFileExA(const char *lpExistingFileName, const char *lpNewFileName, DWORD dwFlags) {
  return ::MoveFileExA(lpExistingFileName, lpNewFileName, dwFlags);
}

}  // namespace os

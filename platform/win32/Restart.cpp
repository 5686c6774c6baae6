// Must work on every Windows from 98 on. Relies on Windows 98 behaviour: ExitWindowsEx needs no
// shutdown privilege there (NT-family Windows refuse it without SE_SHUTDOWN_NAME, which this
// program does not ask for; the caller ignores the result).
#include "platform/restart.h"

#include <windows.h>

namespace os {

BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved) {
  return ::ExitWindowsEx(uFlags, dwReserved);
}

}  // namespace os

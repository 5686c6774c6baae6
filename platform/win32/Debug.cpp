// Must work on every Windows from 98 on. Relies on Windows 98 behaviour: OutputDebugStringA does
// nothing when no debugger is attached. The Win32 test build links its own capturing version
// instead of this file.
#include "platform/debug.h"

#include <windows.h>

namespace os {

void OutputDebugStringA(const char *lpOutputString) {
  ::OutputDebugStringA(lpOutputString);
}

}  // namespace os

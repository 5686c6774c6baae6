// Must work on every Windows from 98 on. Relies on Windows 98 behaviour: GetVersionExA takes the
// 148-byte OSVERSIONINFOA and reports minor version 10 (Windows 98) or 90 (Windows ME).
#include "platform/version.h"

#include <windows.h>

static_assert(sizeof(os::OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(sizeof(os::OSVERSIONINFOA) == sizeof(::OSVERSIONINFOA), "OSVERSIONINFOA layout");
static_assert(offsetof(os::OSVERSIONINFOA, szCSDVersion) == offsetof(::OSVERSIONINFOA, szCSDVersion),
              "szCSDVersion offset");

namespace os {

BOOL GetVersionExA(OSVERSIONINFOA *lpVersionInformation) {
  return ::GetVersionExA(reinterpret_cast<::OSVERSIONINFOA *>(lpVersionInformation));
}

}  // namespace os

// The Windows version query (KERNEL32).
#ifndef UNINST_PLATFORM_VERSION_H
#define UNINST_PLATFORM_VERSION_H

#include "platform/types.h"

namespace os {

struct OSVERSIONINFOA {
  DWORD dwOSVersionInfoSize;  // 148
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;  // 10 on Windows 98, 90 on Windows ME
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  char szCSDVersion[128];
};

/// Fills the record whose size field is set; nonzero on success.
BOOL GetVersionExA(OSVERSIONINFOA *lpVersionInformation);

}  // namespace os

#endif

// Must work on every Windows from 98 on. Relies on Windows 98 behaviour: wvsprintfA writes at most
// 1024 bytes and knows %s, %hs, %d, %u and %x.
#include "platform/format.h"

#include <cstdarg>

#include <windows.h>

namespace os {

int wsprintfA(char *lpOut, const char *lpFmt, ...) {
  va_list args;
  va_start(args, lpFmt);
  int iLength = ::wvsprintfA(lpOut, lpFmt, args);
  va_end(args);
  return iLength;
}

}  // namespace os

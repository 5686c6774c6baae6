// Must work on every Windows from 98 on. Linked into Uninst.exe only.
//
// libstdc++ makes std::vsnprintf the MinGW C99 formatter, which drags in wide-character and
// locale helpers whose imports (GetModuleHandleW, IsDBCSLeadByteEx and others) are not a safe bet
// on Windows 98. This replacement forwards to _vsnprintf, which every msvcrt.dll has. Unlike the
// C99 call it cannot tell the length a cut text would have had: a cut gives the buffer size.
// The buffer is always NUL-terminated.
#include <cstdarg>
#include <cstddef>

extern "C" int __cdecl _vsnprintf(char *pucBuffer, std::size_t cbBuffer, const char *pucFormat, va_list args);

extern "C" int __cdecl __mingw_vsnprintf(char *pucBuffer, std::size_t cbBuffer, const char *pucFormat, va_list args) {
  if (cbBuffer == 0) {
    return 0;
  }
  int iLength = _vsnprintf(pucBuffer, cbBuffer, pucFormat, args);
  pucBuffer[cbBuffer - 1] = '\0';
  if (iLength < 0 || static_cast<std::size_t>(iLength) >= cbBuffer) {
    return static_cast<int>(cbBuffer);
  }
  return iLength;
}

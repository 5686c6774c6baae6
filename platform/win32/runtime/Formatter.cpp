// Must work on every Windows from 98 on. Linked into Uninst.exe (and the Win32 test build).
//
// libstdc++ makes std::vsnprintf, std::snprintf and their kin the MinGW C99 formatter, which
// drags in wide-character and locale helpers whose imports (GetModuleHandleW, IsDBCSLeadByteEx
// and others) are not a safe bet on Windows 98. These replacements forward to _vsnprintf and
// vsprintf, which every msvcrt.dll has. The n-bounded forms always NUL-terminate; unlike C99
// they cannot tell the length a cut text would have had, and give the buffer size then.
#include <cstdarg>
#include <cstddef>

extern "C" {

int __cdecl _vsnprintf(char *pucBuffer, std::size_t cbBuffer, const char *pucFormat, va_list args);
int __cdecl vsprintf(char *pucBuffer, const char *pucFormat, va_list args);

int __cdecl __mingw_vsnprintf(char *pucBuffer, std::size_t cbBuffer, const char *pucFormat, va_list args) {
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

int __cdecl __mingw_snprintf(char *pucBuffer, std::size_t cbBuffer, const char *pucFormat, ...) {
  va_list args;
  va_start(args, pucFormat);
  int iLength = __mingw_vsnprintf(pucBuffer, cbBuffer, pucFormat, args);
  va_end(args);
  return iLength;
}

int __cdecl __mingw_vsprintf(char *pucBuffer, const char *pucFormat, va_list args) {
  return vsprintf(pucBuffer, pucFormat, args);
}

int __cdecl __mingw_sprintf(char *pucBuffer, const char *pucFormat, ...) {
  va_list args;
  va_start(args, pucFormat);
  int iLength = vsprintf(pucBuffer, pucFormat, args);
  va_end(args);
  return iLength;
}

}  // extern "C"

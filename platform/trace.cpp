#include "platform/trace.h"

#include <cstdarg>
#include <cstdio>

#include "platform/debug.h"

void TraceLine(const char *pucFormat, ...) {
  char ucLine[TRACE_BUFFER_SIZE];
  va_list args;
  va_start(args, pucFormat);
  // vsnprintf bounds the line and always terminates it: an over-long line is cut, never overrun.
  std::vsnprintf(ucLine, sizeof ucLine, pucFormat, args);
  va_end(args);
  ucLine[sizeof ucLine - 1] = '\0';
  os::OutputDebugStringA(ucLine);
}

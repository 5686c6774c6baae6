// The uninstaller's trace: one printf-style line per registry or file step, sent to the debugger.
#ifndef UNINST_PLATFORM_TRACE_H
#define UNINST_PLATFORM_TRACE_H

/// The trace buffer's size; a longer line is cut to 767 characters.
const int TRACE_BUFFER_SIZE = 768;

/// Formats into one 768-byte buffer and hands it to OutputDebugStringA.
void TraceLine(const char *pucFormat, ...) __attribute__((format(printf, 1, 2)));

#endif

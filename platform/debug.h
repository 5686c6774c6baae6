// Debugger output (KERNEL32).
#ifndef UNINST_PLATFORM_DEBUG_H
#define UNINST_PLATFORM_DEBUG_H

namespace os {

/// Hands the text to an attached debugger; nothing happens when none is attached.
void OutputDebugStringA(const char *lpOutputString);

}  // namespace os

#endif

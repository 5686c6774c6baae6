// Formatted printing (USER32).
#ifndef UNINST_PLATFORM_FORMAT_H
#define UNINST_PLATFORM_FORMAT_H

#include "platform/types.h"

namespace os {

/// wsprintfA: formats into lpOut (1024 bytes at most, as USER32 does); the length written.
/// Accepts the Windows forms %s and %hs for byte strings and %d, %u, %x for integers.
int wsprintfA(char *lpOut, const char *lpFmt, ...);

}  // namespace os

#endif

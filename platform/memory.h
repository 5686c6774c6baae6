// Global memory blocks (KERNEL32).
#ifndef UNINST_PLATFORM_MEMORY_H
#define UNINST_PLATFORM_MEMORY_H

#include "platform/types.h"

namespace os {

/// Allocates a block (GHND: moveable, zero-filled); 0 on failure.
HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
/// The block's address; 0 on failure.
void *GlobalLock(HGLOBAL hMem);
/// Releases one lock of the block.
BOOL GlobalUnlock(HGLOBAL hMem);
/// Frees the block; 0 on success.
HGLOBAL GlobalFree(HGLOBAL hMem);

}  // namespace os

#endif

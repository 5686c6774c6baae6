// Must work on every Windows from 98 on. Relies on Windows 98 behaviour: GHND gives a moveable,
// zero-filled block.
#include "platform/memory.h"

#include <windows.h>

namespace os {

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  return ::GlobalAlloc(uFlags, dwBytes);
}

void *GlobalLock(HGLOBAL hMem) {
  return ::GlobalLock(hMem);
}

BOOL GlobalUnlock(HGLOBAL hMem) {
  return ::GlobalUnlock(hMem);
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
  return ::GlobalFree(hMem);
}

}  // namespace os

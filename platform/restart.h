// Ending the Windows session (USER32).
#ifndef UNINST_PLATFORM_RESTART_H
#define UNINST_PLATFORM_RESTART_H

#include "platform/types.h"

namespace os {

/// Starts a shutdown (EWX_ flags); nonzero when started.
BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved);

}  // namespace os

#endif

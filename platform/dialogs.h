// String resources and message boxes (USER32, ANSI forms), and the module handle they need.
#ifndef UNINST_PLATFORM_DIALOGS_H
#define UNINST_PLATFORM_DIALOGS_H

#include "platform/types.h"

namespace os {

/// The handle of the named module, of the program itself when lpModuleName is absent.
HMODULE GetModuleHandleA(const char *lpModuleName);
/// Copies string uID of the module's string table, cut to cchBufferMax - 1; its length, 0 when missing.
int LoadStringA(HINSTANCE hInstance, UINT uID, char *lpBuffer, int cchBufferMax);
/// Shows a message box and returns the button chosen (IDYES, IDNO, IDOK), 0 on failure.
int MessageBoxA(HWND hWnd, const char *lpText, const char *lpCaption, UINT uType);

}  // namespace os

#endif

// Must work on every Windows from 98 on. Relies on Windows 98 behaviour: LoadStringA converts
// the string table's UTF-16 text to the ANSI code page (1252 on a French system) and cuts it to
// the buffer; a message box without owner window is shown on its own.
#include "platform/dialogs.h"

#include <windows.h>

namespace os {

HMODULE GetModuleHandleA(const char *lpModuleName) {
  return reinterpret_cast<HMODULE>(::GetModuleHandleA(lpModuleName));
}

int LoadStringA(HINSTANCE hInstance, UINT uID, char *lpBuffer, int cchBufferMax) {
  return ::LoadStringA(reinterpret_cast<::HINSTANCE>(hInstance), uID, lpBuffer, cchBufferMax);
}

int MessageBoxA(HWND hWnd, const char *lpText, const char *lpCaption, UINT uType) {
  return ::MessageBoxA(reinterpret_cast<::HWND>(hWnd), lpText, lpCaption, uType);
}

}  // namespace os

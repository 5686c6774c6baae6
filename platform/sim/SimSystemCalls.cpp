// The system calls of the simulated machine: message boxes and their scripted answers, the
// version, restarts, memory blocks, the string table, formatting, the last error and the trace
// sink. Relies on the machine record alone.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/debug.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/memory.h"
#include "platform/restart.h"
#include "platform/sim/SimMachine.h"
#include "platform/version.h"
#include "resources/strings.h"

namespace sim {

namespace {
const std::uintptr_t MODULE_HANDLE = 0x400000;

struct StringEntry {
  os::UINT uId;
  const char *pucText;
};
const StringEntry STRING_TABLE[] = {
    {IDS_CONFIRM_CAPTION, STR_CONFIRM_CAPTION}, {IDS_CONFIRM_TEXT, STR_CONFIRM_TEXT},
    {IDS_VERDICT_CAPTION, STR_VERDICT_CAPTION}, {IDS_CONFIGURED_TEXT, STR_CONFIGURED_TEXT},
    {IDS_CONNECTED_TEXT, STR_CONNECTED_TEXT},   {IDS_RESTART_CAPTION, STR_RESTART_CAPTION},
    {IDS_RESTART_TEXT, STR_RESTART_TEXT},
};
}  // namespace

void SetAnswerSource(std::function<int(const MessageBoxRecord &)> source) {
  M().answerSource = std::move(source);
}
void QueueAnswer(int iAnswer) {
  M().answers.push_back(iAnswer);
}
std::vector<MessageBoxRecord> MessageBoxes() {
  return M().boxes;
}
void SetMinorVersion(os::DWORD dwMinor) {
  M().dwMinor = dwMinor;
}
std::vector<RestartRecord> Restarts() {
  return M().restarts;
}
const std::vector<std::string> &Trace() {
  return M().trace;
}
void ClearTrace() {
  M().trace.clear();
}
}  // namespace sim

namespace os {

using sim::Call;
using sim::Fails;
using sim::M;

DWORD GetLastError() {
  return M().dwLastError;
}

void OutputDebugStringA(const char *lpOutputString) {
  M().trace.push_back(lpOutputString ? lpOutputString : "");
}

HMODULE GetModuleHandleA(const char *lpModuleName) {
  DWORD dwCode = 0;
  if (Fails(Call::GetModuleHandle, "", &dwCode) || lpModuleName != nullptr) {
    sim::SetLastError(dwCode ? dwCode : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(sim::MODULE_HANDLE);
}

int LoadStringA(HINSTANCE hInstance, UINT uID, char *lpBuffer, int cchBufferMax) {
  DWORD dwCode = 0;
  if (lpBuffer != nullptr && cchBufferMax > 0)
    lpBuffer[0] = '\0';
  if (Fails(Call::LoadString, "", &dwCode)) {
    sim::SetLastError(dwCode);
    return 0;
  }
  if (hInstance != reinterpret_cast<HINSTANCE>(sim::MODULE_HANDLE) || lpBuffer == nullptr || cchBufferMax <= 0) {
    sim::SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  for (const sim::StringEntry &entry : sim::STRING_TABLE) {
    if (entry.uId != uID)
      continue;
    size_t ulLength = std::strlen(entry.pucText);
    if (ulLength > static_cast<size_t>(cchBufferMax - 1))
      ulLength = static_cast<size_t>(cchBufferMax - 1);
    std::memcpy(lpBuffer, entry.pucText, ulLength);
    lpBuffer[ulLength] = '\0';
    return static_cast<int>(ulLength);
  }
  sim::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
  return 0;
}

int MessageBoxA(HWND, const char *lpText, const char *lpCaption, UINT uType) {
  DWORD dwCode = 0;
  sim::Machine &m = M();
  if (Fails(Call::MessageBox, "", &dwCode)) {
    sim::SetLastError(dwCode);
    return 0;  // a box that fails is never shown
  }
  m.boxes.push_back(sim::MessageBoxRecord{lpText ? lpText : "", lpCaption ? lpCaption : "", uType});
  int &iAnswer = m.boxes.back().iAnswer;
  if (m.answerSource) {
    iAnswer = m.answerSource(m.boxes.back());
  } else if (m.answers.empty()) {
    sim::Problem("message box without a scripted answer: " + m.boxes.back().text);
  } else {
    iAnswer = m.answers.front();
    m.answers.pop_front();
  }
  return iAnswer;
}

BOOL GetVersionExA(OSVERSIONINFOA *lpVersionInformation) {
  DWORD dwCode = 0;
  if (Fails(Call::GetVersionEx, "", &dwCode)) {
    sim::SetLastError(dwCode);
    return 0;
  }
  if (lpVersionInformation == nullptr || lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA)) {
    sim::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  lpVersionInformation->dwMajorVersion = 4;
  lpVersionInformation->dwMinorVersion = M().dwMinor;
  lpVersionInformation->dwBuildNumber = M().dwMinor == 90 ? 3000 : 2222;
  lpVersionInformation->dwPlatformId = 1;
  std::snprintf(lpVersionInformation->szCSDVersion, sizeof lpVersionInformation->szCSDVersion, " A ");
  return 1;
}

BOOL ExitWindowsEx(UINT uFlags, DWORD dwReserved) {
  DWORD dwCode = 0;
  if (Fails(Call::ExitWindowsEx, "", &dwCode)) {
    sim::SetLastError(dwCode);
    return 0;
  }
  M().restarts.push_back(sim::RestartRecord{uFlags, dwReserved});
  return 1;
}

HGLOBAL GlobalAlloc(UINT, SIZE_T dwBytes) {
  DWORD dwCode = 0;
  if (Fails(Call::GlobalAlloc, "", &dwCode)) {
    sim::SetLastError(dwCode);
    return nullptr;
  }
  std::uintptr_t handle = sim::NewHandle();
  M().globals[handle] = sim::OpenGlobal{std::vector<unsigned char>(dwBytes ? dwBytes : 1, 0), 0};
  return reinterpret_cast<HGLOBAL>(handle);
}

void *GlobalLock(HGLOBAL hMem) {
  DWORD dwCode = 0;
  if (Fails(Call::GlobalLock, "", &dwCode)) {
    sim::SetLastError(dwCode);
    return nullptr;
  }
  auto it = M().globals.find(reinterpret_cast<std::uintptr_t>(hMem));
  if (it == M().globals.end()) {
    sim::Problem("GlobalLock on an unknown block");
    sim::SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  ++it->second.locks;
  return it->second.bytes.data();
}

BOOL GlobalUnlock(HGLOBAL hMem) {
  auto it = M().globals.find(reinterpret_cast<std::uintptr_t>(hMem));
  if (it == M().globals.end() || it->second.locks == 0) {
    sim::Problem("GlobalUnlock on an unknown or unlocked block");
    return 0;
  }
  return --it->second.locks > 0;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
  if (M().globals.erase(reinterpret_cast<std::uintptr_t>(hMem)) == 0) {
    sim::Problem("GlobalFree on an unknown block");
    return hMem;
  }
  return nullptr;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
int wsprintfA(char *lpOut, const char *lpFmt, ...) {
  // USER32 knows %hs as the byte-string form of %s; the C library does not.
  std::string format;
  for (const char *p = lpFmt; *p; ++p) {
    if (p[0] == '%' && p[1] == 'h' && p[2] == 's') {
      format += "%s";
      p += 2;
    } else {
      format += *p;
    }
  }
  va_list args;
  va_start(args, lpFmt);
  int iLength = std::vsnprintf(lpOut, 1024, format.c_str(), args);
  va_end(args);
  return iLength > 1023 ? 1023 : iLength;
}
#pragma GCC diagnostic pop

}  // namespace os

// A test harness, not part of the program: runs a Win32 program under a debugger loop, writes
// every OutputDebugStringA text it sends (whole, as a debugger reads it) to standard output,
// answers its message boxes from a scripted list by clicking their buttons, and ends with the
// program's exit code. Usage: WinRun.exe PROGRAM.exe ANSWER... (6 Yes, 7 No, 1 OK).
// Must work on every Windows from 98 on: only debugging and window calls that 98 has.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct BoxSearch {
  DWORD dwProcessId;
  HWND hWnd;
};

BOOL CALLBACK FindBox(HWND hWnd, LPARAM lParam) {
  BoxSearch *pSearch = reinterpret_cast<BoxSearch *>(lParam);
  DWORD dwProcessId = 0;
  GetWindowThreadProcessId(hWnd, &dwProcessId);
  char ucClass[16] = "";
  GetClassNameA(hWnd, ucClass, sizeof ucClass);
  if (dwProcessId == pSearch->dwProcessId && IsWindowVisible(hWnd) && lstrcmpA(ucClass, "#32770") == 0) {
    pSearch->hWnd = hWnd;
    return FALSE;
  }
  return TRUE;
}

// Answers the program's message box, if one is up; whether one was answered.
bool AnswerBox(DWORD dwProcessId, std::vector<int> *pAnswers, HWND *phLast) {
  BoxSearch search = {dwProcessId, nullptr};
  EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
  if (search.hWnd == nullptr || search.hWnd == *phLast)
    return false;
  char ucText[1024] = "";
  char ucCaption[256] = "";
  GetDlgItemTextA(search.hWnd, 0xFFFF, ucText, sizeof ucText);
  GetWindowTextA(search.hWnd, ucCaption, sizeof ucCaption);
  int iAnswer = pAnswers->empty() ? IDCANCEL : pAnswers->front();
  if (!pAnswers->empty())
    pAnswers->erase(pAnswers->begin());
  std::printf("BOX [%s] %s -> %d\n", ucCaption, ucText, iAnswer);
  std::fflush(stdout);
  PostMessageA(GetDlgItem(search.hWnd, iAnswer), BM_CLICK, 0, 0);
  *phLast = search.hWnd;
  return true;
}

void PrintDebugString(HANDLE hProcess, const OUTPUT_DEBUG_STRING_INFO &info) {
  std::vector<char> text(info.nDebugStringLength + 1, '\0');
  SIZE_T ulRead = 0;
  if (info.fUnicode == 0 &&
      ReadProcessMemory(hProcess, info.lpDebugStringData, text.data(), info.nDebugStringLength, &ulRead)) {
    text[ulRead < text.size() ? ulRead : text.size() - 1] = '\0';
    std::fputs(text.data(), stdout);
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: WinRun.exe PROGRAM.exe ANSWER...\n");
    return 2;
  }
  std::vector<int> answers;
  for (int i = 2; i < argc; ++i)
    answers.push_back(std::atoi(argv[i]));
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(argv[1], nullptr, nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "cannot start %s: %lu\n", argv[1], GetLastError());
    return 2;
  }
  HWND hLast = nullptr;
  DWORD dwExitCode = 0xFFFFFFFF;
  for (DWORD dwWaited = 0; dwWaited < 120000;) {
    DEBUG_EVENT event;
    if (!WaitForDebugEvent(&event, 50)) {
      dwWaited += 50;
      AnswerBox(process.dwProcessId, &answers, &hLast);
      continue;
    }
    if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT)
      PrintDebugString(process.hProcess, event.u.DebugString);
    if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile)
      CloseHandle(event.u.LoadDll.hFile);
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile) {
      CloseHandle(event.u.CreateProcessInfo.hFile);
    }
    DWORD dwStatus = event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                             event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT
                         ? DBG_EXCEPTION_NOT_HANDLED
                         : DBG_CONTINUE;
    if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
      dwExitCode = event.u.ExitProcess.dwExitCode;
      ContinueDebugEvent(event.dwProcessId, event.dwThreadId, dwStatus);
      break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, dwStatus);
  }
  std::printf("EXIT %lu\n", dwExitCode);
  return 0;
}

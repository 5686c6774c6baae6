// Test helper, not part of the program: runs a Win32 program as the only process it debugs and
// records every OutputDebugStringA text it sends, byte for byte as a debugger reads it (texts are
// not cut, unlike Wine's own debug channel), then writes the program's exit code.
//   TraceRun.exe TRACE_FILE EXIT_FILE TIMEOUT_SECONDS PROGRAM.exe
// EXIT_FILE receives the exit code in decimal, or "crash CODE" / "timeout". Exit code 0 when
// the program ran to its end, 2 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The text of one debug string event, without the terminating NUL the length counts.
std::string ReadDebugString(HANDLE hProcess, const OUTPUT_DEBUG_STRING_INFO &info) {
  if (info.fUnicode != 0 || info.nDebugStringLength == 0)
    return std::string();
  std::vector<char> buffer(info.nDebugStringLength, '\0');
  SIZE_T ulRead = 0;
  if (!ReadProcessMemory(hProcess, info.lpDebugStringData, buffer.data(), buffer.size(), &ulRead))
    return std::string("<<unreadable debug string>>\n");
  std::string text(buffer.data(), ulRead);
  size_t nul = text.find('\0');
  return nul == std::string::npos ? text : text.substr(0, nul);
}

void CloseEventHandles(const DEBUG_EVENT &event) {
  if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile != nullptr)
    CloseHandle(event.u.LoadDll.hFile);
  if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile != nullptr)
    CloseHandle(event.u.CreateProcessInfo.hFile);
}

bool WriteText(const char *pucPath, const std::string &text) {
  FILE *pFile = std::fopen(pucPath, "wb");
  if (pFile == nullptr)
    return false;
  bool fWritten = std::fwrite(text.data(), 1, text.size(), pFile) == text.size();
  return std::fclose(pFile) == 0 && fWritten;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: TraceRun.exe TRACE_FILE EXIT_FILE TIMEOUT_SECONDS PROGRAM.exe\n");
    return 2;
  }
  DWORD dwLimit = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)) * 1000;
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(argv[4], nullptr, nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "TraceRun: cannot start %s: %lu\n", argv[4], GetLastError());
    return 2;
  }
  std::string trace;
  std::string outcome = "timeout";
  DWORD dwStart = GetTickCount();
  bool fEnded = false;
  while (!fEnded && GetTickCount() - dwStart < dwLimit) {
    DEBUG_EVENT event;
    if (!WaitForDebugEvent(&event, 100))
      continue;
    DWORD dwStatus = DBG_CONTINUE;
    if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT)
      trace += ReadDebugString(process.hProcess, event.u.DebugString);
    CloseEventHandles(event);
    if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
      const EXCEPTION_DEBUG_INFO &info = event.u.Exception;
      // The loader's breakpoint is expected; anything else goes back to the program, and a
      // second chance means nothing in it handled the fault.
      if (info.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
        dwStatus = DBG_EXCEPTION_NOT_HANDLED;
      if (info.dwFirstChance == 0) {
        char ucCrash[32];
        std::snprintf(ucCrash, sizeof ucCrash, "crash %08lx", info.ExceptionRecord.ExceptionCode);
        outcome = ucCrash;
      }
    }
    if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
      if (outcome == "timeout")
        outcome = std::to_string(event.u.ExitProcess.dwExitCode);
      fEnded = true;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, dwStatus);
  }
  if (!fEnded)
    TerminateProcess(process.hProcess, 99);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (!WriteText(argv[1], trace) || !WriteText(argv[2], outcome + "\n")) {
    std::fprintf(stderr, "TraceRun: cannot write the results\n");
    return 2;
  }
  return fEnded && outcome.compare(0, 5, "crash") != 0 ? 0 : 2;
}

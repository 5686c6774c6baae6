// The Win32 test build's os::OutputDebugStringA, linked in place of platform/win32/Debug.cpp:
// it records each text for the tests and still hands it to the debugger.
#include "platform/debug.h"

#include "tests/win32/DebugCapture.h"
#include "tests/win32/Win32Calls.h"

namespace {

std::vector<std::string> &Captured() {
  static std::vector<std::string> texts;
  return texts;
}

}  // namespace

namespace os {

void OutputDebugStringA(const char *lpOutputString) {
  Captured().push_back(lpOutputString != nullptr ? lpOutputString : "");
  ::OutputDebugStringA(lpOutputString);
}

}  // namespace os

namespace debugcapture {

std::vector<std::string> Take() {
  std::vector<std::string> texts;
  texts.swap(Captured());
  return texts;
}

}  // namespace debugcapture

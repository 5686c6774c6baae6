// The system services under Wine set to Windows 98: version, directories, formatting and the
// trace reaching the debugger output. The file services are tests/portable/FileServicesTest.cpp.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "platform/format.h"
#include "platform/trace.h"
#include "platform/version.h"
#include "tests/support/TestMachine.h"
#include "tests/win32/Win32Calls.h"

namespace {

TEST(VersionWin32, ReportsWindows98) {
  os::OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_NE(0, os::GetVersionExA(&info));
  EXPECT_EQ(4u, info.dwMajorVersion);
  EXPECT_EQ(10u, info.dwMinorVersion);
  EXPECT_EQ(1u, info.dwPlatformId);  // VER_PLATFORM_WIN32_WINDOWS
}

// Windows 98 names its system directory C:\WINDOWS\SYSTEM; Wine keeps C:\windows\system32 in
// Windows 98 mode too. Callers only rely on it lying in the Windows directory, unterminated by '\'.
TEST(DirectoriesWin32, NoTrailingBackslashAndTooSmallBuffers) {
  char ucWindows[260] = {};
  char ucSystem[363] = {};
  os::UINT uWindows = os::GetWindowsDirectoryA(ucWindows, 260);
  os::UINT uSystem = os::GetSystemDirectoryA(ucSystem, 363);
  ASSERT_GT(uWindows, 0u);
  ASSERT_GT(uSystem, uWindows);
  EXPECT_EQ(std::string(ucWindows).size(), uWindows);
  EXPECT_NE('\\', ucWindows[uWindows - 1]);
  EXPECT_NE('\\', ucSystem[uSystem - 1]);
  EXPECT_EQ(0, _strnicmp(ucWindows, ucSystem, uWindows)) << ucSystem;

  char ucSmall[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(uSystem + 1, os::GetSystemDirectoryA(ucSmall, sizeof ucSmall)) << "the size needed, with its NUL";
}

TEST(FormatWin32, WindowsFormsAndTheUser32Limit) {
  char ucOut[1100];
  EXPECT_EQ(14, os::wsprintfA(ucOut, "%hs=%hs\r\n", "NUL", "C:\\A.SYS"));
  EXPECT_STREQ("NUL=C:\\A.SYS\r\n", ucOut);
  std::string longText(1500, 'a');
  // The text stops within 1024 bytes, NUL included (Wine returns 1024 for the cut text).
  ucOut[1024] = 'x';
  os::wsprintfA(ucOut, "%s", longText.c_str());
  EXPECT_EQ(1023u, std::string(ucOut).size());
  EXPECT_EQ('x', ucOut[1024]);
}

TEST(TraceWin32, LinesReachTheDebuggerOutputWhole) {
  testmachine::ResetMachine();
  TraceLine(" Opened key <%s> looking for <%s> result %d\n", "System\\X", "KXUSBPRT.SYS", -5);
  std::string longName(900, 'n');
  TraceLine(" <%s>\n", longName.c_str());
  std::string fitting(767 - 4, 'f');  // with " <", ">\n": exactly 767 characters
  TraceLine(" <%s>\n", fitting.c_str());
  std::vector<std::string> trace = testmachine::TakeTrace();
  ASSERT_EQ(3u, trace.size());
  EXPECT_EQ(" <" + fitting + ">\n", trace[2]);
  EXPECT_EQ(" Opened key <System\\X> looking for <KXUSBPRT.SYS> result -5\n", trace[0]);
  EXPECT_EQ(767u, trace[1].size()) << "an over-long line is cut to fit the trace buffer";
  EXPECT_TRUE(testmachine::TakeTrace().empty());
}

}  // namespace

namespace {

// The C formatting calls go through msvcrt's _vsnprintf (platform/win32/runtime): a cut text
// must still end in a NUL inside the buffer, which _vsnprintf alone does not do.
TEST(FormatterWin32, CutTextsStayTerminated) {
  char ucOut[8];
  std::memset(ucOut, 'x', sizeof ucOut);
  EXPECT_EQ(8, std::snprintf(ucOut, sizeof ucOut, "%s-%d", "abcdef", 42)) << "a cut gives the buffer size";
  EXPECT_STREQ("abcdef-", ucOut);
  EXPECT_EQ(0, std::snprintf(ucOut, 0, "%s", "untouched")) << "nothing is written into no buffer";
  EXPECT_STREQ("abcdef-", ucOut);
  EXPECT_EQ(5, std::snprintf(ucOut, sizeof ucOut, "%u|%x", 12u, 0xabu));
  EXPECT_STREQ("12|ab", ucOut);
  char ucExact[6];
  EXPECT_EQ(6, std::snprintf(ucExact, sizeof ucExact, "%s", "123456"));
  EXPECT_STREQ("12345", ucExact);
}

}  // namespace

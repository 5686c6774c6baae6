// The system services under Wine set to Windows 98: version, directories, file deletion codes,
// formatting and the trace reaching the debugger output.
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

class FilesWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    char ucTemp[260] = {};
    ASSERT_GT(GetTempPathA(sizeof ucTemp, ucTemp), 0u);
    dir_ = std::string(ucTemp) + "uninst-files";
    CreateDirectoryA(dir_.c_str(), nullptr);
  }
  void TearDown() override {
    RemoveDirectoryA(dir_.c_str());
  }
  std::string Write(const char *pucName) {
    std::string path = dir_ + "\\" + pucName;
    std::FILE *pFile = std::fopen(path.c_str(), "wb");
    EXPECT_NE(nullptr, pFile);
    std::fputs("data", pFile);
    std::fclose(pFile);
    return path;
  }
  std::string dir_;
};

// Windows 98 answers 5 for a file in use; Wine (like NT) answers 32 for a file another handle
// holds open. The uninstaller queues only 5, so under Wine such a file is not queued.
TEST_F(FilesWin32, DeleteFileResultCodes) {
  std::string missing = dir_ + "\\missing.sys";
  EXPECT_EQ(0, os::DeleteFileA(missing.c_str()));
  EXPECT_EQ(static_cast<os::DWORD>(os::ERROR_FILE_NOT_FOUND), os::GetLastError());

  std::string readOnly = Write("readonly.sys");
  ASSERT_NE(0, SetFileAttributesA(readOnly.c_str(), os::FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(0, os::DeleteFileA(readOnly.c_str()));
  EXPECT_EQ(static_cast<os::DWORD>(os::ERROR_ACCESS_DENIED), os::GetLastError());
  SetFileAttributesA(readOnly.c_str(), os::FILE_ATTRIBUTE_NORMAL);
  EXPECT_NE(0, os::DeleteFileA(readOnly.c_str()));

  std::string open = Write("open.sys");
  os::HANDLE hFile = os::CreateFileA(open.c_str(), os::GENERIC_READ, 0, nullptr, os::OPEN_EXISTING,
                                     os::FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(os::INVALID_HANDLE_VALUE, hFile);
  EXPECT_EQ(0, os::DeleteFileA(open.c_str()));
  EXPECT_EQ(static_cast<os::DWORD>(os::ERROR_SHARING_VIOLATION), os::GetLastError()) << "Wine; Windows 98 gives 5";
  os::CloseHandle(hFile);
  EXPECT_NE(0, os::DeleteFileA(open.c_str()));

  EXPECT_EQ(0, os::DeleteFileA(dir_.c_str())) << "a directory is not deleted as a file";
  EXPECT_EQ(static_cast<os::DWORD>(os::ERROR_ACCESS_DENIED), os::GetLastError());
}

TEST_F(FilesWin32, SearchGivesBareNames) {
  std::string path = Write("KXUSB.INF");
  os::WIN32_FIND_DATAA data = {};
  os::HANDLE hFind = os::FindFirstFileA((dir_ + "\\*.inf").c_str(), &data);
  ASSERT_NE(os::INVALID_HANDLE_VALUE, hFind);
  EXPECT_STREQ("KXUSB.INF", data.cFileName);
  EXPECT_EQ(4u, data.nFileSizeLow);
  EXPECT_EQ(0, os::FindNextFileA(hFind, &data));
  EXPECT_EQ(static_cast<os::DWORD>(os::ERROR_NO_MORE_FILES), os::GetLastError());
  os::FindClose(hFind);
  EXPECT_EQ(os::INVALID_HANDLE_VALUE, os::FindFirstFileA((dir_ + "\\*.pnf").c_str(), &data));
  os::DeleteFileA(path.c_str());
}

// The boot-time rename queue maps WinInit.ini larger than the file to append to it.
TEST_F(FilesWin32, MappingLargerThanFileGrowsItZeroFilled) {
  std::string path = Write("wininit.ini");
  os::HANDLE hFile = os::CreateFileA(path.c_str(), os::GENERIC_READ | os::GENERIC_WRITE, 0, nullptr, os::OPEN_ALWAYS,
                                     os::FILE_FLAG_SEQUENTIAL_SCAN | os::FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(os::INVALID_HANDLE_VALUE, hFile);
  EXPECT_EQ(4u, os::GetFileSize(hFile, nullptr));
  os::HANDLE hMapping = os::CreateFileMappingA(hFile, nullptr, os::PAGE_READWRITE, 0, 64, nullptr);
  ASSERT_NE(nullptr, hMapping);
  char *pView = static_cast<char *>(os::MapViewOfFile(hMapping, os::FILE_MAP_WRITE, 0, 0, 0));
  ASSERT_NE(nullptr, pView);
  EXPECT_EQ("data", std::string(pView, 4));
  EXPECT_EQ(std::string(60, '\0'), std::string(pView + 4, 60));
  pView[4] = '!';
  EXPECT_NE(0, os::UnmapViewOfFile(pView));
  os::CloseHandle(hMapping);
  EXPECT_EQ(64u, os::GetFileSize(hFile, nullptr));
  EXPECT_EQ(5u, os::SetFilePointer(hFile, 5, nullptr, os::FILE_BEGIN));
  EXPECT_NE(0, os::SetEndOfFile(hFile));
  char ucRead[8] = {};
  os::DWORD cbRead = 0;
  EXPECT_EQ(0u, os::SetFilePointer(hFile, 0, nullptr, os::FILE_BEGIN));
  EXPECT_NE(0, os::ReadFile(hFile, ucRead, sizeof ucRead, &cbRead, nullptr));
  EXPECT_EQ("data!", std::string(ucRead, cbRead));
  os::CloseHandle(hFile);
  os::DeleteFileA(path.c_str());
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

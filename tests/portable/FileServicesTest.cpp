// The file services as the program calls them, through whichever platform is linked: the
// simulated C: drive on the host, the real calls under Wine. Paths resolve as Win32 resolves them
// and names compare ignoring case at every level. Where Wine is not Windows 98, the simulation
// takes Windows 98's answer and the test says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "files/BootRename.h"
#include "files/FileRemoval.h"
#include "platform/files.h"
#include "tests/support/TestMachine.h"

namespace {

using Lines = std::vector<std::string>;

#ifdef _WIN32
const bool WINE = true;
#else
const bool WINE = false;
#endif

const std::string DIR = testmachine::TEST_FOLDER;

std::string Error(os::DWORD dwCode) {
  return "error " + std::to_string(dwCode);
}

// The file's bytes through CreateFileA and ReadFile, or "error N".
std::string Open(const std::string &path) {
  os::HANDLE hFile = os::CreateFileA(path.c_str(), os::GENERIC_READ, os::FILE_SHARE_READ, nullptr, os::OPEN_EXISTING,
                                     os::FILE_ATTRIBUTE_NORMAL, nullptr);
  if (hFile == os::INVALID_HANDLE_VALUE)
    return Error(os::GetLastError());
  char ucBytes[64];
  os::DWORD cbRead = 0;
  os::ReadFile(hFile, ucBytes, sizeof ucBytes, &cbRead, nullptr);
  os::CloseHandle(hFile);
  return std::string(ucBytes, cbRead);
}

std::string Delete(const std::string &path) {
  return os::DeleteFileA(path.c_str()) ? "deleted" : Error(os::GetLastError());
}

// The names a search gives, sorted, or {"error N"}. Wine lists them in the host's order, the
// simulation in lower-cased name order, Windows 98 in the directory's order: only the set counts.
Lines Search(const std::string &spec) {
  os::WIN32_FIND_DATAA data;
  os::HANDLE hSearch = os::FindFirstFileA(spec.c_str(), &data);
  if (hSearch == os::INVALID_HANDLE_VALUE)
    return {Error(os::GetLastError())};
  Lines names;
  do {
    names.push_back(data.cFileName);
  } while (os::FindNextFileA(hSearch, &data));
  EXPECT_EQ(os::GetLastError(), 18u) << spec;
  os::FindClose(hSearch);
  std::sort(names.begin(), names.end());
  return names;
}

void Create(const std::string &path) {
  os::HANDLE hFile = os::CreateFileA(path.c_str(), os::GENERIC_READ | os::GENERIC_WRITE, 0, nullptr, os::CREATE_NEW,
                                     os::FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(hFile, os::INVALID_HANDLE_VALUE) << path << " " << os::GetLastError();
  os::CloseHandle(hFile);
}

class FileServices : public ::testing::Test {
 protected:
  void SetUp() override {
    testmachine::ResetMachine();
    testmachine::SeedFile(DIR + "\\A.TXT", "a");
    testmachine::SeedFile(DIR + "\\Sub\\b.txt", "b");
  }
  void TearDown() override {
    testmachine::ResetMachine();
  }
};

TEST_F(FileServices, CaseIsIgnoredAtEveryLevel) {
  EXPECT_EQ(Open("c:\\uninsttest\\SUB\\B.TXT"), "b");
  EXPECT_EQ(Search("C:\\UnInstTest\\sUB\\B*.TxT"), Lines{"b.txt"});
  EXPECT_EQ(Delete("c:\\UNINSTtest\\sub\\B.Txt"), "deleted");
  EXPECT_FALSE(testmachine::FileBytes(DIR + "\\Sub\\b.txt", nullptr));
}

// "." and empty components drop out and ".." takes the one before it away as text, whether that
// names a missing folder or a file, stopping at C:\; '/' separates as '\' does.
TEST_F(FileServices, DotsAndSeparatorsResolveAsText) {
  EXPECT_EQ(Open("C:\\..\\..\\UNINSTTEST\\A.TXT"), "a");
  EXPECT_EQ(Open("C:\\UNINSTTEST\\.\\Sub\\..\\\\A.TXT"), "a");
  EXPECT_EQ(Open("C:\\UNINSTTEST\\NONE\\..\\A.TXT"), "a");
  EXPECT_EQ(Open("C:\\UNINSTTEST\\A.TXT\\..\\Sub\\b.txt"), "b");
  EXPECT_EQ(Open("C:/UNINSTTEST/Sub/../A.TXT"), "a");
  EXPECT_EQ(Search("C:\\UNINSTTEST\\Sub\\..\\..\\..\\..\\UNINSTTEST\\*.TXT"), Lines{"A.TXT"});
  EXPECT_EQ(Search("C:/UNINSTTEST/Sub/b*"), Lines{"b.txt"});
  EXPECT_EQ(Delete("C:\\..\\UNINSTTEST\\.\\Sub\\..\\a.txt"), "deleted");
  EXPECT_EQ(Open(DIR + "\\A.TXT"), Error(2));
}

// As Win32 normalises a path: the last component loses every trailing dot and blank, any other
// one a single trailing dot. A final backslash is not an empty component dropped.
TEST_F(FileServices, TrailingDotsAndBlanks) {
  EXPECT_EQ(Open("C:\\UNINSTTEST.\\A.TXT"), "a");
  EXPECT_EQ(Open("C:\\UNINSTTEST \\A.TXT"), Error(3));
  EXPECT_EQ(Open("C:\\UNINSTTEST\\Sub..\\b.txt"), Error(3));
  EXPECT_EQ(Open("C:\\UNINSTTEST\\Sub. \\b.txt"), Error(3));
  EXPECT_EQ(Open("C:\\UNINSTTEST\\A.TXT."), "a");
  EXPECT_EQ(Open("C:\\UNINSTTEST\\A.TXT . "), "a");
  EXPECT_EQ(Search("C:\\UNINSTTEST.\\A*"), Lines{"A.TXT"});
  EXPECT_EQ(Search("C:\\UNINSTTEST \\A*"), Lines{Error(3)});
  EXPECT_EQ(Search("C:\\UNINSTTEST\\*.TXT."), Lines{"A.TXT"});
  Create(DIR + "\\C.TXT. ");
  EXPECT_EQ(Search(DIR + "\\C*"), Lines{"C.TXT"});
  EXPECT_EQ(Open("C:\\UNINSTTEST\\A.TXT\\"), Error(123));
  EXPECT_EQ(Delete("C:\\UNINSTTEST\\A.TXT\\"), Error(123));
  EXPECT_EQ(Delete("C:\\UNINSTTEST.\\A.TXT.."), "deleted");
}

TEST_F(FileServices, DeleteFileCodes) {
  EXPECT_EQ(Delete(DIR + "\\NONE.TXT"), Error(2));
  EXPECT_EQ(Delete(DIR + "\\NONE\\A.TXT"), Error(3));
  EXPECT_EQ(Delete(DIR + "\\Sub"), Error(5));
  testmachine::SeedFile(DIR + "\\RO.SYS", "r");
  testmachine::SetReadOnly(DIR + "\\RO.SYS");
  EXPECT_EQ(Delete(DIR + "\\ro.sys"), Error(5));
  EXPECT_TRUE(testmachine::FileBytes(DIR + "\\RO.SYS", nullptr));
  // Windows 98 refuses a file in use with 5; Wine, as NT does, with 32.
  testmachine::HoldInUse(DIR + "\\Sub\\b.txt");
  EXPECT_EQ(Delete(DIR + "\\Sub\\b.txt"), Error(WINE ? 32 : 5));
  EXPECT_EQ(Delete(DIR + "\\A.TXT"), "deleted");
  EXPECT_FALSE(testmachine::FileBytes(DIR + "\\A.TXT", nullptr));
}

TEST_F(FileServices, SearchesMatchWildcardsOnWholeNames) {
  testmachine::SeedFile(DIR + "\\AB.TXT", "ab");
  EXPECT_EQ(Search(DIR + "\\a.txt"), Lines{"A.TXT"});
  EXPECT_EQ(Search(DIR + "\\?.TXT"), Lines{"A.TXT"});
  EXPECT_EQ(Search(DIR + "\\??.TXT"), Lines{"AB.TXT"});
  EXPECT_EQ(Search(DIR + "\\A?TXT"), Lines{"A.TXT"});
  EXPECT_EQ(Search(DIR + "\\A.TXT?"), Lines{Error(2)});
  // A folder other than the root holds "." and "..".
  EXPECT_EQ(Search(DIR + "\\*"), (Lines{".", "..", "A.TXT", "AB.TXT", "Sub"}));
  EXPECT_EQ(Search(DIR + "\\Z*"), Lines{Error(2)});
  EXPECT_EQ(Search(DIR + "\\NONE\\*"), Lines{Error(3)});
}

// A long name also answers to its 8.3 alias, whose extension is the first three characters of its
// own: "*.TXT" finds "a.txtx".
TEST_F(FileServices, SearchesAlsoMatchTheShortAlias) {
  testmachine::SeedFile(DIR + "\\a.txtx", "x");
  EXPECT_EQ(Search(DIR + "\\*.TXT"), (Lines{"A.TXT", "a.txtx"}));
}

// Wine folds the case of every letter; the simulation folds ASCII only, as the program's own name
// compares do.
TEST_F(FileServices, NamesAreCodePage1252) {
  const std::string name = "\x80 Caf\xE9 \x9C.TXT";
  Create(DIR + "\\" + name);
  EXPECT_EQ(Search(DIR + "\\?*CAF*"), Lines{name});
  EXPECT_EQ(Open(DIR + "\\" + name), "");
  EXPECT_EQ(Open(DIR + "\\\x80 CAF\xC9 \x8C.TXT"), WINE ? "" : Error(2));
  EXPECT_EQ(Delete(DIR + "\\\x80 CAF\xE9 \x9C.txt"), "deleted");
}

TEST_F(FileServices, AMappingLargerThanTheFileGrowsItZeroFilled) {
  testmachine::SeedFile(DIR + "\\M.INI", "abc");
  os::HANDLE hFile =
      os::CreateFileA("c:\\uninsttest\\m.ini", os::GENERIC_READ | os::GENERIC_WRITE, 0, nullptr, os::OPEN_ALWAYS,
                      os::FILE_FLAG_SEQUENTIAL_SCAN | os::FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(hFile, os::INVALID_HANDLE_VALUE);
  EXPECT_EQ(Open(DIR + "\\M.INI"), Error(32)) << "opened unshared";
  os::HANDLE hMapping = os::CreateFileMappingA(hFile, nullptr, os::PAGE_READWRITE, 0, 8, nullptr);
  ASSERT_NE(hMapping, nullptr);
  char *pucView = static_cast<char *>(os::MapViewOfFile(hMapping, os::FILE_MAP_WRITE, 0, 0, 8));
  ASSERT_NE(pucView, nullptr);
  EXPECT_EQ(std::string(pucView, 8), std::string("abc\0\0\0\0\0", 8));
  pucView[3] = 'd';
  EXPECT_EQ(os::SetFilePointer(hFile, 4, nullptr, os::FILE_BEGIN), 4u);
  // No cut while the mapping lives, its view unmapped or not.
  EXPECT_FALSE(os::SetEndOfFile(hFile));
  EXPECT_EQ(os::GetLastError(), 1224u);
  os::UnmapViewOfFile(pucView);
  EXPECT_FALSE(os::SetEndOfFile(hFile));
  EXPECT_EQ(os::GetLastError(), 1224u);
  os::CloseHandle(hMapping);
  EXPECT_EQ(os::GetFileSize(hFile, nullptr), 8u);
  EXPECT_TRUE(os::SetEndOfFile(hFile));
  os::CloseHandle(hFile);
  std::string bytes;
  EXPECT_TRUE(testmachine::FileBytes(DIR + "\\M.INI", &bytes));
  EXPECT_EQ(bytes, "abcd");
}

// The boot-time queue where MoveFileExA fails as on Windows 98/ME (the Win32 test build links a
// stand-in for it): WinInit.ini in the Windows directory, written through a mapping.
class FileServicesBootQueue : public FileServices {
 protected:
  void SetUp() override {
    FileServices::SetUp();
    char ucWindows[260] = {};
    ASSERT_GT(os::GetWindowsDirectoryA(ucWindows, sizeof ucWindows), 0u);
    ini_ = std::string(ucWindows) + "\\WININIT.INI";
    os::DeleteFileA(ini_.c_str());  // the prefix's own comes back with the reset
  }
  std::string Ini() {
    std::string bytes;
    EXPECT_TRUE(testmachine::FileBytes(ini_, &bytes));
    return bytes;
  }
  std::string ini_;
};

TEST_F(FileServicesBootQueue, ARefusedDeletionCreatesWinInitIni) {
  testmachine::SeedFile(DIR + "\\RO.SYS", "r");
  testmachine::SetReadOnly(DIR + "\\RO.SYS");
  testmachine::TakeTrace();
  EXPECT_EQ(RemoveFile("C:\\UNINSTTEST\\RO.SYS"), 1);
  EXPECT_EQ(testmachine::TakeTrace(),
            (Lines{" Deleting File <C:\\UNINSTTEST\\RO.SYS> result 5\n",
                   " DeleteFile(<C:\\UNINSTTEST\\RO.SYS>) ACCESS_DENIED, move to RebootBucket\n",
                   " Bucketing File <C:\\UNINSTTEST\\RO.SYS> result 0\n"}));
  EXPECT_EQ(Ini(), "[Rename]\r\nNUL=C:\\UNINSTTEST\\RO.SYS\r\n");
  EXPECT_TRUE(testmachine::FileBytes(DIR + "\\RO.SYS", nullptr));

  // Windows 98 refuses a file in use with 5, so it is queued above the first; Wine refuses it with
  // 32, which is not queued.
  testmachine::HoldInUse(DIR + "\\A.TXT");
  EXPECT_EQ(RemoveFile("C:\\UNINSTTEST\\A.TXT"), WINE ? 0 : 1);
  EXPECT_EQ(Ini(), WINE ? "[Rename]\r\nNUL=C:\\UNINSTTEST\\RO.SYS\r\n"
                        : "[Rename]\r\nNUL=C:\\UNINSTTEST\\A.TXT\r\nNUL=C:\\UNINSTTEST\\RO.SYS\r\n");
}

TEST_F(FileServicesBootQueue, EntriesGoAfterAnExistingHeaderOrUnderANewOneAtTheEnd) {
  testmachine::SeedFile(ini_, "[Other]\r\nx=y\r\n[rename]\r\nNUL=C:\\OLD.SYS\r\n");
  EXPECT_EQ(QueueBootRename("C:\\UNINSTTEST\\A.TXT", "C:\\UNINSTTEST\\B.TXT"), 1);
  EXPECT_EQ(Ini(), "[Other]\r\nx=y\r\n[rename]\r\nC:\\UNINSTTEST\\B.TXT=C:\\UNINSTTEST\\A.TXT\r\nNUL=C:\\OLD.SYS\r\n");
  testmachine::SeedFile(ini_, "[Other]\r\nx=y\r\n");
  EXPECT_EQ(QueueBootRename("C:\\UNINSTTEST\\A.TXT", nullptr), 1);
  EXPECT_EQ(Ini(), "[Other]\r\nx=y\r\n[Rename]\r\nNUL=C:\\UNINSTTEST\\A.TXT\r\n");
}

}  // namespace

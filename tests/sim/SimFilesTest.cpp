// The simulated C: drive (what only the simulation has: its own controls; the rules Windows
// shares are in tests/portable/), dialogs and version.
#include <cstring>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/memory.h"
#include "platform/version.h"
#include "resources/strings.h"
#include "tests/host/SimFixture.h"

namespace {

using SimFiles = SimTest;

std::vector<std::string> Search(const char *pucSpec) {
  std::vector<std::string> names;
  os::WIN32_FIND_DATAA found;
  os::HANDLE hSearch = os::FindFirstFileA(pucSpec, &found);
  if (hSearch == os::INVALID_HANDLE_VALUE)
    return names;
  do {
    names.push_back(found.cFileName);
  } while (os::FindNextFileA(hSearch, &found));
  EXPECT_EQ(os::GetLastError(), 18u);
  os::FindClose(hSearch);
  return names;
}

TEST_F(SimFiles, SearchMatchesWildcardsIgnoringCaseInLowerCasedNameOrder) {
  for (const char *pucName : {"rwqa.inf", "RWQ_1.INF", "RWQ.INF", "XRWQ.INF", "RWQB.TXT", "Rwq2.Inf"}) {
    sim::WriteFile(std::string("C:\\WINDOWS\\INF\\") + pucName, "x");
  }
  EXPECT_EQ(Search("C:\\windows\\inf\\RWQ*.INF"),
            (std::vector<std::string>{"RWQ.INF", "Rwq2.Inf", "RWQ_1.INF", "rwqa.inf"}));
  EXPECT_EQ(Search("C:\\WINDOWS\\INF\\RWQ?.INF"), (std::vector<std::string>{"Rwq2.Inf", "rwqa.inf"}));
  EXPECT_TRUE(Search("C:\\WINDOWS\\INF\\ZNK*.INF").empty());
  EXPECT_EQ(os::GetLastError(), 2u);
  EXPECT_TRUE(Search("C:\\WINDOWS\\NONE\\*.INF").empty());
  EXPECT_EQ(os::GetLastError(), 3u);
}

TEST_F(SimFiles, DotDotStopsAtTheRootOfTheDrive) {
  sim::WriteFile("C:\\TMP\\RWQA.INF", "x");
  EXPECT_EQ(Search("C:\\WINDOWS\\INF\\OTHER\\..\\..\\..\\..\\..\\..\\TMP\\RWQ*.INF"),
            std::vector<std::string>{"RWQA.INF"});
  EXPECT_EQ(Search("C:\\..\\..\\*"), (std::vector<std::string>{"TMP", "WINDOWS"}));
  EXPECT_EQ(sim::HostPath("C:\\..\\..\\etc\\passwd"), sim::DriveRoot() + "/etc/passwd");
  EXPECT_EQ(sim::NormalPath("c:/WINDOWS/./INF//OTHER/../x"), "C:\\WINDOWS\\INF\\x");
  EXPECT_FALSE(os::DeleteFileA("C:\\..\\..\\..\\etc\\passwd"));
  EXPECT_EQ(os::GetLastError(), 3u);
}

TEST_F(SimFiles, MoveFileExFailsLikeWindows98UnlessSupported) {
  EXPECT_FALSE(os::MoveFileExA("C:\\X", nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(os::GetLastError(), 120u);
  sim::SetMoveFileExSupported(true);
  EXPECT_TRUE(os::MoveFileExA("C:\\X", nullptr, os::MOVEFILE_DELAY_UNTIL_REBOOT));
  EXPECT_EQ(sim::MoveFileExRequests(), std::vector<std::string>{"C:\\X=>"});
}

TEST_F(SimFiles, OpenHandlesOfEveryKindAreReported) {
  sim::WriteFile("C:\\WINDOWS\\A.INF", "x");
  os::HANDLE hFile = os::CreateFileA("C:\\WINDOWS\\A.INF", os::GENERIC_READ, os::FILE_SHARE_READ, nullptr,
                                     os::OPEN_EXISTING, os::FILE_ATTRIBUTE_NORMAL, nullptr);
  os::WIN32_FIND_DATAA found;
  os::HANDLE hSearch = os::FindFirstFileA("C:\\WINDOWS\\*.INF", &found);
  os::HGLOBAL hBlock = os::GlobalAlloc(os::GHND, 4);
  EXPECT_EQ(sim::OpenHandles().size(), 3u);
  os::CloseHandle(hFile);
  os::FindClose(hSearch);
  os::GlobalFree(hBlock);
  EXPECT_TRUE(sim::OpenHandles().empty());
}

TEST_F(SimFiles, DialogsTakeScriptedAnswersAndRecordEachBox) {
  char ucText[16];
  os::HINSTANCE hInstance = os::GetModuleHandleA(nullptr);
  EXPECT_EQ(os::LoadStringA(hInstance, IDS_VERDICT_CAPTION, ucText, 5), 4);
  EXPECT_STREQ(ucText, "Conf");
  EXPECT_EQ(os::LoadStringA(hInstance, 4, ucText, sizeof ucText), 0);
  EXPECT_STREQ(ucText, "");
  sim::QueueAnswer(os::IDNO);
  EXPECT_EQ(os::MessageBoxA(nullptr, "t", "c", os::MB_YESNO), os::IDNO);
  EXPECT_EQ(os::MessageBoxA(nullptr, "t2", "c2", os::MB_OK), 0);
  ASSERT_EQ(sim::MessageBoxes().size(), 2u);
  EXPECT_EQ(sim::MessageBoxes()[1].text, "t2");
  EXPECT_EQ(sim::Problems().size(), 1u);
  sim::Reset();
}

TEST_F(SimFiles, VersionNeedsTheRecordSize) {
  os::OSVERSIONINFOA version;
  std::memset(&version, 0, sizeof version);
  EXPECT_FALSE(os::GetVersionExA(&version));
  version.dwOSVersionInfoSize = 148;
  sim::SetMinorVersion(90);
  EXPECT_TRUE(os::GetVersionExA(&version));
  EXPECT_EQ(version.dwMinorVersion, 90u);
}

}  // namespace

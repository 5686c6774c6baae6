// The leftover removal after the passes: fixed keys, system files, INF files.
#include <algorithm>

#include "platform/types.h"
#include "tests/host/Machines.h"
#include "tests/host/SimFixture.h"
#include "uninstall/Leftovers.h"

namespace {

using Lines = std::vector<std::string>;

class Leftovers : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    g_State.uiPass = PASS_FINISHED;
  }
  static Lines Matching(const std::string &prefix) {
    Lines lines;
    for (const std::string &line : sim::Trace()) {
      if (line.compare(0, prefix.size(), prefix) == 0)
        lines.push_back(line);
    }
    return lines;
  }
  static bool Present(const char *pucPath) {
    return sim::ReadFile(pucPath, nullptr);
  }
};

TEST_F(Leftovers, OnAnEmptyMachineEveryStepIsAttemptedAndTraced) {
  RemoveLeftovers("KXUSBPRT.SYS", "KXUSBMON", "");
  EXPECT_EQ(sim::Trace(), (Lines{
                              " Opening key <ENUM> result 2\n",
                              " Opening key <Software\\VRAX\\USB> result 2\n",
                              " Opening key <Software\\VRAX> result 2\n",
                              " Opening key <Software> result 2\n",
                              " Opening key <Software\\Moravent2\\USB> result 2\n",
                              " Opening key <Software\\Moravent2> result 2\n",
                              " Opening key <Software> result 2\n",
                              " GetSystemDirectory <C:\\WINDOWS\\SYSTEM> result 0\n",
                              " Deleting File <C:\\WINDOWS\\SYSTEM\\KXUSBMON.DLL> result 2\n",
                              " Deleting File <C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS> result 2\n",
                              " Deleting File <C:\\WINDOWS\\SYSTEM\\KXUSBADD.DLL> result 2\n",
                              " Queried value <OtherDevicePath>=<C:\\WINDOWS\\INF\\OTHER\\> result 0\n",
                              " Queried value <OtherDevicePath>=<C:\\WINDOWS\\INF\\> result 0\n",
                          }));
}

TEST_F(Leftovers, WithoutAProviderTheCopyDirectoryIsSearchedWithTheBarePatterns) {
  sim::WriteFile("C:\\WINDOWS\\INF\\OTHER\\RWQPRN.INF", PACKAGE_INF);
  sim::WriteFile("C:\\WINDOWS\\INF\\OTHER\\TalvoRWQPRN.INF", PACKAGE_INF);
  RemoveLeftovers("KXUSBPRT.SYS", "KXUSBMON", "");
  EXPECT_FALSE(Present("C:\\WINDOWS\\INF\\OTHER\\RWQPRN.INF"));
  EXPECT_TRUE(Present("C:\\WINDOWS\\INF\\OTHER\\TalvoRWQPRN.INF"));
}

TEST_F(Leftovers, AnInfThatFailsTheOwnershipTestIsNeitherLookedUpNorRemoved) {
  sim::WriteFile("C:\\WINDOWS\\INF\\ZNKOTHER.INF", "[Version]\r\nClass=USB\r\nProvider=Quellin\r\n");
  sim::WriteFile("C:\\WINDOWS\\INF\\ZNKMON.INF", PACKAGE_INF);
  sim::WriteFile("C:\\WINDOWS\\INF\\OTHER.INF", PACKAGE_INF);
  RemoveLeftovers("KXUSBPRT.SYS", "KXUSBMON", "Talvo");
  EXPECT_TRUE(Present("C:\\WINDOWS\\INF\\ZNKOTHER.INF"));
  EXPECT_FALSE(Present("C:\\WINDOWS\\INF\\ZNKMON.INF"));
  EXPECT_TRUE(Present("C:\\WINDOWS\\INF\\OTHER.INF"));
  EXPECT_EQ(Matching(" Checking names"), Lines{" Checking names[26] against <C:\\WINDOWS\\INF\\ZNKMON.INF>\n"});
}

TEST_F(Leftovers, TheOemNameEntryIsOnlyReported) {
  sim::SetStringValue(os::HKEY_LOCAL_MACHINE,
                      "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\INF\\OEM Name",
                      "c:\\windows\\inf\\other\\talvorwqusb.inf", "RWQUSB.INF");
  sim::WriteFile("C:\\WINDOWS\\INF\\OTHER\\TalvoRWQUSB.INF", PACKAGE_INF);
  RemoveLeftovers("KXUSBPRT.SYS", "KXUSBMON", "Talvo");
  EXPECT_EQ(Matching(" Found field"), Lines{" Found field <c:\\windows\\inf\\other\\talvorwqusb.inf>\n"});
  EXPECT_TRUE(sim::GetValue(os::HKEY_LOCAL_MACHINE,
                            "Software\\Microsoft\\Windows\\CurrentVersion\\Setup\\SetupX\\INF\\OEM Name",
                            "C:\\WINDOWS\\INF\\OTHER\\TalvoRWQUSB.INF", nullptr));
  EXPECT_FALSE(Present("C:\\WINDOWS\\INF\\OTHER\\TalvoRWQUSB.INF"));
}

TEST_F(Leftovers, ASystemFileInUseIsQueuedForTheNextBootAndTheRunGoesOn) {
  sim::WriteFile("C:\\WINDOWS\\SYSTEM\\KXUSBMON.DLL", "monitor");
  sim::WriteFile("C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS", "driver");
  sim::SetFileInUse("C:\\WINDOWS\\SYSTEM\\KXUSBMON.DLL", true);
  RemoveLeftovers("KXUSBPRT.SYS", "KXUSBMON", "");
  EXPECT_EQ(Matching(" Bucketing"), Lines{" Bucketing File <C:\\WINDOWS\\SYSTEM\\KXUSBMON.DLL> result 0\n"});
  std::string winInit;
  ASSERT_TRUE(sim::ReadFile("C:\\WINDOWS\\WININIT.INI", &winInit));
  EXPECT_EQ(winInit, "[Rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\KXUSBMON.DLL\r\n");
  EXPECT_FALSE(Present("C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS"));
}

TEST_F(Leftovers, AFailedSystemDirectorySkipsTheSystemFilesOnly) {
  sim::WriteFile("C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS", "driver");
  sim::WriteFile("C:\\WINDOWS\\INF\\RWQUSB.INF", PACKAGE_INF);
  sim::AddFault({sim::Call::GetSystemDirectory, 1, 8, false, ""});
  RemoveLeftovers("KXUSBPRT.SYS", "KXUSBMON", "");
  EXPECT_TRUE(Present("C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS"));
  EXPECT_FALSE(Present("C:\\WINDOWS\\INF\\RWQUSB.INF"));
  EXPECT_EQ(Matching(" GetSystemDirectory"), Lines{" GetSystemDirectory <> result 8\n"});
  EXPECT_EQ(Matching(" Queried value"),
            (Lines{" Queried value <OtherDevicePath>=<C:\\WINDOWS\\INF\\OTHER\\> result 8\n",
                   " Queried value <OtherDevicePath>=<C:\\WINDOWS\\INF\\> result 8\n"}));
}

TEST_F(Leftovers, AFailedWindowsDirectorySearchesNoFolderOfTheCurrentDrive) {
  sim::WriteFile("C:\\INF\\RWQUSB.INF", PACKAGE_INF);
  sim::WriteFile("C:\\WINDOWS\\INF\\RWQUSB.INF", PACKAGE_INF);
  sim::AddFault({sim::Call::GetWindowsDirectory, 1, 8, true, ""});
  RemoveLeftovers("KXUSBPRT.SYS", "KXUSBMON", "");
  EXPECT_EQ(sim::CallCount(sim::Call::FindFirstFile), 0);
  EXPECT_TRUE(Present("C:\\INF\\RWQUSB.INF"));
  EXPECT_TRUE(Present("C:\\WINDOWS\\INF\\RWQUSB.INF"));
  EXPECT_EQ(Matching(" Queried value"), (Lines{" Queried value <OtherDevicePath>=<\\INF\\OTHER\\> result 0\n",
                                               " Queried value <OtherDevicePath>=<\\INF\\> result 0\n"}));
}

}  // namespace

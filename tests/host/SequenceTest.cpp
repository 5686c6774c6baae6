// The entry's dialog paths, exit codes and Windows form detection.
#include "platform/types.h"
#include "resources/strings.h"
#include "tests/host/Machines.h"
#include "tests/host/SimFixture.h"
#include "tools/uninst-sim/Load.h"
#include "uninstall/Uninst.h"

namespace {

const char CONNECTED[] = R"(REGEDIT4

[HKEY_DYN_DATA\Config Manager\Enum\C1000001]
"HardWareKey"="USB\\VID_7A11&PID_0042\\5&3A7B1C2&0&2"

)";

class Sequence : public SimTest {
 protected:
  static int Run(std::initializer_list<int> answers) {
    for (int iAnswer : answers)
      sim::QueueAnswer(iAnswer);
    return WinMain(nullptr, nullptr, nullptr, 0);
  }
  static void ExpectBox(size_t i, const char *pucText, const char *pucCaption, os::UINT uStyle) {
    ASSERT_GT(sim::MessageBoxes().size(), i);
    EXPECT_EQ(sim::MessageBoxes()[i].text, pucText);
    EXPECT_EQ(sim::MessageBoxes()[i].caption, pucCaption);
    EXPECT_EQ(sim::MessageBoxes()[i].uStyle, uStyle);
  }
  static bool TraceHas(const std::string &line) {
    for (const std::string &traced : sim::Trace()) {
      if (traced == line)
        return true;
    }
    return false;
  }
};

TEST_F(Sequence, NoToTheConfirmationTouchesNothing) {
  Load(Crlf(TYPICAL_REGISTRY));
  std::string before = uninstsim::ExportRegistry();
  EXPECT_EQ(Run({os::IDNO}), 5);
  ExpectBox(0, STR_CONFIRM_TEXT, STR_CONFIRM_CAPTION, os::MB_YESNO);
  EXPECT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_TRUE(sim::Trace().empty());
  EXPECT_EQ(sim::CallCount(sim::Call::RegOpenKeyEx), 0);
  EXPECT_EQ(uninstsim::ExportRegistry(), before);
}

TEST_F(Sequence, AConnectedPrinterBlocksEvenWhenOneIsConfiguredToo) {
  Load(Crlf(TYPICAL_REGISTRY));
  Load(Crlf(CONNECTED));
  std::string before = uninstsim::ExportRegistry();
  EXPECT_EQ(Run({os::IDYES, os::IDOK}), 5);
  ASSERT_EQ(sim::MessageBoxes().size(), 2u);
  ExpectBox(1, STR_CONNECTED_TEXT, STR_VERDICT_CAPTION, os::MB_OK);
  EXPECT_TRUE(TraceHas("Found #1 device <USB\\VID_7A11&PID_0042\\5&3A7B1C2&0&2> in dynamic data\n"));
  EXPECT_EQ(uninstsim::ExportRegistry(), before);
  EXPECT_EQ(g_State.uiPass, 2u);
}

TEST_F(Sequence, AConfiguredPrinterAsksAndYesCancels) {
  Load(Crlf(TYPICAL_REGISTRY));
  std::string before = uninstsim::ExportRegistry();
  EXPECT_EQ(Run({os::IDYES, os::IDYES}), 5);
  ASSERT_EQ(sim::MessageBoxes().size(), 2u);
  ExpectBox(1, STR_CONFIGURED_TEXT, STR_VERDICT_CAPTION, os::MB_YESNO);
  EXPECT_EQ(uninstsim::ExportRegistry(), before);
}

TEST_F(Sequence, NoMatchingNodeRunsWithoutAVerdictAndYesRestarts) {
  sim::CreateKey(os::HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\USB");
  EXPECT_EQ(Run({os::IDYES, os::IDYES}), 0);
  ASSERT_EQ(sim::MessageBoxes().size(), 2u);
  ExpectBox(1, STR_RESTART_TEXT, STR_RESTART_CAPTION, os::MB_YESNO);
  ASSERT_EQ(sim::Restarts().size(), 1u);
  EXPECT_EQ(sim::Restarts()[0].uFlags, 3u);
  EXPECT_EQ(sim::Restarts()[0].dwReserved, 0xFFFFFFFFu);
  EXPECT_EQ(g_State.uiPass, 3u);
  // Both passes walked the empty class key; the removal pass ends with the monitor key.
  EXPECT_TRUE(TraceHas(" Queried value <OtherDevicePath>=<C:\\WINDOWS\\INF\\OTHER\\> result 0\n"));
  EXPECT_TRUE(TraceHas("Removing reference to monitor <KXUSBMON>\n"));
}

TEST_F(Sequence, DecliningTheRestartStillEndsWithZero) {
  sim::CreateKey(os::HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\USB");
  EXPECT_EQ(Run({os::IDYES, os::IDNO}), 0);
  EXPECT_TRUE(sim::Restarts().empty());
}

TEST_F(Sequence, AMissingClassKeyEndsAfterItsTraceLine) {
  EXPECT_EQ(Run({os::IDYES}), 5);
  EXPECT_EQ(sim::MessageBoxes().size(), 1u);
  EXPECT_EQ(sim::Trace(),
            (std::vector<std::string>{" OsVersion <10> \n",
                                      " Opened key <System\\CurrentControlSet\\Services\\Class\\USB> looking for "
                                      "<KXUSBPRT.SYS> result 2\n"}));
}

TEST_F(Sequence, FailedBoxesGoOnPastTheConfirmationAndTheQuestionButDoNotRestart) {
  Load(Crlf(TYPICAL_REGISTRY));
  for (int n = 1; n <= 3; ++n)
    sim::AddFault({sim::Call::MessageBox, n, 5, false, ""});
  EXPECT_EQ(WinMain(nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(sim::CallCount(sim::Call::MessageBox), 3);
  EXPECT_TRUE(sim::MessageBoxes().empty());
  EXPECT_TRUE(sim::Restarts().empty());
  EXPECT_FALSE(sim::KeyExists(os::HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\Class\\USB\\0000"));
}

TEST_F(Sequence, WithoutTheModuleHandleTheBoxesShowEmptyTexts) {
  sim::AddFault({sim::Call::GetModuleHandle, 1, 126, false, ""});
  EXPECT_EQ(Run({os::IDNO}), 5);
  EXPECT_EQ(sim::CallCount(sim::Call::LoadString), 0);
  ExpectBox(0, "", "", os::MB_YESNO);
}

TEST_F(Sequence, TheConfirmationLoadsItsTextFirstAndTheOtherBoxesTheirCaption) {
  Load(Crlf(TYPICAL_REGISTRY));
  // Loads 2, 4 and 5 fail: strings 1, 5 and 7 in the order the sequence loads them.
  for (int n : {2, 4, 5})
    sim::AddFault({sim::Call::LoadString, n, 1814, false, ""});
  EXPECT_EQ(Run({os::IDYES, os::IDNO, os::IDNO}), 0);
  ExpectBox(0, STR_CONFIRM_TEXT, "", os::MB_YESNO);
  ExpectBox(1, "", STR_VERDICT_CAPTION, os::MB_YESNO);
  ExpectBox(2, STR_RESTART_TEXT, "", os::MB_YESNO);
}

TEST_F(Sequence, TheMinorVersionPicksTheWindowsForm) {
  const struct {
    os::DWORD dwMinor;
    int iOsForm;
  } CASES[] = {{10, 0}, {90, 1}, {0, 0}};
  for (const auto &c : CASES) {
    sim::Reset();
    sim::SetMinorVersion(c.dwMinor);
    EXPECT_EQ(Run({os::IDYES}), 5);
    EXPECT_EQ(g_State.iOsForm, c.iOsForm) << c.dwMinor;
    EXPECT_EQ(sim::Trace()[0], " OsVersion <" + std::to_string(c.dwMinor) + "> \n");
  }
  sim::Reset();
  sim::AddFault({sim::Call::GetVersionEx, 1, 5, false, ""});
  EXPECT_EQ(Run({os::IDYES}), 5);
  EXPECT_EQ(g_State.iOsForm, 0);
  EXPECT_EQ(sim::Trace()[0], " OsVersion <0> \n");
}

}  // namespace

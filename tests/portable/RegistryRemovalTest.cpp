// Key removal by path and value-name removal, through whichever platform is linked: the
// simulated machine on the host, the real registry under Wine. Keys are created in name order
// because Wine enumerates in name order where Windows 98 keeps creation order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/types.h"
#include "registry/KeyRemoval.h"
#include "registry/ValueRemoval.h"
#include "tests/support/TestMachine.h"
#include "uninstall/UninstallState.h"

namespace {

using Lines = std::vector<std::string>;
const os::HKEY HKLM = os::HKEY_LOCAL_MACHINE;

class RegistryRemoval : public ::testing::Test {
 protected:
  void SetUp() override {
    testmachine::ResetMachine();
  }
  void TearDown() override {
    EXPECT_EQ(testmachine::OpenKeyHandles(), Lines());
    testmachine::ResetMachine();
  }
};

TEST_F(RegistryRemoval, OnlyIfEmptySparesAKeyWithSubkeysAndDeletesOneWithout) {
  testmachine::SeedString(HKLM, "Software\\VRAX\\USB\\BDPM", "Version", "1");
  EXPECT_EQ(RemoveKeyByPath("Software\\VRAX\\USB", 1), 0);
  EXPECT_EQ(testmachine::TakeTrace(),
            (Lines{" Opening key <Software\\VRAX> result 0\n", " Opening subkey <USB> result 0\n",
                   " Enumerated subkey 0 <BDPM> result 0\n"}));
  EXPECT_TRUE(testmachine::KeyExists(HKLM, "Software\\VRAX\\USB\\BDPM"));

  EXPECT_EQ(RemoveKeyByPath("Software\\VRAX\\USB\\BDPM", 0), 1);
  testmachine::TakeTrace();
  // Values do not count for emptiness.
  testmachine::SeedString(HKLM, "Software\\VRAX\\USB", "Left", "x");
  EXPECT_EQ(RemoveKeyByPath("Software\\VRAX\\USB", 1), 1);
  EXPECT_EQ(testmachine::TakeTrace(),
            (Lines{" Opening key <Software\\VRAX> result 0\n", " Opening subkey <USB> result 0\n",
                   " Enumerated subkey 0 <> result 259\n", " Deleting subkey <USB> result 0\n"}));
  EXPECT_FALSE(testmachine::KeyExists(HKLM, "Software\\VRAX\\USB"));
  EXPECT_TRUE(testmachine::KeyExists(HKLM, "Software\\VRAX"));
}

TEST_F(RegistryRemoval, UnconditionalRemovalTakesTheWholeSubtree) {
  testmachine::SeedString(HKLM, "Software\\UninstTest\\Ports\\P1\\Deep\\Deeper", "v", "1");
  testmachine::SeedKey(HKLM, "Software\\UninstTest\\Ports\\P2");
  EXPECT_EQ(RemoveKeyByPath("Software\\UninstTest\\Ports\\P1", 0), 1);
  EXPECT_EQ(testmachine::TakeTrace(),
            (Lines{" Opening key <Software\\UninstTest\\Ports> result 0\n", " Deleting subkey <P1> result 0\n"}));
  EXPECT_FALSE(testmachine::KeyExists(HKLM, "Software\\UninstTest\\Ports\\P1"));
  EXPECT_TRUE(testmachine::KeyExists(HKLM, "Software\\UninstTest\\Ports\\P2"));
}

TEST_F(RegistryRemoval, MissingKeysAndOddPathsRemoveNothing) {
  testmachine::SeedKey(HKLM, "Software\\UninstTest\\Keep");
  EXPECT_EQ(RemoveKeyByPath("Software\\UninstTest\\Gone", 0), 0);
  EXPECT_EQ(testmachine::TakeTrace(),
            (Lines{" Opening key <Software\\UninstTest> result 0\n", " Deleting subkey <Gone> result 2\n"}));
  EXPECT_EQ(RemoveKeyByPath("Software\\Nowhere\\Gone", 1), 0);
  EXPECT_EQ(testmachine::TakeTrace(), (Lines{" Opening key <Software\\Nowhere> result 2\n"}));
  EXPECT_EQ(RemoveKeyByPath("Software\\UninstTest\\Gone", 1), 0);
  EXPECT_EQ(testmachine::TakeTrace(),
            (Lines{" Opening key <Software\\UninstTest> result 0\n", " Opening subkey <Gone> result 2\n"}));
  // No backslash: no registry access, no trace.
  EXPECT_EQ(RemoveKeyByPath("Software", 0), 0);
  // An empty leaf (a port path built from an empty name) must never take the parent.
  EXPECT_EQ(RemoveKeyByPath("Software\\UninstTest\\Keep\\", 0), 0);
  EXPECT_EQ(RemoveKeyByPath("Software\\UninstTest\\Keep\\\r\n", 0), 0);
  EXPECT_EQ(testmachine::TakeTrace(), Lines());
  EXPECT_TRUE(testmachine::KeyExists(HKLM, "Software\\UninstTest\\Keep"));
}

TEST_F(RegistryRemoval, TrailingLineEndsAreDroppedFromTheLeafOnly) {
  testmachine::SeedKey(HKLM, "Software\\UninstTest\\Port1");
  EXPECT_EQ(RemoveKeyByPath("Software\\UninstTest\\Port1\r\n", 0), 1);
  EXPECT_EQ(testmachine::TakeTrace(),
            (Lines{" Opening key <Software\\UninstTest> result 0\n", " Deleting subkey <Port1> result 0\n"}));
  // A CR inside the leaf cuts it there.
  testmachine::SeedKey(HKLM, "Software\\UninstTest\\Port2");
  EXPECT_EQ(RemoveKeyByPath("Software\\UninstTest\\Port2\rjunk", 0), 1);
  EXPECT_FALSE(testmachine::KeyExists(HKLM, "Software\\UninstTest\\Port2"));
}

const char ASD_KEY[] = "System\\CurrentControlSet\\Control\\ASD\\Prob\\{CF2524C0-29AE-11CF-97EA-00AA0034319D}";

TEST_F(RegistryRemoval, ValueLookupMatchesWholeNamesIgnoringCaseAndRemovesTheFirstInPass2) {
  testmachine::SeedBinary(HKLM, ASD_KEY, "LPTENUM\\P\\PUSB&X", std::string("\x01\x00", 2));
  testmachine::SeedBinary(HKLM, ASD_KEY, "USB\\VID_1&PID_2\\3", std::string("\x01\x00", 2));
  testmachine::SeedBinary(HKLM, ASD_KEY, "USB\\VID_1&PID_2\\34", std::string("\x01\x00", 2));
  testmachine::SeedBinary(HKLM, ASD_KEY, "usb\\vid_1&pid_2\\3 ", std::string("\x01\x00", 2));
  g_State.uiPass = PASS_REMOVAL;
  const char *pucName = "usb\\VID_1&pid_2\\3";
  EXPECT_EQ(RemoveValueByName(pucName, 18, ASD_KEY), 1);
  std::string key = ASD_KEY;
  EXPECT_EQ(testmachine::TakeTrace(),
            (Lines{" Checking names[18] against <usb\\VID_1&pid_2\\3>\n", " Opening key <" + key + "> result 0\n",
                   "Comparing <USB\\VID_1&PID_2\\3> \n", " Deleting field <USB\\VID_1&PID_2\\3> result 0\n",
                   " Closing key <" + key + "> 1 fields result 0\n"}));
  EXPECT_FALSE(testmachine::ValueExists(HKLM, ASD_KEY, "USB\\VID_1&PID_2\\3"));
  EXPECT_TRUE(testmachine::ValueExists(HKLM, ASD_KEY, "USB\\VID_1&PID_2\\34"));
  EXPECT_TRUE(testmachine::ValueExists(HKLM, ASD_KEY, "usb\\vid_1&pid_2\\3 "));
}

TEST_F(RegistryRemoval, OutsidePass2AMatchIsOnlyReported) {
  testmachine::SeedString(HKLM, "Software\\UninstTest\\OEM Name", "C:\\WINDOWS\\INF\\OTHER\\A.INF", "A.INF");
  g_State.uiPass = PASS_FINISHED;
  EXPECT_EQ(RemoveValueByName("c:\\windows\\inf\\other\\a.inf", 28, "Software\\UninstTest\\OEM Name"), 1);
  Lines trace = testmachine::TakeTrace();
  ASSERT_EQ(trace.size(), 5u);
  EXPECT_EQ(trace[3], " Found field <C:\\WINDOWS\\INF\\OTHER\\A.INF>\n");
  EXPECT_TRUE(testmachine::ValueExists(HKLM, "Software\\UninstTest\\OEM Name", "C:\\WINDOWS\\INF\\OTHER\\A.INF"));
}

TEST_F(RegistryRemoval, MissingAndEmptyKeysMatchNothing) {
  EXPECT_EQ(RemoveValueByName("X", 2, "Software\\UninstTest\\None"), 0);
  EXPECT_EQ(testmachine::TakeTrace(),
            (Lines{" Checking names[2] against <X>\n", " Opening key <Software\\UninstTest\\None> result 2\n"}));
  testmachine::SeedKey(HKLM, "Software\\UninstTest\\Empty");
  EXPECT_EQ(RemoveValueByName("X", 2, "Software\\UninstTest\\Empty"), 0);
  EXPECT_EQ(
      testmachine::TakeTrace(),
      (Lines{" Checking names[2] against <X>\n", " Opening key <Software\\UninstTest\\Empty> result 0\n",
             " Enumerated field 0 <> result 259\n", " Closing key <Software\\UninstTest\\Empty> 0 fields result 0\n"}));
}

TEST_F(RegistryRemoval, DataOver383BytesEndsTheSearchAtThatValue) {
  testmachine::SeedString(HKLM, "Software\\UninstTest\\Big", "A", std::string(383, 'd'));
  testmachine::SeedString(HKLM, "Software\\UninstTest\\Big", "B", "small");
  g_State.uiPass = PASS_REMOVAL;
  EXPECT_EQ(RemoveValueByName("B", 2, "Software\\UninstTest\\Big"), 0);
  Lines trace = testmachine::TakeTrace();
  ASSERT_EQ(trace.size(), 4u);
  EXPECT_EQ(trace[2], " Enumerated field 0 <> result 234\n");
  EXPECT_EQ(trace[3], " Closing key <Software\\UninstTest\\Big> 0 fields result 0\n");
  EXPECT_TRUE(testmachine::ValueExists(HKLM, "Software\\UninstTest\\Big", "B"));
}

TEST_F(RegistryRemoval, DataAtTheLimitWithoutATerminatorIsStillComparedSafely) {
  // 383 bytes of binary data with no NUL fit the enumeration exactly; the name still matches.
  testmachine::SeedBinary(HKLM, "Software\\UninstTest\\Raw", "Name", std::string(383, 'r'));
  g_State.uiPass = PASS_REMOVAL;
  EXPECT_EQ(RemoveValueByName("NAME", 5, "Software\\UninstTest\\Raw"), 1);
  EXPECT_FALSE(testmachine::ValueExists(HKLM, "Software\\UninstTest\\Raw", "Name"));
}

}  // namespace

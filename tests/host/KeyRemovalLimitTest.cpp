// Key paths deeper than the real registry accepts through its API (Wine refuses to create
// them), so this runs on the simulated machine only.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/KeyRemoval.h"
#include "tests/support/TestMachine.h"

namespace {

using Lines = std::vector<std::string>;
const os::HKEY HKLM = os::HKEY_LOCAL_MACHINE;

class KeyRemovalLimit : public ::testing::Test {
 protected:
  void SetUp() override {
    testmachine::ResetMachine();
  }
};

TEST_F(KeyRemovalLimit, AnOverlongPathIsCutAt383CharactersBeforeItIsSplit) {
  std::string parent = "Software\\UninstTest";
  while (parent.size() < 340)
    parent += "\\d0123456";
  std::string leaf(383 - parent.size() - 1, 'k');
  testmachine::SeedKey(HKLM, parent + "\\" + leaf + "\\extra");
  std::string path = parent + "\\" + leaf + "\\extra";
  EXPECT_EQ(RemoveKeyByPath(path.c_str(), 0), 1);
  EXPECT_EQ(testmachine::TakeTrace(),
            (Lines{" Opening key <" + parent + "> result 0\n", " Deleting subkey <" + leaf + "> result 0\n"}));
  EXPECT_FALSE(testmachine::KeyExists(HKLM, parent + "\\" + leaf));
}

}  // namespace

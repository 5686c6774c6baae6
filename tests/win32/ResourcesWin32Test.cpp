// The string table as the program reads it: LoadStringA on its own module gives the code page
// 1252 bytes of resources/strings.h (Wine runs with the ANSI code page 1252 here).
#include <gtest/gtest.h>

#include <string>

#include "platform/dialogs.h"
#include "resources/strings.h"

namespace {

TEST(ResourcesWin32, StringTableGivesTheBytesOfStringsH) {
  const struct {
    os::UINT uId;
    const char *pucText;
  } kStrings[] = {
      {IDS_CONFIRM_CAPTION, STR_CONFIRM_CAPTION}, {IDS_CONFIRM_TEXT, STR_CONFIRM_TEXT},
      {IDS_VERDICT_CAPTION, STR_VERDICT_CAPTION}, {IDS_CONFIGURED_TEXT, STR_CONFIGURED_TEXT},
      {IDS_CONNECTED_TEXT, STR_CONNECTED_TEXT},   {IDS_RESTART_CAPTION, STR_RESTART_CAPTION},
      {IDS_RESTART_TEXT, STR_RESTART_TEXT},
  };
  os::HINSTANCE hModule = os::GetModuleHandleA(nullptr);
  ASSERT_NE(nullptr, hModule);
  for (const auto &entry : kStrings) {
    char ucText[384] = {};
    int iLength = os::LoadStringA(hModule, entry.uId, ucText, 384);
    EXPECT_EQ(std::string(entry.pucText), ucText) << "string " << entry.uId;
    EXPECT_EQ(static_cast<int>(std::string(entry.pucText).size()), iLength);
  }
}

TEST(ResourcesWin32, MissingIdIsEmptyAndLongTextIsCut) {
  os::HINSTANCE hModule = os::GetModuleHandleA(nullptr);
  char ucText[16] = "unchanged";
  EXPECT_EQ(0, os::LoadStringA(hModule, 4, ucText, sizeof ucText));
  EXPECT_STREQ("", ucText) << "id 4 does not exist";

  char ucShort[8];
  EXPECT_EQ(7, os::LoadStringA(hModule, IDS_CONFIRM_CAPTION, ucShort, sizeof ucShort));
  EXPECT_STREQ("Suppres", ucShort);
}

}  // namespace

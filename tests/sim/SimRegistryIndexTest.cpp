// The simulated registry's name index must agree with its creation-order lists through
// deletions and re-creations: a stale index entry would find a deleted key or miss a live one.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"
#include "platform/sim/sim.h"

namespace {

const os::HKEY HKLM = os::HKEY_LOCAL_MACHINE;

std::string EnumKey(os::HKEY hKey, os::DWORD dwIndex) {
  char ucName[64] = "";
  os::DWORD ulLength = sizeof ucName;
  os::LONG lResult = os::RegEnumKeyExA(hKey, dwIndex, ucName, &ulLength, nullptr, nullptr, nullptr, nullptr);
  return lResult == 0 ? std::string(ucName) : "#" + std::to_string(lResult);
}

std::string EnumValue(os::HKEY hKey, os::DWORD dwIndex) {
  char ucName[64] = "";
  os::DWORD ulLength = sizeof ucName;
  os::LONG lResult = os::RegEnumValueA(hKey, dwIndex, ucName, &ulLength, nullptr, nullptr, nullptr, nullptr);
  return lResult == 0 ? std::string(ucName) : "#" + std::to_string(lResult);
}

std::string Query(os::HKEY hKey, const char *pucName) {
  char ucData[64] = "";
  os::DWORD ulLength = sizeof ucData;
  os::LONG lResult =
      os::RegQueryValueExA(hKey, pucName, nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &ulLength);
  return lResult == 0 ? std::string(ucData) : "#" + std::to_string(lResult);
}

TEST(SimRegistryIndex, DeletedKeyIsGoneAndItsNameCanBeMadeAgainAtTheEnd) {
  sim::Reset();
  for (const char *pucName : {"B", "a", "C"})
    sim::CreateKey(HKLM, std::string("Root\\") + pucName);
  os::HKEY hRoot = nullptr;
  ASSERT_EQ(os::RegOpenKeyExA(HKLM, "Root", 0, os::KEY_WRITE, &hRoot), 0);
  os::HKEY hOld = nullptr;
  ASSERT_EQ(os::RegOpenKeyExA(hRoot, "A", 0, os::KEY_WRITE, &hOld), 0);
  EXPECT_EQ(os::RegDeleteKeyA(hRoot, "A"), 0);
  EXPECT_EQ(os::RegDeleteKeyA(hRoot, "a"), 2);
  EXPECT_FALSE(sim::KeyExists(HKLM, "Root\\a"));
  EXPECT_EQ(EnumKey(hRoot, 1), "C");
  EXPECT_EQ(EnumKey(hOld, 0), "#1018");
  sim::CreateKey(HKLM, "Root\\A");
  EXPECT_TRUE(sim::KeyExists(HKLM, "root\\a"));
  EXPECT_EQ(EnumKey(hRoot, 2), "A");
  EXPECT_EQ(EnumKey(hOld, 0), "#1018");
  os::RegCloseKey(hOld);
  os::RegCloseKey(hRoot);
}

// A key with few values is walked; one with many is looked up through its own name index.
TEST(SimRegistryIndex, ValueDeletionMovesLaterValuesDownAndKeepsThemFound) {
  for (os::DWORD dwFirst : {0u, 40u}) {
    sim::Reset();
    for (os::DWORD i = 0; i < dwFirst; ++i)
      sim::SetStringValue(HKLM, "Root", "filler" + std::to_string(i), "f");
    for (const char *pucName : {"one", "Two", "three", "four"})
      sim::SetStringValue(HKLM, "Root", pucName, std::string("v-") + pucName);
    os::HKEY hKey = nullptr;
    ASSERT_EQ(os::RegOpenKeyExA(HKLM, "Root", 0, os::KEY_WRITE, &hKey), 0);
    EXPECT_EQ(os::RegDeleteValueA(hKey, "TWO"), 0);
    EXPECT_EQ(os::RegDeleteValueA(hKey, "two"), 2);
    EXPECT_EQ(EnumValue(hKey, dwFirst + 1), "three");
    EXPECT_EQ(Query(hKey, "THREE"), "v-three");
    EXPECT_EQ(Query(hKey, "four"), "v-four");
    EXPECT_EQ(Query(hKey, "Two"), "#2");
    sim::SetStringValue(HKLM, "Root", "FOUR", "changed");
    EXPECT_EQ(EnumValue(hKey, dwFirst + 2), "four");  // replaced in place, spelling kept
    EXPECT_EQ(Query(hKey, "four"), "changed");
    sim::SetStringValue(HKLM, "Root", "two", "back");
    EXPECT_EQ(EnumValue(hKey, dwFirst + 3), "two");
    EXPECT_EQ(Query(hKey, "TWO"), "back");
    EXPECT_EQ(os::RegDeleteValueA(hKey, "ONE"), 0);
    EXPECT_EQ(Query(hKey, "Four"), "changed");
    EXPECT_EQ(EnumValue(hKey, dwFirst + 1), "four");
    os::RegCloseKey(hKey);
  }
  sim::Reset();
}

}  // namespace

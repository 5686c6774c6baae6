// The registry behaviour the uninstaller relies on, checked through os:: over the real calls.
// Runs under Wine set to Windows 98; where Wine answers differently from Windows 98 the test
// says so.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/registry.h"
#include "tests/support/TestMachine.h"

namespace {

using testmachine::KeyExists;
using testmachine::SeedKey;
using testmachine::SeedString;
using testmachine::ValueExists;

const char ROOT[] = "Software\\UninstTest";

class RegistryWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    testmachine::ResetMachine();
  }
  void TearDown() override {
    testmachine::ResetMachine();
  }

  os::HKEY Open(os::HKEY hRoot, const std::string &path, os::REGSAM sam) {
    os::HKEY hKey = nullptr;
    EXPECT_EQ(os::ERROR_SUCCESS, os::RegOpenKeyExA(hRoot, path.c_str(), 0, sam, &hKey)) << path;
    return hKey;
  }
};

// Windows 98 deletes a whole subtree natively; Wine (like NT) refuses with 5, so this proves the
// depth-first fallback, under both roots the uninstaller uses.
TEST_F(RegistryWin32, DeleteKeyRemovesWholeSubtree) {
  const std::string base = std::string(ROOT) + "\\Tree";
  SeedString(os::HKEY_LOCAL_MACHINE, base + "\\A\\A1\\A11", "v", "1");
  SeedString(os::HKEY_LOCAL_MACHINE, base + "\\A\\A2", "w", "2");
  SeedKey(os::HKEY_LOCAL_MACHINE, base + "\\B");
  SeedKey(os::HKEY_LOCAL_MACHINE, std::string(ROOT) + "\\Sibling");

  os::HKEY hRoot = Open(os::HKEY_LOCAL_MACHINE, ROOT, os::KEY_WRITE);
  EXPECT_EQ(os::ERROR_SUCCESS, os::RegDeleteKeyA(hRoot, "Tree"));
  os::RegCloseKey(hRoot);

  EXPECT_FALSE(KeyExists(os::HKEY_LOCAL_MACHINE, base));
  EXPECT_TRUE(KeyExists(os::HKEY_LOCAL_MACHINE, std::string(ROOT) + "\\Sibling"));
}

TEST_F(RegistryWin32, DeleteKeyUnderDynamicData) {
  SeedString(os::HKEY_DYN_DATA, "Config Manager\\UninstTest\\0001\\Child", "HardWareKey", "USB\\X\\Y");
  ASSERT_TRUE(ValueExists(os::HKEY_DYN_DATA, "Config Manager\\UninstTest\\0001\\Child", "HardWareKey"));

  EXPECT_EQ(os::ERROR_SUCCESS, os::RegDeleteKeyA(os::HKEY_DYN_DATA, "Config Manager\\UninstTest"));
  EXPECT_FALSE(KeyExists(os::HKEY_DYN_DATA, "Config Manager\\UninstTest"));
}

TEST_F(RegistryWin32, DeleteKeyOfMissingKeyGives2) {
  SeedKey(os::HKEY_LOCAL_MACHINE, std::string(ROOT) + "\\Kept");
  os::HKEY hRoot = Open(os::HKEY_LOCAL_MACHINE, ROOT, os::KEY_WRITE);
  EXPECT_EQ(os::ERROR_FILE_NOT_FOUND, os::RegDeleteKeyA(hRoot, "Missing"));
  os::RegCloseKey(hRoot);
  EXPECT_TRUE(KeyExists(os::HKEY_LOCAL_MACHINE, std::string(ROOT) + "\\Kept"));
}

// A KEY_WRITE handle reads and enumerates on Windows 98; Wine does not refuse it either.
TEST_F(RegistryWin32, WriteHandleReadsAndEnumerates) {
  SeedString(os::HKEY_LOCAL_MACHINE, std::string(ROOT) + "\\Node", "NTKXDriver", "KXUSBPRT.SYS");
  os::HKEY hRoot = Open(os::HKEY_LOCAL_MACHINE, ROOT, os::KEY_WRITE);
  char ucName[384] = {};
  os::DWORD cchName = 383;
  EXPECT_EQ(os::ERROR_SUCCESS, os::RegEnumKeyExA(hRoot, 0, ucName, &cchName, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("Node", ucName);
  EXPECT_EQ(4u, cchName);

  os::HKEY hNode = Open(hRoot, "Node", os::KEY_WRITE);
  char ucData[384] = {};
  os::DWORD cbData = 383;
  EXPECT_EQ(os::ERROR_SUCCESS,
            os::RegQueryValueExA(hNode, "NTKXDriver", nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &cbData));
  EXPECT_STREQ("KXUSBPRT.SYS", ucData);
  EXPECT_EQ(13u, cbData);
  os::RegCloseKey(hNode);
  os::RegCloseKey(hRoot);
}

// The walk lowers its index after deleting a subkey: the next one must then sit at that index.
// Wine enumerates subkeys (and values) in case-insensitive name order where Windows 98 keeps
// creation order, so the keys are created in name order to make both give the same sequence.
TEST_F(RegistryWin32, DeletingSubkeyShiftsFollowingOnesDown) {
  for (const char *pucName : {"0000", "0001", "0002"}) {
    SeedKey(os::HKEY_LOCAL_MACHINE, std::string(ROOT) + "\\" + pucName);
  }
  os::HKEY hRoot = Open(os::HKEY_LOCAL_MACHINE, ROOT, os::KEY_WRITE);
  EXPECT_EQ(os::ERROR_SUCCESS, os::RegDeleteKeyA(hRoot, "0000"));
  char ucName[384] = {};
  os::DWORD cchName = 383;
  EXPECT_EQ(os::ERROR_SUCCESS, os::RegEnumKeyExA(hRoot, 0, ucName, &cchName, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("0001", ucName);
  cchName = 383;
  EXPECT_EQ(os::ERROR_SUCCESS, os::RegEnumKeyExA(hRoot, 1, ucName, &cchName, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("0002", ucName);
  cchName = 383;
  EXPECT_EQ(os::ERROR_NO_MORE_ITEMS, os::RegEnumKeyExA(hRoot, 2, ucName, &cchName, nullptr, nullptr, nullptr, nullptr));
  os::RegCloseKey(hRoot);
}

// A name fits only with room for its NUL; data fits only when its size is within the length.
TEST_F(RegistryWin32, OversizeNamesAndDataGive234) {
  SeedString(os::HKEY_LOCAL_MACHINE, std::string(ROOT) + "\\ABCDE", "Value", "0123456789");
  os::HKEY hRoot = Open(os::HKEY_LOCAL_MACHINE, ROOT, os::KEY_WRITE);
  char ucName[16];
  std::memset(ucName, 'x', sizeof ucName);
  os::DWORD cchName = 5;
  EXPECT_EQ(os::ERROR_MORE_DATA, os::RegEnumKeyExA(hRoot, 0, ucName, &cchName, nullptr, nullptr, nullptr, nullptr));
  cchName = 6;
  EXPECT_EQ(os::ERROR_SUCCESS, os::RegEnumKeyExA(hRoot, 0, ucName, &cchName, nullptr, nullptr, nullptr, nullptr));
  EXPECT_STREQ("ABCDE", ucName);

  os::HKEY hKey = Open(hRoot, "ABCDE", os::KEY_WRITE);
  char ucData[16];
  std::memset(ucData, 'x', sizeof ucData);
  os::DWORD cbData = 10;  // the text's length, without room for its NUL
  EXPECT_EQ(os::ERROR_MORE_DATA,
            os::RegQueryValueExA(hKey, "Value", nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &cbData));
  EXPECT_EQ(std::string(16, 'x'), std::string(ucData, 16)) << "a failed read leaves the buffer as it was";
  EXPECT_EQ(os::ERROR_FILE_NOT_FOUND,
            os::RegQueryValueExA(hKey, "Missing", nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &cbData));

  char ucValueName[16];
  std::memset(ucValueName, 'x', sizeof ucValueName);
  std::memset(ucData, 'x', sizeof ucData);
  os::DWORD cchValueName = 16;
  os::DWORD dwType = 0;
  cbData = 10;
  EXPECT_EQ(os::ERROR_MORE_DATA, os::RegEnumValueA(hKey, 0, ucValueName, &cchValueName, nullptr, &dwType,
                                                   reinterpret_cast<os::BYTE *>(ucData), &cbData));
  EXPECT_EQ(std::string(16, 'x'), std::string(ucData, 16)) << "a failed read leaves the buffer as it was";
  cchValueName = 5;
  cbData = 16;
  EXPECT_EQ(os::ERROR_MORE_DATA, os::RegEnumValueA(hKey, 0, ucValueName, &cchValueName, nullptr, &dwType,
                                                   reinterpret_cast<os::BYTE *>(ucData), &cbData));
  cchValueName = 6;
  cbData = 11;
  EXPECT_EQ(os::ERROR_SUCCESS, os::RegEnumValueA(hKey, 0, ucValueName, &cchValueName, nullptr, &dwType,
                                                 reinterpret_cast<os::BYTE *>(ucData), &cbData));
  EXPECT_STREQ("Value", ucValueName);
  EXPECT_STREQ("0123456789", ucData);
  EXPECT_EQ(os::REG_SZ, dwType);
  cchValueName = 16;
  cbData = 16;
  EXPECT_EQ(os::ERROR_NO_MORE_ITEMS, os::RegEnumValueA(hKey, 1, ucValueName, &cchValueName, nullptr, &dwType,
                                                       reinterpret_cast<os::BYTE *>(ucData), &cbData));
  EXPECT_EQ(os::ERROR_SUCCESS, os::RegDeleteValueA(hKey, "Value"));
  EXPECT_EQ(os::ERROR_FILE_NOT_FOUND, os::RegDeleteValueA(hKey, "Value"));
  os::RegCloseKey(hKey);
  os::RegCloseKey(hRoot);
}

}  // namespace

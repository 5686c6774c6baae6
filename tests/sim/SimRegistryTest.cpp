// The simulated registry keeps the Windows 98 behaviour the uninstaller relies on.
#include <pthread.h>

#include <cstring>
#include <iterator>
#include <utility>

#include "platform/registry.h"
#include "tests/host/SimFixture.h"
#include "tools/uninst-sim/Load.h"

namespace {

using SimRegistry = SimTest;

const char IMAGE[] =
    "REGEDIT4\n\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Maker]\n"
    "@=\"default\"\n"
    "\"Path\"=\"C:\\\\WINDOWS\\\\\\\"quoted\\\"\"\n"
    "\"Count\"=dword:0000002a\n"
    "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,18,\\\n"
    "  19,1a,1b,1c\n"
    "\"Multi\"=hex(7):61,00,62,00,00\n"
    "\"Text\xE9\"=\"caf\xE9\"\n\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Maker\\Empty]\n\n"
    "[HKEY_USERS\\.Default\\Control Panel]\n"
    "\"Beep\"=\"yes\"\n\n"
    "[HKEY_DYN_DATA\\Config Manager\\Enum\\C1000000]\n"
    "\"HardWareKey\"=\"USB\\\\VID_1&PID_2\\\\3\"\n\n";

os::HKEY Open(const char *pucPath, os::HKEY hRoot = os::HKEY_LOCAL_MACHINE) {
  os::HKEY hKey = nullptr;
  EXPECT_EQ(os::RegOpenKeyExA(hRoot, pucPath, 0, os::KEY_WRITE, &hKey), 0) << pucPath;
  return hKey;
}

TEST_F(SimRegistry, Regedit4ImageRoundTripsExactly) {
  Load(Crlf(IMAGE));
  std::string exported = uninstsim::ExportRegistry();
  sim::Reset();
  Load(exported);
  EXPECT_EQ(uninstsim::ExportRegistry(), exported);
  // Every key gets its own section, CR LF, the escapes and the other roots written back.
  EXPECT_NE(exported.find("[HKEY_LOCAL_MACHINE\\Software]\r\n\r\n"), std::string::npos);
  EXPECT_NE(exported.find("\"Path\"=\"C:\\\\WINDOWS\\\\\\\"quoted\\\"\"\r\n"), std::string::npos);
  EXPECT_NE(exported.find("\"Count\"=dword:0000002a\r\n"), std::string::npos);
  EXPECT_NE(exported.find("\"Multi\"=hex(7):61,00,62,00,00\r\n"), std::string::npos);
  EXPECT_NE(exported.find("[HKEY_USERS\\.Default\\Control Panel]\r\n\"Beep\"=\"yes\"\r\n"), std::string::npos);
  EXPECT_NE(exported.find("[HKEY_DYN_DATA\\Config Manager\\Enum\\C1000000]"), std::string::npos);
  EXPECT_NE(exported.find("\"Text\xE9\"=\"caf\xE9\""), std::string::npos);
  std::string blob;
  ASSERT_TRUE(sim::GetValue(os::HKEY_LOCAL_MACHINE, "Software\\Maker", "Blob", &blob));
  EXPECT_EQ(blob.size(), 29u);
  EXPECT_EQ(blob[28], '\x1c');
}

TEST_F(SimRegistry, MalformedImageIsRefusedWholeWithItsLine) {
  Load("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Keep]\r\n\"a\"=\"1\"\r\n");
  std::string before = uninstsim::ExportRegistry();
  const struct {
    const char *pucImage;
    const char *pucError;
  } CASES[] = {
      {"REGEDIT5\n", "line 1: "},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\New]\n\"x\"=\"unterminated\n", "line 4: "},
      {"REGEDIT4\n\n[HKEY_NOWHERE\\X]\n", "line 3: "},
      {"REGEDIT4\n\"x\"=\"1\"\n", "line 2: "},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\New]\n\"x\"=dword:12\n", "line 4: "},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\New]\n\"x\"=hex:0g\n", "line 4: "},
      {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\New]\n\"x\"=\"a\\n\"\n", "line 4: "},
  };
  for (const auto &c : CASES) {
    std::string error;
    EXPECT_FALSE(uninstsim::ImportRegistry(c.pucImage, &error)) << c.pucImage;
    EXPECT_EQ(error.compare(0, std::strlen(c.pucError), c.pucError), 0) << error;
    EXPECT_EQ(uninstsim::ExportRegistry(), before) << c.pucImage;
  }
}

// What Windows 98's regedit /e writes and its own import reads past: wrapped binary data, a text
// holding a raw line break, lines that are no key, roots the program never reads, a Ctrl-Z.
const char CUSTOMER_EXPORT[] =
    "REGEDIT4\n\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Maker]\n"
    "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\n"
    "  17,18,19\n"
    "\"Note\"=\"first line\n"
    "second line\"\n"
    "\"After\"=\"kept\"\n"
    "\"Bad\"=hex:00,1\\\n"
    "  2,zz\n"
    "[not a key\n"
    "\"Still\"=dword:00000001\n\n"
    "[HKEY_NOWHERE\\Lost]\n"
    "\"Gone\"=\"x\"\n"
    "\"GoneToo\"=hex:01,\\\n"
    "  02\n\n"
    "[HKEY_USERS\\.DEFAULT\\Control Panel]\n"
    "\"Path\"=hex(2):25,57,25,00\n"
    "\"Multi\"=hex(7):61,00,62,00,00\n"
    "\"Crlf\"=hex(1):61,0d,0a,62,00\x1a";

TEST_F(SimRegistry, CustomerExportIsReadPastWhatCannotBeRead) {
  std::string image = Crlf(CUSTOMER_EXPORT);
  std::vector<uninstsim::SkippedLine> skipped;
  std::string error;
  ASSERT_TRUE(uninstsim::ImportRegistry(image, &error, &skipped)) << error;
  const std::pair<size_t, std::string> EXPECTED[] = {{6, "unterminated quoted text"},
                                                     {7, "value or key line expected"},
                                                     {9, "bad hex byte 'zz'"},
                                                     {11, "bad key line"},
                                                     {14, "unknown root 'HKEY_NOWHERE'; the key's values"}};
  ASSERT_EQ(skipped.size(), std::size(EXPECTED));
  for (size_t i = 0; i < skipped.size(); ++i) {
    EXPECT_EQ(skipped[i].line, EXPECTED[i].first);
    EXPECT_EQ(skipped[i].why.compare(0, EXPECTED[i].second.size(), EXPECTED[i].second), 0) << skipped[i].why;
  }
  std::string data;
  ASSERT_TRUE(sim::GetValue(os::HKEY_LOCAL_MACHINE, "Software\\Maker", "Blob", &data));
  EXPECT_EQ(data.size(), 26u);
  EXPECT_EQ(data.back(), '\x19');
  EXPECT_TRUE(sim::GetValue(os::HKEY_LOCAL_MACHINE, "Software\\Maker", "After", nullptr));
  EXPECT_TRUE(sim::GetValue(os::HKEY_LOCAL_MACHINE, "Software\\Maker", "Still", nullptr));
  EXPECT_FALSE(sim::GetValue(os::HKEY_LOCAL_MACHINE, "Software\\Maker", "Note", nullptr));
  EXPECT_FALSE(sim::GetValue(os::HKEY_LOCAL_MACHINE, "Software\\Maker", "Bad", nullptr));
  ASSERT_TRUE(sim::GetValue(os::HKEY_USERS, ".DEFAULT\\Control Panel", "Crlf", &data));
  EXPECT_EQ(data, std::string("a\r\nb", 5));
  // Written back whole; a text with a line break as hex(1), so that the image reads back.
  std::string exported = uninstsim::ExportRegistry();
  EXPECT_NE(exported.find("[HKEY_USERS\\.DEFAULT\\Control Panel]\r\n\"Path\"=hex(2):25,57,25,00\r\n"
                          "\"Multi\"=hex(7):61,00,62,00,00\r\n\"Crlf\"=hex(1):61,0d,0a,62,00\r\n"),
            std::string::npos);
  sim::Reset();
  Load(exported);
  EXPECT_EQ(uninstsim::ExportRegistry(), exported);

  sim::Reset();
  EXPECT_FALSE(uninstsim::ImportRegistry(image, &error));
  EXPECT_EQ(error, "line 6: unterminated quoted text");
  EXPECT_FALSE(sim::KeyExists(os::HKEY_LOCAL_MACHINE, "Software\\Maker"));
}

// 64 levels and 320 bytes below the root are taken; a key line past them is unreadable.
TEST_F(SimRegistry, KeyLinesPastTheDepthOrLengthLimitsAreSkippedOrRefused) {
  std::string deep;
  for (int i = 0; i < 64; ++i)
    deep += "\\k";
  const std::string image = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE" + deep + "]\r\n\"a\"=\"1\"\r\n[HKEY_LOCAL_MACHINE" +
                            deep + "\\k]\r\n\"b\"=\"2\"\r\n[HKEY_LOCAL_MACHINE\\" + std::string(320, 'n') +
                            "]\r\n[HKEY_LOCAL_MACHINE\\" + std::string(321, 'n') + "]\r\n\"c\"=\"3\"\r\n";
  std::vector<uninstsim::SkippedLine> skipped;
  std::string error;
  ASSERT_TRUE(uninstsim::ImportRegistry(image, &error, &skipped)) << error;
  ASSERT_EQ(skipped.size(), 2u);
  EXPECT_EQ(skipped[0].line, 5u);
  EXPECT_EQ(skipped[0].why, "key path deeper than 64 levels; the key's values are skipped with it");
  EXPECT_EQ(skipped[1].line, 8u);
  EXPECT_EQ(skipped[1].why, "key path longer than 320 bytes; the key's values are skipped with it");
  EXPECT_TRUE(sim::GetValue(os::HKEY_LOCAL_MACHINE, deep.substr(1), "a", nullptr));
  EXPECT_TRUE(sim::KeyExists(os::HKEY_LOCAL_MACHINE, std::string(320, 'n')));
  EXPECT_EQ(sim::RegistryKeys().size(), 65u);

  sim::Reset();
  EXPECT_FALSE(uninstsim::ImportRegistry(image, &error));
  EXPECT_EQ(error, "line 5: key path deeper than 64 levels");
}

// A key line names its missing parents too, each written back with its whole path: an export
// of such lines is taken only as far as its own size allows.
TEST_F(SimRegistry, KeysNamedPerLineAreHeldToTheExportsSize) {
  std::string image = "REGEDIT4\r\n";
  for (int i = 0; i < 400; ++i) {
    image += "[HKEY_LOCAL_MACHINE\\" + std::to_string(i);
    for (int j = 0; j < 63; ++j)
      image += "\\k";
    image += "]\r\n";
  }
  std::vector<uninstsim::SkippedLine> skipped;
  std::string error;
  ASSERT_TRUE(uninstsim::ImportRegistry(image, &error, &skipped)) << error;
  ASSERT_FALSE(skipped.empty());
  EXPECT_EQ(skipped[0].why,
            "more keys and values than the reader takes from an image of this size; the key's values are skipped "
            "with it");
  EXPECT_LE(uninstsim::ExportRegistry().size(), 8 * image.size());
}

// Every walk of the tree goes without recursion: on a stack of 128 KiB, a chain of 5,000 keys.
TEST_F(SimRegistry, DeepTreesAreWalkedWithoutRecursion) {
  std::string path = "k";
  for (int i = 1; i < 5000; ++i)
    path += "\\k";
  sim::CreateKey(os::HKEY_LOCAL_MACHINE, path);
  auto walk = [](void *) -> void * {
    size_t exported = 0;
    uninstsim::ExportRegistry([&](const std::string &chunk) { exported += chunk.size(); });
    EXPECT_GT(exported, 25000000u);
    EXPECT_EQ(sim::RegistryKeys().size(), 5000u);
    EXPECT_EQ(os::RegDeleteKeyA(os::HKEY_LOCAL_MACHINE, "k"), 0);
    return nullptr;
  };
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 128 << 10);
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attributes, walk, nullptr), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_FALSE(sim::HasSubkeys(os::HKEY_LOCAL_MACHINE, ""));
  EXPECT_EQ(sim::MachineChanges().removedKeys.size(), 5000u);
}

TEST_F(SimRegistry, NamesIgnoreAsciiCaseOnlyAndKeepTheirSpelling) {
  Load("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\MiXed]\n\"VaLue\"=\"x\"\n\"\xC9t\xE9\"=\"y\"\n");
  os::HKEY hKey = Open("SOFTWARE\\mixed");
  char ucData[16] = "";
  os::DWORD ulLength = sizeof ucData;
  EXPECT_EQ(os::RegQueryValueExA(hKey, "value", nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &ulLength), 0);
  EXPECT_STREQ(ucData, "x");
  ulLength = sizeof ucData;
  // Bytes of 0x80 and above match only themselves.
  EXPECT_EQ(os::RegQueryValueExA(hKey, "\xE9t\xE9", nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &ulLength),
            2);
  char ucName[16];
  os::DWORD ulName = sizeof ucName;
  os::HKEY hParent = Open("software");
  EXPECT_EQ(os::RegEnumKeyExA(hParent, 0, ucName, &ulName, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(ucName, "MiXed");
  os::RegCloseKey(hParent);
  os::RegCloseKey(hKey);
}

TEST_F(SimRegistry, DeletingASubkeyShiftsTheFollowingOnesDownAndTakesTheSubtree) {
  Load(
      "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Class\\0002]\n[HKEY_LOCAL_MACHINE\\Class\\0000\\Deep\\Deeper]\n"
      "[HKEY_LOCAL_MACHINE\\Class\\0001]\n");
  os::HKEY hClass = Open("Class");
  char ucName[16];
  os::DWORD ulName = sizeof ucName;
  ASSERT_EQ(os::RegEnumKeyExA(hClass, 1, ucName, &ulName, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(ucName, "0000");  // insertion order, not name order
  EXPECT_EQ(os::RegDeleteKeyA(hClass, "0000"), 0);
  ulName = sizeof ucName;
  ASSERT_EQ(os::RegEnumKeyExA(hClass, 1, ucName, &ulName, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_STREQ(ucName, "0001");
  ulName = sizeof ucName;
  EXPECT_EQ(os::RegEnumKeyExA(hClass, 2, ucName, &ulName, nullptr, nullptr, nullptr, nullptr), 259);
  EXPECT_FALSE(sim::KeyExists(os::HKEY_LOCAL_MACHINE, "Class\\0000\\Deep"));
  EXPECT_EQ(os::RegDeleteKeyA(hClass, "0000"), 2);
  os::RegCloseKey(hClass);
}

TEST_F(SimRegistry, LengthRulesGive234AndLeaveTheBuffersAlone) {
  sim::SetStringValue(os::HKEY_LOCAL_MACHINE, "K", "Name", "abcd");
  sim::SetValue(os::HKEY_LOCAL_MACHINE, "K", "Dword", os::REG_DWORD, std::string("\x01\x02\x03\x04", 4));
  sim::CreateKey(os::HKEY_LOCAL_MACHINE, "K\\Sub");
  os::HKEY hKey = Open("K");
  char ucData[8] = "zzzzzzz";
  os::DWORD ulLength = 4;  // "abcd" needs 5 with its NUL
  EXPECT_EQ(os::RegQueryValueExA(hKey, "Name", nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &ulLength), 234);
  EXPECT_STREQ(ucData, "zzzzzzz");
  ulLength = 5;
  EXPECT_EQ(os::RegQueryValueExA(hKey, "Name", nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &ulLength), 0);
  EXPECT_STREQ(ucData, "abcd");
  EXPECT_EQ(ulLength, 5u);
  // Raw data is copied as it is, without a NUL of its own.
  std::memcpy(ucData, "zzzzzzz", 8);
  ulLength = 4;
  EXPECT_EQ(os::RegQueryValueExA(hKey, "Dword", nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &ulLength), 0);
  EXPECT_EQ(std::string(ucData, 7), std::string("\x01\x02\x03\x04zzz", 7));
  EXPECT_EQ(os::RegQueryValueExA(hKey, "Missing", nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &ulLength),
            2);

  char ucName[8] = "yyyyyyy";
  os::DWORD ulName = 4;  // "Name" needs 5
  os::DWORD ulData = sizeof ucData;
  EXPECT_EQ(
      os::RegEnumValueA(hKey, 0, ucName, &ulName, nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &ulData),
      234);
  EXPECT_STREQ(ucName, "yyyyyyy");
  ulName = sizeof ucName;
  ulData = 4;
  EXPECT_EQ(
      os::RegEnumValueA(hKey, 0, ucName, &ulName, nullptr, nullptr, reinterpret_cast<os::BYTE *>(ucData), &ulData),
      234);
  ulName = 3;
  EXPECT_EQ(os::RegEnumKeyExA(hKey, 0, ucName, &ulName, nullptr, nullptr, nullptr, nullptr), 234);
  ulName = 4;
  EXPECT_EQ(os::RegEnumKeyExA(hKey, 0, ucName, &ulName, nullptr, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(ulName, 3u);
  os::RegCloseKey(hKey);
}

TEST_F(SimRegistry, HandlesAreCheckedAndReported) {
  sim::CreateKey(os::HKEY_LOCAL_MACHINE, "K\\Sub");
  os::HKEY hKey = Open("K");
  os::HKEY hSub = Open("K\\Sub");
  EXPECT_EQ(sim::OpenHandles(),
            (std::vector<std::string>{"key HKEY_LOCAL_MACHINE\\K", "key HKEY_LOCAL_MACHINE\\K\\Sub"}));
  EXPECT_EQ(os::RegDeleteKeyA(hKey, "Sub"), 0);
  char ucName[8];
  os::DWORD ulName = sizeof ucName;
  EXPECT_EQ(os::RegEnumKeyExA(hSub, 0, ucName, &ulName, nullptr, nullptr, nullptr, nullptr), 1018);
  EXPECT_EQ(os::RegCloseKey(hSub), 0);
  EXPECT_EQ(os::RegCloseKey(hKey), 0);
  EXPECT_EQ(os::RegCloseKey(hKey), 6);
  EXPECT_EQ(os::RegEnumKeyExA(hKey, 0, ucName, &ulName, nullptr, nullptr, nullptr, nullptr), 6);
  EXPECT_EQ(sim::Problems().size(), 2u);
  EXPECT_EQ(os::RegCloseKey(os::HKEY_DYN_DATA), 0);
  sim::Reset();  // the fixture expects no problems of its own
}

TEST_F(SimRegistry, FaultsFailTheChosenCallOnlyAndClosesNeverCount) {
  sim::CreateKey(os::HKEY_LOCAL_MACHINE, "A");
  sim::CreateKey(os::HKEY_LOCAL_MACHINE, "B");
  sim::AddFault({sim::Call::RegOpenKeyEx, 2, 5, false, ""});
  sim::AddFault({sim::Call::Any, 1, 87, true, "HKEY_LOCAL_MACHINE\\b"});
  os::HKEY hKey = nullptr;
  EXPECT_EQ(os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, "A", 0, os::KEY_READ, &hKey), 0);
  EXPECT_EQ(os::RegCloseKey(hKey), 0);
  EXPECT_EQ(os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, "A", 0, os::KEY_READ, &hKey), 5);
  EXPECT_EQ(os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, "A", 0, os::KEY_READ, &hKey), 0);
  EXPECT_EQ(os::RegCloseKey(hKey), 0);
  EXPECT_EQ(os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, "B", 0, os::KEY_READ, &hKey), 87);
  EXPECT_EQ(os::RegOpenKeyExA(os::HKEY_LOCAL_MACHINE, "B", 0, os::KEY_READ, &hKey), 87);
  EXPECT_EQ(sim::CallCount(sim::Call::RegOpenKeyEx), 5);
  EXPECT_EQ(sim::CallCount(sim::Call::Any), 5);
}

}  // namespace

// uninst-sim --hive: Windows 9x registry files written by tests/support/HiveWriter, checked against
// libcreg's own cregexport so that the tests rest on the library's reading, then run through the
// tool beside the REGEDIT4 form of the same registry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/host/ToolTest.h"
#include "tests/support/HiveWriter.h"
#include "tools/uninst-sim/Load.h"
#include "tools/uninst-sim/UninstSim.h"

namespace fs = std::filesystem;

namespace {

using tooltest::MachineKeys;
using tooltest::ReadAll;
using tooltest::SAMPLES;
using tooltest::WriteAll;

const std::string HKLM = "HKEY_LOCAL_MACHINE";

std::string Command(const std::string &command) {
  std::string out;
  if (FILE *pPipe = ::popen(command.c_str(), "r")) {
    char ucChunk[4096];
    for (size_t n; (n = std::fread(ucChunk, 1, sizeof ucChunk, pPipe)) > 0;)
      out.append(ucChunk, n);
    EXPECT_EQ(::pclose(pPipe), 0) << command;
  }
  return out;
}

std::string HexBytes(const std::string &data) {
  std::string out;
  char ucByte[4];
  for (unsigned char c : data) {
    std::snprintf(ucByte, sizeof ucByte, "%02x", c);
    out += ucByte;
  }
  return out;
}

// Every key and value as "path | name | type | data in hex" lines, as cregexport shows them:
// names in UTF-8 (the five bytes code page 1252 lacks as U+FFFD), the root as the empty path.
std::vector<std::string> Items(const std::vector<sim::RegistryKey> &keys) {
  std::vector<std::string> items;
  for (const sim::RegistryKey &key : keys) {
    std::string path = sim::Utf8FromCp1252(key.path.substr(std::min(key.path.size(), HKLM.size() + 1)), true);
    items.push_back(path);
    for (const sim::RegistryValue &value : key.values)
      items.push_back(path + " | " + (value.name.empty() ? "(default)" : sim::Utf8FromCp1252(value.name, true)) +
                      " | " + std::to_string(value.dwType) + " | " + HexBytes(value.data));
  }
  return items;
}

// cregexport's text back to the same lines.
std::vector<std::string> ExportedItems(const std::string &text) {
  static const std::pair<const char *, int> TYPES[] = {
      {"(REG_NONE)", 0}, {"(REG_SZ)", 1}, {"(REG_BINARY)", 3}, {"(REG_DWORD_LITTLE_ENDIAN)", 4}, {"(REG_MULTI_SZ)", 7}};
  std::vector<std::string> items;
  std::istringstream lines(text);
  std::string line, path, value;
  unsigned long ulType = 0, ulSize = 0;
  std::string data;
  auto flush = [&] {
    if (!value.empty())
      items.push_back(path + " | " + value + " | " + std::to_string(ulType) + " | " + HexBytes(data));
    value.clear();
  };
  while (std::getline(lines, line)) {
    if (line.compare(0, 10, "Key path: ") == 0) {
      flush();
      path = line.substr(10);
      items.push_back(path);
    } else if (line.compare(0, 7, "Value: ") == 0) {
      flush();
      value = line.substr(line.find(' ', 7) + 1);
      data.clear();
    } else if (line.compare(0, 6, "Type: ") == 0) {
      ulType = line.compare(6, 9, "unknown: ") == 0 ? std::stoul(line.substr(15), nullptr, 16) : 999;
      for (const auto &type : TYPES) {
        if (line.size() > std::strlen(type.first) &&
            line.compare(line.size() - std::strlen(type.first), std::string::npos, type.first) == 0)
          ulType = static_cast<unsigned long>(type.second);
      }
    } else if (line.compare(0, 11, "Data size: ") == 0) {
      ulSize = std::stoul(line.substr(11));
    } else if (ulType == 4 && ulSize == 4 && line.compare(0, 6, "Data: ") == 0) {
      unsigned long ulDword = std::stoul(line.substr(6));
      for (int i = 0; i < 4; ++i)
        data += static_cast<char>((ulDword >> (8 * i)) & 0xFF);
    } else if (line.find_first_not_of("0123456789abcdef") == 8 && line.compare(8, 2, ": ") == 0) {
      std::istringstream bytes(line.substr(10));  // a hex dump line: 16 bytes, then them as text
      std::string byte;
      for (size_t n = std::min<size_t>(16, ulSize - data.size()); n > 0 && bytes >> byte; --n)
        data += static_cast<char>(std::stoul(byte, nullptr, 16));
    }
  }
  flush();
  return items;
}

class HiveTest : public tooltest::ToolTest {};

// What the tests rely on: the writer's files read by libcreg as the registry they were written
// from, and the tool taking them in as the same keys and values, in order.
TEST_F(HiveTest, WriterFilesReadBackThroughLibcregAsTheRegistryGiven) {
  std::vector<sim::RegistryKey> odd = {
      {HKLM + "\\Software", {}},
      {HKLM + "\\Software\\Zeta", {}},
      {HKLM + "\\Software\\Zeta\\K\xe9y\x81",
       {{"", 1, std::string("d\xe9\x80\0", 4)},
        {"NoNul", 1, "ab"},
        {"Empty", 3, ""},
        {"Word", 4, "\x01\x02\x03\xff"},
        {"Multi", 7, std::string("a\0b\0\0", 5)},
        {"Odd", 0x1234, "q"}}},
      {HKLM + "\\Software\\Alpha", {{"Na\x81me", 3, std::string(40, '\x5a')}}},
      {HKLM + "\\Enum", {{"X", 1, std::string("x\0", 2)}}},
  };
  struct Case {
    std::string name;
    std::vector<sim::RegistryKey> keys;
    size_t blockSize;
  };
  const Case cases[] = {{"odd", odd, 192},
                        {"win98", MachineKeys(SAMPLES + "win98/registry.reg"), 4096},
                        {"typical", MachineKeys(SAMPLES + "typical/registry.reg"), 65536}};
  for (const Case &c : cases) {
    fs::path file = scratch / (c.name + ".dat");
    WriteAll(file, hive::HiveImage(c.keys, c.blockSize));
    std::vector<std::string> expected = Items(c.keys);
    expected.insert(expected.begin(), "");  // the root
    EXPECT_EQ(ExportedItems(Command("cregexport -c windows-1252 '" + file.string() + "'")), expected) << c.name;

    sim::Reset();
    ASSERT_EQ(uninstsim::LoadHive(file.string()), "") << c.name;
    EXPECT_EQ(Items(sim::RegistryKeys()), Items(c.keys)) << c.name;
  }
}

TEST_F(HiveTest, SampleMachinesAsHivesGiveTheSamePreviewAsTheirRegistryReg) {
  for (const std::string machine : {"win98", "winme", "connected", "typical"}) {
    std::vector<sim::RegistryKey> keys = MachineKeys(SAMPLES + machine + "/registry.reg");
    WriteAll(scratch / (machine + ".reg"), uninstsim::RegeditImage(keys));
    WriteAll(scratch / "SYSTEM.DAT", hive::HiveImage(keys));
    std::vector<std::string> hive = {"--hive", (scratch / "SYSTEM.DAT").string()};
    if (machine == "win98") {  // as a registry backup too
      Command("cd '" + scratch.string() + "' && gcab -c -z -n RB001.CAB SYSTEM.DAT");
      hive[1] = (scratch / "RB001.CAB").string();
    }
    std::string error;
    int iRegedit = Run({"--machine", SAMPLES + machine, "--answers", "yes,no,no", "--registry",
                        (scratch / (machine + ".reg")).string()},
                       machine + "-reg", &error);
    ASSERT_NE(iRegedit, uninstsim::EXIT_TOOL_ERROR) << error;
    EXPECT_EQ(
        Run({"--machine", SAMPLES + machine, "--answers", "yes,no,no", hive[0], hive[1]}, machine + "-hive", &error),
        iRegedit)
        << machine << error;
    for (const char *pucFile : {"trace.txt", "registry.reg", "report.txt", "report.json", "undo.reg"})
      EXPECT_EQ(tooltest::RunFile(scratch / (machine + "-hive"), pucFile),
                tooltest::RunFile(scratch / (machine + "-reg"), pucFile))
          << machine << " " << pucFile;
    EXPECT_NE(ReadAll(scratch / (machine + "-hive") / "report.txt").find("no HKEY_DYN_DATA"), std::string::npos);
  }
}

TEST_F(HiveTest, DamagedOrForeignFilesAreRefusedWithOneLine) {
  std::string image = hive::HiveImage(MachineKeys(SAMPLES + "typical/registry.reg"));
  std::string loop = image;  // the third key's next sibling: the second key, its elder sibling or parent
  std::uint32_t ulBack = static_cast<std::uint32_t>(hive::EntryLink(1));
  std::memcpy(&loop[hive::EntryOffset(3) + hive::ENTRY_NEXT_SIBLING], &ulBack, 4);
  WriteAll(scratch / "loop.dat", loop);
  WriteAll(scratch / "cut.dat", image.substr(0, image.size() - 100));
  WriteAll(scratch / "text.dat", ReadAll(SAMPLES + "typical/registry.reg"));
  WriteAll(scratch / "other.txt", "x");
  Command("cd '" + scratch.string() + "' && gcab -c RB002.CAB other.txt");
  // Just past the limits of a key path: 65 levels, 321 bytes.
  std::string deep = HKLM;
  for (int i = 0; i < 65; ++i)
    deep += "\\k";
  WriteAll(scratch / "deep.dat", hive::HiveImage({{deep, {}}}));
  WriteAll(scratch / "long.dat", hive::HiveImage({{HKLM + "\\" + std::string(321, 'n'), {}}}));
  WriteAll(scratch / "SYSTEM.DAT", image);
  Command("cd '" + scratch.string() +
          "' && mkdir x && cp SYSTEM.DAT x/system.dat && gcab -c -n RB003.CAB SYSTEM.DAT x/system.dat");
  struct Case {
    std::vector<std::string> args;
    std::string line;
  };
  const Case cases[] = {
      {{"--hive", (scratch / "loop.dat").string()},
       (scratch / "loop.dat").string() + ": damaged registry file: the key entry at 0x94 links to the key entry " +
           "at 0x5c, reached before (a loop in the key hierarchy)"},
      {{"--hive", (scratch / "cut.dat").string()},
       (scratch / "cut.dat").string() +
           ": damaged registry file: cut short (data block 0 ends past the end of the file)"},
      {{"--hive", (scratch / "text.dat").string()},
       (scratch / "text.dat").string() + " is a REGEDIT4 export: give it with --registry"},
      {{"--hive", (scratch / "RB002.CAB").string()},
       (scratch / "RB002.CAB").string() + ": a cabinet without SYSTEM.DAT"},
      {{"--hive", (scratch / "none.dat").string()},
       "cannot read " + (scratch / "none.dat").string() + ": No such file or directory"},
      {{"--hive", (scratch / "deep.dat").string()},
       (scratch / "deep.dat").string() + ": a key path deeper than 64 levels (" + deep.substr(HKLM.size() + 1, 60) +
           "...)"},
      {{"--hive", (scratch / "long.dat").string()},
       (scratch / "long.dat").string() + ": a key path longer than 320 bytes (" + std::string(60, 'n') + "...)"},
      {{"--hive", (scratch / "RB003.CAB").string()},
       (scratch / "RB003.CAB").string() + ": a cabinet holding 2 files named SYSTEM.DAT"},
      {{"--hive", "x", "--registry", "y"},
       "--registry and --hive both give the registry: give one (uninst-sim --help)"},
  };
  for (const Case &c : cases) {
    std::string error;
    EXPECT_EQ(Run(c.args, "refused", &error), uninstsim::EXIT_TOOL_ERROR) << c.line;
    EXPECT_EQ(error, "uninst-sim: " + c.line + "\n");
    EXPECT_FALSE(fs::exists(scratch / "refused")) << c.line;
  }
  // The size cap holds for a disk's SYSTEM.DAT too, read through LoadHiveBytes.
  EXPECT_EQ(uninstsim::LoadHiveBytes(image + std::string((64u << 20) + 1 - image.size(), '\0'), "C:\\SYSTEM.DAT"),
            "C:\\SYSTEM.DAT: over 64 MiB, too large for a registry file");
}

// Just inside the limits, and 20,000 keys in one data block, which libcreg's own lookup reads in
// a time growing with the square of the keys (46 s in a release build; here 0.3 s).
TEST_F(HiveTest, KeysAtTheLimitsAndManyInOneBlockAreTakenInOrder) {
  std::vector<sim::RegistryKey> keys = {{HKLM + "\\" + std::string(320, 'n'), {}}};
  std::string deep = HKLM;
  for (int i = 0; i < 64; ++i)
    deep += "\\k";
  keys.push_back({deep, {{"v", 4, std::string("\x01\0\0\0", 4)}}});
  for (int i = 0; i < 20000; ++i)
    keys.push_back({HKLM + "\\Many\\" + std::to_string(i), {}});
  keys.insert(keys.end() - 20000, {HKLM + "\\Many", {}});
  sim::Reset();
  ASSERT_EQ(uninstsim::LoadHiveBytes(hive::HiveImage(keys, 1u << 20), "SYSTEM.DAT"), "");
  std::vector<sim::RegistryKey> read = sim::RegistryKeys();
  ASSERT_EQ(read.size(), 64 + 1 + 20001u);
  EXPECT_EQ(Items({read[64]}), Items({keys[1]}));
  EXPECT_EQ(read.back().path, HKLM + "\\Many\\19999");
  EXPECT_EQ(read[65 + 1].path, HKLM + "\\Many\\0");
}

}  // namespace

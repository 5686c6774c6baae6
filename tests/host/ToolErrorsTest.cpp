// uninst-sim facing a user's mistakes: each is refused with exit code 2 and one line that says what
// is wrong and what to give instead.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "tests/host/ToolTest.h"
#include "tools/uninst-sim/UninstSim.h"

namespace fs = std::filesystem;

namespace {

using tooltest::ReadAll;
using tooltest::SAMPLES;
using tooltest::WriteAll;

class ToolErrorsTest : public tooltest::ToolTest {
 protected:
  // The tool's standard error for args, checked to be a refusal in one line that leaves no record.
  std::string Refusal(const std::vector<std::string> &args) {
    std::string err;
    EXPECT_EQ(Run(args, "out", &err), uninstsim::EXIT_TOOL_ERROR) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_FALSE(fs::exists(scratch / "out"));
    return err;
  }
  std::string Write(const std::string &name, const std::string &bytes) {
    WriteAll(scratch / name, bytes);
    return (scratch / name).string();
  }
  // The bytes of a sector holding signature at offset.
  static std::string Sector(size_t offset, const std::string &signature) {
    std::string sector(512, '\0');
    return sector.replace(offset, signature.size(), signature);
  }
  // A bare FAT volume holding no file.
  std::string EmptyFatImage() {
    std::string image = Write("empty.img", "");
    fs::resize_file(image, 2048 * 512);
    EXPECT_EQ(std::system(("MTOOLS_SKIP_CHECK=1 mformat -i '" + image + "' -T 2048 :: >/dev/null").c_str()), 0);
    return image;
  }
};

TEST_F(ToolErrorsTest, AFileGivenToTheWrongOptionIsNamedWithTheOptionThatTakesIt) {
  const std::string hive = std::string(UNINST_SOURCE_DIR) + "/tests/data/hive/SYSTEM.DAT";
  const std::string cabinet = std::string(UNINST_SOURCE_DIR) + "/tests/data/hive/RB000.CAB";
  const std::string regedit = SAMPLES + "win98/registry.reg";
  const std::string twice = Write("twice.reg", "REGEDIT4\r\r\n\r\r\n[HKEY_LOCAL_MACHINE\\Software]\r\r\n");
  const std::string fatImage = EmptyFatImage();
  const std::string laterExport = "an export made by Windows 2000 or later, not a Windows 98/ME export";
  const std::string toDisk = "is a disk image: give it with --disk";
  struct Case {
    std::string option, file, message;
  };
  const Case cases[] = {
      {"--registry", hive, hive + " is a Windows 9x registry file: give it with --hive"},
      {"--registry", cabinet, "is a cabinet: give it with --hive"},
      {"--registry", Write("utf16.reg", std::string("\xFF\xFEW\0i\0n\0", 8)), laterExport},
      {"--registry", Write("v5.reg", "Windows Registry Editor Version 5.00\r\n\r\n"), laterExport},
      {"--registry", twice, "converted twice (CR CR LF): convert them back once (as dos2unix does)\n"},
      {"--registry", fatImage, toDisk},
      {"--hive", regedit, regedit + " is a REGEDIT4 export: give it with --registry"},
      {"--hive", twice, "convert them back once (as dos2unix does) and give it with --registry"},
      {"--hive", fatImage, toDisk},
      {"--hive", Write("mbr.img", Sector(510, "\x55\xAA")), toDisk},
      {"--hive", Write("a.qcow2", Sector(0, "QFI\xFB")), toDisk},
      {"--hive", Write("a.vmdk", Sector(0, "KDMV")), toDisk},
      {"--hive", Write("a.vhd", Sector(0, "conectix")), toDisk},
      {"--hive", Write("a.vhdx", Sector(0, "vhdxfile")), toDisk},
      {"--hive", Write("a.vdi", Sector(0x40, "\x7F\x10\xDA\xBE")), toDisk},
      {"--disk", regedit, "is a REGEDIT4 export: give it with --registry"},
      {"--disk", hive, "is a Windows 9x registry file: give it with --hive"},
      {"--disk", fatImage, "no C:\\WINDOWS\\SYSTEM.DAT on the disk: give --hive or --registry"},
      // A file of no kind known keeps the reader's own word.
      {"--hive", Write("note.txt", "hello"), "note.txt: not a Windows 9x registry file (no CREG signature)\n"},
  };
  for (const Case &c : cases)
    EXPECT_NE(Refusal({c.option, c.file}).find(c.message), std::string::npos) << c.option << " " << c.file;
}

TEST_F(ToolErrorsTest, AFileThatCannotBeReadIsRefusedWithTheSystemsReason) {
  const std::string none = (scratch / "nothere").string();
  for (const char *pucOption : {"--registry", "--hive"}) {
    EXPECT_NE(Refusal({pucOption, none}).find("cannot read " + none + ": No such file or directory\n"),
              std::string::npos);
    EXPECT_NE(Refusal({pucOption, scratch.string()}).find(": Is a directory\n"), std::string::npos);
  }
  EXPECT_NE(Refusal({"--disk", none}).find("cannot read the disk image " + none + ": No such file or directory\n"),
            std::string::npos);
  EXPECT_NE(Refusal({"--disk", Write("short.img", "\xEB")}).find(": shorter than one sector"), std::string::npos);
}

TEST_F(ToolErrorsTest, AMistakenOptionOrValueIsNamedWithWhatItTakes) {
  fs::path machine = scratch / "machine";
  fs::copy(SAMPLES + "win98", machine, fs::copy_options::recursive);
  WriteAll(machine / "answers.txt", "yes\r\nmaybe\r\n");
  const std::string win98 = SAMPLES + "win98";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--machin", win98}, "uninst-sim: unknown option --machin: did you mean --machine? (uninst-sim --help)\n"},
      {{"--registyr", "x.reg"}, "unknown option --registyr: did you mean --registry?"},
      {{"-machine", win98}, "unknown option -machine: did you mean --machine?"},
      {{"--frobnicate", "x"}, "uninst-sim: unknown option --frobnicate (uninst-sim --help)\n"},
      {{"--answers", "yes,nope,no"}, "--answers: word 2, \"nope\", is neither yes nor no: give yes/no, y/n or oui/non"},
      {{"--answers", "yes,,no"}, "--answers: word 2 is empty"},
      {{"--answers", "y," + std::string(200, 'x')}, "word 2, \"" + std::string(40, 'x') + "...\", is"},
      {{"--answers", "no,\x1b[2J"}, "word 2, \"\\x1B[2J\", is"},
      {{"--machine", machine.string()}, (machine / "answers.txt").string() + ": word 2, \"maybe\", is neither"},
      {{"--machine", win98, "--in-use", "WINDOWS\\SYSTEM\\X.SYS"},
       "--in-use WINDOWS\\SYSTEM\\X.SYS: a C:\\ path is needed, such as C:\\WINDOWS\\SYSTEM\\X.SYS\n"},
      {{"--machine", win98, "--in-use", "D:\\X.SYS"}, "--in-use D:\\X.SYS: a C:\\ path is needed, the file's"},
  };
  for (const Case &c : cases) {
    std::string err = Refusal(c.args);
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(err.find("did you mean") != std::string::npos, c.message.find("did you mean") != std::string::npos)
        << err;
  }
}

TEST_F(ToolErrorsTest, TheOutputFolderIsNewOrEmpty) {
  auto run = [](const fs::path &out, std::string *pErr) {
    std::ostringstream stdOut, stdErr;
    int iExitCode =
        uninstsim::RunTool({"--machine", SAMPLES + "win98", "--quiet", "--out", out.string()}, stdOut, stdErr, nullptr);
    *pErr = stdErr.str();
    return iExitCode;
  };
  std::string err;
  fs::create_directories(scratch / "empty");
  EXPECT_EQ(run(scratch / "empty", &err), 0) << err;
  EXPECT_TRUE(fs::exists(scratch / "empty" / "report.txt"));

  fs::create_directories(scratch / "full");
  WriteAll(scratch / "full" / "old.txt", "earlier");
  EXPECT_EQ(run(scratch / "full", &err), uninstsim::EXIT_TOOL_ERROR);
  EXPECT_EQ(err, "uninst-sim: --out " + (scratch / "full").string() + " is not empty: give a new or an empty folder\n");
  EXPECT_EQ(ReadAll(scratch / "full" / "old.txt"), "earlier");
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch / "full"), fs::directory_iterator()), 1);

  EXPECT_EQ(run(scratch / "full" / "old.txt", &err), uninstsim::EXIT_TOOL_ERROR);
  EXPECT_NE(err.find("old.txt is not a folder\n"), std::string::npos) << err;
}

}  // namespace

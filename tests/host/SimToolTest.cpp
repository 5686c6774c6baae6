// uninst-sim run in-process on the bundled sample machines: exit codes, what the report says,
// and the undo image giving back the registry the run started from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include <sys/stat.h>

#include <nlohmann/json.hpp>

#include "tests/host/ToolTest.h"
#include "tools/formats/Printable.h"
#include "tools/uninst-sim/Load.h"
#include "tools/uninst-sim/UninstSim.h"

namespace fs = std::filesystem;

namespace {

using tooltest::ReadAll;
using tooltest::SAMPLES;

// Every file of a folder with its bytes, by relative path (upper-cased when fFold: Windows names
// are case-insensitive, and the drive keeps the case a file was created with).
std::map<std::string, std::string> Tree(const fs::path &folder, bool fFold = false) {
  std::map<std::string, std::string> files;
  for (const auto &entry : fs::recursive_directory_iterator(folder)) {
    if (!entry.is_regular_file())
      continue;
    std::string name = fs::relative(entry.path(), folder).string();
    if (fFold)
      std::transform(name.begin(), name.end(), name.begin(), ::toupper);
    files[name] = ReadAll(entry.path());
  }
  return files;
}

// A registry as (key, value name, type, data) items, the order of keys and values aside.
std::set<std::string> Items(const std::string &image) {
  std::string error;
  sim::Reset();
  EXPECT_TRUE(uninstsim::ImportRegistry(image, &error)) << error;
  std::set<std::string> items;
  for (const sim::RegistryKey &key : sim::RegistryKeys()) {
    items.insert(key.path);
    for (const sim::RegistryValue &value : key.values)
      items.insert(key.path + " | " + value.name + " | " + std::to_string(value.dwType) + " | " + value.data);
  }
  return items;
}

struct ToolRun {
  int iExitCode;
  std::string out;
  std::string err;
  fs::path folder;
  std::string File(const std::string &name) const {
    return ReadAll(folder / name);
  }
};

class SimToolTest : public tooltest::ToolTest {
 protected:
  ToolRun Run(std::vector<std::string> args, std::istream *pTerminal = nullptr) {
    ToolRun run{0, "", "", scratch / ("run" + std::to_string(++runs))};
    args.push_back("--out");
    args.push_back(run.folder.string());
    std::ostringstream out;
    std::ostringstream err;
    run.iExitCode = uninstsim::RunTool(args, out, err, pTerminal);
    run.out = out.str();
    run.err = err.str();
    return run;
  }
  // The image's registry and that of the run with its undo image imported on top hold the same
  // keys and values.
  void ExpectUndoRestores(const std::string &machine, const ToolRun &run) {
    std::set<std::string> original = Items(ReadAll(SAMPLES + machine + "/registry.reg"));
    std::string error;
    sim::Reset();
    ASSERT_TRUE(uninstsim::ImportRegistry(run.File("registry.reg"), &error)) << error;
    ASSERT_TRUE(uninstsim::ImportRegistry(run.File("undo.reg"), &error)) << error;
    std::set<std::string> restored = Items(uninstsim::ExportRegistry());
    EXPECT_EQ(restored, original);
    sim::Reset();
  }

  int runs = 0;
};

TEST_F(SimToolTest, Win98DefaultRunRemovesThePackageAndReportsIt) {
  std::map<std::string, std::string> image = Tree(SAMPLES + "win98");
  ToolRun run = Run({"--machine", SAMPLES + "win98", "--quiet"});
  ASSERT_EQ(run.iExitCode, 0) << run.err;
  EXPECT_EQ(Tree(SAMPLES + "win98"), image) << "the image itself must stay untouched";

  std::string report = run.File("report.txt");
  EXPECT_NE(report.find("Dialogs (3)"), std::string::npos);
  EXPECT_NE(report.find("-> yes"), std::string::npos);
  EXPECT_NE(report.find("  HKEY_LOCAL_MACHINE\\Software\\VRAX (3 keys, vendor key)\n"), std::string::npos);
  EXPECT_NE(report.find("  HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\USB\\0004 (1 key, driver "
                        "node)\n"),
            std::string::npos);
  EXPECT_NE(report.find("Registry values removed (3)"), std::string::npos);
  EXPECT_NE(report.find("Registry values found and left (1)\n  HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\"
                        "CurrentVersion\\Setup\\SetupX\\INF\\OEM Name : \"C:\\WINDOWS\\INF\\OTHER\\TalvoRWQUSB.INF\""),
            std::string::npos);
  EXPECT_NE(report.find("Files deleted (6)"), std::string::npos);
  EXPECT_NE(report.find("Files queued for deletion at the next boot (0)"), std::string::npos);
  EXPECT_NE(report.find("Restart requested: no\nExit code: 0\n"), std::string::npos);
  EXPECT_EQ(report.find("Class\\USB\\0003"), std::string::npos) << "another maker's node was reported removed";

  nlohmann::json json = nlohmann::json::parse(run.File("report.json"));
  EXPECT_EQ(json["exitCode"], 0);
  EXPECT_NE(
      std::find(json["registryKeysRemoved"].begin(), json["registryKeysRemoved"].end(),
                nlohmann::json{{"key", "HKEY_LOCAL_MACHINE\\Software\\VRAX"}, {"keyCount", 3}, {"kind", "vendor key"}}),
      json["registryKeysRemoved"].end());
  EXPECT_NE(json["dialogs"][0]["text"].get<std::string>().find("associés"), std::string::npos)
      << "texts are UTF-8 in the JSON report";

  std::map<std::string, std::string> drive = Tree(run.folder / "drive");
  EXPECT_EQ(drive.count("WINDOWS/SYSTEM/KXUSBPRT.SYS"), 0u);
  EXPECT_EQ(drive.count("WINDOWS/SYSTEM/PQUSBPRN.SYS"), 1u);
  EXPECT_EQ(drive.count("WINDOWS/INF/OTHER/PellucidRWQP20.INF"), 1u);
  EXPECT_EQ(drive["WINDOWS/WININIT.INI"], image["drive/WINDOWS/WININIT.INI"]);
  ExpectUndoRestores("win98", run);
}

TEST_F(SimToolTest, TraceFileHoldsEveryLineAsWritten) {
  ToolRun run = Run({"--machine", SAMPLES + "win98"});
  ASSERT_EQ(run.iExitCode, 0) << run.err;
  std::string trace = run.File("trace.txt");
  EXPECT_EQ(trace.compare(0, 17, " OsVersion <10> \n"), 0);
  EXPECT_NE(trace.find(" Deleting File <C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS> result 0\n"), std::string::npos);
  // Standard output shows the boxes and, in order, the same lines.
  EXPECT_LT(run.out.find("== box [Suppression de pilote USB]"), run.out.find(" OsVersion <10> \n"));
  EXPECT_NE(run.out.find(trace.substr(0, 200)), std::string::npos);
  EXPECT_NE(run.out.find("Output written to " + run.folder.string() + "\n"), std::string::npos);
}

TEST_F(SimToolTest, WinMeDriverInUseGoesToWinInitAndTheShortFormIsCleaned) {
  ToolRun run = Run({"--machine", SAMPLES + "winme", "--quiet"});
  ASSERT_EQ(run.iExitCode, 0) << run.err;
  std::string trace = run.File("trace.txt");
  EXPECT_NE(trace.find(" OsVersion <90> \n"), std::string::npos);
  EXPECT_NE(trace.find("Found #2 printer <"), std::string::npos);
  EXPECT_NE(trace.find(" Opened key <USB\\VID_7A11&PID_0051\\10001> result 0\n"), std::string::npos);
  EXPECT_NE(trace.find(" Deleting File <C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS> result 5\n"), std::string::npos);

  std::string report = run.File("report.txt");
  EXPECT_NE(report.find("  C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS by WinInit.ini\n"), std::string::npos);
  EXPECT_NE(report.find("WinInit.ini lines added (2)\n  [Rename]\n  NUL=C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS\n"),
            std::string::npos);
  EXPECT_NE(report.find("DeviceClasses\\{7A110051-3C2E-4B1A-9F00-5441564F0001} (2 keys, interface class)"),
            std::string::npos);
  // The short-form instance key itself stays.
  EXPECT_NE(run.File("registry.reg").find("[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_7A11&PID_0051\\10001]"),
            std::string::npos);
  std::map<std::string, std::string> drive = Tree(run.folder / "drive", true);
  EXPECT_EQ(drive["WINDOWS/WININIT.INI"], "[Rename]\r\nNUL=C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS\r\n");
  EXPECT_EQ(drive.count("WINDOWS/SYSTEM/KXUSBPRT.SYS"), 1u);
  ExpectUndoRestores("winme", run);
}

TEST_F(SimToolTest, MoveFileExQueuesInPlaceOfWinInit) {
  ToolRun run = Run({"--machine", SAMPLES + "winme", "--movefileex", "--quiet"});
  ASSERT_EQ(run.iExitCode, 0) << run.err;
  std::string report = run.File("report.txt");
  EXPECT_NE(report.find("  C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS by MoveFileEx\n"), std::string::npos);
  EXPECT_NE(report.find("WinInit.ini lines added (0)"), std::string::npos);
  EXPECT_EQ(Tree(run.folder / "drive", true).count("WINDOWS/WININIT.INI"), 0u);
}

TEST_F(SimToolTest, ConnectedPrinterRefusesAndChangesNothing) {
  ToolRun run = Run({"--machine", SAMPLES + "connected", "--quiet"});
  EXPECT_EQ(run.iExitCode, 5) << run.err;
  EXPECT_EQ(Items(run.File("registry.reg")), Items(ReadAll(SAMPLES + "connected/registry.reg")));
  EXPECT_EQ(Tree(run.folder / "drive"), Tree(SAMPLES + "connected/drive"));
  std::string report = run.File("report.txt");
  EXPECT_NE(report.find("Dialogs (2)"), std::string::npos);
  EXPECT_NE(report.find("-> ok"), std::string::npos);
  EXPECT_NE(report.find("Registry keys removed (0 keys in 0 subtrees)"), std::string::npos);
  EXPECT_EQ(run.File("undo.reg"), "REGEDIT4\r\n\r\n");
}

TEST_F(SimToolTest, AnswersDecideWhetherAndHowFarTheRunGoes) {
  struct Case {
    std::string answers;
    int iExitCode;
    bool fRemoves;
    bool fRestart;
  };
  const Case cases[] = {
      {"no", 5, false, false}, {"y,oui", 5, false, false}, {"YES,N,O", 0, true, true}, {"oui,non,non", 0, true, false}};
  for (const Case &c : cases) {
    ToolRun run = Run({"--machine", SAMPLES + "win98", "--answers", c.answers, "--quiet"});
    EXPECT_EQ(run.iExitCode, c.iExitCode) << c.answers << run.err;
    std::string report = run.File("report.txt");
    EXPECT_EQ(report.find("Registry keys removed (0 keys") == std::string::npos, c.fRemoves) << c.answers;
    EXPECT_EQ(report.find("Restart requested: yes") != std::string::npos, c.fRestart) << c.answers;
  }
}

TEST_F(SimToolTest, MissingAnswersAreAskedOnATerminalOrEndTheRunWithCode2) {
  ToolRun stopped = Run({"--machine", SAMPLES + "win98", "--answers", "yes", "--quiet"});
  EXPECT_EQ(stopped.iExitCode, uninstsim::EXIT_TOOL_ERROR);
  EXPECT_EQ(stopped.err.find("uninst-sim: no answer for the box [Confirmation] Le dossier [Imprimante]"), 0u)
      << stopped.err;
  EXPECT_FALSE(fs::exists(stopped.folder)) << "a run without its answers writes nothing";

  std::istringstream terminal("peut-etre\nnon\nnon\n");
  ToolRun asked = Run({"--machine", SAMPLES + "win98", "--answers", "yes", "--quiet"}, &terminal);
  EXPECT_EQ(asked.iExitCode, 0) << asked.err;
  EXPECT_NE(asked.out.find("Oui/Non ? "), std::string::npos);
  EXPECT_NE(asked.File("report.txt").find("Files deleted (6)"), std::string::npos);
}

TEST_F(SimToolTest, ToolErrorsExitWith2AndOneLine) {
  std::ofstream(scratch / "bad.reg") << "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software]\r\n\"x\"=dword:zz\r\n";
  std::ofstream(scratch / "nohead.reg") << "[HKEY_LOCAL_MACHINE\\Software]\r\n";
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--frobnicate"}, "uninst-sim: unknown option --frobnicate"},
      {{"--in-use", "C:\\A", "C:\\B"}, "not expected: C:\\B"},
      {{"--answers", "maybe"}, "uninst-sim: --answers: word 1, \"maybe\", is neither yes nor no"},
      {{"--os", "vista"}, "uninst-sim: --os: takes 98, me"},
      {{"--machine"}, "uninst-sim: --machine needs a value"},
      {{"--machine", (scratch / "none").string()}, "uninst-sim: no machine image folder"},
      {{"--registry", (scratch / "bad.reg").string(), "--strict"},
       "uninst-sim: " + (scratch / "bad.reg").string() + ": line 4: "},
      {{"--registry", (scratch / "nohead.reg").string()}, "line 1: REGEDIT4 header expected"},
      {{"--registry", (scratch / "missing.reg").string()}, "uninst-sim: cannot read "},
      {{"--machine", SAMPLES + "win98", "--in-use", "C:\\WINDOWS\\SYSTEM\\NOPE.SYS"}, "no such file on the machine"},
  };
  for (const Case &c : cases) {
    ToolRun run = Run(c.args);
    EXPECT_EQ(run.iExitCode, uninstsim::EXIT_TOOL_ERROR) << c.message;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

TEST_F(SimToolTest, ARegeditExportHasNoDynamicDataAndTheReportSaysSo) {
  // A customer's export of the connected machine: without HKEY_DYN_DATA nothing is connected.
  std::string image = ReadAll(SAMPLES + "connected/registry.reg");
  image = image.substr(0, image.find("[HKEY_DYN_DATA"));
  std::ofstream(scratch / "customer.reg", std::ios::binary) << image;
  ToolRun run = Run({"--registry", (scratch / "customer.reg").string(), "--answers", "yes,no,no", "--quiet"});
  ASSERT_EQ(run.iExitCode, 0) << run.err;
  std::string report = run.File("report.txt");
  EXPECT_NE(report.find("Note: the registry has no HKEY_DYN_DATA"), std::string::npos);
  EXPECT_NE(report.find("Class\\USB\\0004 (1 key, driver node)"), std::string::npos);
  EXPECT_NE(report.find("Files deleted (0)"), std::string::npos) << "the drive is an empty Windows tree";
}

TEST_F(SimToolTest, AnExportIsPreviewedPastItsUnreadableLinesWhichAreNamed) {
  std::string clean = ReadAll(SAMPLES + "connected/registry.reg");
  clean = clean.substr(0, clean.find("[HKEY_DYN_DATA"));
  // Lines 3 to 7: a text with a raw line break, a key under no root with its value.
  std::string image =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n\"Note\"=\"one\r\ntwo\"\r\n"
      "[HKEY_BOGUS\\X]\r\n\"v\"=\"1\"\r\n\r\n" +
      clean.substr(std::string("REGEDIT4\r\n\r\n").size()) +
      "[HKEY_USERS\\.DEFAULT\\Software\\Other]\r\n\"Kept\"=hex(7):61,00,00\r\n\x1a";
  std::ofstream(scratch / "clean.reg", std::ios::binary) << clean;
  std::ofstream(scratch / "customer.reg", std::ios::binary) << image;
  const std::string file = (scratch / "customer.reg").string();
  ToolRun reference = Run({"--registry", (scratch / "clean.reg").string(), "--answers", "yes,no,no", "--quiet"});
  ToolRun run = Run({"--registry", file, "--answers", "yes,no,no", "--quiet"});
  ASSERT_EQ(run.iExitCode, 0) << run.err;
  std::string report = run.File("report.txt");
  std::string section = "Registry export lines skipped (3)\n  " + file + ": line 4: unterminated quoted text\n  " +
                        file + ": line 5: value or key line expected\n  " + file +
                        ": line 6: unknown root 'HKEY_BOGUS'";
  EXPECT_NE(report.find("Restart requested: no\n" + section), std::string::npos) << report;
  std::string removed = tooltest::RunFile(reference.folder, "report.txt");
  removed = removed.substr(0, removed.find("Restart requested"));
  EXPECT_EQ(tooltest::RunFile(run.folder, "report.txt").compare(0, removed.size(), removed), 0)
      << "the garbage changed the preview";
  nlohmann::json json = nlohmann::json::parse(run.File("report.json"));
  ASSERT_EQ(json["skippedLines"].size(), 3u);
  EXPECT_EQ(json["skippedLines"][1], (nlohmann::json{{"file", file},
                                                     {"line", 5},
                                                     {"why", "value or key line expected"},
                                                     {"key", "HKEY_LOCAL_MACHINE\\Software\\Other"},
                                                     {"mayChangePreview", false}}));
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 4) << run.err;
  EXPECT_NE(run.err.find("uninst-sim: " + file + ": line 6: unknown root"), std::string::npos) << run.err;
  EXPECT_NE(run.File("registry.reg").find("[HKEY_USERS\\.DEFAULT\\Software\\Other]\r\n\"Kept\"=hex(7):61,00,00\r\n"),
            std::string::npos);

  ToolRun strict = Run({"--registry", file, "--answers", "yes,no,no", "--quiet", "--strict"});
  EXPECT_EQ(strict.iExitCode, uninstsim::EXIT_TOOL_ERROR);
  EXPECT_EQ(strict.err, "uninst-sim: " + file + ": line 4: unterminated quoted text\n");
}

// The sample's drive copied under the given spellings of its folders and WinInit.ini.
fs::path RespelledImage(const fs::path &scratch, const std::string &sample, const std::vector<std::string> &names) {
  fs::path image = scratch / ("image-" + names[0]);
  fs::copy(SAMPLES + sample, image, fs::copy_options::recursive);
  fs::path windows = image / "drive" / names[0];
  fs::rename(image / "drive" / "WINDOWS", windows);
  fs::rename(windows / "SYSTEM", windows / names[1]);
  fs::rename(windows / "INF", windows / names[2]);
  fs::rename(windows / names[2] / "OTHER", windows / names[2] / names[3]);
  fs::rename(windows / "WININIT.INI", windows / names[4]);
  return image;
}

TEST_F(SimToolTest, AnImageSpelledInAnyCaseGivesTheSameRun) {
  fs::path upper = RespelledImage(scratch, "win98", {"WINDOWS", "SYSTEM", "INF", "OTHER", "WININIT.INI"});
  fs::path lower = RespelledImage(scratch, "win98", {"windows", "System", "inf", "other", "wininit.ini"});
  const std::vector<std::string> args = {"--answers", "yes,no,no", "--quiet", "--in-use",
                                         "c:\\Windows\\system\\kxusbadd.dll"};
  std::vector<std::string> upperArgs = args;
  upperArgs.insert(upperArgs.end(), {"--machine", upper.string()});
  std::vector<std::string> lowerArgs = args;
  lowerArgs.insert(lowerArgs.end(), {"--machine", lower.string()});
  ToolRun a = Run(upperArgs);
  ToolRun b = Run(lowerArgs);
  ASSERT_EQ(a.iExitCode, 0) << a.err;
  ASSERT_EQ(b.iExitCode, 0) << b.err;
  for (const char *pucFile : {"trace.txt", "registry.reg", "report.txt", "report.json", "undo.reg"})
    EXPECT_EQ(tooltest::RunFile(a.folder, pucFile), tooltest::RunFile(b.folder, pucFile)) << pucFile;
  EXPECT_NE(a.File("report.txt").find("NUL=C:\\WINDOWS\\SYSTEM\\KXUSBADD.DLL"), std::string::npos);
  EXPECT_EQ(Tree(a.folder / "drive", true), Tree(b.folder / "drive", true));
  // Nothing was made beside the image's own folders, and they keep its spelling.
  EXPECT_TRUE(fs::exists(b.folder / "drive" / "windows" / "System" / "kxusbadd.dll") ||
              fs::exists(b.folder / "drive" / "windows" / "System" / "KXUSBADD.DLL"));
  EXPECT_TRUE(fs::exists(b.folder / "drive" / "windows" / "wininit.ini"));
  EXPECT_EQ(std::distance(fs::directory_iterator(b.folder / "drive"), fs::directory_iterator()), 1);
}

TEST_F(SimToolTest, HostNamesReachTheProgramInCodePage1252) {
  fs::path image = RespelledImage(scratch, "win98", {"WINDOWS", "SYSTEM", "INF", "OTHER", "WININIT.INI"});
  fs::path other = image / "drive" / "WINDOWS" / "INF" / "OTHER";
  fs::rename(other / "TalvoRWQUSB.INF", other / "TalvoRWQ\xc3\xa9.INF");
  ToolRun run = Run({"--machine", image.string(), "--answers", "yes,no,no", "--quiet"});
  ASSERT_EQ(run.iExitCode, 0) << run.err;
  EXPECT_NE(run.File("trace.txt").find(" Deleting File <C:\\WINDOWS\\INF\\OTHER\\TalvoRWQ\xe9.INF> result 0\n"),
            std::string::npos);
  EXPECT_NE(run.File("report.txt").find("C:\\WINDOWS\\INF\\OTHER\\TalvoRWQ\xc3\xa9.INF"), std::string::npos);
  EXPECT_FALSE(fs::exists(run.folder / "drive" / "WINDOWS" / "INF" / "OTHER" / "TalvoRWQ\xc3\xa9.INF"));
}

TEST_F(SimToolTest, ImagesWindowsCannotHoldAreRefusedWithOneLine) {
  struct Case {
    std::string name;
    std::function<void(const fs::path &system)> spoil;
    std::string message;
  };
  const Case cases[] = {
      {"link", [](const fs::path &system) { fs::create_symlink("/etc", system / "ETC"); }, "a symbolic link"},
      {"twins", [](const fs::path &system) { std::ofstream(system / "kxusbprt.sys") << "x"; }, "differs only in case"},
      {"latin1", [](const fs::path &system) { std::ofstream(system / "A\xe9.DLL") << "x"; }, "no code page 1252 form"},
      {"beyond", [](const fs::path &system) { std::ofstream(system / "A\xc4\x80.DLL") << "x"; },
       "no code page 1252 form"},
      {"fifo", [](const fs::path &system) { ::mkfifo((system / "PIPE").c_str(), 0644); }, "neither a plain file"},
      {"colon", [](const fs::path &system) { std::ofstream(system / "A:B.DLL") << "x"; }, "a name Windows cannot hold"},
  };
  for (const Case &c : cases) {
    fs::path image = scratch / ("bad-" + c.name);
    fs::copy(SAMPLES + "win98", image, fs::copy_options::recursive);
    c.spoil(image / "drive" / "WINDOWS" / "SYSTEM");
    ToolRun run = Run({"--machine", image.string(), "--quiet"});
    EXPECT_EQ(run.iExitCode, uninstsim::EXIT_TOOL_ERROR) << c.name;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find((image / "drive" / "WINDOWS" / "SYSTEM").string()), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(run.folder)) << c.name;
  }
}

// Only line ends and printable UTF-8 may reach the terminal.
bool Printable(const std::string &text) {
  return std::none_of(text.begin(), text.end(), [](char c) { return (c >= 0 && c < 0x20 && c != '\n') || c == 0x7F; });
}

TEST_F(SimToolTest, ControlBytesOfTheMachineReachTheTerminalEscapedAndTheFilesAsTheyAre) {
  const std::string key = "00\x1b[2J\x1b[31mEVIL";
  fs::path image = scratch / "escape";
  fs::copy(SAMPLES + "win98", image, fs::copy_options::recursive);
  std::ofstream(image / "registry.reg", std::ios::binary | std::ios::app)
      << "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\USB\\" << key << "]\r\n\r\n";
  ToolRun run = Run({"--machine", image.string()});
  ASSERT_EQ(run.iExitCode, 0) << run.err;
  EXPECT_TRUE(Printable(run.out) && Printable(run.err)) << run.out;
  EXPECT_NE(run.out.find("<00\\x1B[2J\\x1B[31mEVIL>"), std::string::npos) << run.out;
  EXPECT_NE(run.File("trace.txt").find("<" + key + ">"), std::string::npos);

  ToolRun missing = Run({"--registry", (scratch / "a\x1b]0;owned\x07\xff.reg").string()});
  EXPECT_EQ(missing.iExitCode, uninstsim::EXIT_TOOL_ERROR);
  EXPECT_NE(missing.err.find("a\\x1B]0;owned\\x07\\xFF.reg"), std::string::npos) << missing.err;
  EXPECT_TRUE(Printable(missing.err));
}

TEST_F(SimToolTest, AnOutputFolderIsWrittenWholeOrNotAtAll) {
  std::ofstream(scratch / "file") << "x";
  std::ostringstream out, err;
  std::string folder = (scratch / "file" / "out").string();
  EXPECT_EQ(uninstsim::RunTool({"--machine", SAMPLES + "win98", "--quiet", "--out", folder}, out, err, nullptr),
            uninstsim::EXIT_TOOL_ERROR);
  std::string line = err.str();
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1) << line;
  EXPECT_FALSE(fs::exists(folder));

  // A second run into the same folder is refused, and leaves the first one's record whole and no staging.
  ToolRun first = Run({"--machine", SAMPLES + "win98", "--quiet"});
  ASSERT_EQ(first.iExitCode, 0) << first.err;
  std::ostringstream out2, err2;
  ASSERT_EQ(uninstsim::RunTool({"--registry", SAMPLES + "win98/registry.reg", "--answers", "no", "--quiet", "--out",
                                first.folder.string()},
                               out2, err2, nullptr),
            uninstsim::EXIT_TOOL_ERROR);
  EXPECT_TRUE(fs::exists(first.folder / "drive" / "WINDOWS" / "INF")) << "the first run's drive went";
  for (const auto &entry : fs::directory_iterator(first.folder))
    EXPECT_EQ(entry.path().filename().string().find(".uninst-sim-partial"), std::string::npos);
}

TEST(SimToolText, PrintableEscapesControlsAndBrokenUtf8) {
  EXPECT_EQ(formats::Printable("a\x1b[2Jb \xc3\xa9 \x7f\xc2\x9b \xff \xc0\xaf \xed\xa0\x80 \xe2\x82"),
            "a\\x1B[2Jb \xc3\xa9 \\x7F\\xC2\\x9B \\xFF \\xC0\\xAF \\xED\\xA0\\x80 \\xE2\\x82");
  EXPECT_EQ(formats::PrintableLines("one\r\ntwo\n"), "one\\x0D\ntwo\n");
  EXPECT_EQ(formats::PrintableCp1252("\x80\x1b"), "\xe2\x82\xac\\x1B");
}

TEST(SimToolText, Cp1252BecomesUtf8) {
  EXPECT_EQ(sim::Utf8FromCp1252("\x80 \xe9\xc9 \x92 \x81", true),
            "\xe2\x82\xac \xc3\xa9\xc3\x89 \xe2\x80\x99 \xef\xbf\xbd");
}

}  // namespace

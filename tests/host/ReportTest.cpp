// The report's answer block and notes: what a reader takes from it without reading the trace.
#include <nlohmann/json.hpp>

#include "tests/host/ToolTest.h"

namespace {

using tooltest::ReadAll;
using tooltest::SAMPLES;
using tooltest::WriteAll;

class ReportTest : public tooltest::ToolTest {
 protected:
  nlohmann::json RunJson(const std::vector<std::string> &args, const std::string &out, std::string *pErr = nullptr) {
    Run(args, out, pErr);
    return nlohmann::json::parse(ReadAll(scratch / out / "report.json"));
  }
  std::string ReportText(const std::string &out) {
    return ReadAll(scratch / out / "report.txt");
  }
};

TEST_F(ReportTest, OutcomeComesFromTheDialogsWhereTheExitCodeCannotTell) {
  WriteAll(scratch / "noclass.reg", "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n");
  struct Case {
    std::vector<std::string> args;
    std::string outcome;
    size_t printers;
  };
  const Case cases[] = {
      {{"--machine", SAMPLES + "winme"}, "completed", 2},
      {{"--machine", SAMPLES + "connected"}, "refused-connected", 1},
      {{"--machine", SAMPLES + "win98", "--answers", "no"}, "cancelled-at-confirmation", 0},
      {{"--machine", SAMPLES + "win98", "--answers", "yes,yes"}, "cancelled-at-configured-question", 1},
      {{"--registry", (scratch / "noclass.reg").string(), "--answers", "yes"}, "class-key-not-opened", 0},
  };
  for (const Case &c : cases) {
    nlohmann::json json = RunJson(c.args, c.outcome);
    EXPECT_EQ(json["outcome"], c.outcome);
    EXPECT_EQ(json["printers"].size(), c.printers) << c.outcome;
  }
  nlohmann::json connected = RunJson({"--machine", SAMPLES + "connected"}, "again");
  EXPECT_EQ(connected["printers"][0]["connected"], true);
  EXPECT_EQ(connected["printers"][0]["device"], "USB\\VID_7A11&PID_0042\\5&3A7B1C2&0&2");
  EXPECT_EQ(connected["dialogs"][1]["buttons"], "OK");
  EXPECT_EQ(connected["dialogs"][1]["meaning"], "OK: acknowledged, the removal is refused");
}

TEST_F(ReportTest, AQueuedFileNeedsARebootWhateverTheRestartAnswer) {
  nlohmann::json json = RunJson({"--machine", SAMPLES + "winme"}, "winme");
  EXPECT_EQ(json["rebootNeeded"], true);
  EXPECT_EQ(json["restartRequested"], false);
  EXPECT_EQ(json["dialogs"][2]["meaning"], "No: restart Windows later");
  EXPECT_NE(ReportText("winme").find("Reboot needed: yes (1 file queued for the next boot)\n"), std::string::npos);
  EXPECT_EQ(RunJson({"--machine", SAMPLES + "win98"}, "win98")["rebootNeeded"], false);
}

TEST_F(ReportTest, EachInfRemovedShowsTheEntriesThatMadeItThePackages) {
  nlohmann::json json = RunJson({"--machine", SAMPLES + "winme"}, "winme");
  ASSERT_EQ(json["infFilesRemoved"].size(), 3u);
  EXPECT_EQ(json["infFilesRemoved"][0]["evidence"],
            (nlohmann::json{"[Version] line 4: Class=USB", "[Version] line 5: Provider=%Mfg%",
                            "[Strings] line 14: Mfg=\"Talvo\""}));
  for (const char *key : {"Services\\Class\\USB\\0004 (1 key, driver node)", "Ports\\TUSB001 (1 key, printer port)",
                          "Software\\VRAX (3 keys, vendor key)", "Monitors\\KXUSBMON (1 key, monitor)"})
    EXPECT_NE(ReportText("winme").find(key), std::string::npos) << key;
}

TEST(ReportInfEvidence, ReadsAsTheProgramDoesPastCommentsAndOnlyForThePackage) {
  const std::string owned =
      "; Class=Printer in a comment\r\n[Version]\r\n;Provider=Other\r\nClass=USB\r\nProvider=%Mfg%\r\n"
      "[Strings]\r\nX=\"Other\"\r\nMfg=\"Talvo\"\r\n";
  EXPECT_EQ(uninstsim::InfEvidenceOf(owned),
            (std::vector<std::string>{"[Version] line 4: Class=USB", "[Version] line 5: Provider=%Mfg%",
                                      "[Strings] line 8: Mfg=\"Talvo\""}));
  EXPECT_TRUE(uninstsim::InfEvidenceOf("[Version]\r\nClass=USB\r\nProvider=Other\r\n").empty());
  EXPECT_TRUE(uninstsim::InfEvidenceOf(std::string("[Version]\r\n\0Class=USB\r\nProvider=Talvo\r\n", 36)).empty())
      << "the program's text ends at the first NUL";
}

TEST_F(ReportTest, InputAndNotesNameWhereTheMachineCameFrom) {
  std::string image = ReadAll(SAMPLES + "connected/registry.reg");
  WriteAll(scratch / "customer.reg", image.substr(0, image.find("[HKEY_DYN_DATA")));
  nlohmann::json json = RunJson({"--registry", (scratch / "customer.reg").string(), "--answers", "yes,no,no"}, "reg");
  EXPECT_EQ(json["input"]["kind"], "regedit export");
  EXPECT_EQ(json["input"]["drive"]["from"], "none");
  EXPECT_EQ(json["input"]["defaultSample"], false);
  EXPECT_NE(ReportText("reg").find("Note: the registry has no HKEY_DYN_DATA (the regedit export has none)"),
            std::string::npos);

  json = RunJson({"--machine", SAMPLES + "win98"}, "image");
  EXPECT_EQ(json["input"]["registry"]["from"], "the machine image's registry.reg");
  EXPECT_EQ(json["input"]["drive"]["from"], "the machine image's drive/");
}

TEST_F(ReportTest, OnlySkippedLinesInKeysTheRunTouchedMayChangeThePreview) {
  std::string image = ReadAll(SAMPLES + "win98/registry.reg");
  const std::string node = "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\USB\\0004]\r\n";
  image.insert(image.find(node) + node.size(), "\"Broken\"=hex:zz\r\n");
  image.insert(image.find("[HKEY_DYN_DATA"), "[HKEY_USERS\\.DEFAULT\\X]\r\n\"bad\"=dword:zz\r\n\r\n");
  WriteAll(scratch / "customer.reg", image);
  nlohmann::json json =
      RunJson({"--machine", SAMPLES + "win98", "--registry", (scratch / "customer.reg").string()}, "skipped");
  ASSERT_EQ(json["skippedLines"].size(), 2u);
  EXPECT_EQ(json["skippedLines"][0]["mayChangePreview"], true);
  EXPECT_EQ(json["skippedLines"][1]["key"], "HKEY_USERS\\.DEFAULT\\X");
  EXPECT_EQ(json["skippedLines"][1]["mayChangePreview"], false);
}

TEST_F(ReportTest, AnswersNoBoxTookAreReported) {
  std::string err;
  nlohmann::json json = RunJson({"--machine", SAMPLES + "connected", "--answers", "yes,no,no"}, "connected", &err);
  EXPECT_EQ(json["answersUnused"], (nlohmann::json{"no", "no"}));
  EXPECT_NE(err.find("uninst-sim: answers left unused, no box took them: no,no\n"), std::string::npos) << err;
  EXPECT_NE(ReportText("connected").find("Answers left unused (2): no,no\n"), std::string::npos);
}

}  // namespace

// The whole uninstall on generated machines: the package for 0 to 5 printers among hundreds of
// foreign nodes, devices, values and files. After each run every foreign key, value and file is
// as it was, everything of the package that the program removes is gone, and the trace holds
// only the program's own lines. UNINST_RANDOM_SEEDS sets the seed count (UNINST_RANDOM_FIRST the
// first seed); a failure names its seed.
#include <cstdlib>
#include <sstream>

#include "inf/InfOwnership.h"
#include "platform/registry.h"
#include "tests/host/SimFixture.h"
#include "tests/support/MachineGenerator.h"
#include "tools/uninst-sim/Load.h"
#include "uninstall/Uninst.h"

namespace {

const char WININIT[] = "C:\\WINDOWS\\WININIT.INI";

int EnvInt(const char *pucName, int iDefault) {
  const char *pucValue = std::getenv(pucName);
  return pucValue != nullptr && *pucValue != '\0' ? std::atoi(pucValue) : iDefault;
}

std::string Join(const std::vector<std::string> &lines) {
  std::string text;
  for (const std::string &line : lines)
    text += "  " + line + "\n";
  return text;
}

// WinInit.ini after the run: the old bytes in order, plus one "NUL=<path>" line per queued file
// and, when the file had no section header, one header.
std::string CheckWinInit(bool fHadIni, const std::string &before, const gen::Expectation &e) {
  std::string after;
  bool fHasIni = sim::ReadFile(WININIT, &after);
  if (e.fMoveFileEx || e.queuedFiles.empty()) {
    if (fHasIni != fHadIni || after != before)
      return "WinInit.ini changed without a queued file";
    return "";
  }
  std::string rest = after;
  for (const std::string &path : e.queuedFiles) {
    std::string line = "NUL=" + path + "\r\n";
    size_t at = rest.find(line);
    if (at == std::string::npos)
      return "WinInit.ini lacks " + line;
    rest.erase(at, line.size());
  }
  if (rest != before) {
    size_t at = rest.find("[Rename]\r\n");
    if (at != std::string::npos)
      rest.erase(at, 10);
  }
  return rest == before ? "" : "WinInit.ini holds more than the queued entries: " + after;
}

std::string CheckMoveRequests(const gen::Expectation &e) {
  std::vector<std::string> expected;
  if (e.fMoveFileEx) {
    for (const std::string &path : e.queuedFiles)
      expected.push_back(path + "=>");
  }
  return sim::MoveFileExRequests() == expected ? "" : "unexpected MoveFileEx requests";
}

// One seed: the failures found, empty when the run did exactly what the rules say.
std::string RunSeed(std::uint32_t seed, int *piExit) {
  gen::Options options;
  options.seed = seed;
  gen::Expectation e = gen::BuildMachine(options);
  if (!e.problem.empty())
    return "the generated drive was refused: " + e.problem + "\n";
  std::ostringstream failures;
  for (const std::string &text : e.packageInfs) {
    if (IsPackageInfText(text.c_str(), static_cast<unsigned long>(text.size())) != 1)
      failures << "an INF written as the package's is not recognised:\n" << text << "\n";
  }
  for (const std::string &text : e.foreignInfs) {
    if (IsPackageInfText(text.c_str(), static_cast<unsigned long>(text.size())) != 0)
      failures << "an INF written as foreign is taken as the package's:\n" << text << "\n";
  }
  sim::Snapshot before = sim::TakeSnapshot();
  std::string iniBefore;
  bool fHadIni = sim::ReadFile(WININIT, &iniBefore);
  InitUninstallState();
  for (int iAnswer : {os::IDYES, os::IDNO, os::IDNO})
    sim::QueueAnswer(iAnswer);
  int iExit = WinMain(nullptr, nullptr, nullptr, 0);
  *piExit = iExit;
  if (iExit != e.iExitCode)
    failures << "exit code " << iExit << ", expected " << e.iExitCode << "\n";
  std::vector<std::string> diff = gen::Differences(gen::ExpectedAfter(before, e), sim::TakeSnapshot(), 30);
  if (!diff.empty())
    failures << "registry or drive differs from the rules:\n" << Join(diff);
  std::string ini = CheckWinInit(fHadIni, iniBefore, e);
  if (!ini.empty())
    failures << ini << "\n";
  std::string moves = CheckMoveRequests(e);
  if (!moves.empty())
    failures << moves << "\n";
  int iBad = 0;
  for (const std::string &line : sim::Trace()) {
    if (!gen::IsProgramTraceLine(line) && ++iBad <= 5)
      failures << "trace line of no known format: <" << line << ">\n";
  }
  if (!sim::OpenHandles().empty())
    failures << "handles left open:\n" << Join(sim::OpenHandles());
  if (!sim::Problems().empty())
    failures << "misuse:\n" << Join(sim::Problems());
  return failures.str();
}

using RandomMachines = SimTest;

TEST_F(RandomMachines, RemoveThePackageAndLeaveEverythingForeign) {
  const int iSeeds = EnvInt("UNINST_RANDOM_SEEDS", 300);
  const int iFirst = EnvInt("UNINST_RANDOM_FIRST", 1);
  int iFailed = 0;
  int iRemovals = 0;
  int iConnected = 0;
  for (int i = 0; i < iSeeds && iFailed < 5; ++i) {
    std::uint32_t seed = static_cast<std::uint32_t>(iFirst + i);
    int iExit = -1;
    std::string failures = RunSeed(seed, &iExit);
    if (!failures.empty()) {
      ++iFailed;
      ADD_FAILURE() << "seed " << seed << ":\n" << failures;
    }
    iRemovals += iExit == 0 ? 1 : 0;
    iConnected += iExit == 5 ? 1 : 0;
  }
  // The generator must reach both verdicts, or the invariants prove little.
  if (iSeeds >= 100) {
    EXPECT_GT(iConnected, 0);
    EXPECT_GT(iRemovals, iSeeds / 2);
  }
  sim::Reset();
}

// The same seed builds the same machine, so a failing seed can be replayed alone.
TEST_F(RandomMachines, SameSeedSameMachine) {
  gen::Options options;
  options.seed = 77;
  gen::BuildMachine(options);
  std::string first = uninstsim::ExportRegistry();
  std::vector<std::string> files = sim::ListFiles();
  gen::BuildMachine(options);
  EXPECT_EQ(uninstsim::ExportRegistry(), first);
  EXPECT_EQ(sim::ListFiles(), files);
  sim::Reset();
}

// The drives hold what the invariants are meant to meet: folders spelled in other cases, names with
// letters beyond ASCII and with the bytes code page 1252 leaves undefined.
TEST_F(RandomMachines, DrivesVaryCaseAndCodePage) {
  bool fOtherCase = false;
  bool fHighLetter = false;
  bool fUndefined = false;
  for (std::uint32_t seed = 1; seed <= 30; ++seed) {
    gen::Options options;
    options.seed = seed;
    ASSERT_EQ(gen::BuildMachine(options).problem, "") << "seed " << seed;
    for (const std::string &path : sim::ListFiles()) {
      fOtherCase |= path.compare(0, 11, "C:\\WINDOWS\\") != 0;
      fHighLetter |= path.find_first_of("\xE9\xC9\xFC\xDF\xD8") != std::string::npos;
      fUndefined |= path.find_first_of("\x81\x8D\x8F\x90\x9D") != std::string::npos;
    }
  }
  EXPECT_TRUE(fOtherCase);
  EXPECT_TRUE(fHighLetter);
  EXPECT_TRUE(fUndefined);
  sim::Reset();
}

TEST(TraceFormats, AcceptOnlyWholeProgramLines) {
  EXPECT_TRUE(gen::IsProgramTraceLine(" Enumerated subkey 12 <0012> result 0\n"));
  EXPECT_TRUE(gen::IsProgramTraceLine(" Queried value <ID>=<> result -1\n"));
  EXPECT_TRUE(gen::IsProgramTraceLine("pucDeviceKey  -1 0\n"));
  EXPECT_FALSE(gen::IsProgramTraceLine(" Enumerated subkey x <0012> result 0\n"));
  EXPECT_FALSE(gen::IsProgramTraceLine(" Opened Driver Node result 0"));
  EXPECT_FALSE(gen::IsProgramTraceLine(" Opened Driver Node result 0\n\n"));
  EXPECT_FALSE(gen::IsProgramTraceLine(" Deleting subkey <a\nb> result 0\n"));
  EXPECT_FALSE(gen::IsProgramTraceLine("Opened Driver Node result 0\n"));
}

}  // namespace

// Every platform call of a run on each sample machine made to fail in turn, once and from then
// on, with the codes Windows 98 really returns for that kind of call. Whatever fails must fail
// safe: no crash, no handle left open, nothing removed that a clean removal would not remove, no
// value rewritten, WinInit.ini either untouched or holding exactly one more entry.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <strings.h>

#include "tools/SimTool.h"
#include "uninstall/Uninst.h"
#include "uninstall/UninstallState.h"

namespace fs = std::filesystem;

namespace {

using sim::Call;

const std::string SAMPLES = std::string(UNINST_SOURCE_DIR) + "/samples/";
const char WININIT[] = "C:\\WINDOWS\\WININIT.INI";

// The codes each kind of call fails with on Windows 98.
std::vector<os::DWORD> CodesOf(Call kind) {
  switch (kind) {
    case Call::RegOpenKeyEx:
    case Call::RegEnumKeyEx:
    case Call::RegEnumValue:
    case Call::RegQueryValueEx:
    case Call::RegDeleteKey:
    case Call::RegDeleteValue:
      return {2, 5, 1009};
    case Call::DeleteFile:
    case Call::MoveFileEx:
    case Call::FindFirstFile:
    case Call::FindNextFile:
    case Call::CreateFile:
    case Call::GetFileSize:
    case Call::ReadFile:
    case Call::SetFilePointer:
    case Call::SetEndOfFile:
      return {5, 32, 2};
    case Call::CreateFileMapping:
    case Call::MapViewOfFile:
    case Call::GlobalAlloc:
    case Call::GlobalLock:
      return {8};
    case Call::GetModuleHandle:
      return {126};
    case Call::LoadString:
      return {1814};
    default:
      return {5};
  }
}

const Call ALL_KINDS[] = {Call::RegOpenKeyEx,       Call::RegEnumKeyEx,        Call::RegEnumValue,
                          Call::RegQueryValueEx,    Call::RegDeleteKey,        Call::RegDeleteValue,
                          Call::GetSystemDirectory, Call::GetWindowsDirectory, Call::DeleteFile,
                          Call::MoveFileEx,         Call::FindFirstFile,       Call::FindNextFile,
                          Call::CreateFile,         Call::GetFileSize,         Call::ReadFile,
                          Call::SetFilePointer,     Call::SetEndOfFile,        Call::CreateFileMapping,
                          Call::MapViewOfFile,      Call::GlobalAlloc,         Call::GlobalLock,
                          Call::GetModuleHandle,    Call::LoadString,          Call::MessageBox,
                          Call::GetVersionEx,       Call::ExitWindowsEx,       Call::WsPrintf};

const char *KindName(Call kind) {
  static const char *const NAMES[] = {"Any",
                                      "RegOpenKeyEx",
                                      "RegEnumKeyEx",
                                      "RegEnumValue",
                                      "RegQueryValueEx",
                                      "RegDeleteKey",
                                      "RegDeleteValue",
                                      "GetSystemDirectory",
                                      "GetWindowsDirectory",
                                      "DeleteFile",
                                      "MoveFileEx",
                                      "FindFirstFile",
                                      "FindNextFile",
                                      "CreateFile",
                                      "GetFileSize",
                                      "ReadFile",
                                      "SetFilePointer",
                                      "SetEndOfFile",
                                      "CreateFileMapping",
                                      "MapViewOfFile",
                                      "GlobalAlloc",
                                      "GlobalLock",
                                      "GetModuleHandle",
                                      "LoadString",
                                      "MessageBox",
                                      "GetVersionEx",
                                      "ExitWindowsEx",
                                      "WsPrintf"};
  return NAMES[static_cast<int>(kind)];
}

std::string ReadAll(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A sample machine held in memory, so that each of the thousands of runs starts from it quickly.
struct Image {
  std::string name;
  std::string registry;
  std::map<std::string, std::string> files;  // Windows path -> bytes
  simtool::Options options;
};

Image LoadImage(const std::string &name) {
  Image image;
  image.name = name;
  std::string error = simtool::ParseOptions(
      {"--machine", SAMPLES + name}, [] { return std::string(); }, &image.options);
  EXPECT_EQ(error, "");
  image.registry = ReadAll(SAMPLES + name + "/registry.reg");
  fs::path drive = SAMPLES + name + "/drive";
  for (const auto &entry : fs::recursive_directory_iterator(drive)) {
    if (!entry.is_regular_file())
      continue;
    std::string winPath = "C:\\" + fs::relative(entry.path(), drive).string();
    std::replace(winPath.begin(), winPath.end(), '/', '\\');
    image.files[winPath] = ReadAll(entry.path());
  }
  return image;
}

// The image without its dynamic data (nobody connected) and with no file in use: its run removes
// all that any run on the image may remove.
Image Disconnected(Image image) {
  image.registry = image.registry.substr(0, image.registry.find("[HKEY_DYN_DATA"));
  image.options.inUse.clear();
  return image;
}

void Boot(const Image &image) {
  sim::Reset();
  std::string error;
  ASSERT_TRUE(sim::ImportRegistry(image.registry, &error)) << error;
  for (const auto &file : image.files)
    sim::WriteFile(file.first, file.second);
  for (const std::string &path : image.options.inUse)
    sim::SetFileInUse(path, true);
  sim::SetMinorVersion(image.options.minor);
  sim::SetMoveFileExSupported(image.options.fMoveFileEx);
}

// A person answering as the default answers do: Yes to the confirmation (the first Yes/No box),
// No to the configured-printer question and to the restart. A box whose call fails is never
// shown and takes no answer, so the answers do not shift.
int g_iYesNoBoxes = 0;
int Answer(const sim::MessageBoxRecord &box) {
  if ((box.uStyle & 0x0F) == os::MB_OK)
    return os::IDOK;
  return ++g_iYesNoBoxes == 1 ? os::IDYES : os::IDNO;
}

int RunUninstaller() {
  g_iYesNoBoxes = 0;
  sim::SetAnswerSource(Answer);
  InitUninstallState();
  return WinMain(nullptr, nullptr, nullptr, 0);
}

bool IsWinInit(const std::string &path) {
  return strcasecmp(path.c_str(), WININIT) == 0;
}

// A machine's WinInit.ini, which the checks take on its own; "" when it has none.
std::string WinInitOf(const sim::Snapshot &machine) {
  for (const auto &file : machine.files) {
    if (IsWinInit(file.first))
      return file.second;
  }
  return "";
}

bool HasFile(const sim::Snapshot &machine, const std::string &path) {
  return std::any_of(machine.files.begin(), machine.files.end(),
                     [&](const auto &file) { return strcasecmp(file.first.c_str(), path.c_str()) == 0; });
}

// Keys, values ("key | name") and files, named as the program names them: case aside.
struct NoCase {
  bool operator()(const std::string &left, const std::string &right) const {
    return strcasecmp(left.c_str(), right.c_str()) < 0;
  }
};
using Names = std::set<std::string, NoCase>;

struct Removal {
  Names keys;
  Names values;
  Names files;
};

// What went from before to after (WinInit.ini apart); values and files changed in place go to
// *pChanged.
Removal Removed(const sim::Snapshot &before, const sim::Snapshot &after, std::vector<std::string> *pChanged) {
  std::map<std::string, const sim::RegistryKey *> afterKeys;
  for (const sim::RegistryKey &key : after.keys)
    afterKeys[key.path] = &key;
  Removal removal;
  for (const sim::RegistryKey &key : before.keys) {
    auto found = afterKeys.find(key.path);
    if (found == afterKeys.end())
      removal.keys.insert(key.path);
    for (const sim::RegistryValue &value : key.values) {
      const sim::RegistryValue *pNow = nullptr;
      for (size_t i = 0; found != afterKeys.end() && i < found->second->values.size(); ++i) {
        if (found->second->values[i].name == value.name)
          pNow = &found->second->values[i];
      }
      if (pNow == nullptr)
        removal.values.insert(key.path + " | " + value.name);
      else if (pNow->dwType != value.dwType || pNow->data != value.data)
        pChanged->push_back(key.path + " | " + value.name);
    }
  }
  for (const auto &file : before.files) {
    if (IsWinInit(file.first))
      continue;
    auto found = after.files.find(file.first);
    if (found == after.files.end())
      removal.files.insert(file.first);
    else if (found->second != file.second)
      pChanged->push_back(file.first);
  }
  return removal;
}

std::vector<std::string> NotIn(const Names &items, const Names &allowed) {
  std::vector<std::string> extra;
  for (const std::string &item : items) {
    if (allowed.count(item) == 0)
      extra.push_back(item);
  }
  return extra;
}

std::vector<std::string> LinesOf(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, end - start));
    start = end;
  }
  return lines;
}

// "" when after is before with entries inserted in one place (and a header when before had
// none): one per package file (of queueable) that is still there, each once; otherwise what is
// wrong. Trailing NUL bytes are cut first when fNulsAllowed.
std::string CheckWinInit(const sim::Snapshot &before, const sim::Snapshot &after, const Names &queueable,
                         bool fNulsAllowed, bool *pfHadNuls) {
  std::string old = WinInitOf(before);
  std::string now = WinInitOf(after);
  *pfHadNuls = false;
  if (fNulsAllowed && now.find_last_not_of('\0') + 1 < now.size()) {
    now.erase(now.find_last_not_of('\0') + 1);
    *pfHadNuls = true;
  }
  if (now == old)
    return "";
  if (now.size() < old.size())
    return "WinInit.ini lost bytes";
  size_t prefix = std::mismatch(old.begin(), old.end(), now.begin()).first - old.begin();
  size_t added = now.size() - old.size();
  if (now.compare(prefix + added, std::string::npos, old, prefix, std::string::npos) != 0)
    return "WinInit.ini: the old bytes are not kept in order around one insertion";
  std::multiset<std::string> oldLines;
  for (const std::string &line : LinesOf(old))
    oldLines.insert(line);
  std::vector<std::string> newLines;
  for (const std::string &line : LinesOf(now)) {
    auto found = oldLines.find(line);
    if (found != oldLines.end())
      oldLines.erase(found);
    else
      newLines.push_back(line);
  }
  bool fHeader = !newLines.empty() && newLines[0] == "[Rename]\r\n";
  Names queued;
  for (size_t i = fHeader ? 1 : 0; i < newLines.size(); ++i) {
    const std::string &line = newLines[i];
    std::string path = line.size() > 6 ? line.substr(4, line.size() - 6) : "";
    if (line.compare(0, 4, "NUL=") != 0 || line.compare(line.size() - 2, 2, "\r\n") != 0 ||
        queueable.count(path) == 0 || !HasFile(after, path) || !queued.insert(path).second)
      return "WinInit.ini: an entry that is not one queued package file: " + line;
  }
  if (queued.empty())
    return "WinInit.ini changed without an entry";
  return "";
}

// The first key, value or file that one machine holds and the other lacks or holds otherwise; ""
// when they are the same.
std::string FirstDifference(const sim::Snapshot &left, const sim::Snapshot &right) {
  std::vector<std::string> changed;
  const Removal extra = Removed(left, right, &changed);
  const Removal missing = Removed(right, left, &changed);
  for (const Names *pNames :
       {&extra.keys, &extra.values, &extra.files, &missing.keys, &missing.values, &missing.files}) {
    if (!pNames->empty())
      return *pNames->begin();
  }
  return changed.empty() ? "" : changed[0];
}

struct Plan {
  int n;
  os::DWORD code;  // for the failing kind; from then on each kind takes its own list's code
  int iCodeTurn;
  bool fPersistent;
};

// Plans the faults: the n-th call fails once, or every call from the n-th on. A run is the same
// as the clean run up to its first failure, so "from the n-th call on" is, for each kind, "from
// the first call of that kind at or after the n-th".
void PlanFaults(const std::vector<Call> &cleanLog, const Plan &plan) {
  Call failing = cleanLog[static_cast<size_t>(plan.n - 1)];
  if (!plan.fPersistent) {
    sim::AddFault({Call::Any, plan.n, plan.code, false, ""});
    return;
  }
  for (Call kind : ALL_KINDS) {
    int iBefore = static_cast<int>(std::count(cleanLog.begin(), cleanLog.begin() + plan.n - 1, kind));
    std::vector<os::DWORD> codes = CodesOf(kind);
    os::DWORD code = kind == failing ? plan.code : codes[static_cast<size_t>(plan.iCodeTurn) % codes.size()];
    sim::AddFault({kind, iBefore + 1, code, true, ""});
  }
}

struct Tally {
  int iRuns = 0;
  int iConverged = 0;
  int iNulRuns = 0;
  std::vector<std::pair<std::string, std::string>> refusalsTurnedRemovals;  // failing kind, run
  std::map<std::string, std::pair<int, std::string>> notConverged;          // by failing kind: runs, an example
};

class FaultSweep : public ::testing::TestWithParam<const char *> {};

TEST_P(FaultSweep, EveryFailedCallFailsSafe) {
  Image image = LoadImage(GetParam());
  // The reference removal: the same machine with nobody connected.
  Boot(Disconnected(image));
  sim::Snapshot original = sim::TakeSnapshot();
  ASSERT_EQ(RunUninstaller(), 0);
  std::vector<std::string> changed;
  Removal allowed = Removed(original, sim::TakeSnapshot(), &changed);
  ASSERT_FALSE(allowed.keys.empty());

  Boot(image);
  RunUninstaller();
  std::vector<Call> cleanLog = sim::CallLog();
  sim::Snapshot cleanEnd = sim::TakeSnapshot();
  bool fCleanRemoves = !Removed(original, cleanEnd, &changed).keys.empty();
  ASSERT_GT(cleanLog.size(), 50u);

  Tally tally;
  for (int iCodeTurn = 0; iCodeTurn < 3; ++iCodeTurn) {
    for (bool fPersistent : {false, true}) {
      for (int n = 1; n <= static_cast<int>(cleanLog.size()); ++n) {
        Call failing = cleanLog[static_cast<size_t>(n - 1)];
        std::vector<os::DWORD> codes = CodesOf(failing);
        if (iCodeTurn >= static_cast<int>(codes.size()) && !fPersistent)
          continue;  // every code of this kind has had its turn
        Plan plan{n, codes[static_cast<size_t>(iCodeTurn) % codes.size()], iCodeTurn, fPersistent};
        std::string what = std::string(GetParam()) + ": call " + std::to_string(n) + " (" + KindName(failing) +
                           ") failing with " + std::to_string(plan.code) + (fPersistent ? " from then on" : " once");
        Boot(image);
        sim::Snapshot before = sim::TakeSnapshot();
        PlanFaults(cleanLog, plan);
        int iExit = RunUninstaller();
        ++tally.iRuns;
        ASSERT_TRUE(iExit == 0 || iExit == 5) << what;
        ASSERT_EQ(sim::OpenHandles(), std::vector<std::string>()) << what;
        ASSERT_EQ(sim::Problems(), std::vector<std::string>()) << what;

        sim::Snapshot after = sim::TakeSnapshot();
        changed.clear();
        Removal removal = Removed(before, after, &changed);
        ASSERT_EQ(changed, std::vector<std::string>()) << what << ": rewritten in place";
        ASSERT_EQ(NotIn(removal.keys, allowed.keys), std::vector<std::string>()) << what;
        ASSERT_EQ(NotIn(removal.values, allowed.values), std::vector<std::string>()) << what;
        ASSERT_EQ(NotIn(removal.files, allowed.files), std::vector<std::string>()) << what;
        const std::vector<Call> &log = sim::CallLog();
        bool fCutFailed = fPersistent ? std::find(log.begin() + n - 1, log.end(), Call::SetEndOfFile) != log.end()
                                      : failing == Call::SetEndOfFile;
        bool fHadNuls = false;
        ASSERT_EQ(CheckWinInit(before, after, allowed.files, fCutFailed, &fHadNuls), "") << what;
        tally.iNulRuns += fHadNuls;
        if (!fCleanRemoves && !removal.keys.empty())
          tally.refusalsTurnedRemovals.push_back(
              {std::string(KindName(failing)) + (fPersistent ? " from then on" : " once"), what});

        // A second, clean run on what the faulted run left.
        sim::ClearFaults();
        RunUninstaller();
        std::string difference = FirstDifference(sim::TakeSnapshot(), cleanEnd);
        if (difference.empty()) {
          ++tally.iConverged;
        } else {
          auto &entry = tally.notConverged[std::string(KindName(failing)) + (fPersistent ? " from then on" : " once")];
          if (entry.first++ == 0)
            entry.second = what + ": differs at: " + difference;
        }
      }
    }
  }
  std::printf(
      "[ sweep    ] %s: %d faulted runs, %d with NUL bytes after WinInit.ini, %d reach the clean end state "
      "after a second run\n",
      GetParam(), tally.iRuns, tally.iNulRuns, tally.iConverged);
  for (const auto &kind : tally.notConverged)
    std::printf("[ diverge  ] %s: %d runs, e.g. %s\n", kind.first.c_str(), kind.second.first,
                kind.second.second.c_str());
  std::map<std::string, int> findings;
  for (const auto &finding : tally.refusalsTurnedRemovals)
    ++findings[finding.first];
  for (const auto &finding : findings)
    std::printf(
        "[ finding  ] a refusal became a removal: %d runs with %s, e.g. %s\n", finding.second, finding.first.c_str(),
        std::find_if(tally.refusalsTurnedRemovals.begin(), tally.refusalsTurnedRemovals.end(), [&](const auto &item) {
          return item.first == finding.first;
        })->second.c_str());
  sim::SetAnswerSource(nullptr);
  sim::Reset();
}

INSTANTIATE_TEST_SUITE_P(Samples, FaultSweep, ::testing::Values("win98", "winme", "connected"));

}  // namespace

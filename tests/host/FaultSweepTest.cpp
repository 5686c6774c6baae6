// Every platform call of a run on each sample machine made to fail in turn, once and from then
// on, with the codes Windows 98 really returns for that kind of call. Whatever fails must fail
// safe: no crash, no handle left open, nothing removed that a clean removal would not remove, no
// value rewritten, WinInit.ini either untouched or holding exactly one more entry. A run that a
// second, clean run does not bring to the clean end state, or that lifts the refusal of a
// connected printer, must be one of the accepted findings below.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <strings.h>

#include "tools/uninst-sim/Load.h"
#include "tools/uninst-sim/UninstSim.h"
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
    case Call::RegEnumKeyEx:
    case Call::RegEnumValue:
      return {2, 5, 1009, 259};  // 259: the enumeration ends early
    case Call::RegOpenKeyEx:
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

const Call ALL_KINDS[] = {
    Call::RegOpenKeyEx, Call::RegEnumKeyEx,      Call::RegEnumValue,       Call::RegQueryValueEx,
    Call::RegDeleteKey, Call::RegDeleteValue,    Call::GetSystemDirectory, Call::GetWindowsDirectory,
    Call::DeleteFile,   Call::MoveFileEx,        Call::FindFirstFile,      Call::FindNextFile,
    Call::CreateFile,   Call::GetFileSize,       Call::ReadFile,           Call::SetFilePointer,
    Call::SetEndOfFile, Call::CreateFileMapping, Call::MapViewOfFile,      Call::GlobalAlloc,
    Call::GlobalLock,   Call::GetModuleHandle,   Call::LoadString,         Call::MessageBox,
    Call::GetVersionEx, Call::ExitWindowsEx};

const char *KindName(Call kind) {
  static const char *const NAMES[] = {
      "Any",          "RegOpenKeyEx",   "RegEnumKeyEx",       "RegEnumValue",        "RegQueryValueEx",
      "RegDeleteKey", "RegDeleteValue", "GetSystemDirectory", "GetWindowsDirectory", "DeleteFile",
      "MoveFileEx",   "FindFirstFile",  "FindNextFile",       "CreateFile",          "GetFileSize",
      "ReadFile",     "SetFilePointer", "SetEndOfFile",       "CreateFileMapping",   "MapViewOfFile",
      "GlobalAlloc",  "GlobalLock",     "GetModuleHandle",    "LoadString",          "MessageBox",
      "GetVersionEx", "ExitWindowsEx"};
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
  uninstsim::Options options;
};

Image LoadImage(const std::string &name) {
  Image image;
  image.name = name;
  std::string error = uninstsim::ParseOptions(
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
  ASSERT_TRUE(uninstsim::ImportRegistry(image.registry, &error)) << error;
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

// Every key, value or file that one machine holds and the other lacks or holds otherwise.
std::vector<std::string> Differences(const sim::Snapshot &left, const sim::Snapshot &right) {
  std::vector<std::string> differences;
  const Removal extra = Removed(left, right, &differences);
  const Removal missing = Removed(right, left, &differences);
  for (const Names *pNames : {&extra.keys, &extra.values, &extra.files, &missing.keys, &missing.values, &missing.files})
    differences.insert(differences.end(), pNames->begin(), pNames->end());
  return differences;
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

// Why a faulted run, followed by a clean one, does not end where the clean run ends.
enum class Leftover {
  RefusalLifted,  // the faulted run removed the package although a printer is connected
  DeviceKeys,     // registry entries no later run finds
  OemInf,         // the OEM INF file in INF\OTHER, and nothing else
  Unexplained,
};

Leftover LeftoverOf(const std::vector<std::string> &differences, bool fRefusalLifted) {
  if (fRefusalLifted)
    return Leftover::RefusalLifted;
  if (std::any_of(differences.begin(), differences.end(),
                  [](const std::string &item) { return item.compare(0, 5, "HKEY_") == 0; }))
    return Leftover::DeviceKeys;
  const std::string oemInfs = "C:\\WINDOWS\\INF\\OTHER\\";
  bool fOemInfs = std::all_of(differences.begin(), differences.end(), [&](const std::string &item) {
    return strncasecmp(item.c_str(), oemInfs.c_str(), oemInfs.size()) == 0;
  });
  return fOemInfs ? Leftover::OemInf : Leftover::Unexplained;
}

// The failing call's kind, once or from then on, and what it leaves: a finding the sweep reports
// for any of its runs, whatever the call's index (which shifts with any change of the program).
std::string FindingName(Call kind, bool fPersistent, Leftover leftover) {
  static const char *const LEFTOVERS[] = {"refusal lifted", "device keys", "OEM INF", "unexplained"};
  return std::string(KindName(kind)) + (fPersistent ? " from then on: " : " once: ") +
         LEFTOVERS[static_cast<int>(leftover)];
}

// The findings known and accepted, by sample machine. A run not listed fails the sweep, and so
// does an entry that no run shows any more.
struct Accepted {
  const char *pucSample;
  Leftover leftover;
  bool fPersistent;
  std::vector<Call> kinds;
};
// A registry read failing once while the survey looks for connected printers reads as "not
// found", by design; the removal then goes on. A persistent fault never lifts the refusal.
const std::vector<Call> SURVEY_READS = {Call::RegOpenKeyEx, Call::RegEnumKeyEx, Call::RegQueryValueEx};
// Known fault: a driver node is deleted even when the cleanup of its device failed, so the device
// keys and ASD\Prob values it led to are left for good.
const std::vector<Call> DEVICE_CLEANUP_ONCE = {Call::RegOpenKeyEx,    Call::RegEnumKeyEx, Call::RegEnumValue,
                                               Call::RegQueryValueEx, Call::RegDeleteKey, Call::RegDeleteValue};
// The OEM INF in INF\OTHER is found by the provider name its driver node holds, and the INF files
// go last: a fault from the driver nodes' removal on leaves it where no later run looks.
const std::vector<Call> OEM_INF_PERSISTENT = {Call::RegOpenKeyEx, Call::RegEnumKeyEx,       Call::RegEnumValue,
                                              Call::RegDeleteKey, Call::GetSystemDirectory, Call::GetWindowsDirectory,
                                              Call::DeleteFile,   Call::FindFirstFile,      Call::CreateFile,
                                              Call::GetFileSize,  Call::ReadFile,           Call::GlobalAlloc,
                                              Call::GlobalLock};
const std::vector<Call> OEM_INF_ONCE = {Call::GetWindowsDirectory, Call::DeleteFile,  Call::FindFirstFile,
                                        Call::CreateFile,          Call::GetFileSize, Call::ReadFile,
                                        Call::GlobalAlloc,         Call::GlobalLock};
const Accepted ACCEPTED[] = {
    {"win98", Leftover::DeviceKeys, false, DEVICE_CLEANUP_ONCE},
    {"win98", Leftover::OemInf, false, OEM_INF_ONCE},
    {"win98", Leftover::OemInf, true, OEM_INF_PERSISTENT},
    {"winme", Leftover::DeviceKeys, false, DEVICE_CLEANUP_ONCE},
    // Without the version the Windows 98 layout is assumed, so the ME short-ID device key is
    // missed while its node goes.
    {"winme", Leftover::DeviceKeys, false, {Call::GetVersionEx}},
    // The second printer's device cleanup comes after the first node's removal: a fault from
    // then on orphans its keys as a passing one does.
    {"winme", Leftover::DeviceKeys, true, {Call::RegOpenKeyEx, Call::RegQueryValueEx, Call::RegDeleteKey}},
    {"winme", Leftover::OemInf, false, OEM_INF_ONCE},
    {"winme", Leftover::OemInf, true, OEM_INF_PERSISTENT},
    // The driver file in use goes to WinInit.ini, through a mapping of it.
    {"winme",
     Leftover::OemInf,
     true,
     {Call::MoveFileEx, Call::CreateFileMapping, Call::MapViewOfFile, Call::SetFilePointer, Call::SetEndOfFile}},
    {"connected", Leftover::RefusalLifted, false, SURVEY_READS},
    {"typical", Leftover::DeviceKeys, false, DEVICE_CLEANUP_ONCE},
    {"typical", Leftover::OemInf, false, OEM_INF_ONCE},
    {"typical", Leftover::OemInf, true, OEM_INF_PERSISTENT},
    // The scanner's driver node comes after the package's: its reads follow their removal.
    {"typical", Leftover::OemInf, true, {Call::RegQueryValueEx}},
};

std::set<std::string> AcceptedFor(const std::string &sample) {
  std::set<std::string> names;
  for (const Accepted &accepted : ACCEPTED) {
    for (Call kind : accepted.kinds) {
      if (sample == accepted.pucSample)
        names.insert(FindingName(kind, accepted.fPersistent, accepted.leftover));
    }
  }
  return names;
}

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

  std::map<std::string, std::string> findings;  // name -> an example run
  for (int iCodeTurn = 0; iCodeTurn < 4; ++iCodeTurn) {
    for (bool fPersistent : {false, true}) {
      for (int n = 1; n <= static_cast<int>(cleanLog.size()); ++n) {
        Call failing = cleanLog[static_cast<size_t>(n - 1)];
        std::vector<os::DWORD> codes = CodesOf(failing);
        if (fPersistent ? iCodeTurn == 3 : iCodeTurn >= static_cast<int>(codes.size()))
          continue;  // every code of this kind has had its turn
        Plan plan{n, codes[static_cast<size_t>(iCodeTurn) % codes.size()], iCodeTurn, fPersistent};
        std::string what = std::string(GetParam()) + ": call " + std::to_string(n) + " (" + KindName(failing) +
                           ") failing with " + std::to_string(plan.code) + (fPersistent ? " from then on" : " once");
        Boot(image);
        sim::Snapshot before = sim::TakeSnapshot();
        PlanFaults(cleanLog, plan);
        int iExit = RunUninstaller();
        ASSERT_TRUE(iExit == 0 || iExit == 5) << what;
        ASSERT_LE(g_iYesNoBoxes, 3) << what;
        ASSERT_EQ(sim::OpenHandles(), std::vector<std::string>()) << what;
        ASSERT_EQ(sim::Problems(), std::vector<std::string>()) << what;
        // An enumeration ending early looks to the program as a key without subkeys, which it may
        // then remove whole: such a run only has to end cleanly.
        if (plan.code == static_cast<os::DWORD>(os::ERROR_NO_MORE_ITEMS))
          continue;

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
        bool fRefusalLifted = !fCleanRemoves && !removal.keys.empty();

        // A second, clean run on what the faulted run left.
        sim::ClearFaults();
        RunUninstaller();
        std::vector<std::string> differences = Differences(sim::TakeSnapshot(), cleanEnd);
        if (!differences.empty() || fRefusalLifted) {
          std::string name = FindingName(failing, fPersistent, LeftoverOf(differences, fRefusalLifted));
          findings.emplace(name, what + (differences.empty() ? "" : ": differs at: " + differences[0]));
        }
      }
    }
  }
  std::set<std::string> accepted = AcceptedFor(GetParam());
  std::vector<std::string> unexpected, gone;
  for (const auto &finding : findings) {
    if (accepted.count(finding.first) == 0)
      unexpected.push_back(finding.first + " (e.g. " + finding.second + ")");
  }
  for (const std::string &name : accepted) {
    if (findings.count(name) == 0)
      gone.push_back(name);
  }
  EXPECT_EQ(unexpected, std::vector<std::string>()) << "findings not accepted";
  EXPECT_EQ(gone, std::vector<std::string>()) << "accepted findings no run shows any more";
  sim::SetAnswerSource(nullptr);
  sim::Reset();
}

INSTANTIATE_TEST_SUITE_P(Samples, FaultSweep, ::testing::Values("win98", "winme", "connected", "typical"));

}  // namespace

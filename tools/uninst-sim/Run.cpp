// The run: load the image onto a fresh simulated machine, run WinMain, show and record the lot.
#include <algorithm>
#include <filesystem>
#include <istream>
#include <ostream>

#include "tools/formats/MappedFile.h"
#include "tools/uninst-sim/Load.h"
#include "tools/uninst-sim/Save.h"
#include "tools/uninst-sim/UninstSim.h"
#include "uninstall/Uninst.h"

namespace fs = std::filesystem;

namespace uninstsim {

namespace {

const os::UINT MB_TYPEMASK = 0x0F;

// Thrown from the answer source when a box has no answer: it ends the run without one.
struct NoAnswer {
  sim::MessageBoxRecord box;
};

struct Session {
  const Options &options;
  std::ostream &out;
  std::istream *pTerminal;
  bool fDefaultSample = false;  // no option named a source: options.machine is the bundled sample
  size_t nextAnswer = 0;
  size_t traceShown = 0;
};

void ShowTrace(Session *pSession) {
  const std::vector<std::string> &trace = sim::Trace();
  for (; pSession->traceShown < trace.size(); ++pSession->traceShown) {
    if (!pSession->options.fQuiet)
      pSession->out << PrintableLines(sim::Utf8FromCp1252(trace[pSession->traceShown], true));
  }
}

int AskTerminal(Session *pSession, const sim::MessageBoxRecord &box) {
  std::string line;
  for (;;) {
    pSession->out << "  Oui/Non ? " << std::flush;
    if (!std::getline(*pSession->pTerminal, line))
      throw NoAnswer{box};
    std::vector<int> answer;
    if (ParseAnswers(line, &answer) && answer.size() == 1)
      return answer[0];
  }
}

int Answer(Session *pSession, const sim::MessageBoxRecord &box) {
  ShowTrace(pSession);
  pSession->out << "== box [" << PrintableCp1252(box.caption) << "] " << PrintableCp1252(box.text) << "\n";
  int iAnswer = os::IDOK;
  if ((box.uStyle & MB_TYPEMASK) != os::MB_OK) {
    if (pSession->nextAnswer < pSession->options.answers.size()) {
      iAnswer = pSession->options.answers[pSession->nextAnswer++];
    } else if (pSession->pTerminal != nullptr) {
      iAnswer = AskTerminal(pSession, box);
    } else {
      throw NoAnswer{box};
    }
  }
  pSession->out << "   answer: " << (iAnswer == os::IDYES ? "Oui" : iAnswer == os::IDNO ? "Non" : "OK") << "\n";
  return iAnswer;
}

// The sample machine found from where the tool itself is, so that it runs from any folder: an
// install's share/uninst-sim/samples beside its bin/, or a checkout's samples/ above the build
// tree's tools/ (build/<preset>/tools/uninst-sim). "" when there is none.
std::string DefaultMachine() {
  std::error_code failure;
  fs::path folder = fs::read_symlink("/proc/self/exe", failure).parent_path();
  if (failure)
    return "";
  for (const fs::path &candidate : {folder / "../share/uninst-sim/samples/win98", folder / "../../../samples/win98"}) {
    std::error_code missing;  // a candidate that is not there is no failure
    if (fs::is_directory(candidate / "drive", missing) && fs::is_regular_file(candidate / "registry.reg", missing))
      return candidate.lexically_normal().string();
  }
  return "";
}

int Fail(std::ostream &err, const std::string &message) {
  err << "uninst-sim: " << Printable(message) << "\n";
  sim::SetAnswerSource(nullptr);
  sim::Reset();
  return EXIT_TOOL_ERROR;
}

void ShowSkipped(std::ostream &err, const Options &options, const std::vector<SkippedLine> &skipped) {
  for (const SkippedLine &line : skipped)
    err << "uninst-sim: " << SkippedLineText(line) << "\n";
  size_t total = 0;
  for (const SkippedLine &line : skipped)
    total += line.count;
  if (total != 0)
    err << "uninst-sim: " << total << (total == 1 ? " line" : " lines") << " of " << Printable(options.registry)
        << " skipped\n";
}

// Of a skipped line's key line, no more is kept than a key line the reader takes can hold.
const size_t KEY_LINE_SHOWN = 512;

using Source = std::pair<std::string, std::string>;  // what it is, and its path

// Where the registry came from, as LoadMachine takes it.
Source RegistrySource(const Options &options) {
  if (!options.hive.empty())
    return {"the registry file", options.hive};
  if (!options.registry.empty())
    return {"the regedit export", options.registry};
  if (!options.disk.empty())
    return {"the disk's registry file", options.disk + ": " + sim::WindowsDirectory() + "\\SYSTEM.DAT"};
  return {"the machine image's registry.reg", (fs::path(options.machine) / "registry.reg").string()};
}

// Where the drive came from; ("", "") for the empty Windows tree a fresh machine has.
Source DriveSource(const Options &options) {
  if (!options.disk.empty())
    return {"the disk", options.disk};
  std::error_code missing;
  fs::path drive = fs::path(options.machine) / "drive";
  if (!options.machine.empty() && fs::is_directory(drive, missing))
    return {"the machine image's drive/", drive.string()};
  return {"", ""};
}

MachineInput InputOf(const Options &options, bool fDefaultSample) {
  MachineInput input;
  if (!options.disk.empty())
    std::tie(input.kind, input.path) = Source{"disk", options.disk};
  else if (!options.machine.empty())
    std::tie(input.kind, input.path) = Source{"machine image", options.machine};
  else if (!options.hive.empty())
    std::tie(input.kind, input.path) = Source{"registry file", options.hive};
  else
    std::tie(input.kind, input.path) = Source{"regedit export", options.registry};
  std::tie(input.registryFrom, input.registryPath) = RegistrySource(options);
  std::tie(input.driveFrom, input.drivePath) = DriveSource(options);
  input.fDefaultSample = fDefaultSample;
  return input;
}

// The key line each skipped line is or follows, found in one pass over the export's lines as
// its reader counts them (split at LF); skipped lines come in line order.
void FindSkippedKeys(const std::string &exportPath, std::vector<SkippedLine> *pSkipped) {
  formats::MappedFile image(exportPath);
  if (!image.IsOpen() || pSkipped->empty())
    return;
  std::string_view text = image.Text();
  std::string key;
  size_t lineNumber = 0;
  auto next = pSkipped->begin();
  for (size_t pos = 0; pos < text.size() && next != pSkipped->end(); ++lineNumber) {
    size_t end = std::min(text.find('\n', pos), text.size());
    std::string_view line = text.substr(pos, std::min(end - pos, KEY_LINE_SHOWN));
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (!line.empty() && line[0] == '[')
      key = std::string(line.substr(1, std::min(line.rfind(']'), line.size()) - 1));
    for (; next != pSkipped->end() && next->line == lineNumber + 1; ++next)
      next->key = key;
    pos = end + 1;
  }
}

// A skipped line may change the preview when it lies in a key the run read or removed; an entry
// standing for lines not listed may always.
void MarkSkippedLines(const sim::Changes &changes, std::vector<SkippedLine> *pSkipped) {
  std::vector<std::string> touched = KeysTouched(sim::Trace(), changes);
  for (SkippedLine &line : *pSkipped)
    line.fMayChangePreview = line.count > 1 || (!line.key.empty() && InOrUnderAny(line.key, touched));
}

// The report of the run, with what the machine lacked and what the simulation saw go wrong.
Report RunReport(const Session &session, const sim::Changes &changes, int iExitCode, bool fDynamicData,
                 const std::vector<SkippedLine> &skipped) {
  Report report = BuildReport(changes, iExitCode);
  report.input = InputOf(session.options, session.fDefaultSample);
  report.skippedLines = skipped;
  FindSkippedKeys(session.options.registry, &report.skippedLines);
  MarkSkippedLines(changes, &report.skippedLines);
  report.unusedAnswers.assign(session.options.answers.begin() + static_cast<long>(session.nextAnswer),
                              session.options.answers.end());
  if (!fDynamicData)
    report.notes.push_back("the registry has no HKEY_DYN_DATA (" + report.input.registryFrom +
                           " has none): no printer counts as connected");
  for (const std::string &problem : sim::Problems())
    report.notes.push_back("simulation: " + problem);
  return report;
}

// The run's record written, and its summary shown. Throws DiskError.
int Record(const Options &options, const formats::FatDisk &disk, const sim::Changes &changes, const Report &report,
           std::ostream &out, std::ostream &err) {
  std::vector<std::string> diskFolders;
  if (!options.disk.empty())
    diskFolders = TouchedFolders(changes);
  std::string folder = options.out.empty() ? NewOutputFolder(options) : options.out;
  std::string error = SaveRun(folder, options.disk.empty() ? nullptr : &disk, diskFolders, changes, report);
  if (!error.empty())
    return Fail(err, error);
  out << "== summary\n" << ReportText(report);
  out << "Output written to " << Printable(folder) << "\n";
  sim::SetAnswerSource(nullptr);
  sim::Reset();
  return report.iExitCode;
}

// The run on the loaded machine, and its record. Throws DiskError.
int RunOnMachine(const Options &options, bool fDefaultSample, std::ostream &out, std::ostream &err,
                 std::istream *pTerminal) {
  std::vector<SkippedLine> skipped;
  formats::FatDisk disk;
  std::string error = LoadMachine(options, &disk, &skipped);
  if (!error.empty())
    return Fail(err, error);
  ShowSkipped(err, options, skipped);
  sim::SetMinorVersion(options.minor);
  sim::SetMoveFileExSupported(options.fMoveFileEx);
  Session session{options, out, pTerminal, fDefaultSample};
  if (fDefaultSample)
    out << "== no machine given: using the bundled sample machine " << Printable(options.machine) << "\n";
  sim::SetAnswerSource([&session](const sim::MessageBoxRecord &box) { return Answer(&session, box); });

  bool fDynamicData = sim::HasSubkeys(os::HKEY_DYN_DATA, "");
  int iExitCode = 0;
  try {
    iExitCode = WinMain(nullptr, nullptr, nullptr, 0);
  } catch (const NoAnswer &missing) {
    ShowTrace(&session);
    return Fail(err, "no answer for the box [" + sim::Utf8FromCp1252(missing.box.caption, true) + "] " +
                         sim::Utf8FromCp1252(missing.box.text, true) + " (give it with --answers)");
  }
  ShowTrace(&session);
  sim::Changes changes = sim::MachineChanges();
  Report report = RunReport(session, changes, iExitCode, fDynamicData, skipped);
  if (!report.unusedAnswers.empty())
    err << "uninst-sim: answers left unused, no box took them: " << AnswerList(report.unusedAnswers) << "\n";
  return Record(options, disk, changes, report, out, err);
}

}  // namespace

int RunTool(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, std::istream *pTerminal) {
  Options options;
  bool fDefaultSample = false;
  std::string error = ParseOptions(
      args,
      [&fDefaultSample] {
        fDefaultSample = true;
        return DefaultMachine();
      },
      &options);
  if (!error.empty())
    return Fail(err, error + " (uninst-sim --help)");
  if (options.fHelp || options.fVersion) {
    out << (options.fHelp ? Usage() : "uninst-sim " UNINST_VERSION "\n");
    return 0;
  }
  error = CheckOutputFolder(options.out);
  if (!error.empty())
    return Fail(err, error);
  sim::Reset();
  try {
    return RunOnMachine(options, fDefaultSample, out, err, pTerminal);
  } catch (const formats::DiskError &failure) {
    return Fail(err, failure.message);
  }
}

}  // namespace uninstsim

// The run: load the image onto a fresh simulated machine, run WinMain, show and record the lot.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include <stdlib.h>

#include "tools/MappedFile.h"
#include "tools/Printable.h"
#include "tools/SimDisk.h"
#include "tools/SimHive.h"
#include "tools/SimTool.h"
#include "uninstall/Uninst.h"
#include "uninstall/UninstallState.h"

namespace fs = std::filesystem;

namespace simtool {

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
  size_t nextAnswer = 0;
  size_t traceShown = 0;
};

bool WriteHostFile(const fs::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

bool WriteRegistry(const fs::path &path) {
  std::ofstream out(path, std::ios::binary);
  sim::ExportRegistry([&out](const std::string &chunk) { out << chunk; });
  return static_cast<bool>(out);
}

std::string SetWindowsDir(const std::string &path) {
  if (!IsWindowsDirectory(path))
    return "Windows directory " + path + ": not a C:\\ path of at most 64 characters";
  sim::SetWindowsDirectory(path);
  return "";
}

// The disk's volume as the drive, and the Windows directory its MSDOS.SYS names. Throws DiskError.
std::string AttachDisk(const Options &options, Disk *pDisk) {
  Disk &disk = *pDisk;
  std::string error = OpenDisk(options.disk, &disk);
  if (!error.empty())
    return error;
  sim::AttachDrive(DiskSource(disk));
  std::string msdosSys;
  std::string windowsDir = options.windowsDir;
  if (windowsDir.empty() && sim::ReadFile("C:\\MSDOS.SYS", &msdosSys))
    windowsDir = WindowsDirectoryOf(msdosSys);
  return SetWindowsDir(windowsDir.empty() ? "C:\\WINDOWS" : windowsDir);
}

std::string LoadDrive(const Options &options, Disk *pDisk) {
  if (!options.disk.empty())
    return AttachDisk(options, pDisk);
  std::string error;
  if (!options.windowsDir.empty() && !(error = SetWindowsDir(options.windowsDir)).empty())
    return error;
  fs::path drive = fs::path(options.machine) / "drive";
  if (!options.machine.empty() && fs::is_directory(drive) && !sim::LoadDrive(drive.string(), &error))
    return error;
  return "";
}

// A customer's export is read past the lines Windows' own import would skip; an image's own
// registry.reg, and an export with --strict, are refused at the first.
std::string LoadRegistry(const Options &options, std::vector<SkippedLine> *pSkipped) {
  std::string error;
  if (!options.hive.empty())
    return LoadHive(options.hive);
  if (!options.disk.empty() && options.registry.empty()) {
    std::string hive;
    std::string path = sim::WindowsDirectory() + "\\SYSTEM.DAT";
    if (!sim::ReadFile(path, &hive))
      return options.disk + ": no " + path + " on the disk";
    return LoadHiveBytes(hive, options.disk + ": " + path);
  }
  fs::path registry =
      options.registry.empty() ? fs::path(options.machine) / "registry.reg" : fs::path(options.registry);
  MappedFile image(registry.string());
  if (!image.IsOpen())
    return "cannot read " + registry.string();
  std::vector<sim::SkippedLine> skipped;
  bool fLenient = !options.registry.empty() && !options.fStrict;
  if (!sim::ImportRegistry(image.Text(), &error, fLenient ? &skipped : nullptr))
    return registry.string() + ": " + error;
  for (const sim::SkippedLine &line : skipped)
    pSkipped->push_back(SkippedLine{options.registry, line.line, line.why, line.count});
  return "";
}

// "" or the error, naming the file (and the line for a malformed image). Throws DiskError.
std::string LoadMachine(const Options &options, Disk *pDisk, std::vector<SkippedLine> *pSkipped) {
  if (!options.machine.empty() && !fs::is_directory(options.machine))
    return "no machine image folder " + options.machine;
  std::string error = LoadDrive(options, pDisk);
  if (error.empty())
    error = LoadRegistry(options, pSkipped);
  if (!error.empty())
    return error;
  for (const std::string &path : options.inUse) {
    std::string name;
    if (!sim::Cp1252FromUtf8(path, &name) || !sim::ReadFile(name, nullptr))
      return "--in-use " + path + ": no such file on the machine";
    sim::SetFileInUse(name, true);
  }
  return "";
}

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

std::string NewOutputFolder(const Options &options) {
  std::time_t now = std::time(nullptr);
  char ucStamp[32];
  std::strftime(ucStamp, sizeof ucStamp, "%Y%m%d-%H%M%S", std::localtime(&now));
  std::string name = !options.machine.empty() ? fs::path(options.machine).lexically_normal().filename().string()
                     : !options.disk.empty()  ? fs::path(options.disk).stem().string()
                     : !options.hive.empty()  ? fs::path(options.hive).stem().string()
                                              : fs::path(options.registry).stem().string();
  if (name.empty())
    name = "machine";
  fs::path base = fs::path("out") / (name + "-" + ucStamp);
  fs::path folder = base;
  for (int i = 2; fs::exists(folder); ++i)
    folder = base.string() + "-" + std::to_string(i);
  return folder.string();
}

std::string FolderOf(const std::string &winPath) {
  std::string normal = sim::NormalPath(winPath);
  return normal.substr(0, normal.rfind('\\'));
}

// The folders of a disk the run searched or changed, listed from the disk (throws DiskError), so
// that writing them cannot fail half-way on the disk.
std::vector<std::string> TouchedFolders(const sim::Changes &changes) {
  std::vector<std::string> folders = changes.searchedFolders;
  for (const std::string &file : changes.deletedFiles)
    folders.push_back(FolderOf(file));
  for (const sim::WrittenFile &file : changes.writtenFiles)
    folders.push_back(FolderOf(file.path));
  std::set<std::string> hostFolders;
  std::vector<std::string> touched;
  for (const std::string &folder : folders) {
    std::vector<sim::FolderEntry> entries;
    std::string hostFolder = sim::FolderEntries(folder, &entries);
    if (!hostFolder.empty() && hostFolders.insert(hostFolder).second)
      touched.push_back(folder);
  }
  return touched;
}

// A disk folder as the run left it: its files copied from the image in one go, those the run
// deleted taken out again, those it read, wrote or made put in from the simulated drive. "" or
// the one-line error.
std::string WriteDiskFolder(const Disk &disk, const std::string &folder, const fs::path &driveOut) {
  std::vector<sim::FolderEntry> entries;
  std::string hostFolder = sim::FolderEntries(folder, &entries);
  std::string relative = hostFolder.substr(std::min(hostFolder.size(), sim::DriveRoot().size() + 1));
  fs::path target = driveOut / relative;
  std::error_code failure;
  fs::create_directories(target, failure);
  if (failure)
    return failure.message();
  std::string error = CopyDiskFolder(disk, relative, target.string());
  if (!error.empty())
    return error;
  std::set<std::string> names;
  for (const sim::FolderEntry &entry : entries) {
    if (entry.fFolder)
      continue;
    names.insert(entry.hostName);
    if (entry.fRead && !fs::copy_file(fs::path(hostFolder) / entry.hostName, target / entry.hostName,
                                      fs::copy_options::overwrite_existing, failure))
      return failure.message();
  }
  for (const auto &file : fs::directory_iterator(target, failure)) {
    if (file.is_regular_file() && names.count(file.path().filename().string()) == 0 &&
        !fs::remove(file.path(), failure))
      return failure.message();
  }
  return failure ? failure.message() : "";
}

// The record of a run, written whole into staging: the drive after the run (the whole drive, or
// for a disk the folders the run searched or changed), the registry, the trace and the reports.
std::string WriteRun(const fs::path &staging, const Disk *pDisk, const std::vector<std::string> &diskFolders,
                     const sim::Changes &changes, const Report &report) {
  std::error_code failure;
  // A copy never follows a link: the drive holds none, and one that appeared would be copied as one.
  if (pDisk == nullptr)
    fs::copy(sim::DriveRoot(), staging / "drive", fs::copy_options::recursive | fs::copy_options::copy_symlinks,
             failure);
  if (failure)
    return "cannot write the drive: " + failure.message();
  for (const std::string &diskFolder : diskFolders) {
    std::string error = WriteDiskFolder(*pDisk, diskFolder, staging / "drive");
    if (!error.empty())
      return "cannot write the drive: " + error;
  }
  std::string trace;
  for (const std::string &line : sim::Trace())
    trace += line;
  bool fWritten = WriteRegistry(staging / "registry.reg") && WriteHostFile(staging / "trace.txt", trace) &&
                  WriteHostFile(staging / "report.txt", ReportText(report)) &&
                  WriteHostFile(staging / "report.json", ReportJson(report)) &&
                  WriteHostFile(staging / "undo.reg", UndoImage(changes));
  return fWritten ? "" : "cannot write the files of the run";
}

// Moves what staging holds into the output folder, each entry in place of one of its name; a
// drive of an earlier run goes also when this run wrote none.
bool Publish(const fs::path &staging, const fs::path &folder) {
  std::error_code failure;
  fs::remove_all(folder / "drive", failure);
  for (const auto &entry : fs::directory_iterator(staging, failure)) {
    fs::path target = folder / entry.path().filename();
    fs::remove_all(target, failure);
    if (!failure)
      fs::rename(entry.path(), target, failure);
    if (failure)
      return false;
  }
  return !failure && fs::remove(staging, failure);
}

// The run's record, written first into a staging folder inside the output folder and moved into
// place only once whole: a failure leaves the output folder as it was, or none when it was new.
std::string SaveRun(const std::string &folder, const Disk *pDisk, const std::vector<std::string> &diskFolders,
                    const sim::Changes &changes, const Report &report) {
  std::error_code failure;
  bool fNew = !fs::exists(fs::symlink_status(folder, failure));
  fs::create_directories(folder, failure);
  std::string pattern = (fs::path(folder) / ".uninst-sim-partial-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  std::string error;
  if (failure || mkdtemp(buffer.data()) == nullptr)
    return "cannot write " + folder + ": " + (failure ? failure.message() : std::strerror(errno));
  fs::path staging(buffer.data());
  error = WriteRun(staging, pDisk, diskFolders, changes, report);
  if (error.empty() && !Publish(staging, folder))
    error = "cannot move the files of the run into place";
  if (error.empty())
    return "";
  fs::remove_all(staging, failure);
  if (fNew)
    fs::remove_all(folder, failure);
  return "cannot write " + folder + ": " + error;
}

std::string DefaultMachine() {
  if (fs::is_directory("samples/win98"))
    return "samples/win98";
#ifdef UNINST_SOURCE_DIR
  return std::string(UNINST_SOURCE_DIR) + "/samples/win98";
#else
  return "samples/win98";
#endif
}

int Fail(std::ostream &err, const std::string &message) {
  err << "uninst-sim: " << Printable(message) << "\n";
  sim::SetAnswerSource(nullptr);
  sim::Reset();
  return EXIT_TOOL_ERROR;
}

// The run on the loaded machine, and its record. Throws DiskError.
int RunOnMachine(const Options &options, std::ostream &out, std::ostream &err, std::istream *pTerminal) {
  std::vector<SkippedLine> skipped;
  Disk disk;
  std::string error = LoadMachine(options, &disk, &skipped);
  if (!error.empty())
    return Fail(err, error);
  for (const SkippedLine &line : skipped)
    err << "uninst-sim: " << SkippedLineText(line) << "\n";
  size_t total = 0;
  for (const SkippedLine &line : skipped)
    total += line.count;
  if (total != 0)
    err << "uninst-sim: " << total << (total == 1 ? " line" : " lines") << " of " << Printable(options.registry)
        << " skipped\n";
  sim::SetMinorVersion(options.minor);
  sim::SetMoveFileExSupported(options.fMoveFileEx);
  Session session{options, out, pTerminal};
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
  Report report = BuildReport(changes, iExitCode);
  report.skippedLines = skipped;
  if (!fDynamicData)
    report.notes.push_back(
        "the registry has no HKEY_DYN_DATA (a regedit export has none): no printer counts as connected");
  for (const std::string &problem : sim::Problems())
    report.notes.push_back("simulation: " + problem);

  std::vector<std::string> diskFolders;
  if (!options.disk.empty())
    diskFolders = TouchedFolders(changes);
  std::string folder = options.out.empty() ? NewOutputFolder(options) : options.out;
  error = SaveRun(folder, options.disk.empty() ? nullptr : &disk, diskFolders, changes, report);
  if (!error.empty())
    return Fail(err, error);
  out << "== summary\n" << ReportText(report);
  out << "Output written to " << Printable(folder) << "\n";
  sim::SetAnswerSource(nullptr);
  sim::Reset();
  return iExitCode;
}

}  // namespace

int RunTool(const std::vector<std::string> &args, std::ostream &out, std::ostream &err, std::istream *pTerminal) {
  Options options;
  std::string error = ParseOptions(args, DefaultMachine, &options);
  if (!error.empty())
    return Fail(err, error + " (uninst-sim --help)");
  if (options.fHelp) {
    out << Usage();
    return 0;
  }
  sim::Reset();
  try {
    return RunOnMachine(options, out, err, pTerminal);
  } catch (const DiskError &failure) {
    return Fail(err, failure.message);
  }
}

}  // namespace simtool

// Saving a run: everything is written into a staging folder inside the output folder first, and
// moved into place only once whole.
#include "tools/uninst-sim/Save.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>

#include <stdlib.h>

#include "tools/uninst-sim/Load.h"

namespace fs = std::filesystem;

namespace uninstsim {

namespace {

bool WriteHostFile(const fs::path &path, const std::string &bytes) {
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  return static_cast<bool>(out);
}

bool WriteRegistry(const fs::path &path) {
  std::ofstream out(path, std::ios::binary);
  ExportRegistry([&out](const std::string &chunk) { out << chunk; });
  return static_cast<bool>(out);
}

std::string FolderOf(const std::string &winPath) {
  std::string normal = sim::NormalPath(winPath);
  return normal.substr(0, normal.rfind('\\'));
}

// A disk folder as the run left it: its files copied from the image in one go, those the run
// deleted taken out again, those it read, wrote or made put in from the simulated drive. "" or
// the one-line error.
std::string WriteDiskFolder(const formats::FatDisk &disk, const std::string &folder, const fs::path &driveOut) {
  std::vector<sim::FolderEntry> entries;
  std::string hostFolder = sim::FolderEntries(folder, &entries);
  std::string relative = hostFolder.substr(std::min(hostFolder.size(), sim::DriveRoot().size() + 1));
  fs::path target = driveOut / relative;
  std::error_code failure;
  fs::create_directories(target, failure);
  if (failure)
    return failure.message();
  std::string error = formats::CopyFatFolder(disk, relative, target.string());
  if (!error.empty())
    return error;
  std::set<std::string> names;
  for (const sim::FolderEntry &entry : entries) {
    if (entry.fFolder)
      continue;
    names.insert(entry.hostName);
    if (entry.fHeld && !fs::copy_file(fs::path(hostFolder) / entry.hostName, target / entry.hostName,
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
std::string WriteRun(const fs::path &staging, const formats::FatDisk *pDisk,
                     const std::vector<std::string> &diskFolders, const sim::Changes &changes, const Report &report) {
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

}  // namespace

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

std::string CheckOutputFolder(const std::string &folder) {
  std::error_code failure;
  fs::file_status status = fs::status(folder, failure);
  if (folder.empty() || !fs::exists(status))
    return "";  // a new folder; one that cannot be made is told when the run is written
  if (!fs::is_directory(status))
    return "--out " + folder + " is not a folder";
  fs::directory_iterator entries(folder, failure);
  if (failure)
    return "cannot read --out " + folder + ": " + failure.message();
  if (entries != fs::directory_iterator())
    return "--out " + folder + " is not empty: give a new or an empty folder";
  return "";
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

// The run's record, written first into a staging folder inside the output folder and moved into
// place only once whole: a failure leaves the output folder as it was, or none when it was new.
std::string SaveRun(const std::string &folder, const formats::FatDisk *pDisk,
                    const std::vector<std::string> &diskFolders, const sim::Changes &changes, const Report &report) {
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

}  // namespace uninstsim

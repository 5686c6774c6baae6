// The C: drive of the simulated machine, backed by a host folder that only this machine uses, and
// the sim:: functions that set it up and read it back. Windows paths are resolved as the path
// rules split them before anything touches the host, names comparing ignoring ASCII case at every
// level. The program sees every name in code page 1252; the host folder holds their UTF-8 forms.
// A resolved host path is built only of names read from the folder itself or of names that cannot
// climb out of it, so nothing outside the drive is reached. A drive taken from a source is listed
// folder by folder as paths first go through them, and each file read when first needed. Relies
// on the machine record, the path rules and the host files.
#include "platform/sim/SimDrive.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "platform/sim/SimHostFiles.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPathRules.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

// The host's name for an entry, in code page 1252; "" when it has none (never on a loaded drive).
std::string ProgramName(const std::string &hostName) {
  std::string name;
  return Cp1252FromUtf8(hostName, &name) ? name : "";
}

std::string SourcePath(const std::string &hostPath) {
  return hostPath.size() > M().driveRoot.size() ? hostPath.substr(M().driveRoot.size() + 1) : "";
}

// Lists a host folder from the drive source the first time a path goes through it: folders are
// made, files only noted (a folder of thousands costs no host file) and read when first opened.
void EnsureListed(const std::string &hostFolder) {
  Machine &m = M();
  if (!m.source.list || !m.listedFolders.insert(hostFolder).second)
    return;
  for (const auto &entry : m.source.list(SourcePath(hostFolder))) {
    if (!IsHostComponent(entry.first)) {
      Problem("the drive lists a name that cannot be a host file's; it is left out");
      continue;
    }
    std::string hostPath = hostFolder + "/" + entry.first;
    if (entry.second)
      MakeFolderBeneath(m.driveRoot, hostPath);
    else
      m.unread[hostPath] = SourcePath(hostPath);
  }
}

// The host names of a folder's entries not read from the source yet.
void AddUnreadNames(const std::string &hostFolder, std::vector<std::string> *pNames) {
  const std::string prefix = hostFolder + "/";
  const std::map<std::string, std::string> &unread = M().unread;
  for (auto it = unread.lower_bound(prefix); it != unread.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    if (it->first.find('/', prefix.size()) == std::string::npos)
      pNames->push_back(it->first.substr(prefix.size()));
  }
}

// The host names of a folder's entries: those on the host and those not read yet.
std::vector<std::string> HostNames(const std::string &hostFolder) {
  EnsureListed(hostFolder);
  std::vector<std::string> names;
  if (DIR *pDir = OpenFolderBeneath(M().driveRoot, hostFolder)) {
    while (dirent *pEntry = readdir(pDir)) {
      std::string hostName = pEntry->d_name;
      if (hostName != "." && hostName != "..")
        names.push_back(hostName);
    }
    closedir(pDir);
  }
  AddUnreadNames(hostFolder, &names);
  return names;
}

// The host spelling of the folder's entry that Windows would take for name, or "".
std::string FindEntry(const std::string &folder, const std::string &name) {
  for (const std::string &hostName : HostNames(folder)) {
    if (SameName(ProgramName(hostName), name))
      return hostName;
  }
  return "";
}

// The last machine's drive goes with the process, so that test runs leave no folders behind.
void RemoveLastDrive() {
  CloseAllFiles();
  std::error_code error;
  if (!M().driveRoot.empty())
    fs::remove_all(fs::path(M().driveRoot).parent_path(), error);
}

// Creates the folders of a Windows path that are missing, each under the name the path gives.
void MakeFolders(const std::string &winPath) {
  std::vector<std::string> parts;
  if (!SplitWinPath(winPath, &parts))
    return;
  std::vector<std::string> prefix;
  for (const std::string &part : parts) {
    prefix.push_back(part);
    Resolved r = ResolveParts(prefix);
    if (!r.fExists)
      MakeFolderBeneath(M().driveRoot, r.hostPath);
  }
}

// Every file under the host folder, by its Windows path; folders are walked from a list, not by
// recursion, as an image sets their depth.
void CollectFiles(const std::string &hostFolder, const std::string &winFolder, std::vector<std::string> *pFiles) {
  std::vector<std::pair<std::string, std::string>> pending{{hostFolder, winFolder}};
  while (!pending.empty()) {
    auto [host, win] = pending.back();
    pending.pop_back();
    for (const std::string &hostName : HostNames(host)) {
      std::string hostPath = host + "/" + hostName;
      std::string winPath = win + "\\" + ProgramName(hostName);
      EnsureRead(hostPath);
      struct stat st;
      if (!StatBeneath(M().driveRoot, hostPath, &st))
        continue;
      if (S_ISDIR(st.st_mode))
        pending.emplace_back(hostPath, winPath);
      else if (S_ISREG(st.st_mode))
        pFiles->push_back(winPath);
    }
  }
}

// A new temporary host folder for the drive; "" when none can be made.
std::string MakeDriveFolder() {
  const char *pucTemp = std::getenv("TMPDIR");
  std::string pattern = std::string(pucTemp && *pucTemp ? pucTemp : "/tmp") + "/uninst-sim-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr)
    return "";
  // The drive is one folder of the machine's own; its siblings hold the machine's scratch files.
  std::string driveRoot = std::string(buffer.data()) + "/C";
  std::error_code error;
  fs::create_directory(driveRoot, error);
  return driveRoot;
}

}  // namespace

Resolved ResolveParts(const std::vector<std::string> &parts) {
  Resolved r{true, true, true, true, M().driveRoot};
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string entry = r.fExists ? FindEntry(r.hostPath, parts[i]) : "";
    if (entry.empty()) {
      if (i + 1 < parts.size())
        r.fParentExists = false;
      r.fExists = false;
      entry = Utf8FromCp1252(parts[i]);
    }
    r.hostPath += "/" + entry;
  }
  return r;
}

Resolved ResolvePath(const std::string &winPath) {
  std::vector<std::string> parts;
  bool fOnDrive = SplitWinPath(winPath, &parts);
  if (!fOnDrive || !ValidNames(parts, false))
    return Resolved{fOnDrive, false, false, false, M().driveRoot};
  return ResolveParts(parts);
}

bool IsDirectory(const std::string &hostPath) {
  struct stat st;
  return StatBeneath(M().driveRoot, hostPath, &st) && S_ISDIR(st.st_mode);
}

std::vector<std::string> FolderNames(const std::string &hostFolder) {
  std::vector<std::pair<std::string, std::string>> names;
  for (const std::string &hostName : HostNames(hostFolder)) {
    std::string name = ProgramName(hostName);
    names.emplace_back(Fold(name), name);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> sorted;
  for (auto &name : names)
    sorted.push_back(name.second);
  return sorted;
}

void EnsureRead(const std::string &hostPath) {
  Machine &m = M();
  auto it = m.unread.find(hostPath);
  if (it == m.unread.end())
    return;
  std::string bytes = m.source.read(it->second);
  WriteFileBeneath(m.driveRoot, hostPath, bytes);
  m.unread.erase(it);
}

bool ReadHostFile(const std::string &hostPath, std::string *pBytes) {
  return ReadFileBeneath(M().driveRoot, hostPath, pBytes);
}

std::string HeldBytes(const std::string &hostPath) {
  std::string bytes;
  if (M().unread.count(hostPath) == 0)
    ReadHostFile(hostPath, &bytes);
  return bytes;
}

bool RemoveFromDrive(const std::string &hostPath) {
  return M().unread.erase(hostPath) != 0 || RemoveFileBeneath(M().driveRoot, hostPath);
}

std::string SystemDirectory() {
  return M().windowsDirectory + "\\SYSTEM";
}

void EmptyDrive() {
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(M().driveRoot, error))
    fs::remove_all(entry.path(), error);
}

void ResetDrive() {
  static const bool fCleanupRegistered = std::atexit(RemoveLastDrive) == 0;
  (void)fCleanupRegistered;
  Machine &m = M();
  std::error_code error;
  if (!m.driveRoot.empty())
    fs::remove_all(fs::path(m.driveRoot).parent_path(), error);
  m.driveRoot = MakeDriveFolder();
  if (m.driveRoot.empty()) {
    Problem("cannot create the simulated drive");
    return;
  }
  SetWindowsDirectory("C:\\WINDOWS");
}

std::string DriveRoot() {
  return M().driveRoot;
}

void LoadDrive(const DriveSource &source) {
  AttachDrive(source);
  ListFiles();  // lists every folder and reads every file
  Machine &m = M();
  m.source = DriveSource();
  m.listedFolders.clear();
  SetWindowsDirectory(m.windowsDirectory);
}

void AttachDrive(const DriveSource &source) {
  CloseAllFiles();
  EmptyDrive();
  Machine &m = M();
  m.source = source;
  m.listedFolders.clear();
  m.unread.clear();
}

std::string FolderEntries(const std::string &winPath, std::vector<FolderEntry> *pEntries) {
  Resolved r = ResolvePath(winPath);
  pEntries->clear();
  if (!r.fExists || !IsDirectory(r.hostPath))
    return "";
  for (const std::string &hostName : HostNames(r.hostPath)) {
    std::string hostPath = r.hostPath + "/" + hostName;
    pEntries->push_back(FolderEntry{hostName, IsDirectory(hostPath), M().unread.count(hostPath) == 0});
  }
  return r.hostPath;
}

void SetWindowsDirectory(const std::string &winPath) {
  M().windowsDirectory = winPath;
  MakeFolders(winPath);
  MakeFolders(SystemDirectory());
}

std::string WindowsDirectory() {
  return M().windowsDirectory;
}

std::string HostPath(const std::string &winPath) {
  return ResolvePath(winPath).hostPath;
}

void WriteFile(const std::string &winPath, const std::string &bytes) {
  std::string normal = NormalPath(winPath);
  MakeFolders(normal.substr(0, normal.rfind('\\')));
  Resolved r = ResolvePath(winPath);
  if (r.fValid && r.fParentExists)
    WriteFileBeneath(M().driveRoot, r.hostPath, bytes);
}

bool ReadFile(const std::string &winPath, std::string *pBytes) {
  Resolved r = ResolvePath(winPath);
  if (!r.fExists || IsDirectory(r.hostPath))
    return false;
  EnsureRead(r.hostPath);
  if (pBytes)
    return ReadHostFile(r.hostPath, pBytes);
  return true;
}

void SetFileInUse(const std::string &winPath, bool fInUse) {
  std::string hostPath = ResolvePath(winPath).hostPath;
  if (fInUse) {
    M().inUse.insert(hostPath);
  } else {
    M().inUse.erase(hostPath);
  }
}

void SetReadOnly(const std::string &winPath, bool fReadOnly) {
  std::string hostPath = ResolvePath(winPath).hostPath;
  if (fReadOnly) {
    M().readOnly.insert(hostPath);
  } else {
    M().readOnly.erase(hostPath);
  }
}

std::vector<std::string> ListFiles() {
  std::vector<std::string> files;
  if (!M().driveRoot.empty())
    CollectFiles(M().driveRoot, "C:", &files);
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace sim

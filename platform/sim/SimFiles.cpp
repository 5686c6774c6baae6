// The C: drive of the simulated machine, backed by a host folder that only this machine uses.
// Windows paths are resolved as Windows resolves them before anything touches the host: '/' is
// a separator, empty and "." components drop out, ".." removes the component before it and stops
// at C:\, trailing dots and blanks go as Win32 takes them off, and names compare ignoring ASCII
// case at every level. The program sees every name in code page 1252; the host folder holds their UTF-8
// forms. A resolved host path is built only of names read from the folder itself or of names
// that cannot climb out of it, so nothing outside the drive is reached. Searches list their
// matches in ascending lower-cased name order (a FAT directory keeps creation order, which a host
// folder does not); mappings are real mmaps of the host files. MoveFileExA fails with 120 as on
// Windows 98/ME unless the machine is told otherwise.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/files.h"
#include "platform/sim/SimHostFiles.h"
#include "platform/sim/SimMachine.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

struct Resolved {
  bool fOnDrive;         // a C:\ path
  bool fValid;           // ... whose names Windows accepts
  bool fParentExists;    // every folder on the way exists
  bool fExists;          // the last part exists
  std::string hostPath;  // existing parts as the host spells them, the rest in UTF-8
};

// Characters no Windows file name holds; '*' and '?' are the search wildcards.
bool IsForbidden(unsigned char c, bool fWildcardsAllowed) {
  if (c < 0x20)
    return true;
  if (c == '*' || c == '?')
    return !fWildcardsAllowed;
  return std::strchr("\"<>|:", c) != nullptr && c != '\0';
}

std::string WithoutTrailingDotsAndBlanks(std::string name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' '))
    name.pop_back();
  return name;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// The components of a C:\ path after Windows' normalisation; false when it is not one. "." and
// ".." are resolved as text first; then a component followed by a separator loses one trailing
// dot (one still ending in a dot or blank names nothing: no entry ends so), and the last one
// every trailing dot and blank.
bool SplitPath(const std::string &winPath, std::vector<std::string> *pParts) {
  pParts->clear();
  if (winPath.size() < 3 || (winPath[0] != 'C' && winPath[0] != 'c') || winPath[1] != ':' || !IsSeparator(winPath[2])) {
    return false;
  }
  std::string part;
  for (size_t i = 3; i <= winPath.size(); ++i) {
    if (i < winPath.size() && !IsSeparator(winPath[i])) {
      part += winPath[i];
      continue;
    }
    if (part == "..") {
      if (!pParts->empty())
        pParts->pop_back();
    } else if (part == ".") {
    } else if (i < winPath.size()) {
      if (!part.empty() && part.back() == '.')
        part.pop_back();
      if (!part.empty())
        pParts->push_back(part);
    } else if (!WithoutTrailingDotsAndBlanks(part).empty()) {
      pParts->push_back(WithoutTrailingDotsAndBlanks(part));
    }
    part.clear();
  }
  return true;
}

bool ValidNames(const std::vector<std::string> &parts, bool fLastMayHoldWildcards) {
  for (size_t i = 0; i < parts.size(); ++i) {
    bool fWildcards = fLastMayHoldWildcards && i + 1 == parts.size();
    for (unsigned char c : parts[i]) {
      if (IsForbidden(c, fWildcards))
        return false;
    }
  }
  return true;
}

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

void EnsureRead(const std::string &hostPath) {
  Machine &m = M();
  auto it = m.unread.find(hostPath);
  if (it == m.unread.end())
    return;
  std::string bytes = m.source.read(it->second);
  WriteFileBeneath(m.driveRoot, hostPath, bytes);
  m.unread.erase(it);
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
  const std::string prefix = hostFolder + "/";
  const std::map<std::string, std::string> &unread = M().unread;
  for (auto it = unread.lower_bound(prefix); it != unread.end() && it->first.compare(0, prefix.size(), prefix) == 0;
       ++it) {
    if (it->first.find('/', prefix.size()) == std::string::npos)
      names.push_back(it->first.substr(prefix.size()));
  }
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

bool IsDirectory(const std::string &hostPath) {
  struct stat st;
  return StatBeneath(M().driveRoot, hostPath, &st) && S_ISDIR(st.st_mode);
}

// 3 for a path that is not on C:\ or whose folders are missing, 123 for a name Windows refuses.
os::DWORD PathError(const std::string &winPath, const Resolved &r) {
  if (!r.fOnDrive)
    return os::ERROR_PATH_NOT_FOUND;
  if (!r.fValid)
    return os::ERROR_INVALID_NAME;
  if (!r.fParentExists)
    return os::ERROR_PATH_NOT_FOUND;
  // A file named with a separator after it is not a name Windows takes.
  return r.fExists && IsSeparator(winPath.back()) && !IsDirectory(r.hostPath) ? os::ERROR_INVALID_NAME : 0;
}

// A search specification: the folder's components, then the pattern, which may be empty (a
// specification ending in a separator matches nothing). False when it is not a C:\ path or a
// folder name holds a character Windows refuses.
bool SplitSearch(const std::string &spec, std::vector<std::string> *pParts) {
  size_t slash = spec.find_last_of("\\/");
  if (slash == std::string::npos || slash < 2 || !SplitPath(spec.substr(0, slash + 1), pParts))
    return false;
  bool fFolderValid = ValidNames(*pParts, false);
  std::string pattern = spec.substr(slash + 1);
  pParts->push_back(pattern == "." || pattern == ".." ? pattern : WithoutTrailingDotsAndBlanks(pattern));
  return fFolderValid;
}

Resolved Resolve(const std::string &winPath) {
  std::vector<std::string> parts;
  bool fOnDrive = SplitPath(winPath, &parts);
  if (!fOnDrive || !ValidNames(parts, false))
    return Resolved{fOnDrive, false, false, false, M().driveRoot};
  return ResolveParts(parts);
}

bool WildcardMatch(const char *pucPattern, const char *pucName) {
  if (*pucPattern == '\0')
    return *pucName == '\0';
  if (*pucPattern == '*') {
    for (const char *p = pucName;; ++p) {
      if (WildcardMatch(pucPattern + 1, p))
        return true;
      if (*p == '\0')
        return false;
    }
  }
  if (*pucName == '\0')
    return false;
  if (*pucPattern != '?' && Fold(std::string(1, *pucPattern)) != Fold(std::string(1, *pucName)))
    return false;
  return WildcardMatch(pucPattern + 1, pucName + 1);
}

bool IsShortChar(unsigned char c) {
  return c > ' ' && std::strchr("\"*+,./:;<=>?[\\]|", c) == nullptr;
}

// Whether a name is already an 8.3 name (its alias is itself, whatever its case).
bool IsShortName(const std::string &name) {
  size_t dot = name.find('.');
  std::string base = name.substr(0, dot);
  std::string extension = dot == std::string::npos ? "" : name.substr(dot + 1);
  auto valid = [](const std::string &part) {
    return std::all_of(part.begin(), part.end(), [](char c) { return IsShortChar(static_cast<unsigned char>(c)); });
  };
  return !base.empty() && base.size() <= 8 && extension.size() <= 3 && valid(base) && valid(extension) &&
         (dot == std::string::npos || dot + 1 < name.size());
}

// The 8.3 alias Windows 98 gives a long name, with tail ~n: blanks and dots out of the base, the
// characters an 8.3 name cannot hold as '_', six characters of the base, three of the extension.
std::string ShortAlias(const std::string &name, int n) {
  size_t lastDot = name.find_last_of('.');
  if (lastDot == 0)
    lastDot = std::string::npos;  // a leading dot starts no extension
  auto shorten = [](const std::string &part, size_t limit) {
    std::string out;
    for (unsigned char c : part) {
      if (c == ' ' || c == '.')
        continue;
      if (out.size() == limit)
        break;
      out += !IsShortChar(c) ? '_' : c < 0x80 ? static_cast<char>(std::toupper(c)) : static_cast<char>(c);
    }
    return out;
  };
  std::string tail = "~" + std::to_string(n);
  std::string base = shorten(name.substr(0, lastDot), 8 - tail.size());
  std::string extension = lastDot == std::string::npos ? "" : shorten(name.substr(lastDot + 1), 3);
  return base + tail + (extension.empty() ? "" : "." + extension);
}

bool OpenOn(const std::string &hostPath) {
  for (auto &entry : M().files) {
    if (entry.second.hostPath == hostPath)
      return true;
  }
  return false;
}

bool Mapped(const std::string &hostPath) {
  for (auto &mapping : M().mappings) {
    if (mapping.second.hostPath == hostPath)
      return true;
  }
  for (auto &view : M().views) {
    if (view.second.hostPath == hostPath)
      return true;
  }
  return false;
}

// A folder's names as the program sees them, in lower-cased name order.
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

void FillFindData(const OpenSearch &search, size_t index, os::WIN32_FIND_DATAA *pData) {
  std::memset(pData, 0, sizeof *pData);
  pData->dwFileAttributes = search.fDirectory[index] ? os::FILE_ATTRIBUTE_DIRECTORY : os::FILE_ATTRIBUTE_NORMAL;
  std::snprintf(pData->cFileName, sizeof pData->cFileName, "%s", search.names[index].c_str());
}

// Notes a searched folder once, as the search named it, for the record of the run.
void RecordSearch(const std::string &spec) {
  std::string searched = NormalPath(spec.substr(0, spec.find_last_of("\\/") + 1));
  std::vector<std::string> &searchedFolders = M().changes.searchedFolders;
  if (std::find(searchedFolders.begin(), searchedFolders.end(), searched) == searchedFolders.end())
    searchedFolders.push_back(searched);
}

// The search's answers in the order it gives them: the folder's names that match the pattern or
// whose 8.3 alias does (tails numbered in name order), and for a folder other than the root its
// own dot entries first, as FAT keeps them. The folder is listed once.
OpenSearch SearchMatches(const std::string &hostFolder, const std::string &pattern, bool fRoot) {
  std::vector<std::pair<std::string, std::string>> matches;  // (sort key, name)
  std::map<std::string, int> tails;
  for (const std::string &name : FolderNames(hostFolder)) {
    bool fMatch = WildcardMatch(pattern.c_str(), name.c_str());
    if (!IsShortName(name)) {
      std::string alias = ShortAlias(name, 1);
      int n = ++tails[alias];
      if (n > 1)
        alias = ShortAlias(name, n);
      fMatch = fMatch || WildcardMatch(pattern.c_str(), alias.c_str());
    }
    if (fMatch)
      matches.emplace_back(Fold(name), name);
  }
  for (const char *pucDots : {"..", "."}) {
    if (!fRoot && WildcardMatch(pattern.c_str(), pucDots))
      matches.emplace_back(std::string(), pucDots);
  }
  std::sort(matches.begin(), matches.end());
  OpenSearch search{{}, {}, 1};
  for (auto &match : matches) {
    search.names.push_back(match.second);
    search.fDirectory.push_back(match.first.empty() || IsDirectory(hostFolder + "/" + Utf8FromCp1252(match.second)));
  }
  return search;
}

OpenFile *FileOf(os::HANDLE hFile, const char *pucCall) {
  auto it = M().files.find(reinterpret_cast<std::uintptr_t>(hFile));
  if (it == M().files.end()) {
    Problem(std::string(pucCall) + " on a closed or unknown file handle");
    return nullptr;
  }
  return &it->second;
}

bool SharingConflict(const std::string &hostPath, os::DWORD dwAccess, os::DWORD dwShare) {
  auto needs = [](os::DWORD dwAccessBits) {
    os::DWORD dwNeed = 0;
    if (dwAccessBits & os::GENERIC_READ)
      dwNeed |= 1;
    if (dwAccessBits & os::GENERIC_WRITE)
      dwNeed |= 2;
    return dwNeed;
  };
  for (auto &entry : M().files) {
    const OpenFile &other = entry.second;
    if (other.hostPath != hostPath)
      continue;
    if ((needs(dwAccess) & ~other.dwShare) != 0 || (needs(other.dwAccess) & ~dwShare) != 0)
      return true;
  }
  return false;
}

// Why CreateFileA refuses to open or make the file, in the order Windows checks; 0 when it may.
os::DWORD OpenError(const std::string &winPath, const Resolved &r, os::DWORD dwAccess, os::DWORD dwShare,
                    os::DWORD dwDisposition) {
  os::DWORD dwError = PathError(winPath, r);
  if (dwError != 0)
    return dwError;
  if (r.fExists && IsDirectory(r.hostPath))
    return os::ERROR_ACCESS_DENIED;
  if (!r.fExists && dwDisposition == os::OPEN_EXISTING)
    return os::ERROR_FILE_NOT_FOUND;
  if (r.fExists && (dwAccess & os::GENERIC_WRITE) && M().readOnly.count(r.hostPath))
    return os::ERROR_ACCESS_DENIED;
  if (r.fExists && dwDisposition == os::CREATE_NEW)
    return os::ERROR_FILE_EXISTS;
  if (SharingConflict(r.hostPath, dwAccess, dwShare))
    return os::ERROR_SHARING_VIOLATION;
  return 0;
}

}  // namespace

void CloseAllFiles() {
  Machine &m = M();
  for (auto &view : m.views)
    munmap(const_cast<void *>(view.first), view.second.size);
  for (auto &file : m.files)
    close(file.second.fd);
  for (auto &mapping : m.mappings)
    close(mapping.second.fd);
  m.views.clear();
  m.files.clear();
  m.mappings.clear();
}

namespace {
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
  if (!SplitPath(winPath, &parts))
    return;
  std::vector<std::string> prefix;
  for (const std::string &part : parts) {
    prefix.push_back(part);
    Resolved r = ResolveParts(prefix);
    if (!r.fExists)
      MakeFolderBeneath(M().driveRoot, r.hostPath);
  }
}

void EmptyDrive() {
  std::error_code error;
  for (const auto &entry : fs::directory_iterator(M().driveRoot, error))
    fs::remove_all(entry.path(), error);
}

}  // namespace

std::string FolderNamesProblem(const std::vector<std::string> &hostNames, std::string *pName) {
  std::map<std::string, std::string> byFoldedName;
  for (const std::string &hostName : hostNames) {
    *pName = hostName;
    std::string name;
    if (!Cp1252FromUtf8(hostName, &name))
      return "a name with no code page 1252 form";
    if (WithoutTrailingDotsAndBlanks(name) != name || !ValidNames({name}, false))
      return "a name Windows cannot hold";
    auto inserted = byFoldedName.emplace(Fold(name), hostName);
    if (!inserted.second)
      return "differs only in case from " + inserted.first->second + " (Windows cannot hold both)";
  }
  pName->clear();
  return "";
}

namespace {

// "" when every entry of the host folder can be on a Windows drive, or the one-line reason; its
// subfolders are added to pSubfolders.
std::string CheckImageEntries(const std::string &folder, std::vector<std::string> *pSubfolders) {
  DIR *pDir = opendir(folder.c_str());
  if (pDir == nullptr)
    return folder + ": cannot be read";
  std::vector<std::string> names;
  std::string problem;
  while (dirent *pEntry = readdir(pDir)) {
    std::string hostName = pEntry->d_name;
    if (hostName == "." || hostName == "..")
      continue;
    std::string path = folder + "/" + hostName;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0)
      problem = path + ": cannot be read";
    else if (S_ISLNK(st.st_mode))
      problem = path + ": a symbolic link (a Windows drive holds only files and folders)";
    else if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
      problem = path + ": neither a plain file nor a folder";
    else if (S_ISDIR(st.st_mode))
      pSubfolders->push_back(path);
    if (!problem.empty())
      break;
    names.push_back(hostName);
  }
  closedir(pDir);
  std::string name;
  if (problem.empty() && !(problem = FolderNamesProblem(names, &name)).empty())
    problem = folder + "/" + name + ": " + problem;
  return problem;
}

// "" when every entry under the host folder can be on a Windows drive, or the one-line reason.
// Folders are walked from a list, not by recursion: the image sets their depth.
std::string CheckImageFolder(const std::string &folder) {
  std::vector<std::string> pending{folder};
  std::string problem;
  while (problem.empty() && !pending.empty()) {
    std::string next = pending.back();
    pending.pop_back();
    problem = CheckImageEntries(next, &pending);
  }
  return problem;
}

// Copies a host file into the drive, made beneath its root.
bool CopyIntoDrive(const std::string &from, const std::string &hostPath) {
  int in = open(from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0)
    return false;
  int out = OpenBeneath(M().driveRoot, hostPath, O_WRONLY | O_CREAT | O_EXCL, 0644);
  bool fCopied = out >= 0;
  char ucBuffer[65536];
  ssize_t got = 0;
  while (fCopied && (got = read(in, ucBuffer, sizeof ucBuffer)) > 0)
    fCopied = WriteAll(out, ucBuffer, static_cast<size_t>(got));
  close(in);
  if (out >= 0 && close(out) != 0)
    fCopied = false;
  return fCopied && got == 0;
}

// Copies a checked image folder into the drive entry by entry; links were refused, none is followed.
std::string CopyImageFolder(const std::string &from, const std::string &to) {
  std::vector<std::pair<std::string, std::string>> pending{{from, to}};
  while (!pending.empty()) {
    auto [source, target] = pending.back();
    pending.pop_back();
    std::error_code error;
    for (const auto &entry : fs::directory_iterator(source, error)) {
      std::string path = target + "/" + entry.path().filename().string();
      bool fFolder = entry.is_directory(error);
      bool fCopied = fFolder ? MakeFolderBeneath(M().driveRoot, path) : CopyIntoDrive(entry.path().string(), path);
      if (!fCopied)
        return entry.path().string() + ": cannot be copied: " + std::strerror(errno);
      if (fFolder)
        pending.emplace_back(entry.path().string(), path);
    }
    if (error)
      return source + ": cannot be read: " + error.message();
  }
  return "";
}

std::string SystemDirectory() {
  return M().windowsDirectory + "\\SYSTEM";
}

bool ReadHostFile(const std::string &hostPath, std::string *pBytes) {
  return ReadFileBeneath(M().driveRoot, hostPath, pBytes);
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

// Records a file's bytes before the program first opens it for writing.
void RecordWrite(const std::string &winPath, const Resolved &r) {
  Machine &m = M();
  if (m.writtenIndex.count(r.hostPath) != 0)
    return;
  WrittenFile written{winPath, r.fExists, "", ""};
  EnsureRead(r.hostPath);
  if (r.fExists)
    ReadHostFile(r.hostPath, &written.before);
  m.writtenIndex[r.hostPath] = m.changes.writtenFiles.size();
  m.changes.writtenFiles.push_back(written);
}
}  // namespace

void ResetFiles() {
  static const bool fCleanupRegistered = std::atexit(RemoveLastDrive) == 0;
  (void)fCleanupRegistered;
  Machine &m = M();
  std::error_code error;
  if (!m.driveRoot.empty())
    fs::remove_all(fs::path(m.driveRoot).parent_path(), error);
  const char *pucTemp = std::getenv("TMPDIR");
  std::string pattern = std::string(pucTemp && *pucTemp ? pucTemp : "/tmp") + "/uninst-sim-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    Problem("cannot create the simulated drive");
    m.driveRoot.clear();
    return;
  }
  // The drive is one folder of the machine's own; its siblings hold the machine's scratch files.
  m.driveRoot = std::string(buffer.data()) + "/C";
  fs::create_directory(m.driveRoot, error);
  SetWindowsDirectory("C:\\WINDOWS");
}

std::string DriveRoot() {
  return M().driveRoot;
}

bool LoadDrive(const std::string &hostFolder, std::string *pError) {
  CloseAllFiles();
  EmptyDrive();
  std::string problem = CheckImageFolder(hostFolder);
  if (problem.empty())
    problem = CopyImageFolder(hostFolder, M().driveRoot);
  if (!problem.empty())
    EmptyDrive();
  SetWindowsDirectory(M().windowsDirectory);
  if (pError)
    *pError = problem;
  return problem.empty();
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
  Resolved r = Resolve(winPath);
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

std::string NormalPath(const std::string &winPath) {
  std::vector<std::string> parts;
  if (!SplitPath(winPath, &parts))
    return "";
  std::string path = "C:";
  for (const std::string &part : parts)
    path += "\\" + part;
  return parts.empty() ? "C:\\" : path;
}

std::string HostPath(const std::string &winPath) {
  return Resolve(winPath).hostPath;
}

void WriteFile(const std::string &winPath, const std::string &bytes) {
  std::string normal = NormalPath(winPath);
  MakeFolders(normal.substr(0, normal.rfind('\\')));
  Resolved r = Resolve(winPath);
  if (r.fValid && r.fParentExists)
    WriteFileBeneath(M().driveRoot, r.hostPath, bytes);
}

bool ReadFile(const std::string &winPath, std::string *pBytes) {
  Resolved r = Resolve(winPath);
  if (!r.fExists || IsDirectory(r.hostPath))
    return false;
  EnsureRead(r.hostPath);
  if (pBytes)
    return ReadHostFile(r.hostPath, pBytes);
  return true;
}

void SetFileInUse(const std::string &winPath, bool fInUse) {
  std::string hostPath = Resolve(winPath).hostPath;
  if (fInUse) {
    M().inUse.insert(hostPath);
  } else {
    M().inUse.erase(hostPath);
  }
}

void SetReadOnly(const std::string &winPath, bool fReadOnly) {
  std::string hostPath = Resolve(winPath).hostPath;
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

Snapshot TakeSnapshot() {
  Snapshot snapshot;
  snapshot.keys = RegistryKeys();
  for (const std::string &file : ListFiles())
    ReadFile(file, &snapshot.files[file]);
  return snapshot;
}

Changes MachineChanges() {
  Changes changes = M().changes;
  for (const auto &written : M().writtenIndex) {
    WrittenFile &file = changes.writtenFiles[written.second];
    if (!ReadHostFile(written.first, &file.after))
      file.after.clear();
  }
  return changes;
}

void SetMoveFileExSupported(bool fSupported) {
  M().fMoveFileEx = fSupported;
}

std::vector<std::string> MoveFileExRequests() {
  return M().moveRequests;
}

}  // namespace sim

namespace os {

using sim::Call;
using sim::Fails;
using sim::M;

namespace {
UINT CopyDirectory(const char *pucDirectory, Call kind, char *lpBuffer, UINT uSize) {
  DWORD dwCode = 0;
  if (Fails(kind, pucDirectory, &dwCode)) {
    sim::SetLastError(dwCode);
    return 0;
  }
  UINT uLength = static_cast<UINT>(std::strlen(pucDirectory));
  if (lpBuffer == nullptr || uSize < uLength + 1)
    return uLength + 1;
  std::memcpy(lpBuffer, pucDirectory, uLength + 1);
  return uLength;
}

BOOL Fail(DWORD dwCode) {
  sim::SetLastError(dwCode);
  return 0;
}
}  // namespace

UINT GetSystemDirectoryA(char *lpBuffer, UINT uSize) {
  return CopyDirectory(sim::SystemDirectory().c_str(), Call::GetSystemDirectory, lpBuffer, uSize);
}

UINT GetWindowsDirectoryA(char *lpBuffer, UINT uSize) {
  return CopyDirectory(M().windowsDirectory.c_str(), Call::GetWindowsDirectory, lpBuffer, uSize);
}

BOOL DeleteFileA(const char *lpFileName) {
  std::string winPath = lpFileName ? lpFileName : "";
  DWORD dwCode = 0;
  if (Fails(Call::DeleteFile, winPath, &dwCode))
    return Fail(dwCode);
  sim::Resolved r = sim::Resolve(winPath);
  DWORD dwError = sim::PathError(winPath, r);
  if (dwError != 0)
    return Fail(dwError);
  if (!r.fExists)
    return Fail(ERROR_FILE_NOT_FOUND);
  if (sim::IsDirectory(r.hostPath) || M().inUse.count(r.hostPath) || M().readOnly.count(r.hostPath)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (sim::OpenOn(r.hostPath))
    return Fail(ERROR_SHARING_VIOLATION);
  if (M().unread.erase(r.hostPath) == 0 && !sim::RemoveFileBeneath(M().driveRoot, r.hostPath))
    return Fail(ERROR_ACCESS_DENIED);
  M().changes.deletedFiles.push_back(winPath);
  return 1;
}

BOOL MoveFileExA(const char *lpExistingFileName, const char *lpNewFileName, DWORD dwFlags) {
  std::string existing = lpExistingFileName ? lpExistingFileName : "";
  DWORD dwCode = 0;
  if (Fails(Call::MoveFileEx, existing, &dwCode))
    return Fail(dwCode);
  if (!M().fMoveFileEx)
    return Fail(ERROR_CALL_NOT_IMPLEMENTED);
  if ((dwFlags & MOVEFILE_DELAY_UNTIL_REBOOT) == 0)
    return Fail(ERROR_INVALID_PARAMETER);
  M().moveRequests.push_back(existing + "=>" + (lpNewFileName ? lpNewFileName : ""));
  return 1;
}

HANDLE FindFirstFileA(const char *lpFileName, WIN32_FIND_DATAA *lpFindFileData) {
  std::string spec = lpFileName ? lpFileName : "";
  DWORD dwCode = 0;
  if (Fails(Call::FindFirstFile, spec, &dwCode)) {
    sim::SetLastError(dwCode);
    return INVALID_HANDLE_VALUE;
  }
  std::vector<std::string> parts;
  if (!sim::SplitSearch(spec, &parts)) {
    sim::SetLastError(sim::ValidNames(parts, true) ? ERROR_PATH_NOT_FOUND : ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  std::string pattern = parts.back();
  parts.pop_back();
  sim::Resolved folder = sim::ResolveParts(parts);
  if (!folder.fExists || !sim::IsDirectory(folder.hostPath)) {
    sim::SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  sim::RecordSearch(spec);
  sim::OpenSearch search = sim::SearchMatches(folder.hostPath, pattern, parts.empty());
  if (search.names.empty()) {
    sim::SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  sim::FillFindData(search, 0, lpFindFileData);
  std::uintptr_t handle = sim::NewHandle();
  M().searches[handle] = search;
  return reinterpret_cast<HANDLE>(handle);
}

BOOL FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA *lpFindFileData) {
  DWORD dwCode = 0;
  auto it = M().searches.find(reinterpret_cast<std::uintptr_t>(hFindFile));
  if (Fails(Call::FindNextFile, "", &dwCode))
    return Fail(dwCode);
  if (it == M().searches.end()) {
    sim::Problem("FindNextFileA on a closed or unknown search handle");
    return Fail(ERROR_INVALID_HANDLE);
  }
  sim::OpenSearch &search = it->second;
  if (search.next >= search.names.size())
    return Fail(ERROR_NO_MORE_FILES);
  sim::FillFindData(search, search.next++, lpFindFileData);
  return 1;
}

BOOL FindClose(HANDLE hFindFile) {
  if (M().searches.erase(reinterpret_cast<std::uintptr_t>(hFindFile)) == 0) {
    sim::Problem("FindClose on a closed or unknown search handle");
    return Fail(ERROR_INVALID_HANDLE);
  }
  return 1;
}

HANDLE CreateFileA(const char *lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, void *,
                   DWORD dwCreationDisposition, DWORD, HANDLE) {
  std::string winPath = lpFileName ? lpFileName : "";
  DWORD dwCode = 0;
  if (Fails(Call::CreateFile, winPath, &dwCode)) {
    sim::SetLastError(dwCode);
    return INVALID_HANDLE_VALUE;
  }
  sim::Resolved r = sim::Resolve(winPath);
  DWORD dwError = sim::OpenError(winPath, r, dwDesiredAccess, dwShareMode, dwCreationDisposition);
  if (dwError != 0) {
    sim::SetLastError(dwError);
    return INVALID_HANDLE_VALUE;
  }
  sim::EnsureRead(r.hostPath);
  if ((dwDesiredAccess & GENERIC_WRITE) || (!r.fExists && dwCreationDisposition != OPEN_EXISTING))
    sim::RecordWrite(winPath, r);
  int iFlags = (dwDesiredAccess & GENERIC_WRITE) ? O_RDWR : O_RDONLY;
  if (dwCreationDisposition != OPEN_EXISTING)
    iFlags |= O_CREAT;
  if (dwCreationDisposition == CREATE_ALWAYS)
    iFlags |= O_TRUNC;
  int fd = sim::OpenBeneath(M().driveRoot, r.hostPath, iFlags, 0644);
  if (fd < 0) {
    sim::SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  std::uintptr_t handle = sim::NewHandle();
  M().files[handle] = sim::OpenFile{fd, r.hostPath, winPath, dwDesiredAccess, dwShareMode};
  return reinterpret_cast<HANDLE>(handle);
}

DWORD GetFileSize(HANDLE hFile, DWORD *lpFileSizeHigh) {
  DWORD dwCode = 0;
  sim::OpenFile *pFile = sim::FileOf(hFile, "GetFileSize");
  if (Fails(Call::GetFileSize, pFile ? pFile->winPath : "", &dwCode) || pFile == nullptr) {
    sim::SetLastError(pFile ? dwCode : ERROR_INVALID_HANDLE);
    return INVALID_FILE_SIZE;
  }
  struct stat st;
  fstat(pFile->fd, &st);
  if (lpFileSizeHigh)
    *lpFileSizeHigh = 0;
  return static_cast<DWORD>(st.st_size);
}

BOOL ReadFile(HANDLE hFile, void *lpBuffer, DWORD nNumberOfBytesToRead, DWORD *lpNumberOfBytesRead, void *) {
  DWORD dwCode = 0;
  sim::OpenFile *pFile = sim::FileOf(hFile, "ReadFile");
  if (lpNumberOfBytesRead)
    *lpNumberOfBytesRead = 0;
  if (Fails(Call::ReadFile, pFile ? pFile->winPath : "", &dwCode))
    return Fail(dwCode);
  if (pFile == nullptr)
    return Fail(ERROR_INVALID_HANDLE);
  if ((pFile->dwAccess & GENERIC_READ) == 0)
    return Fail(ERROR_ACCESS_DENIED);
  ssize_t got = read(pFile->fd, lpBuffer, nNumberOfBytesToRead);
  if (got < 0)
    return Fail(ERROR_ACCESS_DENIED);
  if (lpNumberOfBytesRead)
    *lpNumberOfBytesRead = static_cast<DWORD>(got);
  return 1;
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, LONG *lpDistanceToMoveHigh, DWORD dwMoveMethod) {
  DWORD dwCode = 0;
  sim::OpenFile *pFile = sim::FileOf(hFile, "SetFilePointer");
  if (Fails(Call::SetFilePointer, pFile ? pFile->winPath : "", &dwCode) || pFile == nullptr) {
    sim::SetLastError(pFile ? dwCode : ERROR_INVALID_HANDLE);
    return INVALID_SET_FILE_POINTER;
  }
  int iWhence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : (dwMoveMethod == 1 ? SEEK_CUR : SEEK_END);
  off_t distance = lDistanceToMove;
  if (lpDistanceToMoveHigh)
    distance += static_cast<off_t>(*lpDistanceToMoveHigh) << 32;
  off_t position = lseek(pFile->fd, distance, iWhence);
  if (position < 0) {
    sim::SetLastError(ERROR_NEGATIVE_SEEK);
    return INVALID_SET_FILE_POINTER;
  }
  if (lpDistanceToMoveHigh)
    *lpDistanceToMoveHigh = 0;
  return static_cast<DWORD>(position);
}

BOOL SetEndOfFile(HANDLE hFile) {
  DWORD dwCode = 0;
  sim::OpenFile *pFile = sim::FileOf(hFile, "SetEndOfFile");
  if (Fails(Call::SetEndOfFile, pFile ? pFile->winPath : "", &dwCode))
    return Fail(dwCode);
  if (pFile == nullptr)
    return Fail(ERROR_INVALID_HANDLE);
  if ((pFile->dwAccess & GENERIC_WRITE) == 0)
    return Fail(ERROR_ACCESS_DENIED);
  // Windows refuses to cut a file that is mapped; on the host a cut under a live view would
  // end the process with SIGBUS at the next write through it.
  if (sim::Mapped(pFile->hostPath))
    return Fail(ERROR_USER_MAPPED_FILE);
  off_t position = lseek(pFile->fd, 0, SEEK_CUR);
  if (ftruncate(pFile->fd, position) != 0)
    return Fail(ERROR_ACCESS_DENIED);
  return 1;
}

BOOL CloseHandle(HANDLE hObject) {
  std::uintptr_t handle = reinterpret_cast<std::uintptr_t>(hObject);
  auto file = M().files.find(handle);
  if (file != M().files.end()) {
    close(file->second.fd);
    M().files.erase(file);
    return 1;
  }
  auto mapping = M().mappings.find(handle);
  if (mapping != M().mappings.end()) {
    close(mapping->second.fd);
    M().mappings.erase(mapping);
    return 1;
  }
  sim::Problem("CloseHandle on a closed or unknown handle");
  return Fail(ERROR_INVALID_HANDLE);
}

HANDLE CreateFileMappingA(HANDLE hFile, void *, DWORD flProtect, DWORD dwMaximumSizeHigh, DWORD dwMaximumSizeLow,
                          const char *) {
  DWORD dwCode = 0;
  sim::OpenFile *pFile = sim::FileOf(hFile, "CreateFileMappingA");
  if (Fails(Call::CreateFileMapping, pFile ? pFile->winPath : "", &dwCode)) {
    sim::SetLastError(dwCode);
    return nullptr;
  }
  if (pFile == nullptr || flProtect != PAGE_READWRITE || dwMaximumSizeHigh != 0) {
    sim::SetLastError(pFile ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((pFile->dwAccess & GENERIC_WRITE) == 0) {
    sim::SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  struct stat st;
  fstat(pFile->fd, &st);
  size_t size = dwMaximumSizeLow ? dwMaximumSizeLow : static_cast<size_t>(st.st_size);
  if (size == 0) {
    sim::SetLastError(1006);  // ERROR_FILE_INVALID: an empty mapping of an empty file
    return nullptr;
  }
  if (static_cast<off_t>(size) > st.st_size && ftruncate(pFile->fd, static_cast<off_t>(size)) != 0) {
    sim::SetLastError(ERROR_DISK_FULL);
    return nullptr;
  }
  std::uintptr_t handle = sim::NewHandle();
  M().mappings[handle] = sim::OpenMapping{dup(pFile->fd), size, pFile->winPath, pFile->hostPath};
  return reinterpret_cast<HANDLE>(handle);
}

void *MapViewOfFile(HANDLE hFileMappingObject, DWORD, DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                    SIZE_T dwNumberOfBytesToMap) {
  DWORD dwCode = 0;
  auto it = M().mappings.find(reinterpret_cast<std::uintptr_t>(hFileMappingObject));
  std::string winPath = it == M().mappings.end() ? "" : it->second.winPath;
  if (Fails(Call::MapViewOfFile, winPath, &dwCode)) {
    sim::SetLastError(dwCode);
    return nullptr;
  }
  if (it == M().mappings.end()) {
    sim::Problem("MapViewOfFile on a closed or unknown mapping");
    sim::SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  size_t size = dwNumberOfBytesToMap ? dwNumberOfBytesToMap : it->second.size;
  if (dwFileOffsetHigh != 0 || dwFileOffsetLow != 0 || size > it->second.size) {
    sim::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void *pView = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, it->second.fd, 0);
  if (pView == MAP_FAILED) {
    sim::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  M().views[pView] = sim::Machine::OpenView{size, it->second.hostPath};
  return pView;
}

BOOL UnmapViewOfFile(const void *lpBaseAddress) {
  auto it = M().views.find(lpBaseAddress);
  if (it == M().views.end()) {
    sim::Problem("UnmapViewOfFile on an unknown view");
    return Fail(ERROR_INVALID_PARAMETER);
  }
  munmap(const_cast<void *>(it->first), it->second.size);
  M().views.erase(it);
  return 1;
}

}  // namespace os

// The C: drive of the simulated machine, backed by a host folder: Windows paths resolve onto it
// ignoring ASCII case; searches list their matches in ascending lower-cased name order (a FAT
// directory keeps creation order, which a host folder does not); mappings are real mmaps of the
// host files. MoveFileExA fails with 120 as on Windows 98/ME unless the machine is told otherwise.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/sim/SimMachine.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

const char WINDOWS_DIRECTORY[] = "C:\\WINDOWS";
const char SYSTEM_DIRECTORY[] = "C:\\WINDOWS\\SYSTEM";

struct Resolved {
  bool fValid;           // a C:\ path
  bool fParentExists;    // every folder on the way exists
  bool fExists;          // the last part exists
  std::string hostPath;  // existing parts resolved, the rest as given
  std::string lastName;  // the last part as given
};

std::vector<std::string> Parts(const std::string &winPath) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 3; i <= winPath.size(); ++i) {
    if (i == winPath.size() || winPath[i] == '\\') {
      if (!part.empty())
        parts.push_back(part);
      part.clear();
    } else {
      part += winPath[i];
    }
  }
  return parts;
}

std::string FindEntry(const std::string &folder, const std::string &name) {
  DIR *pDir = opendir(folder.c_str());
  if (pDir == nullptr)
    return "";
  std::string found;
  while (dirent *pEntry = readdir(pDir)) {
    if (SameName(pEntry->d_name, name)) {
      found = pEntry->d_name;
      break;
    }
  }
  closedir(pDir);
  return found;
}

Resolved Resolve(const std::string &winPath) {
  Resolved r{false, false, false, M().driveRoot, ""};
  if (winPath.size() < 3 || (winPath[0] != 'C' && winPath[0] != 'c') || winPath[1] != ':' || winPath[2] != '\\') {
    return r;
  }
  r.fValid = true;
  std::vector<std::string> parts = Parts(winPath);
  r.fParentExists = true;
  r.fExists = true;
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string entry = r.fExists ? FindEntry(r.hostPath, parts[i]) : "";
    if (entry.empty()) {
      if (i + 1 < parts.size())
        r.fParentExists = false;
      r.fExists = false;
      entry = parts[i];
    }
    r.hostPath += "/" + entry;
    r.lastName = parts[i];
  }
  return r;
}

bool IsDirectory(const std::string &hostPath) {
  struct stat st;
  return stat(hostPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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

bool OpenOn(const std::string &hostPath) {
  for (auto &entry : M().files) {
    if (entry.second.hostPath == hostPath)
      return true;
  }
  return false;
}

bool Mapped(const std::string &hostPath) {
  for (auto &mapping : M().mappings) {
    if (Resolve(mapping.second.winPath).hostPath == hostPath)
      return true;
  }
  for (auto &view : M().views) {
    if (view.second.hostPath == hostPath)
      return true;
  }
  return false;
}

void FillFindData(const OpenSearch &search, size_t index, os::WIN32_FIND_DATAA *pData) {
  std::memset(pData, 0, sizeof *pData);
  pData->dwFileAttributes = search.fDirectory[index] ? os::FILE_ATTRIBUTE_DIRECTORY : os::FILE_ATTRIBUTE_NORMAL;
  std::snprintf(pData->cFileName, sizeof pData->cFileName, "%s", search.names[index].c_str());
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
    fs::remove_all(M().driveRoot, error);
}
}  // namespace

void ResetFiles() {
  static const bool fCleanupRegistered = std::atexit(RemoveLastDrive) == 0;
  (void)fCleanupRegistered;
  Machine &m = M();
  if (!m.driveRoot.empty()) {
    std::error_code error;
    fs::remove_all(m.driveRoot, error);
  }
  const char *pucTemp = std::getenv("TMPDIR");
  std::string pattern = std::string(pucTemp && *pucTemp ? pucTemp : "/tmp") + "/uninst-sim-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    Problem("cannot create the simulated drive");
    m.driveRoot.clear();
    return;
  }
  m.driveRoot = buffer.data();
  fs::create_directories(m.driveRoot + "/WINDOWS/SYSTEM");
}

std::string DriveRoot() {
  return M().driveRoot;
}

std::string HostPath(const std::string &winPath) {
  return Resolve(winPath).hostPath;
}

void WriteFile(const std::string &winPath, const std::string &bytes) {
  Resolved r = Resolve(winPath);
  fs::create_directories(fs::path(r.hostPath).parent_path());
  std::ofstream(r.hostPath, std::ios::binary | std::ios::trunc) << bytes;
}

bool ReadFile(const std::string &winPath, std::string *pBytes) {
  Resolved r = Resolve(winPath);
  if (!r.fExists || IsDirectory(r.hostPath))
    return false;
  if (pBytes) {
    std::ifstream in(r.hostPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    *pBytes = text.str();
  }
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
  std::string root = M().driveRoot;
  if (root.empty() || !fs::exists(root))
    return files;
  for (const auto &entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file())
      continue;
    std::string relative = entry.path().string().substr(root.size());
    std::replace(relative.begin(), relative.end(), '/', '\\');
    files.push_back("C:" + relative);
  }
  std::sort(files.begin(), files.end());
  return files;
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
  return CopyDirectory(sim::SYSTEM_DIRECTORY, Call::GetSystemDirectory, lpBuffer, uSize);
}

UINT GetWindowsDirectoryA(char *lpBuffer, UINT uSize) {
  return CopyDirectory(sim::WINDOWS_DIRECTORY, Call::GetWindowsDirectory, lpBuffer, uSize);
}

BOOL DeleteFileA(const char *lpFileName) {
  std::string winPath = lpFileName ? lpFileName : "";
  DWORD dwCode = 0;
  if (Fails(Call::DeleteFile, winPath, &dwCode))
    return Fail(dwCode);
  sim::Resolved r = sim::Resolve(winPath);
  if (!r.fValid || !r.fParentExists)
    return Fail(ERROR_PATH_NOT_FOUND);
  if (!r.fExists)
    return Fail(ERROR_FILE_NOT_FOUND);
  if (sim::IsDirectory(r.hostPath) || M().inUse.count(r.hostPath) || M().readOnly.count(r.hostPath)) {
    return Fail(ERROR_ACCESS_DENIED);
  }
  if (sim::OpenOn(r.hostPath))
    return Fail(ERROR_SHARING_VIOLATION);
  if (unlink(r.hostPath.c_str()) != 0)
    return Fail(ERROR_ACCESS_DENIED);
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
  size_t slash = spec.rfind('\\');
  sim::Resolved folder = sim::Resolve(slash == std::string::npos ? "" : spec.substr(0, slash + 1));
  if (!folder.fValid || !folder.fExists || !sim::IsDirectory(folder.hostPath)) {
    sim::SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::string pattern = spec.substr(slash + 1);
  std::vector<std::pair<std::string, std::string>> matches;  // (sort key, name)
  for (const auto &entry : std::filesystem::directory_iterator(folder.hostPath)) {
    std::string name = entry.path().filename().string();
    if (sim::WildcardMatch(pattern.c_str(), name.c_str()))
      matches.emplace_back(sim::Fold(name), name);
  }
  if (matches.empty()) {
    sim::SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  std::sort(matches.begin(), matches.end());
  sim::OpenSearch search{{}, {}, 1};
  for (auto &match : matches) {
    search.names.push_back(match.second);
    search.fDirectory.push_back(sim::IsDirectory(folder.hostPath + "/" + match.second));
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
  DWORD dwError = 0;
  if (!r.fValid || !r.fParentExists) {
    dwError = ERROR_PATH_NOT_FOUND;
  } else if (r.fExists && sim::IsDirectory(r.hostPath)) {
    dwError = ERROR_ACCESS_DENIED;
  } else if (!r.fExists && (dwCreationDisposition == OPEN_EXISTING)) {
    dwError = ERROR_FILE_NOT_FOUND;
  } else if (r.fExists && (dwDesiredAccess & GENERIC_WRITE) && M().readOnly.count(r.hostPath)) {
    dwError = ERROR_ACCESS_DENIED;
  } else if (r.fExists && dwCreationDisposition == CREATE_NEW) {
    dwError = 80;
  } else if (sim::SharingConflict(r.hostPath, dwDesiredAccess, dwShareMode)) {
    dwError = ERROR_SHARING_VIOLATION;
  }
  if (dwError != 0) {
    sim::SetLastError(dwError);
    return INVALID_HANDLE_VALUE;
  }
  int iFlags = (dwDesiredAccess & GENERIC_WRITE) ? O_RDWR : O_RDONLY;
  if (dwCreationDisposition != OPEN_EXISTING)
    iFlags |= O_CREAT;
  if (dwCreationDisposition == CREATE_ALWAYS)
    iFlags |= O_TRUNC;
  int fd = open(r.hostPath.c_str(), iFlags | O_CLOEXEC, 0644);
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
    sim::SetLastError(131);
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
    return Fail(1224);
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
    sim::SetLastError(112);
    return nullptr;
  }
  std::uintptr_t handle = sim::NewHandle();
  M().mappings[handle] = sim::OpenMapping{dup(pFile->fd), size, pFile->winPath};
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
  M().views[pView] = sim::Machine::OpenView{size, sim::Resolve(it->second.winPath).hostPath};
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

// The file calls of the simulated machine over its drive. Searches list their matches in
// ascending lower-cased name order (a FAT directory keeps creation order, which a host folder
// does not), each name matching by itself or by its 8.3 alias; mappings are real mmaps of the
// host files. MoveFileExA fails with 120 as on Windows 98/ME unless the machine is told
// otherwise. Relies on the drive, the path rules, the host files and the record of changes.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "platform/sim/SimChanges.h"
#include "platform/sim/SimDrive.h"
#include "platform/sim/SimHostFiles.h"
#include "platform/sim/SimMachine.h"
#include "platform/sim/SimPathRules.h"

namespace sim {

namespace {

// The SetFilePointer move method from the current position.
const os::DWORD FILE_CURRENT = 1;

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

// Why DeleteFileA refuses to remove the file; 0 when it may.
os::DWORD DeleteError(const std::string &winPath, const Resolved &r) {
  os::DWORD dwError = PathError(winPath, r);
  if (dwError != 0)
    return dwError;
  if (!r.fExists)
    return os::ERROR_FILE_NOT_FOUND;
  if (IsDirectory(r.hostPath) || M().inUse.count(r.hostPath) || M().readOnly.count(r.hostPath))
    return os::ERROR_ACCESS_DENIED;
  if (OpenOn(r.hostPath))
    return os::ERROR_SHARING_VIOLATION;
  return 0;
}

// Whether a name or its 8.3 alias matches the pattern; *pTails counts the aliases given so far,
// whose tails are numbered in name order.
bool MatchesOrAliasMatches(const std::string &pattern, const std::string &name, std::map<std::string, int> *pTails) {
  bool fMatch = WildcardMatch(pattern.c_str(), name.c_str());
  if (!IsShortName(name)) {
    std::string alias = ShortAlias(name, 1);
    int n = ++(*pTails)[alias];
    if (n > 1)
      alias = ShortAlias(name, n);
    fMatch = fMatch || WildcardMatch(pattern.c_str(), alias.c_str());
  }
  return fMatch;
}

// The search's answers in the order it gives them: the folder's names that match the pattern or
// whose 8.3 alias does, and for a folder other than the root its own dot entries first, as FAT
// keeps them. The folder is listed once.
OpenSearch SearchMatches(const std::string &hostFolder, const std::string &pattern, bool fRoot) {
  std::vector<std::pair<std::string, std::string>> matches;  // (sort key, name)
  std::map<std::string, int> tails;
  for (const std::string &name : FolderNames(hostFolder)) {
    if (MatchesOrAliasMatches(pattern, name, &tails))
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

// The answers of a search FindFirstFileA starts, or why it finds nothing (0 when it finds some).
os::DWORD StartSearch(const std::string &spec, OpenSearch *pSearch) {
  std::vector<std::string> parts;
  if (!SplitSearch(spec, &parts))
    return ValidNames(parts, true) ? os::ERROR_PATH_NOT_FOUND : os::ERROR_INVALID_NAME;
  std::string pattern = parts.back();
  parts.pop_back();
  Resolved folder = ResolveParts(parts);
  if (!folder.fExists || !IsDirectory(folder.hostPath))
    return os::ERROR_PATH_NOT_FOUND;
  RecordSearch(spec);
  *pSearch = SearchMatches(folder.hostPath, pattern, parts.empty());
  return pSearch->names.empty() ? os::ERROR_FILE_NOT_FOUND : 0;
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

// What another opener must share for this access: 1 reading, 2 writing, as a share mode names them.
os::DWORD SharedNeeds(os::DWORD dwAccess) {
  os::DWORD dwNeed = 0;
  if (dwAccess & os::GENERIC_READ)
    dwNeed |= 1;
  if (dwAccess & os::GENERIC_WRITE)
    dwNeed |= 2;
  return dwNeed;
}

bool SharingConflict(const std::string &hostPath, os::DWORD dwAccess, os::DWORD dwShare) {
  for (auto &entry : M().files) {
    const OpenFile &other = entry.second;
    if (other.hostPath != hostPath)
      continue;
    if ((SharedNeeds(dwAccess) & ~other.dwShare) != 0 || (SharedNeeds(other.dwAccess) & ~dwShare) != 0)
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

// Opens on the host a file CreateFileA may open: read from the source first, and recorded when
// the program may change it. The host descriptor, or -1.
int OpenAllowed(const std::string &winPath, const Resolved &r, os::DWORD dwAccess, os::DWORD dwDisposition) {
  EnsureRead(r.hostPath);
  if ((dwAccess & os::GENERIC_WRITE) || (!r.fExists && dwDisposition != os::OPEN_EXISTING))
    RecordWrite(winPath, r);
  int iFlags = (dwAccess & os::GENERIC_WRITE) ? O_RDWR : O_RDONLY;
  if (dwDisposition != os::OPEN_EXISTING)
    iFlags |= O_CREAT;
  if (dwDisposition == os::CREATE_ALWAYS)
    iFlags |= O_TRUNC;
  return OpenBeneath(M().driveRoot, r.hostPath, iFlags, 0644);
}

// The size a mapping of the file takes, the file grown to it; 0 when it gets none, the reason set.
size_t MappingSize(const OpenFile &file, os::DWORD dwMaximumSizeLow) {
  struct stat st;
  fstat(file.fd, &st);
  size_t size = dwMaximumSizeLow ? dwMaximumSizeLow : static_cast<size_t>(st.st_size);
  if (size == 0) {
    SetLastError(os::ERROR_FILE_INVALID);  // an empty mapping of an empty file
    return 0;
  }
  if (static_cast<off_t>(size) > st.st_size && ftruncate(file.fd, static_cast<off_t>(size)) != 0) {
    SetLastError(os::ERROR_DISK_FULL);
    return 0;
  }
  return size;
}

os::UINT CopyDirectory(const char *pucDirectory, Call kind, char *lpBuffer, os::UINT uSize) {
  os::DWORD dwCode = 0;
  if (Fails(kind, pucDirectory, &dwCode)) {
    SetLastError(dwCode);
    return 0;
  }
  os::UINT uLength = static_cast<os::UINT>(std::strlen(pucDirectory));
  if (lpBuffer == nullptr || uSize < uLength + 1)
    return uLength + 1;
  std::memcpy(lpBuffer, pucDirectory, uLength + 1);
  return uLength;
}

os::BOOL Fail(os::DWORD dwCode) {
  SetLastError(dwCode);
  return 0;
}

os::HANDLE FailHandle(os::DWORD dwCode) {
  SetLastError(dwCode);
  return os::INVALID_HANDLE_VALUE;
}

std::nullptr_t FailNull(os::DWORD dwCode) {
  SetLastError(dwCode);
  return nullptr;
}

}  // namespace

void SetMoveFileExSupported(bool fSupported) {
  M().fMoveFileEx = fSupported;
}

std::vector<std::string> MoveFileExRequests() {
  return M().moveRequests;
}

}  // namespace sim

namespace os {

using sim::Call;
using sim::Fail;
using sim::FailHandle;
using sim::FailNull;
using sim::Fails;
using sim::M;

UINT GetSystemDirectoryA(char *lpBuffer, UINT uSize) {
  return sim::CopyDirectory(sim::SystemDirectory().c_str(), Call::GetSystemDirectory, lpBuffer, uSize);
}

UINT GetWindowsDirectoryA(char *lpBuffer, UINT uSize) {
  return sim::CopyDirectory(M().windowsDirectory.c_str(), Call::GetWindowsDirectory, lpBuffer, uSize);
}

BOOL DeleteFileA(const char *lpFileName) {
  std::string winPath = lpFileName ? lpFileName : "";
  DWORD dwCode = 0;
  if (Fails(Call::DeleteFile, winPath, &dwCode))
    return Fail(dwCode);
  sim::Resolved r = sim::ResolvePath(winPath);
  DWORD dwError = sim::DeleteError(winPath, r);
  if (dwError != 0)
    return Fail(dwError);
  std::string bytes = sim::HeldBytes(r.hostPath);
  if (!sim::RemoveFromDrive(r.hostPath))
    return Fail(ERROR_ACCESS_DENIED);
  sim::RecordDeletedFile(winPath, bytes);
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
  if (Fails(Call::FindFirstFile, spec, &dwCode))
    return FailHandle(dwCode);
  sim::OpenSearch search;
  DWORD dwError = sim::StartSearch(spec, &search);
  if (dwError != 0)
    return FailHandle(dwError);
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
  if (Fails(Call::CreateFile, winPath, &dwCode))
    return FailHandle(dwCode);
  sim::Resolved r = sim::ResolvePath(winPath);
  DWORD dwError = sim::OpenError(winPath, r, dwDesiredAccess, dwShareMode, dwCreationDisposition);
  if (dwError != 0)
    return FailHandle(dwError);
  int fd = sim::OpenAllowed(winPath, r, dwDesiredAccess, dwCreationDisposition);
  if (fd < 0)
    return FailHandle(ERROR_ACCESS_DENIED);
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
  int iWhence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : (dwMoveMethod == sim::FILE_CURRENT ? SEEK_CUR : SEEK_END);
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
  if (Fails(Call::CreateFileMapping, pFile ? pFile->winPath : "", &dwCode))
    return FailNull(dwCode);
  if (pFile == nullptr || flProtect != PAGE_READWRITE || dwMaximumSizeHigh != 0)
    return FailNull(pFile ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
  if ((pFile->dwAccess & GENERIC_WRITE) == 0)
    return FailNull(ERROR_ACCESS_DENIED);
  size_t size = sim::MappingSize(*pFile, dwMaximumSizeLow);
  if (size == 0)
    return nullptr;
  std::uintptr_t handle = sim::NewHandle();
  M().mappings[handle] = sim::OpenMapping{dup(pFile->fd), size, pFile->winPath, pFile->hostPath};
  return reinterpret_cast<HANDLE>(handle);
}

void *MapViewOfFile(HANDLE hFileMappingObject, DWORD, DWORD dwFileOffsetHigh, DWORD dwFileOffsetLow,
                    SIZE_T dwNumberOfBytesToMap) {
  DWORD dwCode = 0;
  auto it = M().mappings.find(reinterpret_cast<std::uintptr_t>(hFileMappingObject));
  std::string winPath = it == M().mappings.end() ? "" : it->second.winPath;
  if (Fails(Call::MapViewOfFile, winPath, &dwCode))
    return FailNull(dwCode);
  if (it == M().mappings.end()) {
    sim::Problem("MapViewOfFile on a closed or unknown mapping");
    return FailNull(ERROR_INVALID_HANDLE);
  }
  size_t size = dwNumberOfBytesToMap ? dwNumberOfBytesToMap : it->second.size;
  if (dwFileOffsetHigh != 0 || dwFileOffsetLow != 0 || size > it->second.size)
    return FailNull(ERROR_INVALID_PARAMETER);
  void *pView = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, it->second.fd, 0);
  if (pView == MAP_FAILED)
    return FailNull(ERROR_NOT_ENOUGH_MEMORY);
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

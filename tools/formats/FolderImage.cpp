// Folders are walked from a list, never by recursion: the image sets their depth. Every entry is
// looked at with lstat and every file opened with O_NOFOLLOW, so that no link is followed.
#include "tools/formats/FolderImage.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace formats {

namespace {

std::string Joined(const std::string &folder, const std::string &name) {
  return folder.empty() ? name : folder + "/" + name;
}

// "" when the entry at path can be on a Windows drive, or the one-line reason; *pFolder tells
// whether it is a folder.
std::string EntryProblem(const std::string &path, bool *pFolder) {
  struct stat st;
  *pFolder = false;
  if (lstat(path.c_str(), &st) != 0)
    return path + ": cannot be read: " + std::strerror(errno);
  if (S_ISLNK(st.st_mode))
    return path + ": a symbolic link (a Windows drive holds only files and folders)";
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
    return path + ": neither a plain file nor a folder";
  *pFolder = S_ISDIR(st.st_mode);
  return "";
}

// The names of a host folder's entries; false when it cannot be opened.
bool FolderNames(const std::string &folder, std::vector<std::string> *pNames) {
  DIR *pDir = opendir(folder.c_str());
  if (pDir == nullptr)
    return false;
  while (dirent *pEntry = readdir(pDir)) {
    std::string hostName = pEntry->d_name;
    if (hostName != "." && hostName != "..")
      pNames->push_back(hostName);
  }
  closedir(pDir);
  return true;
}

// "" when every entry of the host folder can be on a Windows drive, or the one-line reason; its
// subfolders are added to pSubfolders.
std::string CheckEntries(const std::string &folder, const NamesCheck &namesCheck,
                         std::vector<std::string> *pSubfolders) {
  std::vector<std::string> entries;
  if (!FolderNames(folder, &entries))
    return folder + ": cannot be read: " + std::strerror(errno);
  std::vector<std::string> names;
  for (const std::string &hostName : entries) {
    bool fFolder = false;
    std::string problem = EntryProblem(folder + "/" + hostName, &fFolder);
    if (!problem.empty())
      return problem;
    if (fFolder)
      pSubfolders->push_back(folder + "/" + hostName);
    names.push_back(hostName);
  }
  std::string name;
  std::string problem = namesCheck ? namesCheck(names, &name) : "";
  return problem.empty() ? "" : folder + "/" + name + ": " + problem;
}

[[noreturn]] void Fail(const std::string &path, const char *pucWhat, int iError) {
  throw FolderImageError{path + ": " + pucWhat + ": " + std::strerror(iError)};
}

// The rest of a file; 0 or the errno of the failed read.
int ReadAll(int fd, size_t ulSizeHint, std::string *pBytes) {
  pBytes->reserve(ulSizeHint);
  char ucBuffer[65536];
  for (;;) {
    ssize_t got = read(fd, ucBuffer, sizeof ucBuffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return got < 0 ? errno : 0;
    pBytes->append(ucBuffer, static_cast<size_t>(got));
  }
}

}  // namespace

std::string CheckFolderImage(const std::string &image, const NamesCheck &namesCheck) {
  std::vector<std::string> pending{image};
  std::string problem;
  while (problem.empty() && !pending.empty()) {
    std::string next = pending.back();
    pending.pop_back();
    problem = CheckEntries(next, namesCheck, &pending);
  }
  return problem;
}

std::vector<FolderEntryName> ListFolderImage(const std::string &image, const std::string &folder) {
  const std::string path = Joined(image, folder);
  std::vector<std::string> names;
  if (!FolderNames(path, &names))
    Fail(path, "cannot be read", errno);
  std::vector<FolderEntryName> entries;
  for (const std::string &name : names) {
    bool fFolder = false;
    std::string problem = EntryProblem(path + "/" + name, &fFolder);
    if (!problem.empty())  // changed since the image was checked
      throw FolderImageError{problem};
    entries.emplace_back(name, fFolder);
  }
  return entries;
}

std::string ReadFolderImageFile(const std::string &image, const std::string &file) {
  const std::string path = Joined(image, file);
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    Fail(path, "cannot be copied", errno);
  struct stat st;
  int iError = fstat(fd, &st) != 0 ? errno : S_ISREG(st.st_mode) ? 0 : EINVAL;
  std::string bytes;
  if (iError == 0)
    iError = ReadAll(fd, static_cast<size_t>(st.st_size), &bytes);
  close(fd);
  if (iError != 0)
    Fail(path, "cannot be copied", iError);
  return bytes;
}

}  // namespace formats

// The host side of the simulated drive, as SimHostFiles.h describes it: each path walked one
// component at a time from the drive's root with openat(2), never following a link. Relies on
// nothing else of the simulation.
#include "platform/sim/SimHostFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace sim {

namespace {

// The folder that holds hostPath's last component, opened by walking from root, and that
// component; -1 when hostPath is not under root or a component on the way is not a folder.
int OpenParent(const std::string &root, const std::string &hostPath, std::string *pLeaf) {
  if (hostPath.size() <= root.size() + 1 || hostPath.compare(0, root.size(), root) != 0 ||
      hostPath[root.size()] != '/') {
    errno = EINVAL;
    return -1;
  }
  int fd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (size_t pos = root.size() + 1; fd >= 0;) {
    size_t slash = hostPath.find('/', pos);
    std::string part = hostPath.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    if (!IsHostComponent(part)) {
      close(fd);
      errno = EINVAL;
      return -1;
    }
    if (slash == std::string::npos) {
      *pLeaf = part;
      return fd;
    }
    int next = openat(fd, part.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    close(fd);
    fd = next;
    pos = slash + 1;
  }
  return -1;
}

// f(parent folder, last component) on hostPath's parent, opened beneath root; false when the
// parent cannot be reached or f fails.
template <typename F>
bool AtParent(const std::string &root, const std::string &hostPath, F f) {
  std::string leaf;
  int parent = OpenParent(root, hostPath, &leaf);
  if (parent < 0)
    return false;
  bool fDone = f(parent, leaf.c_str());
  close(parent);
  return fDone;
}

}  // namespace

bool IsHostComponent(const std::string &name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

int OpenBeneath(const std::string &root, const std::string &hostPath, int iFlags, mode_t mode) {
  if (hostPath == root)
    return open(root.c_str(), iFlags | O_CLOEXEC, mode);
  std::string leaf;
  int parent = OpenParent(root, hostPath, &leaf);
  if (parent < 0)
    return -1;
  int fd = openat(parent, leaf.c_str(), iFlags | O_NOFOLLOW | O_CLOEXEC, mode);
  int iError = errno;
  close(parent);
  errno = iError;
  return fd;
}

DIR *OpenFolderBeneath(const std::string &root, const std::string &hostPath) {
  int fd = OpenBeneath(root, hostPath, O_RDONLY | O_DIRECTORY);
  if (fd < 0)
    return nullptr;
  DIR *pDir = fdopendir(fd);
  if (pDir == nullptr)
    close(fd);
  return pDir;
}

bool StatBeneath(const std::string &root, const std::string &hostPath, struct stat *pStat) {
  if (hostPath == root)
    return lstat(root.c_str(), pStat) == 0;
  return AtParent(root, hostPath, [&](int parent, const char *pucLeaf) {
    return fstatat(parent, pucLeaf, pStat, AT_SYMLINK_NOFOLLOW) == 0;
  });
}

bool MakeFolderBeneath(const std::string &root, const std::string &hostPath) {
  return AtParent(root, hostPath, [](int parent, const char *pucLeaf) { return mkdirat(parent, pucLeaf, 0755) == 0; });
}

bool RemoveFileBeneath(const std::string &root, const std::string &hostPath) {
  return AtParent(root, hostPath, [](int parent, const char *pucLeaf) { return unlinkat(parent, pucLeaf, 0) == 0; });
}

bool WriteAll(int fd, const char *pucBytes, size_t ulSize) {
  while (ulSize > 0) {
    ssize_t got = write(fd, pucBytes, ulSize);
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    pucBytes += got;
    ulSize -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteFileBeneath(const std::string &root, const std::string &hostPath, const std::string &bytes) {
  int fd = OpenBeneath(root, hostPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0)
    return false;
  bool fWritten = WriteAll(fd, bytes.data(), bytes.size());
  return close(fd) == 0 && fWritten;
}

bool ReadFileBeneath(const std::string &root, const std::string &hostPath, std::string *pBytes) {
  int fd = OpenBeneath(root, hostPath, O_RDONLY);
  if (fd < 0)
    return false;
  std::string bytes;
  char ucBuffer[65536];
  ssize_t got = 0;
  while ((got = read(fd, ucBuffer, sizeof ucBuffer)) != 0) {
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      break;
    bytes.append(ucBuffer, static_cast<size_t>(got));
  }
  close(fd);
  if (got < 0)
    return false;
  *pBytes = std::move(bytes);
  return true;
}

}  // namespace sim

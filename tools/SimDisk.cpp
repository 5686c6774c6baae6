// Disk images through mtools: every call is one mtools process on IMAGE@@OFFSET, with
// MTOOLS_SKIP_CHECK (hand-made and emulator images often fail its geometry checks) and a UTF-8
// locale (in others mtools turns letters beyond ASCII into '_'). No shell is involved, so names
// read from the image never reach one.
#include "tools/SimDisk.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

extern char **environ;

namespace simtool {

namespace {

const unsigned char PARTITION_TYPES[] = {0x04, 0x06, 0x0E, 0x0B, 0x0C};  // FAT16, FAT32 (CHS, LBA)

struct Output {
  int iStatus = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(int fd) {
  std::string text;
  char ucBuffer[65536];
  for (;;) {
    ssize_t got = read(fd, ucBuffer, sizeof ucBuffer);
    if (got <= 0)
      break;
    text.append(ucBuffer, static_cast<size_t>(got));
  }
  close(fd);
  return text;
}

std::vector<char *> Environment(std::vector<std::string> *pStore) {
  for (char **ppEntry = environ; *ppEntry != nullptr; ++ppEntry) {
    if (std::strncmp(*ppEntry, "LC_ALL=", 7) != 0 && std::strncmp(*ppEntry, "MTOOLS_SKIP_CHECK=", 18) != 0)
      pStore->push_back(*ppEntry);
  }
  pStore->push_back("LC_ALL=C.UTF-8");
  pStore->push_back("MTOOLS_SKIP_CHECK=1");
  std::vector<char *> envp;
  for (std::string &entry : *pStore)
    envp.push_back(&entry[0]);
  envp.push_back(nullptr);
  return envp;
}

// Runs an mtools command; stderr goes to a pipe of its own, read after stdout (it is short).
Output Mtools(std::vector<std::string> args) {
  Output output;
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0)
    return output;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return output;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  std::vector<char *> argv;
  for (std::string &arg : args)
    argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  std::vector<std::string> store;
  std::vector<char *> envp = Environment(&store);
  pid_t pid = 0;
  int iSpawn = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  output.out = ReadAll(outPipe[0]);
  output.err = ReadAll(errPipe[0]);
  if (iSpawn != 0) {
    output.err = std::string(argv[0]) + " cannot be started (install mtools)";
    return output;
  }
  int iStatus = 0;
  waitpid(pid, &iStatus, 0);
  output.iStatus = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
  return output;
}

std::string Volume(const Disk &disk) {
  return disk.image + "@@" + std::to_string(disk.ullOffset);
}

std::string FirstLine(const std::string &text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.empty() ? "mtools failed" : line;
}

std::string WindowsName(const std::string &path) {
  std::string name = "C:\\" + path;
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}

[[noreturn]] void Unreadable(const Disk &disk, const std::string &path, const std::string &why) {
  throw DiskError{disk.image + ": cannot read " + WindowsName(path) + ": " + why};
}

std::vector<std::pair<std::string, bool>> ListFolder(const Disk &disk, const std::string &folder) {
  std::string prefix = "::/" + (folder.empty() ? "" : folder + "/");
  Output listing = Mtools({"mdir", "-a", "-b", "-i", Volume(disk), prefix});
  if (listing.iStatus != 0)
    Unreadable(disk, folder, FirstLine(listing.err));
  std::vector<std::pair<std::string, bool>> entries;
  std::vector<std::string> names;
  std::istringstream lines(listing.out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, prefix.size(), prefix) != 0)
      continue;
    std::string name = line.substr(prefix.size());
    bool fFolder = !name.empty() && name.back() == '/';
    if (fFolder)
      name.pop_back();
    entries.emplace_back(name, fFolder);
    names.push_back(name);
  }
  std::string name;
  std::string problem = sim::FolderNamesProblem(names, &name);
  if (!problem.empty())
    Unreadable(disk, folder.empty() ? name : folder + "/" + name, problem);
  return entries;
}

std::string ReadDiskFile(const Disk &disk, const std::string &file) {
  Output copy = Mtools({"mcopy", "-n", "-i", Volume(disk), "::/" + file, "-"});
  if (copy.iStatus != 0)
    Unreadable(disk, file, FirstLine(copy.err));
  return copy.out;
}

std::uint32_t Le32(const unsigned char *pucBytes) {
  return pucBytes[0] | (pucBytes[1] << 8) | (pucBytes[2] << 16) | (static_cast<std::uint32_t>(pucBytes[3]) << 24);
}

// A FAT boot sector: a jump, 512-byte sectors, and "FAT" where FAT12/16 or FAT32 name themselves.
bool IsFatBootSector(const unsigned char *pucSector) {
  bool fJump = pucSector[0] == 0xEB || pucSector[0] == 0xE9;
  bool fSectorSize = pucSector[11] == 0x00 && pucSector[12] == 0x02;
  return fJump && fSectorSize &&
         (std::memcmp(pucSector + 54, "FAT", 3) == 0 || std::memcmp(pucSector + 82, "FAT", 3) == 0);
}

bool ReadSector(std::ifstream &in, std::uint64_t ullOffset, unsigned char *pucSector) {
  in.seekg(static_cast<std::streamoff>(ullOffset));
  in.read(reinterpret_cast<char *>(pucSector), 512);
  return in.gcount() == 512;
}

}  // namespace

std::string OpenDisk(const std::string &image, Disk *pDisk) {
  std::ifstream in(image, std::ios::binary);
  unsigned char ucSector[512];
  if (!in || !ReadSector(in, 0, ucSector))
    return "cannot read the disk image " + image;
  pDisk->image = image;
  pDisk->ullOffset = 0;
  if (IsFatBootSector(ucSector))
    return "";
  if (ucSector[510] != 0x55 || ucSector[511] != 0xAA)
    return image + ": neither a partitioned disk nor a FAT volume";
  for (int i = 0; i < 4; ++i) {
    const unsigned char *pucEntry = ucSector + 446 + 16 * i;
    if (std::find(std::begin(PARTITION_TYPES), std::end(PARTITION_TYPES), pucEntry[4]) == std::end(PARTITION_TYPES))
      continue;
    pDisk->ullOffset = static_cast<std::uint64_t>(Le32(pucEntry + 8)) * 512;
    unsigned char ucBoot[512];
    if (!ReadSector(in, pDisk->ullOffset, ucBoot) || !IsFatBootSector(ucBoot))
      return image + ": partition " + std::to_string(i + 1) + " holds no readable FAT volume";
    return "";
  }
  return image + ": no FAT16 or FAT32 partition (types 04, 06, 0E, 0B, 0C) in its partition table";
}

sim::DriveSource DiskSource(const Disk &disk) {
  sim::DriveSource source;
  source.list = [disk](const std::string &folder) { return ListFolder(disk, folder); };
  source.read = [disk](const std::string &file) { return ReadDiskFile(disk, file); };
  return source;
}

void CopyDiskFolder(const Disk &disk, const std::string &folder, const std::string &hostFolder) {
  std::string pattern = "::/" + (folder.empty() ? "" : folder + "/") + "*";
  // A folder without files makes mcopy fail with "not found", which leaves nothing to copy.
  Mtools({"mcopy", "-n", "-i", Volume(disk), pattern, hostFolder + "/"});
}

std::string WindowsDirectoryOf(const std::string &msdosSys) {
  bool fPaths = false;
  std::istringstream lines(msdosSys);
  std::string line;
  while (std::getline(lines, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
      line.pop_back();
    std::string folded = line;
    std::transform(folded.begin(), folded.end(), folded.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    if (!folded.empty() && folded[0] == '[')
      fPaths = folded == "[PATHS]";
    else if (fPaths && folded.compare(0, 7, "WINDIR=") == 0)
      return line.substr(7);
  }
  return "";
}

bool IsWindowsDirectory(const std::string &path) {
  if (path.size() < 4 || path.size() > 64 || (path[0] != 'C' && path[0] != 'c') || path.compare(1, 2, ":\\") != 0)
    return false;
  std::string normal = sim::NormalPath(path);
  return normal.compare(3, std::string::npos, path, 3, std::string::npos) == 0 &&
         path.find_first_of("*?\"<>|:", 2) == std::string::npos;
}

}  // namespace simtool

// Virtual disk images through libvmdk, and through qemu-nbd and libnbd.
#include "tools/formats/VirtualDisk.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <libnbd.h>
#include <libvmdk.h>
#include <nlohmann/json.hpp>

extern char **environ;

namespace vdisk {

struct Reader {
  nbd_handle *pNbd = nullptr;
  libvmdk_handle_t *pVmdk = nullptr;
  std::vector<libvmdk_handle_t *> parents;  // a delta disk's parents, nearest first
};

namespace {

using json = nlohmann::json;

// A chain of backing files (or of delta disks) is followed at most this far: real ones hold a
// handful of snapshots.
const int MAX_CHAIN = 16;
// What qemu-img may print about one image; past it the image is refused.
const size_t MAX_INFO = 1 << 20;

bool ReadBytesAt(int fd, off_t offset, void *pTo, size_t ulSize) {
  return pread(fd, pTo, ulSize, offset) == static_cast<ssize_t>(ulSize);
}

bool StartsWith(const char *pucBytes, const char *pucSignature) {
  return std::memcmp(pucBytes, pucSignature, std::strlen(pucSignature)) == 0;
}

// The first line of a library's or program's message, without its line end, bounded.
std::string FirstLine(const std::string &text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.size() > 300 ? line.substr(0, 300) + "..." : line;
}

// ---- files an image names ------------------------------------------------------------------

std::string FolderOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The host path of a file an image names, when it is a plain file (not a link) directly in the
// image's folder; "" and *pWhy otherwise. A name with a colon is refused too: qemu would take
// what comes before it for a protocol.
std::string CheckedReference(const std::string &imagePath, const std::string &name, std::string *pWhy) {
  std::string folder = FolderOf(imagePath);
  char *pucReal = realpath(folder.c_str(), nullptr);
  std::string realFolder = pucReal ? pucReal : "";
  std::free(pucReal);
  std::string base = name.substr(name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1);
  bool fInFolder = name.find('/') == std::string::npos || (!realFolder.empty() && name == realFolder + "/" + base) ||
                   name == "./" + base;
  struct stat st;
  std::string path = folder + "/" + base;
  if (name.find(':') != std::string::npos || base.empty() || base == "." || base == ".." || !fInFolder)
    *pWhy = "it names " + name + ", outside its own folder";
  else if (lstat(path.c_str(), &st) != 0)
    *pWhy = "it names " + name + ", which cannot be read: " + std::strerror(errno);
  else if (S_ISLNK(st.st_mode))
    *pWhy = "it names " + name + ", a symbolic link";
  else if (!S_ISREG(st.st_mode))
    *pWhy = "it names " + name + ", which is not a plain file";
  else
    return path;
  return "";
}

// ---- qemu-img and qemu-nbd ------------------------------------------------------------------

// The file as qemu takes it: by its path alone, with no protocol read from it and no lock taken
// (the image may belong to a running machine).
json FileNode(const std::string &path) {
  return json{{"driver", "file"}, {"filename", path}, {"locking", "off"}};
}

// Runs a program without a shell and collects its output (standard error after standard output),
// bounded. False when it could not run, exited non-zero or said too much.
bool RunProgram(const std::vector<std::string> &args, std::string *pOutput) {
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0)
    return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
  std::vector<char *> argv;
  for (const std::string &arg : args)
    argv.push_back(const_cast<char *>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  int iSpawn = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  char ucBuffer[65536];
  ssize_t got = 0;
  while (iSpawn == 0 && (got = read(pipeFds[0], ucBuffer, sizeof ucBuffer)) > 0 && pOutput->size() <= MAX_INFO)
    pOutput->append(ucBuffer, static_cast<size_t>(got));
  close(pipeFds[0]);
  int iStatus = 0;
  if (iSpawn != 0) {
    *pOutput = std::string(args[0]) + ": " + std::strerror(iSpawn);
    return false;
  }
  waitpid(pid, &iStatus, 0);
  return WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0 && pOutput->size() <= MAX_INFO;
}

// What qemu-img says of one image opened with the given node, its backing file left closed.
std::string QemuInfo(const json &node, json *pInfo) {
  std::string output;
  bool fRan = RunProgram({"qemu-img", "info", "--output=json", "-U", "json:" + node.dump()}, &output);
  if (!fRan)
    return "qemu-img cannot read it: " + FirstLine(output);
  *pInfo = json::parse(output, nullptr, false);
  return pInfo->is_object() ? "" : "qemu-img cannot read it";
}

// Each container's name in messages and the qemu driver that reads it.
const struct {
  Format format;
  const char *pucName;
  const char *pucDriver;
} FORMATS[] = {{Format::Raw, "raw", "raw"},    {Format::Qcow2, "qcow2", "qcow2"}, {Format::Vdi, "VDI", "vdi"},
               {Format::Vmdk, "VMDK", "vmdk"}, {Format::Vhd, "VHD", "vpc"},       {Format::Vhdx, "VHDX", "vhdx"}};

std::string QemuDriver(Format format) {
  for (const auto &known : FORMATS) {
    if (known.format == format)
      return known.pucDriver;
  }
  return "raw";
}

// The format of a backing file: the one its image records, which must be what the file holds,
// or what it holds when none is recorded. Only qcow2 and raw backing files are read.
std::string BackingFormat(const json &info, const std::string &path, Format *pFormat) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  Format held = fd >= 0 ? FormatOf(fd) : Format::Raw;
  if (fd >= 0)
    close(fd);
  std::string recorded = info.value("backing-filename-format", "");
  *pFormat = recorded == "raw" ? Format::Raw : held;
  if (!recorded.empty() && recorded != "raw" && recorded != "qcow2")
    return "its backing file is recorded as " + recorded + ", which is not read";
  if (recorded == "qcow2" && held != Format::Qcow2)
    return "its backing file does not hold the qcow2 it is recorded as";
  if (*pFormat != Format::Raw && *pFormat != Format::Qcow2)
    return "its backing file is a " + std::string(FormatName(*pFormat)) + " image, which is not read";
  return "";
}

// Checks what one qcow2 of a chain names and adds its own children (data file) to node; sets
// *pBacking to the checked backing file, "" when it has none.
std::string CheckQcow2(const std::string &path, json *pNode, std::string *pBacking, Format *pBackingFormat) {
  json info;
  std::string why = QemuInfo(json{{"driver", "qcow2"}, {"file", FileNode(path)}, {"backing", nullptr}}, &info);
  if (!why.empty())
    return why;
  if (info.value("encrypted", false))
    return "it is encrypted (no password is asked for)";
  const json &specific = info["format-specific"]["data"];
  if (specific.is_object() && specific.contains("data-file")) {
    std::string dataFile = CheckedReference(path, specific.value("data-file", ""), &why);
    if (dataFile.empty())
      return why;
    (*pNode)["data-file"] = FileNode(dataFile);
  }
  pBacking->clear();
  if (!info.contains("backing-filename"))
    return "";
  *pBacking = CheckedReference(path, info.value("backing-filename", ""), &why);
  return pBacking->empty() ? why : BackingFormat(info, *pBacking, pBackingFormat);
}

// The node qemu opens for a qcow2 and its backing chain, every file in it checked.
std::string Qcow2Node(const std::string &path, json *pNode) {
  *pNode = json{{"driver", "qcow2"}, {"file", FileNode(path)}};
  json *pLevel = pNode;
  std::string current = path;
  for (int depth = 0; depth <= MAX_CHAIN; ++depth) {
    std::string backing;
    Format backingFormat = Format::Raw;
    std::string why = CheckQcow2(current, pLevel, &backing, &backingFormat);
    if (!why.empty())
      return depth == 0 ? why : "its backing file " + current + ": " + why;
    if (backing.empty()) {
      (*pLevel)["backing"] = nullptr;
      return "";
    }
    (*pLevel)["backing"] = json{{"driver", QemuDriver(backingFormat)}, {"file", FileNode(backing)}};
    if (backingFormat == Format::Raw)
      return "";
    pLevel = &(*pLevel)["backing"];
    current = backing;
  }
  return "its chain of backing files is longer than " + std::to_string(MAX_CHAIN);
}

// A differencing VHD reads through to a parent disk, which qemu does not follow: refused rather
// than shown with the parent's sectors as zeros. The disk type is in the footer, at byte 60.
bool IsDifferencingVhd(const std::string &path) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  char ucFooter[512] = {};
  off_t size = fd >= 0 ? lseek(fd, 0, SEEK_END) : 0;
  bool fRead = size >= 512 && ReadBytesAt(fd, size - 512, ucFooter, sizeof ucFooter);
  if (fRead && !StartsWith(ucFooter, "conectix"))
    fRead = ReadBytesAt(fd, 0, ucFooter, sizeof ucFooter);  // a dynamic disk's copy of it
  if (fd >= 0)
    close(fd);
  const unsigned char *pucType = reinterpret_cast<const unsigned char *>(ucFooter + 60);
  return fRead && StartsWith(ucFooter, "conectix") && pucType[0] == 0 && pucType[1] == 0 && pucType[2] == 0 &&
         pucType[3] == 4;
}

// qemu-nbd started by libnbd on a socket of its own in the scratch folder; it ends when the
// handle closes. Its messages go to a file there, of which the first line names a failure.
std::string ServeWithQemu(const json &node, const std::string &scratchFolder, Reader *pReader) {
  std::string log = scratchFolder + "/qemu-nbd.log";
  int logFd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int savedErr = dup(2);
  if (logFd >= 0)
    dup2(logFd, 2);
  const char *pucTmp = std::getenv("TMPDIR");
  std::string savedTmp = pucTmp ? pucTmp : "";
  setenv("TMPDIR", scratchFolder.c_str(), 1);
  std::string target = "json:" + node.dump();
  char *argv[] = {const_cast<char *>("qemu-nbd"), const_cast<char *>("--read-only"), const_cast<char *>("--"),
                  const_cast<char *>(target.c_str()), nullptr};
  pReader->pNbd = nbd_create();
  bool fServed = pReader->pNbd != nullptr && nbd_connect_systemd_socket_activation(pReader->pNbd, argv) == 0;
  std::string libraryError = fServed ? "" : FirstLine(nbd_get_error() ? nbd_get_error() : "");
  pucTmp ? setenv("TMPDIR", savedTmp.c_str(), 1) : unsetenv("TMPDIR");
  dup2(savedErr, 2);
  close(savedErr);
  if (logFd >= 0)
    close(logFd);
  if (fServed)
    return "";
  char ucSaid[4096] = {};
  int readFd = open(log.c_str(), O_RDONLY | O_CLOEXEC);
  ssize_t got = readFd >= 0 ? read(readFd, ucSaid, sizeof ucSaid - 1) : 0;
  if (readFd >= 0)
    close(readFd);
  std::string said(ucSaid, got > 0 ? static_cast<size_t>(got) : 0);
  return "qemu-nbd cannot read it: " + FirstLine(said.empty() ? libraryError : said);
}

// ---- VMDK -----------------------------------------------------------------------------------

std::string VmdkError(libvmdk_error_t **ppError) {
  char ucText[512] = {};
  if (*ppError != nullptr)
    libvmdk_error_sprint(*ppError, ucText, sizeof ucText - 1);
  libvmdk_error_free(ppError);
  std::string text = ucText;
  size_t last = text.rfind(": ");  // libvmdk's innermost reason
  return FirstLine(last == std::string::npos ? text : text.substr(last + 2));
}

// "" when every extent the descriptor names is a plain file in its folder (VMware writes them
// as bare names beside it).
std::string CheckExtents(libvmdk_handle_t *pHandle, const std::string &path) {
  libvmdk_error_t *pError = nullptr;
  int iExtents = 0;
  if (libvmdk_handle_get_number_of_extents(pHandle, &iExtents, &pError) != 1)
    return "libvmdk cannot read it: " + VmdkError(&pError);
  for (int i = 0; i < iExtents; ++i) {
    libvmdk_extent_descriptor_t *pExtent = nullptr;
    uint8_t ucName[1024] = {};
    bool fNamed = libvmdk_handle_get_extent_descriptor(pHandle, i, &pExtent, &pError) == 1 &&
                  libvmdk_extent_descriptor_get_utf8_filename(pExtent, ucName, sizeof ucName - 1, &pError) == 1;
    libvmdk_extent_descriptor_free(&pExtent, nullptr);
    if (!fNamed)
      return "libvmdk cannot read it: " + VmdkError(&pError);
    std::string name = reinterpret_cast<const char *>(ucName);
    std::string why;
    if (name.find('/') != std::string::npos || CheckedReference(path, name, &why).empty())
      return why.empty() ? "it names " + name + ", outside its own folder" : why;
  }
  return "";
}

// The name of the disk a delta disk reads through to, "" when it has none.
std::string VmdkParentName(libvmdk_handle_t *pHandle) {
  uint8_t ucName[1024] = {};
  int iFound = libvmdk_handle_get_utf8_parent_filename(pHandle, ucName, sizeof ucName - 1, nullptr);
  return iFound == 1 ? reinterpret_cast<const char *>(ucName) : "";
}

// Opens one VMDK of a chain: its descriptor, then its extents once checked.
std::string OpenVmdkLevel(const std::string &path, libvmdk_handle_t **ppHandle) {
  libvmdk_error_t *pError = nullptr;
  if (libvmdk_handle_initialize(ppHandle, &pError) != 1)
    return "libvmdk: " + VmdkError(&pError);
  if (libvmdk_handle_open(*ppHandle, path.c_str(), LIBVMDK_OPEN_READ, &pError) != 1)
    return "libvmdk cannot read it: " + VmdkError(&pError);
  std::string why = CheckExtents(*ppHandle, path);
  if (!why.empty())
    return why;
  std::string folder = FolderOf(path);
  if (libvmdk_handle_set_extent_data_files_path(*ppHandle, folder.c_str(), folder.size(), &pError) != 1 ||
      libvmdk_handle_open_extent_data_files(*ppHandle, &pError) != 1)
    return "libvmdk cannot read it: " + VmdkError(&pError);
  return "";
}

std::string OpenVmdk(const std::string &path, Reader *pReader) {
  std::string why = OpenVmdkLevel(path, &pReader->pVmdk);
  libvmdk_handle_t *pChild = pReader->pVmdk;
  std::string childPath = path;
  for (int depth = 0; why.empty(); ++depth) {
    std::string parentName = VmdkParentName(pChild);
    if (parentName.empty())
      return "";
    if (depth == MAX_CHAIN)
      return "its chain of parent disks is longer than " + std::to_string(MAX_CHAIN);
    std::string parentPath = CheckedReference(childPath, parentName, &why);
    if (parentPath.empty())
      return why;
    pReader->parents.push_back(nullptr);
    why = OpenVmdkLevel(parentPath, &pReader->parents.back());
    libvmdk_error_t *pError = nullptr;
    if (why.empty() && libvmdk_handle_set_parent_handle(pChild, pReader->parents.back(), &pError) != 1)
      why = "libvmdk cannot read it: " + VmdkError(&pError);
    pChild = pReader->parents.back();
    childPath = parentPath;
  }
  return why;
}

void CloseVmdk(libvmdk_handle_t **ppHandle) {
  if (*ppHandle == nullptr)
    return;
  libvmdk_handle_close(*ppHandle, nullptr);
  libvmdk_handle_free(ppHandle, nullptr);
}

std::uint64_t DiskSize(const Reader &reader) {
  size64_t ullSize = 0;
  if (reader.pVmdk != nullptr && libvmdk_handle_get_media_size(reader.pVmdk, &ullSize, nullptr) == 1)
    return ullSize;
  int64_t llSize = reader.pNbd != nullptr ? nbd_get_size(reader.pNbd) : -1;
  return llSize > 0 ? static_cast<std::uint64_t>(llSize) : 0;
}

// qemu-nbd serves some formats in blocks of 512 bytes or more and refuses a request that does not
// start and end on one: such a read takes the blocks around it.
bool ReadServed(nbd_handle *pNbd, std::uint64_t ullOffset, void *pTo, std::size_t ulSize) {
  int64_t llBlock = nbd_get_block_size(pNbd, LIBNBD_SIZE_MINIMUM);
  std::uint64_t ullBlock = llBlock > 1 ? static_cast<std::uint64_t>(llBlock) : 1;
  std::uint64_t ullStart = ullOffset / ullBlock * ullBlock;
  std::uint64_t ullEnd = (ullOffset + ulSize + ullBlock - 1) / ullBlock * ullBlock;
  if (ullStart == ullOffset && ullEnd == ullOffset + ulSize)
    return nbd_pread(pNbd, pTo, ulSize, ullOffset, 0) == 0;
  std::vector<char> blocks(static_cast<std::size_t>(ullEnd - ullStart));
  if (nbd_pread(pNbd, blocks.data(), blocks.size(), ullStart, 0) != 0)
    return false;
  std::memcpy(pTo, blocks.data() + (ullOffset - ullStart), ulSize);
  return true;
}

std::string OpenReader(const std::string &path, Format format, const std::string &scratchFolder, Reader *pReader) {
  if (format == Format::Vmdk)
    return OpenVmdk(path, pReader);
  if (format == Format::Vhd && IsDifferencingVhd(path))
    return "a differencing VHD, which reads through to a parent disk that is not read";
  json node = json{{"driver", QemuDriver(format)}, {"file", FileNode(path)}};
  std::string why = format == Format::Qcow2 ? Qcow2Node(path, &node) : "";
  json info = json::object();
  if (why.empty() && format != Format::Qcow2)
    why = QemuInfo(node, &info);
  if (why.empty() && info.value("encrypted", false))
    why = "it is encrypted (no password is asked for)";
  return why.empty() ? ServeWithQemu(node, scratchFolder, pReader) : why;
}

}  // namespace

Format FormatOfHead(const char *pucHead, size_t ulSize) {
  char ucHead[512] = {};
  std::memcpy(ucHead, pucHead, std::min(ulSize, sizeof ucHead));
  const unsigned char *pucVdi = reinterpret_cast<const unsigned char *>(ucHead + 0x40);
  if (ulSize < 8)
    return Format::Raw;
  if (StartsWith(ucHead, "QFI\xfb"))
    return Format::Qcow2;
  if (pucVdi[0] == 0x7F && pucVdi[1] == 0x10 && pucVdi[2] == 0xDA && pucVdi[3] == 0xBE)
    return Format::Vdi;
  if (StartsWith(ucHead, "KDMV") || StartsWith(ucHead, "# Disk DescriptorFile"))
    return Format::Vmdk;
  if (StartsWith(ucHead, "vhdxfile"))
    return Format::Vhdx;
  if (StartsWith(ucHead, "conectix"))
    return Format::Vhd;
  return Format::Raw;
}

Format FormatOf(int fd) {
  char ucHead[512] = {};
  char ucTail[512] = {};
  off_t size = lseek(fd, 0, SEEK_END);
  size_t ulHead = size < 512 ? static_cast<size_t>(std::max<off_t>(size, 0)) : 512;
  if (size < 8 || !ReadBytesAt(fd, 0, ucHead, ulHead))
    return Format::Raw;
  Format format = FormatOfHead(ucHead, ulHead);
  if (format != Format::Raw)
    return format;
  if (size >= 1024 && ReadBytesAt(fd, size - 512, ucTail, sizeof ucTail) && StartsWith(ucTail, "conectix"))
    return Format::Vhd;
  return Format::Raw;
}

const char *FormatName(Format format) {
  for (const auto &known : FORMATS) {
    if (known.format == format)
      return known.pucName;
  }
  return "raw";
}

std::string Open(const std::string &path, Format format, const std::string &scratchFolder, VirtualDisk *pDisk) {
  Close(pDisk);
  pDisk->format = format;
  pDisk->pReader = new Reader;
  std::string why;
  try {
    why = OpenReader(path, format, scratchFolder, pDisk->pReader);
  } catch (const json::exception &) {
    // A path or name that is not UTF-8 cannot be handed to qemu, nor an answer it did not give.
    why = "qemu cannot be told of it (a file name that is not UTF-8?)";
  }
  pDisk->ullSize = why.empty() ? DiskSize(*pDisk->pReader) : 0;
  if (why.empty() && pDisk->ullSize == 0)
    why = "it holds an empty disk";
  if (!why.empty())
    Close(pDisk);
  return why.empty() ? "" : std::string(FormatName(format)) + " image " + path + ": " + why;
}

bool ReadAt(const VirtualDisk &disk, std::uint64_t ullOffset, void *pTo, std::size_t ulSize) {
  if (disk.pReader == nullptr || ullOffset > disk.ullSize || ulSize > disk.ullSize - ullOffset)
    return false;
  if (disk.pReader->pVmdk != nullptr)
    return libvmdk_handle_read_buffer_at_offset(disk.pReader->pVmdk, pTo, ulSize, static_cast<off64_t>(ullOffset),
                                                nullptr) == static_cast<ssize_t>(ulSize);
  return ReadServed(disk.pReader->pNbd, ullOffset, pTo, ulSize);
}

void Close(VirtualDisk *pDisk) {
  Reader *pReader = pDisk->pReader;
  if (pReader == nullptr)
    return;
  CloseVmdk(&pReader->pVmdk);
  for (libvmdk_handle_t *&pParent : pReader->parents)
    CloseVmdk(&pParent);
  if (pReader->pNbd != nullptr) {
    nbd_shutdown(pReader->pNbd, 0);
    nbd_close(pReader->pNbd);
  }
  delete pReader;
  pDisk->pReader = nullptr;
  pDisk->ullSize = 0;
}

}  // namespace vdisk

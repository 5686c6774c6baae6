// REGEDIT4 images of the simulated registry, in the form Windows 98's regedit writes them, and a
// drive copied whole from a host folder: loaders and exports that the host tools take over.
// Relies on the key tree, the drive, the path rules and the host files.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/sim/RegeditText.h"
#include "platform/sim/SimDrive.h"
#include "platform/sim/SimHostFiles.h"
#include "platform/sim/SimRegistry.h"

namespace fs = std::filesystem;

namespace sim {

namespace {

// ---- Registry images ----

const size_t CHUNK = 1 << 20;

template <typename Values>
void AppendKey(const std::string &path, const Values &values, std::string *pOut) {
  pOut->push_back('[');
  *pOut += path;
  pOut->append("]\r\n");
  for (const auto &value : values) {
    regedit::AppendValueLine(pOut, value.name, value.dwType, value.data);
    pOut->append("\r\n");
  }
  pOut->append("\r\n");
}

// The key lines counted first (a scan for '[' costs little beside the reading), so that the
// store and its name index are made once at their size rather than copied as they grow.
void ReserveForKeyLines(std::string_view image) {
  size_t keyLines = 0;
  for (size_t pos = image.find('['); pos != std::string_view::npos; pos = image.find('[', pos + 1))
    keyLines += pos == 0 || image[pos - 1] == '\n' ? 1 : 0;
  ReserveKeys(keyLines);
}

// What an export may make the machine hold and write back, against its own size: a key takes
// about 128 bytes here, a value 96 and 80 more in the index of a key with many, and a key line
// of a few hundred bytes can name 64 keys, each written back with its whole path. Real exports,
// whose keys take some 200 bytes of text each, stay below.
regedit::Limits ImportLimits(size_t imageSize) {
  regedit::Limits limits;
  limits.depth = MAX_KEY_DEPTH;
  limits.length = MAX_KEY_PATH;
  limits.keyFootprint = KEY_FOOTPRINT;
  limits.valueFootprint = VALUE_FOOTPRINT;
  limits.indexFootprint = INDEX_FOOTPRINT;
  limits.indexedValues = INDEXED_VALUES;
  limits.footprint = imageSize * 5 / 2 + (size_t(48) << 20);  // the estimates run up to a fifth short
  limits.written = 6 * imageSize + (size_t(64) << 10);
  return limits;
}

// Whether a strict reading takes the whole image, adding nothing.
bool CheckImage(std::string_view image, std::string *pError, const regedit::Limits &limits) {
  auto noKey = [](std::string_view, std::string_view) {};
  auto noValue = [](std::string_view, std::uint32_t, std::string_view) {};
  auto noSkip = [](size_t, const std::string &) {};
  return regedit::Read(image, true, noKey, noValue, noSkip, pError, limits);
}

// Where an image's key lines land. An export lists parents before their subkeys: a key line is
// found from the deepest key it shares with the line before it, not from its root.
struct KeyLines {
  std::string_view lastRoot;
  std::string_view lastPath;
  std::vector<size_t> ends;  // where each name of lastPath ends
  std::vector<KeyId> ids;    // the key up to that name
  KeyId current = NO_KEY;
};

// How many names of the key line the line before it already reached.
size_t SharedDepth(const KeyLines &lines, std::string_view root, std::string_view path) {
  size_t depth = 0;
  if (root == lines.lastRoot) {
    size_t common = 0;
    while (common < path.size() && common < lines.lastPath.size() && path[common] == lines.lastPath[common])
      ++common;
    while (depth < lines.ends.size() && lines.ends[depth] <= common &&
           (lines.ends[depth] == path.size() || path[lines.ends[depth]] == '\\'))
      ++depth;
  }
  return depth;
}

void EnterKeyLine(KeyLines *pLines, std::string_view root, std::string_view path) {
  size_t depth = SharedDepth(*pLines, root, path);
  pLines->ends.resize(depth);
  pLines->ids.resize(depth);
  pLines->current = depth > 0 ? pLines->ids.back() : AddRoot(root).key;
  size_t pos = depth > 0 ? pLines->ends.back() : 0;
  while (pos < path.size()) {
    size_t slash = path.find('\\', pos);
    size_t end = slash == std::string_view::npos ? path.size() : slash;
    if (end > pos) {
      pLines->current = MakeKey(pLines->current, path.substr(pos, end - pos));
      pLines->ends.push_back(end);
      pLines->ids.push_back(pLines->current);
    }
    pos = end + 1;
  }
  pLines->lastRoot = root;
  pLines->lastPath = path;
}

// Past the first thousand, skipped lines are counted rather than listed: an export of short
// garbage lines would otherwise list many times what it holds.
const size_t LISTED_SKIPS = 1000;

struct SkipList {
  std::vector<SkippedLine> *pSkipped;
  SkippedLine unlisted{0, ""};
  size_t unlistedCount = 0;
};

void NoteSkip(SkipList *pList, size_t line, const std::string &why) {
  if (pList->pSkipped->size() < LISTED_SKIPS)
    pList->pSkipped->push_back(SkippedLine{line, why});
  else if (pList->unlistedCount++ == 0)
    pList->unlisted.line = line;
}

// The one entry that stands for the lines not listed, when there are some.
void EndSkipList(SkipList *pList) {
  if (pList->unlistedCount == 0)
    return;
  pList->unlisted.why = "this line and " + std::to_string(pList->unlistedCount - 1) + " more skipped, not listed";
  pList->unlisted.count = pList->unlistedCount;
  pList->pSkipped->push_back(pList->unlisted);
}

// ---- A drive copied from a host folder ----

// Why a host folder's entry cannot be on a Windows drive, or ""; a folder is added to pSubfolders.
std::string EntryProblem(const std::string &path, std::vector<std::string> *pSubfolders) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0)
    return path + ": cannot be read";
  if (S_ISLNK(st.st_mode))
    return path + ": a symbolic link (a Windows drive holds only files and folders)";
  if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
    return path + ": neither a plain file nor a folder";
  if (S_ISDIR(st.st_mode))
    pSubfolders->push_back(path);
  return "";
}

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
    problem = EntryProblem(folder + "/" + hostName, pSubfolders);
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

}  // namespace

bool ImportRegistry(std::string_view image, std::string *pError, std::vector<SkippedLine> *pSkipped) {
  std::string error;
  ReserveForKeyLines(image);
  const regedit::Limits limits = ImportLimits(image.size());
  // Strict, the image is checked whole first so that a malformed one leaves the registry as it was.
  bool fRead = pSkipped != nullptr || CheckImage(image, &error, limits);
  KeyLines lines;
  SkipList skips{pSkipped};
  auto onKey = [&](std::string_view root, std::string_view path) { EnterKeyLine(&lines, root, path); };
  auto onValue = [&](std::string_view name, std::uint32_t ulType, std::string_view data) {
    PutValue(lines.current, name, ulType, data);
  };
  auto onSkip = [&](size_t line, const std::string &why) { NoteSkip(&skips, line, why); };
  if (fRead)
    fRead = regedit::Read(image, pSkipped == nullptr, onKey, onValue, onSkip, &error, limits);
  EndSkipList(&skips);
  if (!fRead && pError)
    *pError = error;
  return fRead;
}

std::string RegeditImage(const std::vector<RegistryKey> &keys) {
  std::string out = "REGEDIT4\r\n\r\n";
  for (const RegistryKey &key : keys)
    AppendKey(key.path, key.values, &out);
  return out;
}

void ExportRegistry(const std::function<void(const std::string &)> &write) {
  std::string out = "REGEDIT4\r\n\r\n";
  out.reserve(CHUNK + (CHUNK >> 2));
  for (const RegRoot &root : M().roots) {
    for (KeyId child : Key(root.key).children) {
      ForEachInSubtree(child, root.name + "\\" + Key(child).name, [&](const RegKey &key, const std::string &path) {
        AppendKey(path, key.values, &out);
        if (out.size() >= CHUNK) {
          write(out);
          out.clear();
        }
      });
    }
  }
  write(out);
}

std::string ExportRegistry() {
  std::string image;
  ExportRegistry([&image](const std::string &chunk) { image += chunk; });
  return image;
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

}  // namespace sim

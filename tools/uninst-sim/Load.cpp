// The machine a run starts from, as the options name its drive and registry.
#include "tools/uninst-sim/Load.h"

#include <algorithm>
#include <filesystem>

#include "tools/formats/FileKind.h"
#include "tools/formats/MappedFile.h"

namespace fs = std::filesystem;

namespace uninstsim {

namespace {

using formats::FileKind;

// What a user's file is when its first bytes tell, what would make it readable, and which option
// takes it.
struct KindAdvice {
  FileKind kind;
  const char *pucWhat;
  const char *pucRepair;  // or null
  const char *pucOption;  // or null: none does
};
const KindAdvice KIND_ADVICE[] = {
    {FileKind::Regedit4, "a REGEDIT4 export", nullptr, "--registry"},
    {FileKind::TwiceConverted, "a REGEDIT4 export whose line ends were converted twice (CR CR LF)",
     "convert them back once (as dos2unix does)", "--registry"},
    {FileKind::LaterExport, "an export made by Windows 2000 or later, not a Windows 98/ME export",
     "export the registry on the Windows 98/ME machine (regedit /e)", nullptr},
    {FileKind::RegistryFile, "a Windows 9x registry file", nullptr, "--hive"},
    {FileKind::Cabinet, "a cabinet", nullptr, "--hive"},
    {FileKind::DiskImage, "a disk image", nullptr, "--disk"},
};

// A file the option refused with error, named for what its first bytes show it is when that is a
// file another option takes or one that needs repair; else error as it was.
std::string Refusal(const std::string &error, const std::string &path, const std::string &option) {
  if (error.empty())
    return "";
  FileKind kind = formats::KindOfFile(path);
  for (const KindAdvice &advice : KIND_ADVICE) {
    bool fOtherOption = advice.pucOption != nullptr && advice.pucOption != option;
    if (advice.kind != kind || (!fOtherOption && advice.pucRepair == nullptr))
      continue;
    std::string message = path + " is " + advice.pucWhat + ": ";
    if (advice.pucRepair != nullptr)
      message += std::string(advice.pucRepair) + (fOtherOption ? " and " : "");
    return fOtherOption ? message + "give it with " + advice.pucOption : message;
  }
  return error;
}

std::string SetWindowsDir(const std::string &path) {
  if (!IsWindowsDirectory(path))
    return "Windows directory " + path + ": not a C:\\ path of at most 64 characters";
  sim::SetWindowsDirectory(path);
  return "";
}

// The disk's volume as the drive, and the Windows directory its MSDOS.SYS names. Throws DiskError.
std::string AttachDisk(const Options &options, formats::FatDisk *pDisk) {
  std::string error = Refusal(OpenDisk(options.disk, pDisk), options.disk, "--disk");
  if (!error.empty())
    return error;
  sim::AttachDrive(DiskSource(*pDisk));
  std::string msdosSys;
  std::string windowsDir = options.windowsDir;
  if (windowsDir.empty() && sim::ReadFile("C:\\MSDOS.SYS", &msdosSys))
    windowsDir = formats::WindowsDirectoryOf(msdosSys);
  return SetWindowsDir(windowsDir.empty() ? "C:\\WINDOWS" : windowsDir);
}

std::string LoadMachineDrive(const Options &options, formats::FatDisk *pDisk) {
  if (!options.disk.empty())
    return AttachDisk(options, pDisk);
  std::string error;
  if (!options.windowsDir.empty() && !(error = SetWindowsDir(options.windowsDir)).empty())
    return error;
  fs::path drive = fs::path(options.machine) / "drive";
  if (!options.machine.empty() && fs::is_directory(drive) && !LoadFolderImage(drive.string(), &error))
    return error;
  return "";
}

// The SYSTEM.DAT of the disk's Windows directory.
std::string LoadDiskHive(const Options &options) {
  std::string hive;
  std::string path = sim::WindowsDirectory() + "\\SYSTEM.DAT";
  if (!sim::ReadFile(path, &hive))
    return options.disk + ": no " + path + " on the disk: give --hive or --registry";
  return LoadHiveBytes(hive, options.disk + ": " + path);
}

// A customer's export is read past the lines Windows' own import would skip; an image's own
// registry.reg, and an export with --strict, are refused at the first.
std::string LoadRegistry(const Options &options, std::vector<SkippedLine> *pSkipped) {
  if (!options.hive.empty())
    return Refusal(LoadHive(options.hive), options.hive, "--hive");
  if (!options.disk.empty() && options.registry.empty())
    return LoadDiskHive(options);
  fs::path registry =
      options.registry.empty() ? fs::path(options.machine) / "registry.reg" : fs::path(options.registry);
  formats::MappedFile image(registry.string());
  if (!image.IsOpen())
    return "cannot read " + registry.string() + ": " + image.Why();
  std::vector<SkippedLine> skipped;
  bool fLenient = !options.registry.empty() && !options.fStrict;
  std::string error;
  if (!ImportRegistry(image.Text(), &error, fLenient ? &skipped : nullptr))
    return Refusal(registry.string() + ": " + error, registry.string(), "--registry");
  for (SkippedLine &line : skipped) {
    line.file = options.registry;
    pSkipped->push_back(std::move(line));
  }
  return "";
}

// A path given without its drive, as the file's whole path, for a user who left out "C:\".
std::string WholePathHint(const std::string &path) {
  if (path.find_first_of(":/") != std::string::npos || path.find_first_not_of('\\') == std::string::npos)
    return "the file's whole path on the machine";
  return "such as C:\\" + path.substr(path.find_first_not_of('\\'));
}

std::string MarkFilesInUse(const Options &options) {
  for (const std::string &path : options.inUse) {
    std::string name;
    if (sim::NormalPath(path).empty())
      return "--in-use " + path + ": a C:\\ path is needed, " + WholePathHint(path);
    if (!sim::Cp1252FromUtf8(path, &name) || !sim::ReadFile(name, nullptr))
      return "--in-use " + path + ": no such file on the machine";
    sim::SetFileInUse(name, true);
  }
  return "";
}

}  // namespace

std::string LoadMachine(const Options &options, formats::FatDisk *pDisk, std::vector<SkippedLine> *pSkipped) {
  if (!options.machine.empty() && !fs::is_directory(options.machine))
    return "no machine image folder " + options.machine;
  std::string error = LoadMachineDrive(options, pDisk);
  if (error.empty())
    error = LoadRegistry(options, pSkipped);
  return error.empty() ? MarkFilesInUse(options) : error;
}

bool IsWindowsDirectory(const std::string &path) {
  if (path.size() < 4 || path.size() > 64 || (path[0] != 'C' && path[0] != 'c') || path.compare(1, 2, ":\\") != 0)
    return false;
  if (std::any_of(path.begin(), path.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }))
    return false;
  std::string normal = sim::NormalPath(path);
  return normal.compare(3, std::string::npos, path, 3, std::string::npos) == 0 &&
         path.find_first_of("*?\"<>|:", 2) == std::string::npos;
}

}  // namespace uninstsim

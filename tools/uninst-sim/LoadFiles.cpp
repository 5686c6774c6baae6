// The simulated machine's C: drive from a machine image's drive/ folder, copied in whole, or from
// a raw disk image, read only as far as the run goes. The readers check what an image may hold;
// each folder's names are held here to what the simulated drive can hold.
#include "tools/formats/FolderImage.h"
#include "tools/uninst-sim/Load.h"

namespace uninstsim {

namespace {

// The drive as a fresh machine has it: empty but for the Windows tree.
void EmptyDrive() {
  sim::AttachDrive(sim::DriveSource());
  sim::SetWindowsDirectory(sim::WindowsDirectory());
}

// Copies a checked image onto the drive; "" or the one-line error of the entry that cannot be
// listed or read.
std::string CopyFolderImage(const std::string &hostFolder) {
  sim::DriveSource source;
  source.list = [hostFolder](const std::string &folder) { return formats::ListFolderImage(hostFolder, folder); };
  source.read = [hostFolder](const std::string &file) { return formats::ReadFolderImageFile(hostFolder, file); };
  try {
    sim::LoadDrive(source);
  } catch (const formats::FolderImageError &failure) {
    return failure.message;
  }
  return "";
}

}  // namespace

bool LoadFolderImage(const std::string &hostFolder, std::string *pError) {
  std::string problem = formats::CheckFolderImage(hostFolder, sim::FolderNamesProblem);
  if (problem.empty())
    problem = CopyFolderImage(hostFolder);
  if (!problem.empty())
    EmptyDrive();
  if (pError)
    *pError = problem;
  return problem.empty();
}

std::string OpenDisk(const std::string &image, formats::FatDisk *pDisk) {
  // The machine's scratch folder, beside its drive: gone with the machine.
  std::string scratch = sim::DriveRoot().substr(0, sim::DriveRoot().rfind('/'));
  return formats::OpenFatDisk(image, scratch, sim::FolderNamesProblem, pDisk);
}

sim::DriveSource DiskSource(const formats::FatDisk &disk) {
  sim::DriveSource source;
  source.list = [disk](const std::string &folder) { return formats::ListFatFolder(disk, folder); };
  source.read = [disk](const std::string &file) { return formats::ReadFatFile(disk, file); };
  return source;
}

}  // namespace uninstsim

// The simulated C: drive as the calls above it use it: Windows paths resolved over the host
// folder behind the drive, its entries listed and read from a drive source as a path first needs
// them. Relies on the machine record, the path rules and the host files beneath.
#ifndef UNINST_PLATFORM_SIM_SIMDRIVE_H
#define UNINST_PLATFORM_SIM_SIMDRIVE_H

#include <string>
#include <vector>

namespace sim {

/// A Windows path resolved over the drive.
struct Resolved {
  bool fOnDrive;         // a C:\ path
  bool fValid;           // ... whose names Windows accepts
  bool fParentExists;    // every folder on the way exists
  bool fExists;          // the last part exists
  std::string hostPath;  // existing parts as the host spells them, the rest in UTF-8
};
/// A Windows path resolved case-insensitively, component by component from C:\.
Resolved ResolvePath(const std::string &winPath);
/// The components of a path already split and checked, resolved the same way.
Resolved ResolveParts(const std::vector<std::string> &parts);

/// A fresh empty drive in a new temporary host folder, with the Windows tree; the last one goes.
void ResetDrive();
/// Removes everything on the drive.
void EmptyDrive();
std::string SystemDirectory();
bool IsDirectory(const std::string &hostPath);
/// A folder's names as the program sees them, in lower-cased name order.
std::vector<std::string> FolderNames(const std::string &hostFolder);
/// Reads a file from the drive source onto the host if it has not been read yet.
void EnsureRead(const std::string &hostPath);
bool ReadHostFile(const std::string &hostPath, std::string *pBytes);
/// A file's bytes when the drive holds them; "" for one still only in the source, which is not
/// read for this.
std::string HeldBytes(const std::string &hostPath);
/// Removes a file from the drive (whether read from the source yet or not).
bool RemoveFromDrive(const std::string &hostPath);

}  // namespace sim

#endif

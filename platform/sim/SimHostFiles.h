// The host side of the simulated drive: every host file and folder under the drive's root is
// made, opened, read and removed one path component at a time from the root, never following a
// link and never taking an empty, "." or ".." component. A name that slipped past the checks
// of an image still cannot reach a host file outside the root.
#ifndef UNINST_PLATFORM_SIM_SIMHOSTFILES_H
#define UNINST_PLATFORM_SIM_SIMHOSTFILES_H

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace sim {

/// Whether name can be one component of a host path: not empty, not "." or "..", no '/' or NUL.
bool IsHostComponent(const std::string &name);
/// open(2) of hostPath, which must lie under root; -1 with errno set otherwise.
int OpenBeneath(const std::string &root, const std::string &hostPath, int iFlags, mode_t mode = 0);
/// The folder at hostPath (root itself included) for reading its entries, or null.
DIR *OpenFolderBeneath(const std::string &root, const std::string &hostPath);
bool StatBeneath(const std::string &root, const std::string &hostPath, struct stat *pStat);
bool MakeFolderBeneath(const std::string &root, const std::string &hostPath);
bool RemoveFileBeneath(const std::string &root, const std::string &hostPath);
/// Writes the bytes whole to fd; false on the first failure.
bool WriteAll(int fd, const char *pucBytes, size_t ulSize);
/// Creates or truncates the file and writes bytes whole.
bool WriteFileBeneath(const std::string &root, const std::string &hostPath, const std::string &bytes);
bool ReadFileBeneath(const std::string &root, const std::string &hostPath, std::string *pBytes);

}  // namespace sim

#endif

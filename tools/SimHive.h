// The simulated machine's registry from a Windows 9x/ME registry file (SYSTEM.DAT) or from the
// SYSTEM.DAT of a registry backup cabinet (RB00n.CAB of C:\WINDOWS\SYSBCKUP).
#ifndef UNINST_TOOLS_SIMHIVE_H
#define UNINST_TOOLS_SIMHIVE_H

#include <string>

namespace simtool {

/// Adds every key and value of the file to HKEY_LOCAL_MACHINE as Windows presents them: names
/// and data as stored (code page 1252 bytes, a text holding its terminating NUL), types as
/// stored, keys and values in the file's order. A file that is not a registry file or a cabinet
/// holding exactly one, a damaged one, one over 64 MiB, one with a key path past
/// sim::MAX_KEY_DEPTH or sim::MAX_KEY_PATH, or one holding more keys and values than a few times
/// its size takes in the simulation, is refused whole: the registry is left as it was and the
/// result is one line naming the file and what is wrong; "" when loaded.
std::string LoadHive(const std::string &path);
/// The same on the file's bytes (the 64 MiB cap included); name is how the error line calls the file.
std::string LoadHiveBytes(const std::string &bytes, const std::string &name);

}  // namespace simtool

#endif

// The record of what the platform calls changed, kept as they change it. Relies on the key tree
// and the drive.
#ifndef UNINST_PLATFORM_SIM_SIMCHANGES_H
#define UNINST_PLATFORM_SIM_SIMCHANGES_H

#include <string>

#include "platform/sim/SimDrive.h"
#include "platform/sim/SimMachine.h"

namespace sim {

/// Records a key about to be removed, with its subkeys and values.
void RecordRemovedKey(KeyId key);
/// Records a value about to be removed from a key.
void RecordRemovedValue(KeyId key, const RegValue &value);
/// Records a file's bytes before the program first opens it for writing.
void RecordWrite(const std::string &winPath, const Resolved &r);
/// Records a file DeleteFileA removed, as the program named it, and its bytes just before.
void RecordDeletedFile(const std::string &winPath, const std::string &bytes);
/// Notes a searched folder once, as the search named it.
void RecordSearch(const std::string &spec);

}  // namespace sim

#endif

// Windows 9x/ME registry files (SYSTEM.DAT) and the SYSTEM.DAT of a registry backup cabinet
// (RB00n.CAB of C:\WINDOWS\SYSBCKUP), read into plain data.
#ifndef UNINST_TOOLS_FORMATS_HIVE_H
#define UNINST_TOOLS_FORMATS_HIVE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/formats/KeyLimits.h"

namespace formats {

/// The parent of a key right below the file's root key.
const std::size_t HIVE_ROOT = SIZE_MAX;

struct HiveValue {
  std::string_view name;  // code page 1252 bytes, as stored
  std::uint32_t ulType;
  std::string_view data;  // as stored: a text holds its terminating NUL
};
struct HiveKey {
  std::size_t parent;  // index of the parent key in the list, or HIVE_ROOT
  std::string_view name;
  std::vector<HiveValue> values;  // in the file's order
};

/// A file's keys, parents before their subkeys, in the file's order. The views point into the
/// bytes read, or for a cabinet into its SYSTEM.DAT held here.
struct Hive {
  std::string extracted;
  std::vector<HiveKey> keys;
  Hive() = default;
  Hive(const Hive &) = delete;
  Hive &operator=(const Hive &) = delete;
};

/// What a reader takes of a file; unlimited unless given. The keys are held to what they take
/// once loaded: keyFootprint and the key's path per key, valueFootprint, name and data per value,
/// and indexFootprint more per value from the indexedValues-th of a key, at most footprintPerByte
/// per byte of the file and footprintBase more.
struct HiveLimits : KeyLimits {
  std::size_t footprintPerByte = 0;
  std::size_t footprintBase = SIZE_MAX;
};

/// Reads every key and value of a registry file, or of the one SYSTEM.DAT of a cabinet. A file
/// that is not a registry file or a cabinet holding exactly one, a damaged one, one over 64 MiB,
/// one past the limits, or one holding a key Windows could not hold is refused whole: "" or what
/// is wrong, in one line (code page 1252 names shown in UTF-8). bytes must outlive the hive.
std::string ReadHive(const std::string &bytes, const HiveLimits &limits, Hive *pHive);
/// A file's bytes, read up to the 64 MiB a registry file is held to. "" or one line naming it.
std::string ReadHiveFile(const std::string &path, std::string *pBytes);

}  // namespace formats

#endif

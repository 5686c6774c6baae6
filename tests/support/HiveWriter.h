// Writes Windows 9x registry files (SYSTEM.DAT, the CREG layout) for tests: nothing on the host
// writes them, and uninst-sim reads customers' ones.
#ifndef UNINST_TESTS_SUPPORT_HIVEWRITER_H
#define UNINST_TESTS_SUPPORT_HIVEWRITER_H

#include <cstddef>
#include <string>
#include <vector>

#include "platform/sim/sim.h"

namespace hive {

/// A registry file holding the given HKEY_LOCAL_MACHINE keys (paths with the root's name, as
/// sim::RegistryKeys() gives them) as the file's root: subkeys in order of first appearance,
/// values in order, names compared ignoring ASCII case. Missing parents are made. Throws
/// std::invalid_argument for a key of another root, a value of the root itself, or a key too
/// large for one data block of blockSize bytes.
std::string HiveImage(const std::vector<sim::RegistryKey> &keys, std::size_t blockSize = 65536);

/// File offset of the hierarchy entry of the key numbered i in pre-order (the root is 0), and
/// the offsets inside an entry, for tests that damage a file.
std::size_t EntryOffset(std::size_t i);
/// RGKN-relative offset of key i's entry, as the links between entries give it.
std::size_t EntryLink(std::size_t i);
const std::size_t ENTRY_FIRST_CHILD = 16;
const std::size_t ENTRY_NEXT_SIBLING = 20;

}  // namespace hive

#endif

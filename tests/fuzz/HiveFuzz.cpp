// The Windows 9x registry file reader (uninst-sim --hive) on arbitrary bytes, as a file or as the
// SYSTEM.DAT of a cabinet: customers' files, untrusted. Whatever the bytes: no crash, no hang on a
// looping key hierarchy, and a file taken whole or refused whole with one line naming it.
#include <cstdint>
#include <string>

#include "platform/sim/sim.h"
#include "tools/SimHive.h"

// libcreg 20200725 leaks a key name entry when a data block's entries do not parse: its bug, on
// damaged files only, and a few bytes a file for a tool that reads one file and exits. The
// library has no frame pointers, so the leak's stack may stop at the entry's allocation.
extern "C" const char *__lsan_default_suppressions() {
  return "leak:libcreg_data_block_read_entries\nleak:libcreg_data_block_entry_initialize\n";
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t ulSize) {
  sim::Reset();
  std::string bytes(reinterpret_cast<const char *>(pData), ulSize);
  std::string empty = sim::ExportRegistry();
  std::string error = simtool::LoadHiveBytes(bytes, "SYSTEM.DAT");
  if (!error.empty()) {
    if (error.compare(0, 12, "SYSTEM.DAT: ") != 0 || error.find('\n') != std::string::npos ||
        sim::ExportRegistry() != empty)
      __builtin_trap();  // refused, but not in one line naming the file, or not whole
    return 0;
  }
  for (const sim::RegistryKey &key : sim::RegistryKeys()) {
    if (key.path.compare(0, 19, "HKEY_LOCAL_MACHINE\\") != 0)
      __builtin_trap();  // a hive holds HKEY_LOCAL_MACHINE only
  }
  return 0;
}

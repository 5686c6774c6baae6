// The WinInit.ini queue on arbitrary existing contents: every byte of the old file must still be
// there, in order, around the one inserted entry (or the appended header and entry).
#include <cstdint>
#include <cstring>
#include <string>

#include "files/BootRename.h"
#include "platform/sim/sim.h"

namespace {
const char INI[] = "C:\\WINDOWS\\WININIT.INI";
const std::string ENTRY = "NUL=C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS\r\n";
const std::string HEADER = "[Rename]\r\n";

bool KeptAroundInsertion(const std::string &before, const std::string &after, const std::string &inserted) {
  if (after.size() != before.size() + inserted.size())
    return false;
  for (std::size_t at = 0; at <= before.size(); ++at) {
    if (after.compare(0, at, before, 0, at) == 0 && after.compare(at, inserted.size(), inserted) == 0 &&
        after.compare(at + inserted.size(), std::string::npos, before, at, std::string::npos) == 0) {
      return true;
    }
  }
  return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t ulSize) {
  static bool fReady = false;
  if (!fReady)
    sim::Reset();
  fReady = true;
  std::string before(reinterpret_cast<const char *>(pData), ulSize);
  sim::WriteFile(INI, before);
  if (QueueBootRename("C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS", nullptr) == 0)
    __builtin_trap();
  std::string after;
  if (!sim::ReadFile(INI, &after))
    __builtin_trap();
  if (!KeptAroundInsertion(before, after, ENTRY) && after != before + HEADER + ENTRY)
    __builtin_trap();
  if (!sim::OpenHandles().empty())
    __builtin_trap();
  return 0;
}

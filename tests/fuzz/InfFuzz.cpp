// The INF ownership test on arbitrary file contents: no read outside the block, whatever the text.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "inf/InfOwnership.h"
#include "platform/sim/sim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t ulSize) {
  // Exactly one byte longer than the file, so that any read past its end is caught.
  std::vector<char> block(pData, pData + ulSize);
  block.push_back('\0');
  int fInMemory = IsPackageInfText(block.data(), static_cast<unsigned long>(ulSize));
  if (ulSize % 16 == 0) {
    static bool fReady = false;
    if (!fReady)
      sim::Reset();
    fReady = true;
    sim::WriteFile("C:\\WINDOWS\\INF\\FUZZ.INF", std::string(reinterpret_cast<const char *>(pData), ulSize));
    if (IsPackageInf("C:\\WINDOWS\\INF\\FUZZ.INF") != fInMemory)
      __builtin_trap();
    if (!sim::OpenHandles().empty())
      __builtin_trap();
  }
  return 0;
}

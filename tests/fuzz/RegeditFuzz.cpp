// The REGEDIT4 importer on arbitrary text (uninst-sim reads customers' exports: untrusted). An
// image is taken whole or refused whole; what was taken exports to an image that imports back to
// the same registry.
#include <cstdint>
#include <string>

#include "platform/sim/sim.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t ulSize) {
  sim::Reset();
  std::string image(reinterpret_cast<const char *>(pData), ulSize);
  std::string empty = sim::ExportRegistry();
  std::string error;
  if (!sim::ImportRegistry(image, &error)) {
    if (error.compare(0, 5, "line ") != 0 || sim::ExportRegistry() != empty)
      __builtin_trap();  // refused, but without its line, or not whole
    return 0;
  }
  std::string exported = sim::ExportRegistry();
  sim::Reset();
  if (!sim::ImportRegistry(exported, &error) || sim::ExportRegistry() != exported)
    __builtin_trap();
  return 0;
}

// The REGEDIT4 importer on arbitrary text (uninst-sim reads customers' exports: untrusted). Read
// strictly, an image is taken whole or refused whole; read as a customer's export, it is refused
// only without its header and otherwise taken past the lines it skips. Either way, what was taken
// exports to an image that imports back, strictly, to the same registry.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim.h"
#include "tools/uninst-sim/Load.h"

namespace {

void ExpectRoundTrip() {
  std::string exported = uninstsim::ExportRegistry();
  std::string error;
  sim::Reset();
  if (!uninstsim::ImportRegistry(exported, &error) || uninstsim::ExportRegistry() != exported)
    __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *pData, std::size_t ulSize) {
  sim::Reset();
  std::string image(reinterpret_cast<const char *>(pData), ulSize);
  std::string empty = uninstsim::ExportRegistry();
  std::string error;
  bool fTaken = uninstsim::ImportRegistry(image, &error);
  if (!fTaken && (error.compare(0, 5, "line ") != 0 || uninstsim::ExportRegistry() != empty))
    __builtin_trap();  // refused, but without its line, or not whole
  if (fTaken)
    ExpectRoundTrip();

  const bool fHeader = fTaken || error != "line 1: REGEDIT4 header expected";
  sim::Reset();
  std::vector<uninstsim::SkippedLine> skipped;
  bool fRead = uninstsim::ImportRegistry(image, &error, &skipped);
  // Read as an export, it is refused for its header alone, and skips lines exactly when the
  // strict reading refuses it.
  if (fRead != fHeader || (fRead && skipped.empty() != fTaken))
    __builtin_trap();
  if (fRead)
    ExpectRoundTrip();
  return 0;
}

// Seeded generator of simulated machine images: the package installed for some printers among
// many foreign driver nodes, devices, ports, interface classes, ASD\Prob values, dynamic data
// entries, INF files and system files, on a drive whose names vary in case and hold code page
// 1252 letters. It records, from the removal rules, exactly what a run answered Yes, No, No must
// remove; everything else must be left as it was.
#ifndef UNINST_TESTS_SUPPORT_MACHINEGENERATOR_H
#define UNINST_TESTS_SUPPORT_MACHINEGENERATOR_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/sim/sim.h"

namespace gen {

struct Options {
  std::uint32_t seed = 1;
  // A negative count is drawn from the seed.
  int iPackagePrinters = -1;  // 0 to 5
  int iForeignNodes = -1;     // 100 to 300
  int iDynamicEntries = -1;   // 50 to 250
  int iAsdValues = -1;        // foreign values per ASD\Prob key, 20 to 120
  int iFillerKeys = 0;        // foreign device keys elsewhere in Enum, for size
  // Odd nodes (missing values, missing keys, stale-flag cases, oversized values, files in use,
  // connected printers, Windows ME, MoveFileEx); off for the stress machines.
  bool fVariations = true;
};

/// What the run must do to the machine just built.
struct Expectation {
  int iExitCode = 0;
  int iMinorVersion = 10;
  bool fMoveFileEx = false;
  int iPackagePrinters = 0;
  bool fConnected = false;
  std::vector<std::string> removedKeys;                            // HKLM paths, whole subtrees
  std::vector<std::pair<std::string, std::string>> removedValues;  // HKLM key path, value name
  std::vector<std::string> removedFiles;                           // Windows paths, any case
  std::vector<std::string> queuedFiles;                            // in use: they stay and are queued for the next boot
  std::vector<std::string> packageInfs;  // INF texts written as the package's (label, for checks)
  std::vector<std::string> foreignInfs;  // INF texts written as not the package's
  long lKeys = 0;                        // keys in the image
  std::string problem;                   // why the drive could not be loaded; "" when it was
};

/// Resets the simulated machine and builds a random image from the options.
Expectation BuildMachine(const Options &options);

/// The stress image of the benchmarks: 10,000 x iScale class nodes with 100 x iScale of the
/// package, 10,000 x iScale dynamic data entries, about 100,000 x iScale keys.
Expectation BuildStressMachine(int iScale);

/// The snapshot with the expectation's removals applied.
sim::Snapshot ExpectedAfter(const sim::Snapshot &before, const Expectation &expectation);
/// Readable differences between two snapshots, names compared ignoring ASCII case and WinInit.ini
/// left out (it is checked on its own), at most iLimit lines.
std::vector<std::string> Differences(const sim::Snapshot &expected, const sim::Snapshot &actual, int iLimit);

/// Whether a trace line is one of the program's own formats, whole.
bool IsProgramTraceLine(const std::string &line);

}  // namespace gen

#endif

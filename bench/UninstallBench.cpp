// Costs of the uninstall and of its two text scanners on the simulated machine. Figures, not
// gates: the summary after the runs gives the growth ratios the design predicts.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "files/BootRename.h"
#include "inf/InfOwnership.h"
#include "platform/registry.h"
#include "platform/sim/sim.h"
#include "tests/support/MachineGenerator.h"
#include "uninstall/Uninst.h"
#include "uninstall/UninstallState.h"

namespace {

struct RunFigures {
  double dSeconds = 0;
  long lKeys = 0;
  long lRegistryCalls = 0;
  long lDynamicCalls = 0;  // the survey's walks of the dynamic data
  long lValueScanCalls = 0;
  long lPackage = 0;
  long lDynamicEntries = 0;
};
std::map<int, RunFigures> g_runs;
std::map<long, double> g_infBytesPerSecond;
std::map<long, double> g_memchrBytesPerSecond;
std::map<long, double> g_iniSecondsPerMiB;

const sim::Call REGISTRY_CALLS[] = {sim::Call::RegOpenKeyEx,    sim::Call::RegEnumKeyEx, sim::Call::RegEnumValue,
                                    sim::Call::RegQueryValueEx, sim::Call::RegDeleteKey, sim::Call::RegDeleteValue};

const char DYNAMIC_WALK_END[] = "Enumerating dynamic data key ";

// The walks of the dynamic data key and their enumerations, read from the trace: each walk ends
// on the failed enumeration it traces with its index, after that many successful ones. No walk
// ends early on the stress machines (none of their printers is connected).
void CountDynamicWalks(long *plWalks, long *plEnums) {
  *plWalks = 0;
  *plEnums = 0;
  const size_t prefixLength = sizeof DYNAMIC_WALK_END - 1;
  for (const std::string &line : sim::Trace()) {
    if (line.compare(0, prefixLength, DYNAMIC_WALK_END) != 0)
      continue;
    ++*plWalks;
    *plEnums += std::atol(line.c_str() + prefixLength) + 1;
  }
}

void BM_WholeUninstall(benchmark::State &state) {
  const int iScale = static_cast<int>(state.range(0));
  RunFigures figures;
  for (auto _ : state) {
    state.PauseTiming();
    gen::Expectation e = gen::BuildStressMachine(iScale);
    InitUninstallState();
    for (int iAnswer : {os::IDYES, os::IDNO, os::IDNO})
      sim::QueueAnswer(iAnswer);
    state.ResumeTiming();
    benchmark::DoNotOptimize(WinMain(nullptr, nullptr, nullptr, 0));
    state.PauseTiming();
    figures.lKeys = e.lKeys;
    figures.lPackage = e.iPackagePrinters;
    figures.lRegistryCalls = 0;
    for (sim::Call kind : REGISTRY_CALLS)
      figures.lRegistryCalls += sim::CallCount(kind);
    // Each dynamic entry costs an enumeration, an open and a read; each walk ends on one failed
    // enumeration.
    long lWalks = 0;
    long lEnums = 0;
    CountDynamicWalks(&lWalks, &lEnums);
    figures.lDynamicCalls = lEnums + 2 * (lEnums - lWalks);
    figures.lDynamicEntries = 10000L * iScale;
    figures.lValueScanCalls = sim::CallCount(sim::Call::RegEnumValue);
    sim::Reset();
    state.ResumeTiming();
  }
  figures.dSeconds = 0;
  state.counters["keys"] = static_cast<double>(figures.lKeys);
  state.counters["registry_calls"] = static_cast<double>(figures.lRegistryCalls);
  state.counters["dynamic_walk_calls"] = static_cast<double>(figures.lDynamicCalls);
  state.counters["value_scan_calls"] = static_cast<double>(figures.lValueScanCalls);
  g_runs[iScale] = figures;
}
BENCHMARK(BM_WholeUninstall)->Arg(1)->Arg(2)->Arg(4)->Iterations(1)->Unit(benchmark::kMillisecond);

// A package INF of the given size: [Version] first, then sections of keys and comments, the
// [Strings] section last, so that the key lookup scans the whole text.
std::string BigInf(long lSize) {
  std::string text = "[Version]\r\nSignature=\"$CHICAGO$\"\r\nClass=USB\r\nProvider=%Mfg%\r\n\r\n";
  const std::string section =
      "[Models.NT]\r\n; Talvo printers\r\nModel=\"Talvo P1000\",USBPRINT\\VID_7A11\r\n"
      "MfgName=Talvo ; vendor\r\nCopyFiles=Files.Driver,Files.Monitor\r\n\r\n";
  const std::string tail = "[Strings]\r\nMfg=\"Talvo\"\r\n";
  while (static_cast<long>(text.size() + section.size() + tail.size()) <= lSize)
    text += section;
  text += tail;
  return text;
}

void BM_IsPackageInf(benchmark::State &state) {
  const long lSize = static_cast<long>(state.range(0));
  sim::Reset();
  const std::string text = BigInf(lSize);
  sim::WriteFile("C:\\WINDOWS\\INF\\BIG.INF", text);
  for (auto _ : state) {
    if (IsPackageInf("C:\\WINDOWS\\INF\\BIG.INF") != 1)
      state.SkipWithError("the generated INF is not recognised");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  g_infBytesPerSecond[lSize] = 0;
  sim::Reset();
}

void BM_MemchrFloor(benchmark::State &state) {
  const long lSize = static_cast<long>(state.range(0));
  const std::string text = BigInf(lSize);
  for (auto _ : state)
    benchmark::DoNotOptimize(std::memchr(text.data(), '\x01', text.size()));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}

void InfSizes(benchmark::internal::Benchmark *pBench) {
  for (long lSize = 64L << 10; lSize <= 64L << 20; lSize <<= 2)
    pBench->Arg(lSize);
}
BENCHMARK(BM_IsPackageInf)->Apply(InfSizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemchrFloor)->Apply(InfSizes)->Unit(benchmark::kMillisecond);

// A WinInit.ini of the given size with its [rename] section first, so that the whole file moves.
std::string BigIni(long lSize) {
  std::string text = "[rename]\r\n";
  const std::string line = "NUL=C:\\WINDOWS\\TEMP\\OLDFILE.TMP\r\n";
  while (static_cast<long>(text.size() + line.size()) <= lSize)
    text += line;
  return text;
}

void BM_QueueBootRename(benchmark::State &state) {
  const long lSize = static_cast<long>(state.range(0));
  sim::Reset();
  const std::string text = BigIni(lSize);
  for (auto _ : state) {
    state.PauseTiming();
    sim::WriteFile("C:\\WINDOWS\\WININIT.INI", text);
    state.ResumeTiming();
    if (!QueueBootRename("C:\\WINDOWS\\SYSTEM\\KXUSBPRT.SYS", nullptr))
      state.SkipWithError("the entry was not queued");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
  sim::Reset();
}
BENCHMARK(BM_QueueBootRename)
    ->Arg(1L << 10)
    ->Arg(16L << 10)
    ->Arg(256L << 10)
    ->Arg(4L << 20)
    ->Arg(16L << 20)
    ->Unit(benchmark::kMillisecond);

// Keeps the per-run figures (time included) for the summary.
class Collector : public benchmark::ConsoleReporter {
 public:
  Collector() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      std::string name = run.benchmark_name();
      long lArg = std::atol(name.substr(name.find('/') + 1).c_str());
      double dSeconds = run.GetAdjustedRealTime() / 1e3;  // milliseconds per iteration
      auto bytes = run.counters.find("bytes_per_second");
      double dRate = bytes == run.counters.end() ? 0 : static_cast<double>(bytes->second);
      if (name.rfind("BM_WholeUninstall", 0) == 0)
        g_runs[static_cast<int>(lArg)].dSeconds = dSeconds;
      else if (name.rfind("BM_IsPackageInf", 0) == 0)
        g_infBytesPerSecond[lArg] = dRate;
      else if (name.rfind("BM_MemchrFloor", 0) == 0)
        g_memchrBytesPerSecond[lArg] = dRate;
      else if (name.rfind("BM_QueueBootRename", 0) == 0)
        g_iniSecondsPerMiB[lArg] = dSeconds * 1e3 / (static_cast<double>(lArg) / (1 << 20));
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

void PrintSummary() {
  std::printf("\n## Whole uninstall on the stress machines\n\n");
  std::printf(
      "| size | keys | time (s) | registry calls | dynamic-data walk calls | value-scan calls | other calls |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (const auto &entry : g_runs) {
    const RunFigures &f = entry.second;
    std::printf("| %dx | %ld | %.3f | %ld | %ld | %ld | %ld |\n", entry.first, f.lKeys, f.dSeconds, f.lRegistryCalls,
                f.lDynamicCalls, f.lValueScanCalls, f.lRegistryCalls - f.lDynamicCalls - f.lValueScanCalls);
  }
  if (g_runs.count(1) != 0) {
    const RunFigures &one = g_runs[1];
    std::printf(
        "\n| ratio | time | registry calls | dynamic walk | value scans | other calls | dynamic walk per (devices x "
        "entries) |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (int iScale : {2, 4}) {
      if (g_runs.count(iScale) == 0)
        continue;
      const RunFigures &f = g_runs[iScale];
      auto other = [](const RunFigures &r) {
        return static_cast<double>(r.lRegistryCalls - r.lDynamicCalls - r.lValueScanCalls);
      };
      auto perPair = [](const RunFigures &r) {
        return static_cast<double>(r.lDynamicCalls) / (static_cast<double>(r.lPackage) * r.lDynamicEntries);
      };
      std::printf("| %dx/1x | %.2f | %.2f | %.2f | %.2f | %.2f | %.2f |\n", iScale, f.dSeconds / one.dSeconds,
                  static_cast<double>(f.lRegistryCalls) / one.lRegistryCalls,
                  static_cast<double>(f.lDynamicCalls) / one.lDynamicCalls,
                  static_cast<double>(f.lValueScanCalls) / one.lValueScanCalls, other(f) / other(one),
                  perPair(f) / perPair(one));
    }
  }
  std::printf("\n## IsPackageInf\n\n| size | IsPackageInf (MiB/s) | memchr floor (MiB/s) |\n|---|---|---|\n");
  for (const auto &entry : g_infBytesPerSecond)
    std::printf("| %ld KiB | %.1f | %.1f |\n", entry.first >> 10, entry.second / (1 << 20),
                g_memchrBytesPerSecond[entry.first] / (1 << 20));
  if (g_infBytesPerSecond.size() >= 2) {
    double dSmall = g_infBytesPerSecond.begin()->second;
    double dLarge = g_infBytesPerSecond.rbegin()->second;
    std::printf("\nTime per byte, largest over smallest: %.2f\n", dSmall / dLarge);
  }
  std::printf("\n## QueueBootRename\n\n| WinInit.ini size | ms per MiB |\n|---|---|\n");
  for (const auto &entry : g_iniSecondsPerMiB)
    std::printf("| %ld KiB | %.2f |\n", entry.first >> 10, entry.second);
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  Collector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();
  PrintSummary();
  return 0;
}

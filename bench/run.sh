#!/usr/bin/env bash
# Runs the benchmarks of build/bench and times uninst-sim as a whole process on generated exports
# (bench/export-bench.sh) and on a 2 GB disk image (bench/disk-bench.sh), prints them and records them with the machine in bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(build/bench/bench/uninst_bench --benchmark_color=false "$@" 2>&1)
printf '%s\n' "$out"
exports=$(bash bench/export-bench.sh build/bench-sim/tools/uninst-sim build/bench-sim/exports)
printf '%s\n' "$exports"
disk=$(bash bench/disk-bench.sh build/host/tools/uninst-sim build/bench-disk)
printf '%s\n' "$disk"
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
{
  echo "# Benchmark figures"
  echo
  echo "Recorded by \`make bench\` on $(date -u +%Y-%m-%d): $(nproc) cores, ${cpu}; build/bench (-O2, no sanitizers)."
  echo "The stress machines are tests/support/MachineGenerator.cpp's (1x: 10,000 driver nodes, 100 of"
  echo "the package, 10,000 dynamic data entries, 2,000 foreign values in each ASD\\Prob key)."
  echo "Columns: \"dynamic-data walk calls\" are the survey's walks of HKEY_DYN_DATA (an enumeration, an"
  echo "open and a read per entry and package device), designed to grow as devices x entries;"
  echo "\"value-scan calls\" are the ASD\\Prob and OEM Name value enumerations, devices x values; \"other"
  echo "calls\" is everything else, which should grow linearly. Times are wall-clock on a machine shared"
  echo "with other work: treat them as rough."
  echo
  printf '%s\n' "$out" | sed -n '/^## /,$p'
  echo
  printf '%s\n' "$exports"
  echo
  printf '%s\n' "$disk"
  echo
  echo "## Raw output"
  echo
  echo '```'
  printf '%s\n' "$out" | sed '/^## /,$d'
  echo '```'
} > bench/RESULTS.md

#!/usr/bin/env bash
# Runs the benchmarks of build/bench, prints them and records them with the machine in
# bench/RESULTS.md.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(build/bench/bench/uninst_bench --benchmark_color=false "$@" 2>&1)
printf '%s\n' "$out"
cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
{
  echo "# Benchmark figures"
  echo
  echo "Recorded by \`make bench\` on $(date -u +%Y-%m-%d): $(nproc) cores, ${cpu}; build/bench (-O2, no sanitizers)."
  echo "The stress machines are tests/support/MachineGenerator.cpp's (1x: 10,000 driver nodes, 100 of"
  echo "the package, 10,000 dynamic data entries, 2,000 foreign values in each ASD\\Prob key)."
  echo
  printf '%s\n' "$out" | sed -n '/^## /,$p'
  echo
  echo "## Raw output"
  echo
  echo '```'
  printf '%s\n' "$out" | sed '/^## /,$d'
  echo '```'
} > bench/RESULTS.md

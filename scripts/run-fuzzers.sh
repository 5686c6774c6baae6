#!/usr/bin/env bash
# Runs each libFuzzer target for SECONDS, seeded from a temporary copy of its corpus.
set -euo pipefail
build="$(cd "${1:?usage: run-fuzzers.sh BUILD_DIR SECONDS}" && pwd)"
seconds="${2:?usage: run-fuzzers.sh BUILD_DIR SECONDS}"
root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

run() {
  local name="$1" seeds="$2"
  local binary
  binary="$(find "$build" -type f -name "$name" -perm -u+x | head -n 1)"
  [ -n "$binary" ] || { echo "fuzzer $name not built in $build" >&2; exit 1; }
  mkdir -p "$work/$name"
  if [ -d "$seeds" ]; then cp -r "$seeds"/. "$work/$name"/ 2>/dev/null || true; fi
  echo "== $name for ${seconds}s"
  (cd "$work" && "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=1 "$work/$name")
}

run InfFuzz "$root/tests/data/inf"
run BootRenameFuzz "$root/tests/data/wininit"
run RegeditFuzz "$root/tests/data/regedit"
run WholeRunFuzz "$root/tests/data/wholerun"
run HiveFuzz "$root/tests/data/hive"
run DiskFuzz "$root/tests/data/disk"

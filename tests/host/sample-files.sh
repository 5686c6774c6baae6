#!/usr/bin/env bash
# The win98 sample made into a registry file and a disk image (samples/make-sample-files.sh)
# previews as the sample itself: the same removals, undo.reg and report, and the same trace
# but for HKEY_DYN_DATA, which a registry file does not hold (Windows builds it at boot).
# Usage: sample-files.sh UNINST-SIM SAMPLE-HIVE WORK-DIR
set -euo pipefail
sim="${1:?usage: sample-files.sh UNINST-SIM SAMPLE-HIVE WORK-DIR}"
work="${3:?usage: sample-files.sh UNINST-SIM SAMPLE-HIVE WORK-DIR}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work"
bash "$root/samples/make-sample-files.sh" "$2" "$work/files" > /dev/null
answers=$(cat "$root/samples/win98/answers.txt")
"$sim" --machine "$root/samples/win98" --quiet --out "$work/sample" > /dev/null
"$sim" --machine "$root/samples/win98" --hive "$work/files/SYSTEM.DAT" --quiet --out "$work/hive" > /dev/null
"$sim" --disk "$work/files/win98.img" --answers "$answers" --quiet --out "$work/disk" > /dev/null
without_dynamic_data() { grep -v -e 'dynamic data' -e 'HKEY_DYN_DATA' "$1"; }
for form in hive disk; do
  cmp "$work/sample/undo.reg" "$work/$form/undo.reg" || fail "$form: removes otherwise"
  diff <(without_dynamic_data "$work/sample/trace.txt") <(without_dynamic_data "$work/$form/trace.txt") ||
    fail "$form: traces otherwise"
  # From the outcome on: the lines before it name the input, which differs by design.
  diff <(sed -n '/^Outcome: /,$p' "$work/sample/report.txt" | without_dynamic_data /dev/stdin) \
    <(sed -n '/^Outcome: /,$p' "$work/$form/report.txt" | without_dynamic_data /dev/stdin) ||
    fail "$form: reports otherwise"
done
echo "the win98 sample as SYSTEM.DAT and as a disk image previews as the sample"

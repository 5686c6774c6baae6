#!/usr/bin/env bash
# Runs the shipped Uninst.exe end to end under Wine on one sample machine, answering its message
# boxes as a person would, runs uninst-sim on the same machine with the same answers, and
# compares the two (tests/e2e/compare.py).
#
#   run-e2e.sh --uninst Uninst.exe --helpers DIR --sim uninst-sim --work DIR
#              --machine SAMPLE_DIR --case NAME --boxes 2,5,8 [--answers yes,no,no] [--os 98|me]
#
# --boxes lists the string ids of the texts the run must show, in order; --answers, the answers
# to its Yes/No boxes, defaults to the sample's answers.txt, --os to the form its options.txt names (98 otherwise). Results,
# screenshots included, stay under WORK/CASE for a person to look at.
set -uo pipefail

if [ -z "${UNINST_IN_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed (scripts/install-deps.sh)" >&2; exit 2; }
  # A screen large enough for the widest box, at a depth that keeps the screenshots exact.
  UNINST_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

here=$(cd "$(dirname "$0")" && pwd)
uninst= helpers= sim= work= machine= case_name= boxes= answers= form=
while [ $# -gt 0 ]; do
  case "$1" in
    --uninst) uninst=$(readlink -f "$2") ;;
    --helpers) helpers=$(readlink -f "$2") ;;
    --sim) sim=$(readlink -f "$2") ;;
    --work) mkdir -p "$2" && work=$(readlink -f "$2") ;;
    --machine) machine=$(readlink -f "$2") ;;
    --case) case_name=$2 ;;
    --boxes) boxes=$2 ;;
    --answers) answers=$2 ;;
    --os) form=$2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done
for tool in wine wineserver winepath import python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/install-deps.sh)" >&2; exit 2; }
done
[ -f "$uninst" ] || { echo "no Uninst.exe at $uninst: build the win32 preset first" >&2; exit 2; }
[ -x "$sim" ] || { echo "no uninst-sim at $sim: build the host preset first" >&2; exit 2; }
[ -d "$machine" ] || { echo "no machine image at $machine" >&2; exit 2; }

# The sample's own extra simulation options; --os among them names the Windows form.
options=()
[ -f "$machine/options.txt" ] && read -r -d "" -a options <"$machine/options.txt"
sim_options=()
in_use=()
for ((i = 0; i < ${#options[@]}; i++)); do
  case "${options[i]}" in
    --os) [ -n "$form" ] || form=${options[i + 1]}; i=$((i + 1)) ;;
    --in-use) in_use+=("${options[i + 1]}"); sim_options+=(--in-use "${options[i + 1]}"); i=$((i + 1)) ;;
    *) sim_options+=("${options[i]}") ;;
  esac
done
form=${form:-98}
case "$form" in
  98) wine_version=win98 ;;
  me) wine_version=winme ;;
  *) echo "unknown Windows form $form" >&2; exit 2 ;;
esac
[ -n "$answers" ] || answers=$(tr -d ' \r\n' <"$machine/answers.txt")
IFS=, read -r -a box_ids <<<"$boxes"
IFS=, read -r -a answer_words <<<"$answers"
# The answers are those of the Yes/No boxes; the connected-printer notice (6) has OK alone.
steps=()
next=0
for id in "${box_ids[@]}"; do
  if [ "$id" = 6 ]; then
    steps+=("6:ok")
  else
    steps+=("$id:${answer_words[next]:-none}")
    next=$((next + 1))
  fi
done
[ $next -eq ${#answer_words[@]} ] || { echo "$case_name: boxes $boxes do not fit answers '$answers'" >&2; exit 2; }

out="$work/$case_name"
rm -rf "$out"
mkdir -p "$out/wine" "$out/sim" "$out/shots"

# --- the simulation, with the same answers; Wine's MoveFileExA succeeds, so the simulated one does too.
"$sim" --machine "$machine" --answers "$answers" --os "$form" --movefileex "${sim_options[@]}" \
  --out "$out/sim" --quiet >"$out/sim/stdout.txt" 2>&1
echo $? >"$out/sim/exit.txt"

# --- a prefix of its own, from the template.
. "$here/wine-prefix.sh"
e2e_prefix "$work" "$out/prefix" || exit 2
fr timeout 120 wine reg add 'HKCU\Software\Wine' /v Version /d "$wine_version" /f >/dev/null 2>&1 ||
  { echo "cannot set $wine_version" >&2; exit 2; }
fr timeout 60 wine "$helpers/RegImage.exe" import "$(win "$machine/registry.reg")" >"$out/wine/import.log" 2>&1 ||
  { cat "$out/wine/import.log" >&2; exit 2; }
windows="$WINEPREFIX/drive_c/windows"
system="$windows/system32"
mkdir -p "$windows/inf/other"
drive="$machine/drive/WINDOWS"
for f in "$drive"/SYSTEM/*; do [ -f "$f" ] && cp "$f" "$system/"; done
for f in "$drive"/INF/*; do [ -f "$f" ] && cp "$f" "$windows/inf/"; done
for f in "$drive"/INF/OTHER/*; do [ -f "$f" ] && cp "$f" "$windows/inf/other/"; done
# Of the Windows directory's own files only WinInit.ini: the rest would replace Wine's.
for f in "$drive"/*; do [ -f "$f" ] && [ "${f##*/}" = WININIT.INI ] && cp "$f" "$windows/WININIT.INI"; done
# A read-only file is what Wine refuses to delete with 5, as Windows 98 does a file in use.
for path in "${in_use[@]}"; do
  name=${path##*\\}
  case "${path^^}" in
    'C:\WINDOWS\SYSTEM\'*) chmod a-w "$system/$name" ;;
    *) echo "in-use file outside the system directory: $path" >&2; exit 2 ;;
  esac
done
(cd "$windows" && find system32 inf -maxdepth 2 -type f | sort) >"$out/wine/files-before.txt"

# --- the run: the answerer waits for the boxes while the recorder runs the program.
fr timeout 150 wine "$helpers/BoxAnswer.exe" "$(win "$out/wine/boxes.txt")" "$out/shots" "${steps[@]}" \
  >"$out/wine/answer.log" 2>&1 &
answerer=$!
fr timeout 150 wine "$helpers/TraceRun.exe" "$(win "$out/wine/trace.txt")" "$(win "$out/wine/exit.txt")" 120 \
  "$(win "$uninst")" >"$out/wine/run.log" 2>&1
echo $? >"$out/wine/recorder.txt"
wait "$answerer"
echo $? >"$out/wine/answerer.txt"

# Roots of the export: every top key of the image, and where Wine queues boot-time deletions.
mapfile -t roots < <(python3 "$here/compare.py" roots "$machine/registry.reg")
roots+=('HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager')
fr timeout 120 wine "$helpers/RegImage.exe" export "$(win "$out/wine/registry.reg")" "${roots[@]}" \
  >"$out/wine/export.log" 2>&1 || { cat "$out/wine/export.log" >&2; exit 2; }
(cd "$windows" && find system32 inf -maxdepth 2 -type f | sort) >"$out/wine/files-after.txt"
mkdir -p "$out/wine/WINDOWS"
[ -f "$windows/WININIT.INI" ] && cp "$windows/WININIT.INI" "$out/wine/WINDOWS/"

python3 "$here/compare.py" check --machine "$machine" --out "$out" --form "$form" --in-use "${in_use[@]}"

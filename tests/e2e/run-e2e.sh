#!/usr/bin/env bash
# Runs the shipped Uninst.exe end to end under Wine on one machine image, answering its message
# boxes as a person would, runs uninst-sim on the same machine with the same answers, and
# compares the two (tests/e2e/compare.py).
#
#   run-e2e.sh --uninst Uninst.exe --helpers DIR --sim uninst-sim --work DIR
#              --machine IMAGE_DIR --case NAME --boxes 2,5,8 [--answers yes,no,no] [--os 98|me]
#
# --boxes lists the string ids of the texts the run must show, in order; --answers, the answers
# to its Yes/No boxes, defaults to the image's answers.txt, --os to the form its options.txt names
# (98 otherwise); its --in-use files may be anywhere on the drive. Results, screenshots included,
# stay under WORK/CASE for a person to look at.
set -uo pipefail

if [ -z "${UNINST_IN_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed (scripts/install-deps.sh)" >&2; exit 2; }
  # A screen large enough for the widest box, at a depth that keeps the screenshots exact. The
  # search for a free display starts where the arguments say, so that cases run side by side do
  # not race for the same one.
  display=$(($(printf '%s' "$*" | cksum | cut -d' ' -f1) % 900 + 100))
  UNINST_IN_XVFB=1 exec xvfb-run -a -n "$display" -s "-screen 0 1024x768x24" bash "$0" "$@"
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

# The image's own extra simulation options, one a line as uninst-sim reads them (a value may hold
# blanks: C:\Program Files\...); --os among them names the Windows form.
sim_options=()
in_use=()
while read -r name value || [ -n "$name" ]; do
  name=${name%$'\r'} value=${value%$'\r'}
  case "$name" in
    '' | '#'*) ;;
    --os) [ -n "$form" ] || form=$value ;;
    --in-use) in_use+=("$value"); sim_options+=(--in-use "$value") ;;
    *) sim_options+=("$name" ${value:+"$value"}) ;;
  esac
done < <([ -f "$machine/options.txt" ] && cat "$machine/options.txt")
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

# --- the simulation, with the same answers, on the registry in the order Wine keeps it; Wine's
# MoveFileExA succeeds, so the simulated one does too.
python3 "$here/compare.py" wine-order "$machine/registry.reg" "$out/registry-wine-order.reg" || exit 2
"$sim" --machine "$machine" --registry "$out/registry-wine-order.reg" --answers "$answers" --os "$form" \
  --movefileex "${sim_options[@]}" --out "$out/sim" --quiet >"$out/sim-stdout.txt" 2>&1
echo $? >"$out/sim/exit.txt"
mv "$out/sim-stdout.txt" "$out/sim/stdout.txt"  # only after the run: it takes an empty folder

# --- a prefix of its own, from the template.
. "$here/wine-prefix.sh"
uninst_wine_form_line
for program in "$uninst" "$helpers/RegImage.exe" "$helpers/TraceRun.exe" "$helpers/BoxAnswer.exe"; do
  uninst_wine_runs "$program" || exit 2
done
e2e_prefix "$work" "$out/prefix" || exit 2
fr timeout 120 "${WINE[@]}" reg add 'HKCU\Software\Wine' /v Version /d "$wine_version" /f >/dev/null 2>&1 ||
  { echo "cannot set $wine_version" >&2; exit 2; }
fr timeout 60 "${WINE[@]}" "$helpers/RegImage.exe" import "$(win "$machine/registry.reg")" >"$out/wine/import.log" 2>&1 ||
  { cat "$out/wine/import.log" >&2; exit 2; }
# The image's drive onto Wine's C:, its files in use made read-only (winedrive.py).
python3 "$here/winedrive.py" seed "$machine/drive" "$WINEPREFIX/drive_c" "$out/wine" "${in_use[@]}" || exit 2

# --- the run: the answerer waits for the boxes while the recorder runs the program.
fr timeout 150 "${WINE[@]}" "$helpers/BoxAnswer.exe" "$(win "$out/wine/boxes.txt")" "$out/shots" "${steps[@]}" \
  >"$out/wine/answer.log" 2>&1 &
answerer=$!
fr timeout 150 "${WINE[@]}" "$helpers/TraceRun.exe" "$(win "$out/wine/trace.txt")" "$(win "$out/wine/exit.txt")" 120 \
  "$(win "$uninst")" >"$out/wine/run.log" 2>&1
echo $? >"$out/wine/recorder.txt"
wait "$answerer"
echo $? >"$out/wine/answerer.txt"

# Roots of the export: every top key of the image, and where Wine queues boot-time deletions.
mapfile -t roots < <(python3 "$here/compare.py" roots "$machine/registry.reg")
roots+=('HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager')
fr timeout 120 "${WINE[@]}" "$helpers/RegImage.exe" export "$(win "$out/wine/registry.reg")" "${roots[@]}" \
  >"$out/wine/export.log" 2>&1 || { cat "$out/wine/export.log" >&2; exit 2; }
python3 "$here/winedrive.py" collect "$machine/drive" "$WINEPREFIX/drive_c" "$out/wine" || exit 2

python3 "$here/compare.py" check --machine "$machine" --out "$out" --form "$form"

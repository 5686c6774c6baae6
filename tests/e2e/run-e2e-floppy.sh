#!/usr/bin/env bash
# One end-to-end case (run-e2e.sh) on the exe as a Windows 98/ME machine gets it: the floppy image
# of `make dist` is written from the --uninst exe, and UNINST.EXE copied out of it is what runs.
# Where the Wine here cannot run that exe (a machine that runs no 32-bit program), the copy is
# only compared with the exe, byte for byte, and the output says that the run was left out.
#
#   run-e2e-floppy.sh FLOPPY_WORK_DIR run-e2e.sh-arguments...
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
work=$1
shift
exe=
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --uninst) exe=$2 ;;
    *) args+=("$1" "$2") ;;
  esac
  shift 2
done
rm -rf "$work"
bash "$here/../../scripts/make-dist.sh" "$exe" "$work/dist"
mkdir -p "$work/a"
MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8 mcopy -n -i "$work/dist/uninst-floppy.img" ::UNINST.EXE "$work/a/UNINST.EXE"
. "$here/../../scripts/wine-env.sh"
uninst_wine_form_line
if ! uninst_wine_runs "$work/a/UNINST.EXE" 2>/dev/null; then
  cmp "$exe" "$work/a/UNINST.EXE" || { echo "FAILED: the floppy's UNINST.EXE is not $exe"; exit 1; }
  echo "the floppy's UNINST.EXE is $exe, byte for byte"
  echo "the run of the floppy's UNINST.EXE under Wine was left out: it is $(uninst_pe_form "$exe"), and" \
    "the Wine here runs $UNINST_WINE_FORM programs ($UNINST_WINE_WHY)"
  exit 0
fi
exec bash "$here/run-e2e.sh" --uninst "$work/a/UNINST.EXE" "${args[@]}"

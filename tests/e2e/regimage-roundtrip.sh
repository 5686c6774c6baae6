#!/usr/bin/env bash
# Loads REGEDIT4 images into a Wine registry through RegImage.exe and exports them back: every
# key and value of each image must read back as written, HKEY_DYN_DATA included, or the seeding
# of the end-to-end runs cannot be trusted.
#   regimage-roundtrip.sh HELPERS_DIR WORK_DIR IMAGE.reg...
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
helpers=$(readlink -f "$1")
mkdir -p "$2"
work=$(readlink -f "$2")
shift 2
. "$here/wine-prefix.sh"
out="$work/roundtrip"
mkdir -p "$out"
e2e_prefix "$work" "$out/prefix" || exit 2
status=0
for image in "$@"; do
  image=$(readlink -f "$image")
  exported="$out/$(basename "$(dirname "$image")")-$(basename "$image")"
  fr timeout 60 "${WINE[@]}" "$helpers/RegImage.exe" import "$(win "$image")" || { echo "import of $image failed"; status=1; continue; }
  mapfile -t roots < <(python3 "$here/compare.py" roots "$image")
  fr timeout 60 "${WINE[@]}" "$helpers/RegImage.exe" export "$(win "$exported")" "${roots[@]}" || { status=1; continue; }
  python3 "$here/compare.py" same "$image" "$exported" || status=1
done
# A malformed image is refused.
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\E2eBad]\r\n"Broken"=hex:0g\r\n' >"$out/bad.reg"
if fr "${WINE[@]}" "$helpers/RegImage.exe" import "$(win "$out/bad.reg")" 2>/dev/null; then
  echo "a malformed image was accepted"
  status=1
fi
[ $status -eq 0 ] && echo "round trip of $# image(s) passed"
exit $status

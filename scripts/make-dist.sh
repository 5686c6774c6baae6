#!/usr/bin/env bash
# Writes what a Windows 98/ME machine takes the uninstaller from: OUT/Uninst.exe, a copy of EXE;
# OUT/uninst-floppy.img, a 1.44 MB FAT12 floppy image; OUT/uninst.iso, an ISO 9660 CD image with
# Joliet names. Both images hold UNINST.EXE and LISEZMOI.TXT (scripts/LISEZMOI.txt in code page
# 1252 with CR LF line ends, as Notepad reads it there).
#
#   make-dist.sh EXE OUT
set -euo pipefail

[ $# -eq 2 ] || { echo "usage: $0 Uninst.exe OUTDIR" >&2; exit 2; }
exe=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
[ -f "$exe" ] || { echo "no $exe: build the win32 preset first" >&2; exit 2; }
for tool in mformat mcopy xorriso iconv; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (scripts/install-deps.sh)" >&2; exit 2; }
done
# mtools checks nothing of a host drive here, and its names are read in UTF-8.
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8

mkdir -p "$out"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/UNINST.EXE"
iconv -f UTF-8 -t CP1252 "$here/LISEZMOI.txt" | sed 's/$/\r/' >"$stage/LISEZMOI.TXT"

cp "$exe" "$out/Uninst.exe"
# Both images are written anew: xorriso would append a session to an existing one.
rm -f "$out/uninst-floppy.img" "$out/uninst.iso"
mformat -i "$out/uninst-floppy.img" -C -f 1440 -v UNINST ::
mcopy -i "$out/uninst-floppy.img" -m "$stage/UNINST.EXE" "$stage/LISEZMOI.TXT" ::
xorriso -as mkisofs -quiet -J -V UNINST -o "$out/uninst.iso" "$stage"

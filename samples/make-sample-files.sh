#!/usr/bin/env bash
# The win98 sample as the other inputs uninst-sim takes, so that each can be tried at once:
# OUT/SYSTEM.DAT, its registry as Windows 98 keeps it (--hive), and OUT/win98.img, a FAT16 disk
# holding its drive with that SYSTEM.DAT in C:\WINDOWS (--disk).
# Usage: make-sample-files.sh SAMPLE-HIVE OUT-DIR
set -euo pipefail
hive="${1:?usage: make-sample-files.sh SAMPLE-HIVE OUT-DIR}"
out="${2:?usage: make-sample-files.sh SAMPLE-HIVE OUT-DIR}"
sample="$(cd "$(dirname "$0")" && pwd)/win98"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
rm -rf "$out/stage" && mkdir -p "$out/stage"
"$hive" "$sample/registry.reg" "$out/SYSTEM.DAT"
cp -r "$sample/drive/." "$out/stage/"
cp "$out/SYSTEM.DAT" "$out/stage/WINDOWS/SYSTEM.DAT"
rm -f "$out/win98.img" && truncate -s 16M "$out/win98.img"
mformat -i "$out/win98.img" -T 32768 -c 4 -v WIN98 ::
mcopy -s -i "$out/win98.img" "$out/stage/"* ::/
rm -rf "$out/stage"
echo "$out/SYSTEM.DAT: uninst-sim --machine samples/win98 --hive $out/SYSTEM.DAT"
echo "$out/win98.img: uninst-sim --disk $out/win98.img"

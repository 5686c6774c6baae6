#!/usr/bin/env bash
# Times `uninst-sim --disk` as a whole process on a 2 GB FAT32 disk image (MBR, partition at
# sector 2048) holding a Windows tree with a few thousand files in its system directory, and
# prints a Markdown section. Usage: disk-bench.sh UNINST-SIM WORK-DIR [FILES]
set -euo pipefail
sim="$(readlink -f "${1:?usage: disk-bench.sh UNINST-SIM WORK-DIR [FILES]}")"
work="${2:?usage: disk-bench.sh UNINST-SIM WORK-DIR [FILES]}"
files="${3:-3000}"
root="$(cd "$(dirname "$0")/.." && pwd)"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8

rm -rf "$work"
mkdir -p "$work/stage"
cp -r "$root/samples/win98/drive/WINDOWS" "$work/stage/"
cp "$root/tests/data/hive/SYSTEM.DAT" "$work/stage/WINDOWS/SYSTEM.DAT"
for i in $(seq 1 "$files"); do
  head -c $((i % 7 * 4096 + 512)) /dev/zero > "$work/stage/WINDOWS/SYSTEM/LIB$i.DLL"
done
image="$work/disk.img"
sectors=$((2 * 1024 * 1024 * 1024 / 512))
truncate -s 2G "$image"
python3 - "$image" $((sectors - 2048)) <<'PY'
import struct, sys
with open(sys.argv[1], 'r+b') as disk:
    disk.seek(446)
    disk.write(bytes([0x80, 0, 0, 0, 0x0C, 0, 0, 0]) + struct.pack('<II', 2048, int(sys.argv[2])))
    disk.seek(510)
    disk.write(b'\x55\xaa')
PY
mformat -i "$image@@1048576" -F -T $((sectors - 2048)) :: >/dev/null
mcopy -s -i "$image@@1048576" "$work/stage/WINDOWS" ::/ >/dev/null
before=$(md5sum < "$image")

# Three runs: file creation on a shared machine varies a lot, so the slowest is given too.
times=()
for run in 1 2 3; do
  rm -rf "$work/out"
  start=$(date +%s.%N)
  /usr/bin/time -f '%M' -o "$work/rss" "$sim" --disk "$image" --answers yes,no,no --quiet \
    --in-use 'C:\WINDOWS\SYSTEM\KXUSBADD.DLL' --out "$work/out" >/dev/null
  end=$(date +%s.%N)
  times+=("$(python3 -c "print('%.2f' % ($end - $start))")")
done
[ "$(md5sum < "$image")" = "$before" ] || { echo "the image was written" >&2; exit 1; }
sorted=$(printf '%s\n' "${times[@]}" | sort -n)

echo "## uninst-sim --disk"
echo
echo "A 2 GB FAT32 image (partition at sector 2048) with $files more files in C:\\WINDOWS\\SYSTEM;"
echo "\`$(basename "$(dirname "$(dirname "$sim")")")\` build of uninst-sim, whole process, output written"
echo "(the system directory, changed by the run, is written out whole)."
echo
echo "| image | files in SYSTEM | fastest of 3 (s) | slowest of 3 (s) | peak memory |"
echo "|---|---|---|---|---|"
printf '| 2 GB FAT32 | %s | %s | %s | %s MB |\n' "$((files + 10))" "$(head -1 <<<"$sorted")" \
  "$(tail -1 <<<"$sorted")" "$(( $(cat "$work/rss") / 1024 ))"

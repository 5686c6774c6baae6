#!/usr/bin/env bash
# Times `uninst-sim --disk` as a whole process on a 2 GB FAT32 disk image (MBR, partition at
# sector 2048) holding a Windows tree with a few thousand files in its system directory, and
# also as qcow2 and VDI (qemu-img convert), and prints a Markdown section.
# Usage: disk-bench.sh UNINST-SIM WORK-DIR [FILES]
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
# Files of text, not zeros: a qcow2 or VDI holds every cluster of them, as of real DLLs.
python3 - "$work/stage/WINDOWS/SYSTEM" "$files" <<'PY'
import sys
for i in range(1, int(sys.argv[2]) + 1):
    with open('%s/LIB%d.DLL' % (sys.argv[1], i), 'wb') as out:
        out.write((b'LIB%d.DLL ' % i * 4096)[:i % 7 * 4096 + 512])
PY
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
qemu-img convert -O qcow2 "$image" "$work/disk.qcow2"
qemu-img convert -O vdi "$image" "$work/disk.vdi"

# Peak of what the run keeps in its temporary folder (the simulated drive, the virtual disk's
# server socket), sampled while it runs.
peak_tmp() {
  local peak=0 used
  while kill -0 "$1" 2>/dev/null; do
    used=$(du -sk "$work/tmp" 2>/dev/null | cut -f1)
    [ "${used:-0}" -gt "$peak" ] && peak=$used
    sleep 0.05
  done
  echo "$peak"
}

# Three runs of one image: file creation on a shared machine varies a lot, so the slowest is
# given too. Prints the table row.
time_image() {
  local form=$1 file=$2 times=() peak=0 before start end run
  before=$(md5sum < "$file")
  for run in 1 2 3; do
    rm -rf "$work/out" "$work/tmp" && mkdir -p "$work/tmp"
    start=$(date +%s.%N)
    TMPDIR="$work/tmp" /usr/bin/time -f '%M' -o "$work/rss" "$sim" --disk "$file" --answers yes,no,no --quiet \
      --in-use 'C:\WINDOWS\SYSTEM\KXUSBADD.DLL' --out "$work/out" >/dev/null &
    run=$(peak_tmp $!)
    wait $!
    end=$(date +%s.%N)
    times+=("$(python3 -c "print('%.2f' % ($end - $start))")")
    [ "$run" -gt "$peak" ] && peak=$run
  done
  [ "$(md5sum < "$file")" = "$before" ] || { echo "the $form image was written" >&2; exit 1; }
  local sorted
  sorted=$(printf '%s\n' "${times[@]}" | sort -n)
  printf '| %s | %s MB | %s | %s | %s MB | %s KiB |\n' "$form" "$(( $(du -k "$file" | cut -f1) / 1024 ))" \
    "$(head -1 <<<"$sorted")" "$(tail -1 <<<"$sorted")" "$(( $(cat "$work/rss") / 1024 ))" "$peak"
}

echo "## uninst-sim --disk"
echo
echo "A 2 GB FAT32 disk (partition at sector 2048) with $files more files in C:\\WINDOWS\\SYSTEM, as a"
echo "raw image and converted by qemu-img to qcow2 and VDI (read through qemu-nbd, sectors on demand);"
echo "\`$(basename "$(dirname "$(dirname "$sim")")")\` build of uninst-sim, whole process, output written"
echo "(the system directory, changed by the run, is written out whole). \"Temporary space\" is the peak"
echo "of the run's temporary folder, sampled every 50 ms: no form is converted or copied whole there."
echo
echo "| image | file on disk | fastest of 3 (s) | slowest of 3 (s) | peak memory | temporary space (peak) |"
echo "|---|---|---|---|---|---|"
time_image raw "$image"
time_image qcow2 "$work/disk.qcow2"
time_image VDI "$work/disk.vdi"

#!/usr/bin/env bash
# uninst-sim --disk on virtual machines' disk files: one FAT image converted by qemu-img into
# each container format must preview byte for byte as the raw image does, and be left as it was;
# an image naming a file outside its folder, or an encrypted one, is refused with one line
# without that file being opened (strace watches every open of the tool and its children).
# Usage: virtual-disks.sh UNINST-SIM WORK-DIR
set -euo pipefail
sim="$(readlink -f "${1:?usage: virtual-disks.sh UNINST-SIM WORK-DIR}")"
work="${2:?usage: virtual-disks.sh UNINST-SIM WORK-DIR}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
export MTOOLS_SKIP_CHECK=1 LC_ALL=C.UTF-8
rm -rf "$work" && mkdir -p "$work/stage" "$work/img" "$work/elsewhere" "$work/tmp"
work="$(cd "$work" && pwd)"
export TMPDIR="$work/tmp"
fail() { echo "FAIL: $*" >&2; exit 1; }

cp -r "$root/samples/win98/drive/WINDOWS" "$work/stage/"
cp "$root/tests/data/hive/SYSTEM.DAT" "$work/stage/WINDOWS/SYSTEM.DAT"
raw="$work/img/disk.raw"
truncate -s 24M "$raw"
mformat -i "$raw" -T 49152 -c 4 :: && mcopy -s -i "$raw" "$work/stage/WINDOWS" ::/

preview() {  # IMAGE NAME: the run's record in out/NAME, its summary in out/NAME.txt, the image named DISK
  "$sim" --disk "$1" --answers yes,no,no --quiet --in-use 'C:\WINDOWS\SYSTEM\KXUSBADD.DLL' \
    --out "$work/out/$2" | grep -v '^Output written to' | sed "s|$1|DISK|g" > "$work/out/$2.txt"
  sed -i "s|$1|DISK|g" "$work/out/$2/report.txt" "$work/out/$2/report.json"
}
mkdir -p "$work/out"
preview "$raw" raw

convert() {  # NAME QEMU-FORMAT [OPTIONS]
  qemu-img convert -O "$2" ${3:+-o "$3"} "$raw" "$work/img/$1"
}
convert disk.qcow2 qcow2
convert disk.vdi vdi
convert disk.vmdk vmdk
convert split.vmdk vmdk subformat=twoGbMaxExtentSparse
convert stream.vmdk vmdk subformat=streamOptimized
convert dynamic.vhd vpc
convert fixed.vhd vpc subformat=fixed
convert disk.vhdx vhdx
cp "$work/img/disk.qcow2" "$work/img/base.qcow2"
qemu-img create -q -f qcow2 -b base.qcow2 -F qcow2 "$work/img/overlay.qcow2"
qemu-img create -q -f vmdk -b disk.vmdk -F vmdk "$work/img/delta.vmdk"
sums="$(cd "$work/img" && md5sum ./*)"
for image in disk.qcow2 overlay.qcow2 disk.vdi disk.vmdk split.vmdk stream.vmdk delta.vmdk dynamic.vhd fixed.vhd \
  disk.vhdx; do
  preview "$work/img/$image" "$image" || fail "$image: exit $?"
  diff -r "$work/out/raw" "$work/out/$image" > /dev/null || fail "$image previews unlike the raw image"
  diff "$work/out/raw.txt" "$work/out/$image.txt" || fail "$image: summary unlike the raw image's"
done
[ "$(cd "$work/img" && md5sum ./*)" = "$sums" ] || fail "an image was written"

# Refused, each with one line, and nothing in elsewhere/ opened.
head -c 1M /dev/zero > "$work/elsewhere/secret.raw"
qemu-img create -q -f qcow2 -b "$work/elsewhere/secret.raw" -F raw "$work/img/backing-elsewhere.qcow2"
qemu-img create -q -f vmdk -o subformat=monolithicFlat "$work/img/flat.vmdk" 1M
sed -i "s|\"flat-flat.vmdk\"|\"$work/elsewhere/secret.raw\"|" "$work/img/flat.vmdk"
# qcow2's own AES encryption: LUKS would time its key derivation first, which fails now and then
# on a loaded machine ("Unable to get accurate CPU usage"); the tool refuses both alike.
qemu-img create -q -f qcow2 --object secret,id=s0,data=secret \
  -o encrypt.format=aes,encrypt.key-secret=s0 "$work/img/encrypted.qcow2" 1M
refuse() {  # IMAGE EXPECTED-TEXT
  local status=0
  # LeakSanitizer cannot run under ptrace.
  ASAN_OPTIONS=detect_leaks=0 strace -f -qq -e trace=open,openat,openat2,creat -o "$work/strace.log" \
    "$sim" --disk "$work/img/$1" --answers yes,no,no --out "$work/out/$1" > /dev/null 2> "$work/err" || status=$?
  [ "$status" = 2 ] || fail "$1: exit $status, 2 expected"
  [ "$(wc -l < "$work/err")" = 1 ] || fail "$1: not one line: $(cat "$work/err")"
  grep -q -- "$2" "$work/err" || fail "$1: '$2' expected in: $(cat "$work/err")"
  ! grep -q "/elsewhere/" "$work/strace.log" || fail "$1: a file outside its folder was opened"
  # Every path opened from the working folder or by its full name is the image's folder's, the
  # run's temporary or output folder's, or the system's (libraries, locale, /proc).
  local opened
  opened=$(grep -v 'openat([0-9]' "$work/strace.log" | sed -n 's/^[0-9]* [a-z0-9]*([^"]*"\([^"]*\)".*/\1/p' |
    grep -v -e "^$work/img/" -e "^$work/out/" -e "^$work/tmp/" -e '^/usr/' -e '^/lib' -e '^/etc/' -e '^/proc/' \
      -e '^/sys/' -e '^/dev/' || true)
  [ -z "$opened" ] || fail "$1: opened outside the run's folders: $opened"
}
refuse backing-elsewhere.qcow2 "secret.raw, outside its own folder"
refuse flat.vmdk "secret.raw, outside its own folder"
refuse encrypted.qcow2 "encrypted"
echo "virtual disks: 10 forms preview as raw; 3 refused"

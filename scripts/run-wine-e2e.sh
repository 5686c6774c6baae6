#!/usr/bin/env bash
# Runs Uninst.exe end to end under Wine set to Windows 98, in a throw-away prefix holding the
# package's registry entries and files beside another maker's, under the debugger harness that
# reads its trace and clicks its boxes (Yes, No, No); then checks the trace, the exit code and
# what is left. Usage: run-wine-e2e.sh Uninst.exe WinRun.exe MACHINE_DIR
set -uo pipefail

# Every Wine process of the run, the desktop that wineboot starts included, needs the display.
if [ -z "${UNINST_IN_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "xvfb-run is not installed (scripts/install-deps.sh)" >&2; exit 2; }
  UNINST_IN_XVFB=1 exec xvfb-run -a bash "$0" "$@"
fi

uninst=$(readlink -f "$1")
winrun=$(readlink -f "$2")
machine=$(readlink -f "$3")
command -v wine >/dev/null || { echo "wine is not installed (scripts/install-deps.sh)" >&2; exit 2; }

prefix=$(mktemp -d "${TMPDIR:-/tmp}/uninst-wine-e2e.XXXXXX")
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all
export HOME="${HOME:-$prefix}" LC_ALL=fr_FR.UTF-8
cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$prefix"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  echo "---- run output" >&2
  cat "$prefix/run.log" >&2
  exit 1
}

wineserver -p
timeout 300 wineboot -i >"$prefix/wineboot.log" 2>&1 || { cat "$prefix/wineboot.log" >&2; exit 2; }
timeout 120 wine reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null 2>&1 || exit 2
timeout 120 wine regedit /s "$(winepath -w "$machine/registry.reg" 2>/dev/null)" >/dev/null 2>&1 || exit 2
windows="$prefix/drive_c/windows"
mkdir -p "$windows/inf/other"
cp "$machine"/drive/WINDOWS/SYSTEM/* "$windows/system32/"
cp "$machine"/drive/WINDOWS/INF/OTHER/* "$windows/inf/other/"
cp "$machine"/drive/WINDOWS/INF/*.INF "$windows/inf/"

timeout 180 wine "$winrun" "$(winepath -w "$uninst")" 6 7 7 >"$prefix/run.log" 2>&1
tr -d '\r' <"$prefix/run.log" >"$prefix/run.txt"

expect() { grep -qxF -- "$1" "$prefix/run.txt" || fail "missing line: $1"; }
expect " OsVersion <10> "
expect " Opened key <System\\CurrentControlSet\\Services\\Class\\USB> looking for <KXUSBPRT.SYS> result 0"
expect "Found #1 printer <Enum\\LPTENUM\\TALVOP1000\\TALVOP1000USB&VID_7A11&PID_00425&3A7B1C2&0&2> configured"
expect " Deleting subkey <{28D78FAD-5A12-11D1-AE5B-0000F803A8C2}> result 0"
expect " Deleting subkey <0001> result 0"
expect " Deleting subkey <KXUSBMON> result 0"
expect " GetSystemDirectory <C:\\windows\\system32> result 0"
expect " Deleting File <C:\\windows\\system32\\KXUSBPRT.SYS> result 0"
expect " Deleting File <C:\\windows\\INF\\OTHER\\TalvoRWQUSB.INF> result 0"
expect "EXIT 0"
[ "$(grep -c '^BOX ' "$prefix/run.txt")" -eq 3 ] || fail "three message boxes expected"

gone() { ! wine reg query "$1" >/dev/null 2>&1 || fail "still there: $1"; }
kept() { wine reg query "$1" >/dev/null 2>&1 || fail "removed: $1"; }
gone 'HKLM\System\CurrentControlSet\Services\Class\USB\0001'
gone 'HKLM\Enum\USB\VID_7A11&PID_0042'
gone 'HKLM\Software\VRAX'
kept 'HKLM\System\CurrentControlSet\Services\Class\USB\0002'
kept 'HKLM\Enum\USB\VID_1B2C&PID_0007'
[ ! -e "$windows/system32/KXUSBPRT.SYS" ] || fail "the driver file is still there"
[ -e "$windows/system32/QLSCAN.SYS" ] || fail "another maker's driver file was removed"
echo "end-to-end run under Wine passed"

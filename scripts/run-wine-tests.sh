#!/usr/bin/env bash
# Runs a Win32 test executable under Wine, set to Windows 98, in a throw-away prefix, and exits
# with the executable's exit code. Usage: run-wine-tests.sh TEST.exe [arguments...]
# The executable's form (i686 or x86_64) picks the Wine: scripts/wine-env.sh.
set -uo pipefail

exe=$(readlink -f "$1")
shift
[ -f "$exe" ] || { echo "no such executable: $exe" >&2; exit 2; }
command -v wine >/dev/null || { echo "wine is not installed (scripts/install-deps.sh)" >&2; exit 2; }
. "$(dirname "$0")/wine-env.sh" || exit 2
uninst_wine_form_line

prefix=$(mktemp -d "${TMPDIR:-/tmp}/uninst-wine.XXXXXX")
export WINEPREFIX="$prefix"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG="${WINEDEBUG:--all}"
# Wine wants a home it may write to, also when run as root from a build tree.
export HOME="${HOME:-$prefix}"
# The program's texts are code page 1252, the ANSI code page of a French Windows 98; Wine takes
# its code page from the locale, so pin a French one.
export LC_ALL=fr_FR.UTF-8
# No window is needed: the test executable is a console program and shows no dialog.
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
  wineserver -k >/dev/null 2>&1
  wineserver -w >/dev/null 2>&1
  rm -rf "$prefix"
}
trap cleanup EXIT

# A persistent server keeps HKEY_DYN_DATA, which lives only in the server, for the whole run.
wineserver -p
timeout 300 "${WINEBOOT[@]}" -i >"$prefix/wineboot.log" 2>&1 || { cat "$prefix/wineboot.log" >&2; echo "wineboot failed" >&2; exit 2; }
timeout 120 "${WINE[@]}" reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null 2>&1 || { echo "cannot set win98" >&2; exit 2; }

"${WINE[@]}" "$exe" "$@"
rc=$?
echo "test executable exit code: $rc"
exit $rc

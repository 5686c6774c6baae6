#!/usr/bin/env bash
# Installs the build to a fresh prefix and runs the installed uninst-sim from an unrelated folder:
# it must find its bundled sample, print the version block's version, have its man page, and,
# copied away from its samples, refuse to run without a machine in one line.
# Usage: install-run.sh BUILD-DIR WORK-DIR
set -euo pipefail
build="$(cd "${1:?usage: install-run.sh BUILD-DIR WORK-DIR}" && pwd)"
work="${2:?usage: install-run.sh BUILD-DIR WORK-DIR}"
root="$(cd "$(dirname "$0")/../.." && pwd)"
fail() { echo "FAIL: $*" >&2; exit 1; }
rm -rf "$work" && mkdir -p "$work/elsewhere" && work="$(cd "$work" && pwd)"
cmake --install "$build" --prefix "$work/prefix" > /dev/null
cd "$work/elsewhere"
"$work/prefix/bin/uninst-sim" --answers yes,no,no --quiet --out "$work/installed" > /dev/null
"$build/tools/uninst-sim" --machine "$root/samples/win98" --answers yes,no,no --quiet --out "$work/built" > /dev/null
# The reports differ only in the Input block that names the machine, the bundled sample's there.
diff <(sed -n '/^Outcome: /,$p' "$work/built/report.txt") <(sed -n '/^Outcome: /,$p' "$work/installed/report.txt") ||
  fail "the installed sample previews otherwise"
grep -q '^Input: machine image .*/share/uninst-sim/samples/win98 (the bundled sample' "$work/installed/report.txt" ||
  fail "the report does not say the bundled sample was taken"
version=$(sed -n 's/.*VALUE "ProductVersion", "\([0-9.]*\).*/\1/p' "$root/resources/Uninst.rc")
[ "$("$work/prefix/bin/uninst-sim" --version)" = "uninst-sim $version" ] || fail "--version is not $version"
grep -q '^.B .*machine' "$work/prefix/share/man/man1/uninst-sim.1" || fail "no man page"
cp "$work/prefix/bin/uninst-sim" "$work/elsewhere/"
status=0
./uninst-sim --quiet > /dev/null 2> "$work/err" || status=$?
[ "$status" = 2 ] && [ "$(wc -l < "$work/err")" = 1 ] || fail "alone: exit $status, $(cat "$work/err")"
echo "installed uninst-sim runs its sample from elsewhere"

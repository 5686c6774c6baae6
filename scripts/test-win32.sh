#!/usr/bin/env bash
# `make test-win32`: the static checks of the shipped Uninst.exe (win32 preset), then the Win32
# tests and the end-to-end runs under the Wine this machine can run, decided once here
# (scripts/wine-env.sh): the i686 build under 32-bit Wine (win32-tests preset), or, where the
# machine runs no 32-bit program, the x86_64 build of the same sources under wine64 (win64-tests).
#   test-win32.sh JOBS
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${1:-$(nproc)}

. scripts/wine-env.sh
case "$UNINST_WINE_FORM" in
  i686) preset=win32-tests ;;
  x86_64) preset=win64-tests ;;
esac
uninst_wine_form_line

ctest --preset win32 --output-on-failure
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$jobs"
# The i686 form runs as it always has; the x86_64 one, new, runs its cases side by side, each in
# its own prefix and on its own screen.
if [ "$UNINST_WINE_FORM" = i686 ]; then
  ctest --preset "$preset" --output-on-failure
else
  ctest --preset "$preset" -j "$jobs" --output-on-failure
fi
uninst_wine_form_line

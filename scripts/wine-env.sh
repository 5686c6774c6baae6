# Sourced by the scripts that run Win32 programs under Wine: which Wine runs them here.
#
#   i686    32-bit Wine in a 32-bit prefix: the shipped i686 Uninst.exe and the i686 test build;
#   x86_64  64-bit Wine (/usr/lib/wine/wine64) in a 64-bit prefix, for machines whose kernel runs
#           no 32-bit program (Wine's 32-bit loader fails there with "Exec format error"): the
#           x86_64 build of the same sources (win64-tests preset).
#
# UNINST_WINE_FORM picks one; unset, the machine decides: i686 wherever 32-bit Wine starts.
# Defines WINE, WINEBOOT and WINEPATH_CMD (arrays: the commands to run) and UNINST_WINE_WHY.
# Debian's wine, wineboot and winepath wrappers start the 32-bit loader whenever it is
# installed, so the 64-bit form names the loader itself (WINELOADER too, for Wine's own children).

uninst_wine_machine_form() {
  if /usr/lib/wine/wine --version >/dev/null 2>&1; then echo i686; else echo x86_64; fi
}

uninst_wine_machine=$(uninst_wine_machine_form)
UNINST_WINE_FORM=${UNINST_WINE_FORM:-$uninst_wine_machine}
if [ "$UNINST_WINE_FORM" != "$uninst_wine_machine" ]; then
  UNINST_WINE_WHY="asked for by UNINST_WINE_FORM"
elif [ "$UNINST_WINE_FORM" = i686 ]; then
  UNINST_WINE_WHY="this machine runs 32-bit programs"
else
  UNINST_WINE_WHY="this machine runs no 32-bit programs"
fi
export UNINST_WINE_FORM

case "$UNINST_WINE_FORM" in
  i686)
    export WINEARCH=win32
    WINE=(wine) WINEBOOT=(wineboot) WINEPATH_CMD=(winepath)
    ;;
  x86_64)
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    WINE=("$WINELOADER") WINEBOOT=("$WINELOADER" wineboot) WINEPATH_CMD=("$WINELOADER" winepath)
    ;;
  *)
    echo "UNINST_WINE_FORM must be i686 or x86_64, not $UNINST_WINE_FORM" >&2
    return 2 2>/dev/null || exit 2
    ;;
esac

# The one line that says which form runs and why.
uninst_wine_form_line() {
  if [ "$UNINST_WINE_FORM" = i686 ]; then
    echo "Wine tests: the i686 build under 32-bit Wine ($UNINST_WINE_WHY)"
  else
    echo "Wine tests: x86_64 build of the same sources under wine64 ($UNINST_WINE_WHY)"
  fi
}

# The form of a PE file: i686, x86_64 or unknown (read from its COFF header's machine field).
uninst_pe_form() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
  [ -n "$pe" ] || { echo unknown; return; }
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  case "$machine" in
    014c) echo i686 ;;
    8664) echo x86_64 ;;
    *) echo unknown ;;
  esac
}

# Refuses, with one line, a program that this form's Wine cannot run.
uninst_wine_runs() {
  local form
  form=$(uninst_pe_form "$1")
  [ "$form" = "$UNINST_WINE_FORM" ] && return 0
  echo "$1 is a $form program, but the Wine here runs $UNINST_WINE_FORM ones ($UNINST_WINE_WHY)" >&2
  return 2
}

# Sourced by the end-to-end scripts: a throw-away Wine prefix copied from a template that is made
# once per Wine version and kept under the work folder, with a persistent server.
#   e2e_prefix WORK DEST   makes DEST, exports WINEPREFIX, starts the server, arms the cleanup
#   fr COMMAND...          runs a Wine command in the French locale
# Wine takes its locale from the name alone, even where the C library lacks that locale: French
# gives the boxes French buttons and code page 1252, the program's. It is set for Wine's commands
# only, so that the shell itself does not complain of a missing locale.
# Which Wine (32-bit, or 64-bit where the machine runs no 32-bit program): scripts/wine-env.sh.
. "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh" || exit 2
export WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all

fr() { env LC_ALL=fr_FR.UTF-8 "$@"; }

e2e_template() {
  local work=$1 template
  template="$work/prefix-$WINEARCH-$("${WINE[@]}" --version | tr -cs 'A-Za-z0-9.' '-')"
  (
    flock 9
    [ -f "$template/.ready" ] && exit 0
    rm -rf "$template" "$template.new"
    export WINEPREFIX="$template.new"
    # A virtual desktop: with no window manager on the Xvfb screen, Wine then draws the boxes'
    # captions itself, so that the screenshots show them.
    fr timeout 300 "${WINEBOOT[@]}" -i >"$work/wineboot.log" 2>&1 &&
      fr timeout 60 "${WINE[@]}" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1 &&
      fr timeout 60 "${WINE[@]}" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1 &&
      fr wineserver -w && touch "$template.new/.ready" && mv "$template.new" "$template"
  ) 9>"$work/.template.lock"
  [ -f "$template/.ready" ] || { echo "cannot make the Wine prefix" >&2; cat "$work/wineboot.log" >&2; return 2; }
  echo "$template"
}

e2e_cleanup() {
  fr wineserver -k >/dev/null 2>&1
  fr wineserver -w >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
}

e2e_prefix() {
  local template
  export HOME="${HOME:-$1}"
  template=$(e2e_template "$1") || return 2
  rm -rf "$2"
  cp -a "$template" "$2"
  export WINEPREFIX="$2"
  trap e2e_cleanup EXIT
  # HKEY_DYN_DATA lives in the server only: one server from the seeding to the export.
  fr wineserver -p
}

# The Windows form of a path on the host.
win() { "${WINEPATH_CMD[@]}" -w "$1" 2>/dev/null; }

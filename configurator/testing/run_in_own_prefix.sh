#!/bin/bash
# run_in_own_prefix.sh PREFIX COMMAND...
#
# Runs COMMAND in a Wine prefix of its own, made by copying the initialised
# prefix named by WINEPREFIX (scripts/test exports it), so that a test may
# create services and files under "C:\Program Files" without touching the
# prefix the other tests share. The copy and its wineserver are removed after.
set -euo pipefail
src=${WINEPREFIX:?"WINEPREFIX must name an initialised Wine prefix to copy"}
dst=$1
shift
[ -f "$src/system.reg" ] || { echo "no initialised prefix at $src" >&2; exit 1; }
. "$(dirname "$0")/../../testbed/wine/session.sh"
wine_copy_prefix "$src" "$dst"
export WINEPREFIX=$dst WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$dst"
}
trap cleanup EXIT
wine_start_session "$wine64"
"$@"

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
rm -rf "$dst"
# The base prefix is in use by other tests (their scratch folders come and go
# in the users' Temp folders), so those are left out and files that vanish
# while being read are not an error.
mkdir -p "$dst"
tar -C "$src" --exclude='./drive_c/users/*/Temp/*' --warning=no-file-changed \
    --warning=no-file-removed --ignore-failed-read -cf - . | tar -C "$dst" -xf - || true
[ -f "$dst/system.reg" ] || { echo "run_in_own_prefix: cannot copy $src" >&2; exit 1; }
export WINEPREFIX=$dst WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$dst"
}
trap cleanup EXIT
wineserver -p
# Wine's own service processes must not inherit this script's output pipe.
"$wine64" cmd /c exit </dev/null >/dev/null 2>&1 || true
"$@"

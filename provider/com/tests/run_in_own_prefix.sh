#!/bin/sh
# Runs one Windows test in a Wine prefix of its own, as a machine with the
# product installed would be:
#
#   run_in_own_prefix.sh WINE64 PREFIX COORDINATOR_DLL PROVIDER_DLL register|copy|none -- COMMAND...
#
# PREFIX is made afresh as a copy of the initialised prefix named by
# WINEPREFIX (scripts/test's), with a wineserver of its own. The stand-in VSS
# coordinator is registered in it with regsvr32; PROVIDER_DLL is copied to
# "C:\Program Files\Marl VSS\" and, with "register", registered there ("copy":
# the test registers it itself). COMMAND then runs with WINEPREFIX set to PREFIX
# (WINE64 is the Wine loader regsvr32 runs with). The prefix and its
# wineserver are removed afterwards; the exit status is COMMAND's.
set -u
wine64=$1 prefix=$2 coordinator=$3 provider=$4 mode=$5
shift 5
[ "${1:-}" = "--" ] && shift

base=${WINEPREFIX:-}
if [ -z "$base" ] || [ ! -f "$base/system.reg" ]; then
  echo "run_in_own_prefix: WINEPREFIX must name an initialised Wine prefix (wineboot -i)" >&2
  exit 1
fi
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}

. "$(dirname "$0")/../../../testbed/wine/session.sh"
wine_copy_prefix "$base" "$prefix" || exit 1
export WINEPREFIX=$prefix
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$prefix"
}
trap cleanup EXIT
wine_start_session "$wine64"

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
if ! "$wine64" regsvr32 /s "$(winpath "$coordinator")"; then
  echo "run_in_own_prefix: regsvr32 of the coordinator stand-in failed" >&2
  exit 1
fi
install="$prefix/drive_c/Program Files/Marl VSS"
# "none": nothing of the product is put in place (the installer test does it).
if [ "$mode" != "none" ]; then
  mkdir -p "$install"
  cp "$provider" "$install/MarlVssProvider.dll"
fi
if [ "$mode" = "register" ]; then
  if ! "$wine64" regsvr32 /s 'C:\Program Files\Marl VSS\MarlVssProvider.dll'; then
    echo "run_in_own_prefix: regsvr32 of MarlVssProvider.dll failed" >&2
    exit 1
  fi
fi

"$@"
status=$?
exit $status

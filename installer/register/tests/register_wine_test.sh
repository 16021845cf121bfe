#!/bin/sh
# MarlVssRegister.exe under Wine, against a stand-in COM server DLL whose
# exports record their calls (FakeServerDll.cpp) and against DLLs that cannot
# serve:
#
#   register_wine_test.sh WINE64 REGISTER_EXE FAKE_SERVER_DLL
#
# A Unix shell sees only the low byte of a Windows exit code, so the failure
# codes used here differ in their low bytes. Prints each failed check; exits
# 1 when any failed.
set -u
wine64=$1 fake=$3
# Absolute: one case runs in another folder.
exe=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
failures=0
# printf, not echo: Windows paths hold backslashes.
fail() { printf 'FAILED: %s\n' "$*"; failures=$((failures + 1)); }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$fake" "$work/fake server.dll"
dll=$(winpath "$work/fake server.dll")
export MARL_FAKE_SERVER_LOG="$(winpath "$work/calls.txt")"

# run NAME EXPECTED_STATUS ARGS...: runs the program with fresh call records
# and output files.
run() {
  name=$1 expected=$2
  shift 2
  rm -f "$work/calls.txt" "$work/out" "$work/err"
  "$wine64" "$exe" "$@" </dev/null >"$work/out" 2>"$work/err"
  status=$?
  [ "$status" -eq "$expected" ] || fail "$name: exit status $status, expected $expected"
  touch "$work/calls.txt"
}
calls() { tr -d '\r' <"$work/calls.txt" | tr '\n' ' ' | sed 's/ $//'; }
expect_calls() { [ "$(calls)" = "$2" ] || fail "$1: calls \"$(calls)\", expected \"$2\""; }
# expect_line NAME STREAM TEXT: STREAM is one line (CR LF) holding TEXT.
expect_line() {
  [ "$(wc -l <"$work/$2")" -eq 1 ] || fail "$1: $2 is not one line: $(cat "$work/$2")"
  tr -d '\r' <"$work/$2" | grep -qF -- "$3" || fail "$1: $2 \"$(cat "$work/$2")\" lacks \"$3\""
}
expect_empty() { [ ! -s "$work/$2" ] || fail "$1: $2 is not empty: $(cat "$work/$2")"; }

unset MARL_FAKE_SERVER_REGISTER MARL_FAKE_SERVER_UNREGISTER
run registered 0 /register "$dll"
expect_calls registered "register sta"
expect_line registered out "MarlVssRegister: registered \"$dll\""
expect_empty registered err

export MARL_FAKE_SERVER_REGISTER=80040155
run refused 85 /register "$dll"
expect_calls refused "register sta unregister sta"
expect_line refused err "DllRegisterServer of \"$dll\" failed with 0x80040155; what it had registered was removed again"
expect_empty refused out

export MARL_FAKE_SERVER_UNREGISTER=80070005
run "refused, undo failed" 85 /register "$dll"
expect_calls "refused, undo failed" "register sta unregister sta"
expect_line "refused, undo failed" err "failed with 0x80040155, and DllUnregisterServer failed with 0x80070005"

run "unregister failed" 5 /UNREGISTER "$dll"
expect_calls "unregister failed" "unregister sta"
expect_line "unregister failed" err "DllUnregisterServer of \"$dll\" failed with 0x80070005"

unset MARL_FAKE_SERVER_REGISTER MARL_FAKE_SERVER_UNREGISTER
run unregistered 0 -unregister "$dll"
expect_calls unregistered "unregister sta"
expect_line unregistered out "MarlVssRegister: unregistered \"$dll\""

# A bare name is the DLL in the current folder, named in full in messages,
# never one found on the search path.
here=$(pwd)
cd "$work" || exit 1
run "relative path" 0 /register "fake server.dll"
cd "$here" || exit 1
expect_calls "relative path" "register sta"
expect_line "relative path" out "registered \"$dll\""

missing=$(winpath "$work/missing.dll")
run missing 126 /register "$missing"
expect_line missing err "cannot load \"$missing\" (error 126"
expect_line missing err "0x8007007E)"

run "no exports" 127 /register 'C:\windows\system32\kernel32.dll'
expect_line "no exports" err "\"C:\\windows\\system32\\kernel32.dll\" does not export DllRegisterServer (0x8007007F)"

run usage 87 /u "$dll"
expect_calls usage ""
expect_line usage err "unknown switch /u. Usage: MarlVssRegister.exe /register|/unregister|/install|/uninstall <dll path>"

# No COM+ catalog in this prefix (Wine has none): /install registers nothing,
# /uninstall still unregisters the DLL; both report REGDB_E_CLASSNOTREG.
run "install without a catalog" 84 /install "$dll"
expect_calls "install without a catalog" ""
expect_line "install without a catalog" err "opening the COM+ catalog failed with 0x80040154"
expect_line "install without a catalog" err "nothing was installed"
run "uninstall without a catalog" 84 /uninstall "$dll"
expect_calls "uninstall without a catalog" "unregister sta"
expect_line "uninstall without a catalog" err "opening the COM+ catalog failed with 0x80040154"

[ $failures -eq 0 ] && echo "register_wine_test: all checks passed" && exit 0
echo "register_wine_test: $failures check(s) failed"
exit 1

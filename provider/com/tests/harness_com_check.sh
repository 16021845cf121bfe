#!/bin/sh
# The harness's --com mode: one shadow copy of vg_db, a resync and the
# deletion, through the registered DLL in this Wine prefix, against the
# simulator at ADDRESS on ports 443 and 80.
#   harness_com_check.sh WINE64 HARNESS_EXE ADDRESS
set -u
wine64=$1 harness=$2 address=$3
out=$("$wine64" "$harness" --com --write-config --array-ip "$address" --snap-prefix comtest \
      create,resync,delete 6001405ab000001 6001405ab000002 6001405ab000003 2>&1)
status=$?
printf '%s\n' "$out"
fail() { echo "harness_com_check: $1"; exit 1; }
[ $status -eq 0 ] || fail "the harness exited with $status"
for line in "CoCreateInstance(CLSID_QProvider, CLSCTX_INPROC_SERVER, IVssHardwareSnapshotProviderEx) -> 0x00000000 S_OK" \
            "LocateLuns(3 LUNs) -> 0x00000000 S_OK" \
            "IVssAsync::QueryStatus -> 0x00000000 S_OK  status=0x00000000 reserved=100" \
            "=== summary: 20 calls, 0 failed" \
            "Release -> references left 0"; do
  printf '%s\n' "$out" | grep -qF "$line" || fail "missing: $line"
done
# The same command line without --com's constraints is refused plainly.
"$wine64" "$harness" --com --install-folder 'C:\x' create 1 >/dev/null 2>&1 && fail "--com took --install-folder"
exit 0

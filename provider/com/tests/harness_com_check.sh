#!/bin/sh
# The harness's --com mode: one shadow copy of vg_db, a resync and the
# deletion, through the registered DLL in this Wine prefix, against the
# simulator at ADDRESS on ports 443 and 80, while another process holds the
# logger's named mutex "q9_logger" (any local user can): every call must
# still give what VSS expects, and the provider's log says once that it
# wrote without the mutex.
#   harness_com_check.sh WINE64 HARNESS_EXE ADDRESS MUTEX_HOLDER_EXE
set -u
wine64=$1 harness=$2 address=$3 holder=$4
fail() { echo "harness_com_check: $1"; exit 1; }
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }

scratch=$(mktemp -d)
trap 'touch "$scratch/release"; rm -rf "$scratch"' EXIT
"$wine64" "$holder" q9_logger "$(winpath "$scratch/ready")" "$(winpath "$scratch/release")" \
  </dev/null >/dev/null 2>&1 &
holder_pid=$!
tries=0
while [ ! -f "$scratch/ready" ]; do
  tries=$((tries + 1))
  [ $tries -le 600 ] || fail "the mutex holder did not take q9_logger"
  sleep 0.1
done

out=$("$wine64" "$harness" --com --write-config --array-ip "$address" --snap-prefix comtest \
      create,resync,delete 6001405ab000001 6001405ab000002 6001405ab000003 2>&1)
status=$?
touch "$scratch/release"
wait $holder_pid
printf '%s\n' "$out"
[ $status -eq 0 ] || fail "the harness exited with $status"
for line in "CoCreateInstance(CLSID_QProvider, CLSCTX_INPROC_SERVER, IVssHardwareSnapshotProviderEx) -> 0x00000000 S_OK" \
            "LocateLuns(3 LUNs) -> 0x00000000 S_OK" \
            "IVssAsync::QueryStatus -> 0x00000000 S_OK  status=0x00000000 reserved=100" \
            "=== summary: 20 calls, 0 failed" \
            "; array: exchanges and connections not counted" \
            "Release -> references left 0"; do
  printf '%s\n' "$out" | grep -qF "$line" || fail "missing: $line"
done
# Every call line ends with the call's time.
untimed=$(printf '%s\n' "$out" | tr -d '\r' | grep '^\[' | grep -cv '  \[[0-9]*\.[0-9] ms\]$')
[ "$untimed" = 0 ] || fail "$untimed call lines without their time"
log="$WINEPREFIX/drive_c/Program Files/Marl VSS/marl_vss_log.txt"
reports=$(grep -c 'Could not take the log mutex "q9_logger" within 5000 ms' "$log")
[ "$reports" = 1 ] || fail "the provider's log says $reports times that it went without the mutex"
# The same command line without --com's constraints is refused plainly.
"$wine64" "$harness" --com --install-folder 'C:\x' create 1 >/dev/null 2>&1 && fail "--com took --install-folder"
exit 0

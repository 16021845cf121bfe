#!/bin/bash
# terminal_test.sh native|wine PROGRAM PRINT_SETTINGS
#
# Runs the configuration program in a real terminal (a tmux pane), types into
# it as an administrator would, and checks the screen and the file written:
# changing an existing address, a password typed with backspaces, a missing
# flag. native: the program runs in a mount namespace of its own in which a
# scratch folder stands at /opt/marl-vss. wine: the program runs under wine64
# in the Wine prefix the caller prepared (run_in_own_prefix.sh), in
# "C:\Program Files\Marl VSS\".
set -euo pipefail
mode=$1
program=$2
print_settings=$3
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)

work=$(mktemp -d /tmp/marl_conf_term_XXXXXX)
sock="marl_conf_term_$$"
cleanup() {
  tmux -L "$sock" kill-server >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

case $mode in
  native)
    folder=$work/install
    mkdir -p "$folder"
    run="unshare -m sh -c 'mount -t tmpfs none /opt && mkdir /opt/marl-vss && mount --bind $folder /opt/marl-vss && exec $program'"
    settings() { "$print_settings" "$folder/"; }
    ;;
  wine)
    folder="$WINEPREFIX/drive_c/Program Files/Marl VSS"
    mkdir -p "$folder"
    run="$wine64 $program"
    settings() { "$wine64" "$print_settings" 'C:\Program Files\Marl VSS\' | tr -d '\r'; }
    ;;
  *) echo "mode: native or wine" >&2; exit 2 ;;
esac

# Every key but PASSWORD and SUPPORT_SSL, which the dialogue asks for.
printf '%s\r\n' 'EXTERNAL_IP = [10.0.0.5]' 'HOST_NAME = [host1]' 'USERNAME = [admin]' \
  'SNAP_PREFIX = [snap]' 'RETENTION_POLICY = [gold]' 'VMWARE_VM = [False]' \
  'REPLICATION_MODE = [False]' >"$folder/marl_vss_conf.txt"

fail() {
  echo "FAIL: $*" >&2
  echo "---- screen ----" >&2
  tmux -L "$sock" capture-pane -p -t t >&2 || true
  exit 1
}

screen() { tmux -L "$sock" capture-pane -p -t t; }

# Waits (at most 30 s) until the screen holds `text` (tmux drops trailing
# blanks, so the text is compared without them).
wait_for() {
  local text="${1%"${1##*[! ]}"}"
  for _ in $(seq 300); do
    if screen | grep -qF -- "$text"; then return 0; fi
    sleep 0.1
  done
  fail "timed out waiting for: $1"
}

tmux -L "$sock" -f /dev/null new-session -d -s t -x 160 -y 60 \
  "$run; echo \"EXIT CODE \$?\"; sleep 600"

wait_for "Would you like to change EXTERNAL_IP (10.0.0.5)? [y/n]"
tmux -L "$sock" send-keys -t t y
wait_for "EXTERNAL_IP: "
tmux -L "$sock" send-keys -t t 10.0.0.7 Enter
for key in HOST_NAME USERNAME SNAP_PREFIX RETENTION_POLICY VMWARE_VM REPLICATION_MODE; do
  wait_for "Would you like to change $key"
  tmux -L "$sock" send-keys -t t n
done
wait_for "PASSWORD is missing, please enter a value: "
tmux -L "$sock" send-keys -t t -l 'p&ss w=rd'
wait_for "PASSWORD is missing, please enter a value: *********"
tmux -L "$sock" send-keys -t t -l 'XYZ'
tmux -L "$sock" send-keys -t t BSpace BSpace BSpace Enter
wait_for "SUPPORT_SSL is missing, please enter a value (True/False): "
tmux -L "$sock" send-keys -t t false Enter
wait_for "EXIT CODE"

got=$(screen)
# The given lines must appear on the screen one right after the other
# (trailing blanks ignored).
expect_lines() {
  python3 -c '
import sys
want, screen = sys.argv[1:], sys.stdin.read()
lines = [l.rstrip() for l in screen.split("\n")]
sys.exit(0 if any(lines[i:i + len(want)] == want for i in range(len(lines))) else 1)' "$@" \
    <<<"$got" || fail "lines not found in order: $*"
}
expect_lines "Would you like to change EXTERNAL_IP (10.0.0.5)? [y/n]y" \
  "EXTERNAL_IP: 10.0.0.7" "New EXTERNAL_IP: 10.0.0.7" ""
expect_lines "PASSWORD is missing, please enter a value: *********" ""
expect_lines "SUPPORT_SSL is missing, please enter a value (True/False): false" \
  "New SUPPORT_SSL: False" ""
expect_lines "EXIT CODE 0"
grep -qF 'p&ss' <<<"$got" && fail "the password was shown"

conf=$(tr -d '\r' <"$folder/marl_vss_conf.txt")
for line in 'EXTERNAL_IP = [10.0.0.7]' 'SUPPORT_SSL = [False]' 'LOG_LEVEL_CONFIGURATOR = [INFO]'; do
  grep -qxF -- "$line" <<<"$conf" || fail "file lacks: $line"
done
grep -q '^PASSWORD = \[[0-9A-F]*\$[A-Za-z0-9]\{16\}\$[0-7]\]$' <<<"$conf" || fail "no stored password"
[ -f "$folder/marl_vss_conf.bck" ] || fail "no backup"
[ ! -e "$folder/marl_vss_conf_out.txt" ] || fail "output file left behind"
got_settings=$(settings)
grep -qxF 'password=p&ss w=rd' <<<"$got_settings" || fail "password decodes to: $got_settings"
grep -qxF 'externalIp=10.0.0.7' <<<"$got_settings" || fail "settings: $got_settings"
grep -qxF 'supportSsl=0' <<<"$got_settings" || fail "settings: $got_settings"
log=$(tr -d '\r' <"$folder/marl_vss_conf_log.txt")
if [ "$mode" = native ]; then
  grep -qF 'Failed opening control service manager: 50' <<<"$log" || fail "log: $log"
else
  grep -qF 'Failed opening service handler: 1060' <<<"$log" || fail "log: $log"
fi
grep -qF 'p&ss' <<<"$log" && fail "the password was logged"
echo "terminal dialogue ($mode) passed"

# The same program with standard input from a file: one answer per line.
case $mode in
  native) piped() { unshare -m sh -c "mount -t tmpfs none /opt && mkdir /opt/marl-vss && mount --bind $folder /opt/marl-vss && exec $program" <"$1" >"$work/screen.txt" 2>&1; } ;;
  wine) piped() { "$wine64" "$program" <"$1" >"$work/screen.txt" 2>&1; } ;;
esac
# Questions now: the seven keys of the first file, then PASSWORD and
# SUPPORT_SSL. The 10,000-character line answers USERNAME's question with an
# "h", so that question is asked again.
answers=(y 10.0.0.8 n "$(printf 'h%.0s' $(seq 10000))" n n n n n y 'new pass' n)
before=$(cat "$folder/marl_vss_conf.txt")
for ((k = 0; k < ${#answers[@]}; k++)); do
  printf '%s\n' "${answers[@]:0:k}" >"$work/input.txt"
  [ "$k" -eq 0 ] && : >"$work/input.txt"
  piped "$work/input.txt" || fail "exit code $? with $k answers"
  [ "$(cat "$folder/marl_vss_conf.txt")" = "$before" ] || fail "file changed with $k answers"
  [ ! -e "$folder/marl_vss_conf_out.txt" ] || fail "output left with $k answers"
  grep -qF "Input ended before all questions were answered" "$work/screen.txt" ||
    fail "no end-of-input message with $k answers: $(cat "$work/screen.txt")"
done
printf '%s\n' "${answers[@]}" >"$work/input.txt"
piped "$work/input.txt" || fail "exit code $? with all answers"
grep -qF "Please enter [y/n]" "$work/screen.txt" || fail "no repeated question"
got_settings=$(settings)
grep -qxF 'password=new pass' <<<"$got_settings" || fail "piped password: $got_settings"
grep -qxF 'externalIp=10.0.0.8' <<<"$got_settings" || fail "piped address: $got_settings"
grep -qF 'new pass' "$work/screen.txt" "$folder/marl_vss_conf_log.txt" && fail "password shown"
echo "terminal test ($mode) passed"

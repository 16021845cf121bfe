# Shell functions for the Windows suite's Wine sessions, sourced by
# scripts/test and by the scripts that run a test in a prefix of its own.
#
#   wine_copy_prefix SRC DST   DST becomes a copy of the initialised prefix SRC
#   wine_start_session WINE64  a persistent wineserver for $WINEPREFIX, and
#                              Wine's service processes started detached

# The source prefix is in use by other tests (their scratch folders come and
# go in the users' Temp folders), so those are left out and files that vanish
# while being read are not an error. Fails when the copy has no registry.
wine_copy_prefix() {
  local src=$1 dst=$2
  rm -rf "$dst"
  mkdir -p "$dst"
  tar -C "$src" --exclude='./drive_c/users/*/Temp/*' --warning=no-file-changed \
      --warning=no-file-removed --ignore-failed-read -cf - . | tar -C "$dst" -xf - || true
  if [ ! -f "$dst/system.reg" ]; then
    echo "cannot copy the Wine prefix $src to $dst" >&2
    return 1
  fi
}

# Every call a Wine program makes to the system goes through the one
# wineserver of its prefix; when the test programs keep both cores busy, a
# wineserver that waits for a core holds up all of them (a test of the logger
# took three times as long beside others). So the wineservers run at a
# higher priority where that is allowed (as root), elsewhere at the normal
# one. All of them: this prefix's may be one an earlier Wine command started.
#
# Wine's service processes (services.exe, winedevice.exe, ...) start with the
# first Wine process and live on; started here with their streams detached
# they do not inherit a test's output pipe, which ctest would wait on.
wine_start_session() {
  local wine64=$1
  wineserver -p
  local pid
  for pid in $(pgrep wineserver 2>/dev/null); do
    renice -n -10 -p "$pid" >/dev/null 2>&1 || true
  done
  "$wine64" cmd /c exit </dev/null >/dev/null 2>&1 || true
}

#!/bin/sh
# The harness's whole lifecycle (create, notifications, masking, resync,
# delete, abort) under valgrind memcheck against a running simulator; fails
# on any memory error or on memory definitely lost.
# usage: valgrind_lifecycle.sh VALGRIND HARNESS PORTS_FILE
set -eu
valgrind=$1 harness=$2 ports=$3
https_port=$(sed -n 's/.* https=\([0-9]*\).*/\1/p' "$ports")
folder=$(mktemp -d /tmp/marlvalgrindXXXXXX)
trap 'rm -rf "$folder"' EXIT
"$harness" --install-folder "$folder" --write-config --log-level TRACE >/dev/null
"$valgrind" --quiet --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=9 \
  "$harness" --install-folder "$folder" --https-port "$https_port" \
  create,notify,mask,resync,delete,abort 6001405ab000001 6001405ab000002 6001405ab000003

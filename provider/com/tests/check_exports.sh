#!/bin/sh
# The DLL exports exactly the four COM server entry points, nothing else:
#   check_exports.sh OBJDUMP DLL
set -u
objdump=$1 dll=$2
expected="DllCanUnloadNow
DllGetClassObject
DllRegisterServer
DllUnregisterServer"
table=$("$objdump" -p "$dll") || { echo "cannot read $dll"; exit 1; }
# The name pointer table lists one "[   n] Name" line per export.
actual=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
         sed -n 's/^[[:space:]]*\[ *[0-9]*\] \(.*\)$/\1/p' | sort)
if [ "$actual" != "$expected" ]; then
  echo "exports of $dll:"; printf '%s\n' "$actual"
  echo "expected:"; printf '%s\n' "$expected"
  exit 1
fi
echo "exports: $(printf '%s' "$actual" | tr '\n' ' ')"

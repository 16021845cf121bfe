#!/bin/sh
# The program loads in a bare installer process: it imports only DLLs that
# every Windows has (no runtime DLL of the compiler beside it):
#   check_imports.sh OBJDUMP EXE
set -u
objdump=$1 exe=$2
table=$("$objdump" -p "$exe") || { echo "cannot read $exe"; exit 1; }
imports=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p')
[ -n "$imports" ] || { echo "no import table in $exe"; exit 1; }
status=0
for dll in $imports; do
  case $(printf '%s' "$dll" | tr 'A-Z' 'a-z') in
    kernel32.dll | msvcrt.dll | ole32.dll | oleaut32.dll | advapi32.dll | api-ms-win-*.dll) ;;
    *) echo "$exe imports $dll, which is not a system DLL"; status=1 ;;
  esac
done
[ $status -eq 0 ] && echo "imports: $(printf '%s' "$imports" | tr '\n' ' ')"
exit $status

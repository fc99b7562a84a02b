#!/usr/bin/env bash
# Checks that a Windows program imports only DLLs that come with Windows: a DLL of the MinGW
# runtime (libstdc++, libgcc, libwinpthread) would have to be shipped beside it.
# usage: check-imports.sh OBJDUMP PROGRAM.exe
set -euo pipefail
imports=$("$1" -p "$2" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z' | sort)
[ -n "$imports" ] || { echo "FAIL: no imports found in $2"; exit 1; }
status=0
for dll in $imports; do
  case "$dll" in
    kernel32.dll|msvcrt.dll|advapi32.dll|setupapi.dll|winmm.dll|user32.dll|ntdll.dll|shell32.dll|gdi32.dll|comctl32.dll|comdlg32.dll|uxtheme.dll) ;;
    *) echo "FAIL: $2 imports $dll, which Windows does not have"; status=1 ;;
  esac
done
echo "imports:" $imports
exit $status

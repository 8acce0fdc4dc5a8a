#!/usr/bin/env bash
# Fails when a Windows program imports a DLL that is not part of Windows itself (a C++ runtime,
# libgcc or winpthread DLL that would have to be shipped beside it).
# check_imports.sh <x86_64-w64-mingw32-objdump> <program.exe|library.dll>
set -euo pipefail
objdump=$1
program=$2

imports=$("$objdump" -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p')
if [ -z "$imports" ]; then
  echo "check_imports: no imports read from $program" >&2
  exit 1
fi
status=0
while read -r dll; do
  case "${dll,,}" in
    kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | ole32.dll | \
      oleaut32.dll | comctl32.dll | setupapi.dll | winmm.dll | windowscodecs.dll | \
      ws2_32.dll | bcrypt.dll | ntdll.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-*.dll)
      echo "system: $dll" ;;
    *)
      echo "check_imports: $program imports $dll, which is not a Windows system DLL" >&2
      status=1 ;;
  esac
done <<< "$imports"
exit $status

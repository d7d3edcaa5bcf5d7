#!/usr/bin/env bash
# Fails unless every DLL that the given .exe imports is a Windows system DLL
# and, with --gui, unless it is a Windows GUI program (no console window).
set -uo pipefail
exe=$1
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
if [ "${2:-}" = "--gui" ] && ! grep -q 'Subsystem.*(Windows GUI)' <<< "$headers"; then
  echo "$exe is not a Windows GUI program" >&2
  exit 1
fi
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$headers")
if [ -z "$dlls" ]; then
  echo "no import table found in $exe" >&2
  exit 1
fi
status=0
while read -r dll; do
  case ${dll,,} in
    kernel32.dll|user32.dll|gdi32.dll|comdlg32.dll|comctl32.dll|advapi32.dll|shell32.dll|\
    msvcrt.dll|ntdll.dll|api-ms-win-*.dll) echo "system DLL: $dll" ;;
    *) echo "not a system DLL: $dll" >&2; status=1 ;;
  esac
done <<< "$dlls"
exit $status

#!/usr/bin/env bash
# Fails unless every DLL that the given .exe imports is a Windows system DLL.
set -uo pipefail
exe=$1
dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
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

#!/usr/bin/env bash
# Fails unless every DLL that the given .exe imports is a Windows system DLL,
# it carries an application manifest (RT_MANIFEST 1) and a version block
# (RT_VERSION), and, with --gui or --console, unless it is a Windows GUI or
# console program.
set -uo pipefail
exe=$1
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
if [ "${2:-}" = "--gui" ] && ! grep -q 'Subsystem.*(Windows GUI)' <<< "$headers"; then
  echo "$exe is not a Windows GUI program" >&2
  exit 1
fi
if [ "${2:-}" = "--console" ] && ! grep -q 'Subsystem.*(Windows CUI)' <<< "$headers"; then
  echo "$exe is not a Windows console program" >&2
  exit 1
fi
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<< "$headers")
if [ -z "$dlls" ]; then
  echo "no import table found in $exe" >&2
  exit 1
fi
status=0
# Resource type entries sit two columns in; the name entry under them one further.
resources=$(sed -n '/Resource Directory section/,/Resources start/p' <<< "$headers")
for type in '0x000018:application manifest' '0x000010:version block'; do
  if grep -qE "^[0-9a-f]+   Entry: ID: ${type%%:*}," <<< "$resources"; then
    echo "resource: ${type#*:}"
  else
    echo "no ${type#*:} resource in $exe" >&2; status=1
  fi
done
while read -r dll; do
  case ${dll,,} in
    kernel32.dll|user32.dll|gdi32.dll|comdlg32.dll|comctl32.dll|advapi32.dll|shell32.dll|\
    msvcrt.dll|ntdll.dll|api-ms-win-*.dll) echo "system DLL: $dll" ;;
    *) echo "not a system DLL: $dll" >&2; status=1 ;;
  esac
done <<< "$dlls"
exit $status

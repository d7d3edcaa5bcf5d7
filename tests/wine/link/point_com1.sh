#!/usr/bin/env bash
# Points COM1 of a Wine prefix at a device (such as a pseudo-terminal's slave).
# Usage: point_com1.sh PREFIX DEVICE [VAR=value ...]   (the Wine environment)
#
# Wine's mount manager rewrites dosdevices/com1 at every session start from
# the serial ports it finds (/dev/ttyS0 on most machines), so a plain link
# does not last. The prefix's Ports key therefore names a fixed link,
# PREFIX/zp3k-com1, once; each test then only moves that link.
set -euo pipefail
prefix=$1 device=$2
shift 2
fixed=$prefix/zp3k-com1

if ! grep -qF "\"COM1\"=\"$fixed\"" "$prefix/system.reg" 2>/dev/null; then
  env "$@" WINEPREFIX="$prefix" wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ \
    /d "$fixed" /f >/dev/null
  env "$@" WINEPREFIX="$prefix" wineserver -w
fi
ln -sfn "$device" "$fixed"
# For a session that is already running, whose mount manager has been.
ln -sfn "$fixed" "$prefix/dosdevices/com1"

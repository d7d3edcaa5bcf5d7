#!/usr/bin/env bash
# Runs one dialog-driver script under Wine in a fresh work folder and takes the
# screenshots it asks for, as PNG files under <build>/screenshots.
# Usage: run_wine_test.sh NAME SCRIPT [SETUP]
#   SETUP: shell commands run first in the work folder; exit 77 skips the test.
# Environment (set by CTest): ZP3K_WINE_ENV, ZP3K_BUILD_DIR, ZP3K_DRIVER, and
# any *_EXE variable, which is handed to the script as a Windows path.
# ZP3K_WORK: a work folder the caller has prepared (kept as it is).
# ZP3K_LOCALE: a locale other than the Japanese one the prefix runs with; the
# script sees the ANSI code page it must give as ZP3K_ACP.
set -uo pipefail
name=$1 script=$2 setup=${3:-}
driver_timeout=150  # seconds; a hung dialog must not hold the whole test run

if [ -z "${DISPLAY:-}" ]; then
  echo "no X display: run the Wine tests under xvfb-run" >&2
  exit 1
fi
if [ ! -e "$ZP3K_BUILD_DIR/wineprefix/.zp3k-ready" ]; then
  echo "the Wine prefix is missing: build the 'wineprefix' target first" >&2
  exit 1
fi

to_windows() { printf 'Z:%s' "${1//\//\\}"; }

shots=$ZP3K_BUILD_DIR/screenshots
if [ -n "${ZP3K_WORK:-}" ]; then
  work=$ZP3K_WORK
else
  work=$ZP3K_BUILD_DIR/wine-work/$name
  rm -rf "$work"
fi
mkdir -p "$work" "$shots"
cd "$work" || exit 1

locale_env=()
export ZP3K_ACP=932
if [ -n "${ZP3K_LOCALE:-}" ]; then
  if ! locale -a | grep -qix "${ZP3K_LOCALE/UTF-8/utf8}"; then
    echo "locale $ZP3K_LOCALE is not generated on this machine (localedef)" >&2
    exit 1
  fi
  locale_env=("LANG=$ZP3K_LOCALE" "LC_ALL=$ZP3K_LOCALE")
  case $ZP3K_LOCALE in
    en_US*) ZP3K_ACP=1252 ;;
    zh_CN*) ZP3K_ACP=936 ;;
  esac
fi

for var in $(compgen -e); do
  case $var in *_EXE) export "$var=$(to_windows "${!var}")" ;; esac
done
export WORK; WORK=$(to_windows "$work")

if [ -n "$setup" ]; then
  ( eval "$setup" )
  rc=$?
  if [ $rc -eq 77 ]; then exit 77; fi
  if [ $rc -ne 0 ]; then echo "setup failed ($rc)" >&2; exit 1; fi
fi

# The driver asks for screenshots through shot.request ("NAME WxH+X+Y"); the
# picture is cut from the X screen here and acknowledged with shot.done.
take_screenshots() {
  while :; do
    if [ -e shot.request ]; then
      read -r file geometry < shot.request
      rm -f shot.request
      # Pictures taken under another locale are kept apart: name-en_US.png
      if [ -n "${ZP3K_LOCALE:-}" ]; then file=${file%.png}-${ZP3K_LOCALE%%.*}.png; fi
      import -window root -crop "$geometry" +repage "$shots/$file" \
        || echo "screenshot $file failed" >&2
      echo "screenshot: $shots/$file"
      : > shot.done
    fi
    sleep 0.1
  done
}
take_screenshots &
taker=$!
export ZP3K_SCREENSHOTS=1

cp "$script" script.txt
# shellcheck disable=SC2086  # ZP3K_WINE_ENV is a list of VAR=value words
timeout -k 10 "$driver_timeout" env $ZP3K_WINE_ENV "${locale_env[@]}" wine "$ZP3K_DRIVER" script.txt
rc=$?
kill "$taker" 2>/dev/null
wait "$taker" 2>/dev/null
if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  echo "driver timed out; ending what is left in the prefix" >&2
  # shellcheck disable=SC2086
  env $ZP3K_WINE_ENV wineserver -k
fi
exit $rc

#!/usr/bin/env bash
# Runs one dialog-driver script under Wine in a fresh work folder and takes the
# screenshots it asks for, as PNG files under <build>/screenshots. Sourced (by
# run_imgload_case.sh), it gives the set-up every Wine test shares: the
# checks, the work folder, the locale, to_windows, wine_run and run_driver.
# Usage: run_wine_test.sh NAME SCRIPT [SETUP]
#   SETUP: shell commands run first in the work folder; exit 77 skips the test.
# Environment (set by CTest): ZP3K_WINE_ENV, ZP3K_BUILD_DIR, ZP3K_DRIVER, and
# any *_EXE variable, which is handed to the script as a Windows path.
# ZP3K_LOCALE: a locale other than the Japanese one the prefix runs with; the
# script sees the ANSI code page it must give as ZP3K_ACP.
driver_timeout=150  # seconds; a hung dialog must not hold the whole test run

to_windows() { printf 'Z:%s' "${1//\//\\}"; }
# shellcheck disable=SC2086  # ZP3K_WINE_ENV is a list of VAR=value words
wine_run() { env $ZP3K_WINE_ENV "$@"; }

# wine_setup WORK: the display and the prefix checked, WORK made afresh and
# entered, the locale's words for env in locale_env and its code page in ZP3K_ACP.
wine_setup() {
  if [ -z "${DISPLAY:-}" ]; then
    echo "no X display: run the Wine tests under xvfb-run" >&2
    exit 1
  fi
  if [ ! -e "$ZP3K_BUILD_DIR/wineprefix/.zp3k-ready" ]; then
    echo "the Wine prefix is missing: build the 'wineprefix' target first" >&2
    exit 1
  fi
  work=$1
  rm -rf "$work"
  mkdir -p "$work"
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
}

# The driver asks for screenshots through shot.request ("NAME WxH+X+Y"); the
# picture is cut from the X screen here and acknowledged with shot.done.
take_screenshots() {
  local shots=$1 file geometry
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

# run_driver SCRIPT [SETUP]: the driver on SCRIPT in the work folder (the
# current one), after SETUP; its exit status, 77 when SETUP skips.
run_driver() (
  local script=$1 setup=${2:-} shots=$ZP3K_BUILD_DIR/screenshots var rc taker
  mkdir -p "$shots"
  for var in $(compgen -e); do
    case $var in *_EXE) export "$var=$(to_windows "${!var}")" ;; esac
  done
  export WORK; WORK=$(to_windows "$PWD")
  if [ -n "$setup" ]; then
    ( eval "$setup" )
    rc=$?
    if [ $rc -eq 77 ]; then return 77; fi
    if [ $rc -ne 0 ]; then echo "setup failed ($rc)" >&2; return 1; fi
  fi
  take_screenshots "$shots" &
  taker=$!
  export ZP3K_SCREENSHOTS=1
  cp "$script" script.txt
  # shellcheck disable=SC2086
  timeout -k 10 "$driver_timeout" env $ZP3K_WINE_ENV "${locale_env[@]}" wine "$ZP3K_DRIVER" script.txt
  rc=$?
  kill "$taker" 2>/dev/null
  wait "$taker" 2>/dev/null
  if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
    echo "driver timed out; ending what is left in the prefix" >&2
    wine_run wineserver -k
  fi
  return $rc
)

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  wine_setup "$ZP3K_BUILD_DIR/wine-work/$1"
  run_driver "$2" "${3:-}"
fi

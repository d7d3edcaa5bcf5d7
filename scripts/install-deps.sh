#!/usr/bin/env bash
# Installs what the builds and tests need on Debian 12 (run as root).
# --native: only what the native programs need to build and run (the main
# job, scripts/demo.sh); without it, everything the test command and the
# release package need. Packages already present are skipped, so a second
# run is quick.
set -euo pipefail

native=(build-essential cmake ninja-build pkg-config python3 binutils libtomlplusplus-dev)
everything=(
  "${native[@]}"
  libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64
  wine wine64 xvfb xauth x11-utils imagemagick
  locales fonts-ipafont-gothic
  srecord
  lintian man-db groff-base dpkg-dev file
)

case "${1:-}" in
  --native) packages=("${native[@]}") ;;
  "") packages=("${everything[@]}") ;;
  *) echo "usage: $0 [--native]" >&2; exit 64 ;;
esac

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
fi
if [ "${1:-}" = --native ]; then exit 0; fi

# The Windows programs are tested with the Japanese ANSI code page (932),
# and a smoke set with the Western (1252) and Simplified Chinese (936) ones.
generate=false
for name in ja_JP en_US zh_CN; do
  if ! locale -a 2>/dev/null | grep -qi "^$name.utf-\?8$"; then
    sed -i "s/^# *\($name.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$name.UTF-8 UTF-8" /etc/locale.gen || echo "$name.UTF-8 UTF-8" >> /etc/locale.gen
    generate=true
  fi
done
if $generate; then locale-gen >/dev/null; fi

#!/usr/bin/env bash
# The main job: installs what is missing, builds the native preset, converts
# examples/demo.hex with the Linux imgconv into a temporary folder and shows
# the header of the image it made.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

imgconv=$root/build/native/imgconv/posix/imgconv
if [ ! -f build/native/CMakeCache.txt ]; then
  cmake --preset native
fi
cmake --build --preset native --target imgconv

out=$(mktemp -d /tmp/zp3k-demo.XXXXXX)
cd "$out"
echo
echo "== imgconv -S $root/examples/demo.hex -D demo -V 1.00 -C 'ZP3K デモ'   (in $out)"
"$imgconv" -S "$root/examples/demo.hex" -D demo -V 1.00 -C 'ZP3K デモ'
echo
echo "== imgconv --info $out/demo.bin"
"$imgconv" --info demo.bin
echo
if cmp -s demo.bin "$root/examples/demo.bin"; then
  echo "the image equals examples/demo.bin"
else
  echo "the image differs from examples/demo.bin" >&2
  exit 1
fi

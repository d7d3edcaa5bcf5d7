#!/usr/bin/env bash
# The main job: installs what it needs (scripts/install-deps.sh --native:
# compilers and CMake, no Wine or MinGW), builds the native preset, converts
# examples/demo.hex with the Linux imgconv into a temporary folder and shows
# the header of the image it made, then downloads that image with the Linux
# imgload to zp3ksim, the simulated controller, and checks that the
# simulator received exactly the image file.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh --native

imgconv=$root/build/native/imgconv/cli/imgconv
imgload=$root/build/native/imgload/cli/imgload
zp3ksim=$root/build/native/tools/zp3ksim/zp3ksim
if [ ! -f build/native/CMakeCache.txt ]; then
  cmake --preset native
fi
cmake --build --preset native --target imgconv imgload_cli zp3ksim

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

echo
echo "== zp3ksim --save-dir $out/received --runs 1   (the simulated controller)"
mkdir -p received
"$zp3ksim" --save-dir received --runs 1 --max-time 120 --quiet > zp3ksim.out &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s zp3ksim.out ] && break; sleep 0.1; done
device=$(head -n 1 zp3ksim.out)
echo
echo "== imgload --port $device demo.bin@0100000"
status=0
"$imgload" --port "$device" demo.bin@0100000 || status=$?
wait $sim || true
trap - EXIT
echo
echo "== what the simulator saw"
tail -n +2 zp3ksim.out
echo
if [ $status -ne 0 ]; then
  echo "imgload ended with exit status $status" >&2
  exit 1
fi
if cmp -s demo.bin received/image-1.bin; then
  echo "the simulator received exactly demo.bin ($(stat -c %s demo.bin) bytes)"
else
  echo "the simulator received something else than demo.bin" >&2
  exit 1
fi

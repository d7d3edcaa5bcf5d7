#!/usr/bin/env bash
# Benchmark: converts a 2 MiB image's S-record file of random data at 0x100000
# with imgconv and with srec_cat (crop, offset, fill 0xFF) in the same run,
# checks that the image bodies after the 64-byte header agree, and prints the
# time ratio imgconv/cat (goal at most 2: `cat` of the same file is the floor
# of reading it) and, as its last line, imgconv/srec_cat (goal at most 0.10).
# Usage: bench/convert.sh [IMGCONV] (default: build/native)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
imgconv=${1:-$root/build/native/imgconv/cli/imgconv}
[ -x "$imgconv" ] || { echo "imgconv not found at $imgconv (build the native preset first)" >&2; exit 1; }
command -v srec_cat >/dev/null || { echo "srec_cat (package srecord) is needed" >&2; exit 1; }

base=0x100000
size=$((2 * 1024 * 1024))      # bytes: the largest image
runs=5                          # best of this many runs per tool
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

head -c "$size" /dev/urandom > data.raw
objcopy -I binary -O srec --srec-forceS3 --change-addresses="$base" data.raw in.hex

# best_time OUTPUT COMMAND...: the shortest wall-clock time of $runs runs, in
# seconds. Each run starts without its OUTPUT: freeing an earlier run's blocks
# (a discard on some file systems) is the file system's work, not the tool's.
best_time() {
  local best="" t0 t1 t output=$1
  shift
  for _ in $(seq "$runs"); do
    rm -f "$output"
    t0=$(date +%s%N)
    "$@" >/dev/null
    t1=$(date +%s%N)
    t=$((t1 - t0))
    if [ -z "$best" ] || [ "$t" -lt "$best" ]; then best=$t; fi
  done
  awk -v ns="$best" 'BEGIN { printf "%.4f", ns / 1e9 }'
}

t_cat=$(best_time /dev/null/none cat in.hex)
t_imgconv=$(best_time out.bin "$imgconv" -Sin.hex -Dout -V1.00 -Cbench)
t_srec=$(best_time ref.bin srec_cat in.hex -crop "$base" $((base + size)) -offset -"$base" \
         -fill 0xFF 0 "$size" -o ref.bin -binary)

cmp <(tail -c +65 out.bin) <(tail -c +65 ref.bin) || { echo "image bodies differ" >&2; exit 1; }
"$imgconv" --info out.bin >/dev/null || { echo "imgconv --info refuses the image" >&2; exit 1; }

echo "input: $(stat -c %s in.hex) bytes of S-records for a $size-byte image (best of $runs runs)"
echo "cat (floor):  $t_cat s"
echo "imgconv:      $t_imgconv s"
echo "srec_cat:     $t_srec s"
awk -v a="$t_imgconv" -v b="$t_cat" 'BEGIN { printf "ratio imgconv/cat = %.3f (goal <= 2)\n", a / b }'
awk -v a="$t_imgconv" -v b="$t_srec" 'BEGIN { printf "ratio imgconv/srec_cat = %.3f\n", a / b }'

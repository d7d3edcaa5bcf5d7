#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a few seconds each.
# Usage: run-fuzzers.sh BUILD_DIR SECONDS_PER_TARGET
set -euo pipefail
build=${1:-build/fuzz}
secs=${2:-20}
found=0
while IFS= read -r target; do
  found=1
  name=$(basename "$target")
  corpus="$build/corpus/$name"
  mkdir -p "$corpus"
  seeds="$(dirname "$0")/../fuzz/seeds/$name"
  [ -d "$seeds" ] || seeds=""
  echo "-- $name (${secs}s)"
  "$target" -max_total_time="$secs" -print_final_stats=0 "$corpus" $seeds 2>&1 | tail -n 3
done < <(find "$build" -maxdepth 3 -type f -name 'fuzz_*' -perm -u+x | sort)
[ $found -eq 1 ] || echo "no fuzz targets built"

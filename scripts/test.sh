#!/usr/bin/env bash
# Installs what is missing, builds both builds (native and MinGW) plus the
# sanitizer and fuzzer builds, and runs every test: unit, pseudo-terminal,
# sanitizer, fuzz (briefly) and the Windows programs under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

jobs=$(nproc)
step() { printf '\n==== %s ====\n' "$*"; }

step "native build"
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs"

step "sanitizer build (ASan + UBSan)"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"

step "fuzz build (clang libFuzzer)"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"

step "MinGW cross build"
cmake --preset mingw -DZP3K_NATIVE_BUILD_DIR="$PWD/build/native" >/dev/null
cmake --build --preset mingw -j "$jobs"

status=0
step "native tests (unit, pseudo-terminal)"
ctest --preset native -j "$jobs" || status=1

step "sanitizer tests"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --preset asan -j "$jobs" || status=1

step "fuzz targets (short runs)"
bash scripts/run-fuzzers.sh build/fuzz 20 || status=1

step "Windows programs under Wine"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --preset mingw || status=1

step "release package"
bash tests/package/check_package.sh || status=1

step "summary"
if [ $status -eq 0 ]; then echo "all test groups passed"; else echo "some test group FAILED"; fi
exit $status

# Sourced by the download benchmarks: imgload and zp3ksim of the build
# folder $1 (default build/native), built first if either is missing; sets
# build, and work to a temporary folder removed at exit. Run from the
# project's root.
build=${1:-build/native}
if [ ! -x "$build/imgload/cli/imgload" ] || [ ! -x "$build/tools/zp3ksim/zp3ksim" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target imgload_cli zp3ksim -j2 >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

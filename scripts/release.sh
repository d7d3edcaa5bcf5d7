#!/usr/bin/env bash
# Makes the release in dist/: the Debian package of the Linux programs (CPack) and the zip of the Windows programs.
# Run from a clone whose dependencies are installed (scripts/install-deps.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=${ZP3K_JOBS:-$(nproc)}

echo "== Linux programs (preset release)"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target imgconv imgload_cli zp3ksim man_pages
# The one version, written in project() and read back from the build.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)
[ -n "$version" ] || { echo "release: no project version in build/release" >&2; exit 1; }

echo "== Windows programs (preset mingw)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j "$jobs" --target imgconv_win32 imgload_win32 imgconv imgload_cli

rm -rf dist
mkdir -p dist

echo "== Debian package"
(cd build/release && cpack -G DEB -B "$root/build/release/cpack")
cp build/release/cpack/zp3k-tools_"$version"-1_*.deb dist/

echo "== Windows zip"
name=zp3k-tools-$version
stage=build/mingw/zip-stage
rm -rf "$stage"
mkdir -p "$stage/$name"
cp build/mingw/imgconv/win32/imgconv.exe build/mingw/imgload/ui/imgload.exe \
   build/mingw/imgconv/cli/imgconv-cli.exe build/mingw/imgload/cli/imgload-cli.exe "$stage/$name/"
x86_64-w64-mingw32-strip "$stage/$name"/*.exe
# Windows users open the README with Notepad: CRLF line ends.
sed 's/\r*$/\r/' docs/windows/README.txt > "$stage/$name/README.txt"
(cd "$stage" && cmake -E tar cf "$root/dist/$name-windows.zip" --format=zip "$name")

echo "== dist/"
ls -l dist

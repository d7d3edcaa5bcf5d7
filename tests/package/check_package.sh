#!/usr/bin/env bash
# Makes the release (scripts/release.sh) and checks dist/: lintian, the packaged programs run from a throwaway root, the zip.
# Every failed check is named on standard error; the exit status is 1 if any failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
cd "$root"
failures=0
fail() { echo "check_package: FAILED: $*" >&2; failures=$((failures + 1)); }
pass() { echo "check_package: ok: $*"; }

bash scripts/release.sh || { echo "check_package: FAILED: scripts/release.sh" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/release/CMakeCache.txt)

debs=(dist/*.deb) zips=(dist/*.zip)
if [ "$(ls dist | wc -l)" -ne 2 ] || [ ${#debs[@]} -ne 1 ] || [ ${#zips[@]} -ne 1 ] ||
   [ ! -f "${debs[0]}" ] || [ ! -f "${zips[0]}" ]; then
  fail "dist/ must hold exactly one .deb and one .zip: $(ls dist | tr '\n' ' ')"
  exit 1
fi
deb=${debs[0]} zip=${zips[0]}
[ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] || fail "package version is not $version-1"
[ "$(basename "$zip")" = "zp3k-tools-$version-windows.zip" ] || fail "zip name $(basename "$zip")"

lintian --fail-on error "$deb" && pass "lintian" || fail "lintian --fail-on error"

work=$(mktemp -d /tmp/zp3k-package.XXXXXX)
sim=
trap '[ -n "$sim" ] && kill "$sim" 2>/dev/null; rm -rf "$work"' EXIT
dpkg -x "$deb" "$work/root" || fail "dpkg -x"
bin=$work/root/usr/bin
for p in imgconv imgload zp3ksim; do
  [ "$("$bin/$p" --version)" = "$p $version" ] && pass "$p --version" || fail "$p --version"
  "$bin/$p" --help >/dev/null && pass "$p --help" || fail "$p --help"
done

# The conversion and the download of scripts/demo.sh, by the installed programs.
cd "$work"
"$bin/imgconv" -S "$root/examples/demo.hex" -D demo -V 1.00 -C 'ZP3K デモ' >/dev/null &&
  cmp -s demo.bin "$root/examples/demo.bin" && pass "imgconv demo.hex = examples/demo.bin" ||
  fail "installed imgconv: demo.bin differs from examples/demo.bin"
mkdir received
"$bin/zp3ksim" --save-dir received --runs 1 --max-time 120 --quiet > sim.out &
sim=$!
for _ in $(seq 50); do [ -s sim.out ] && break; sleep 0.1; done
"$bin/imgload" --port "$(head -n 1 sim.out)" demo.bin@0100000 >/dev/null 2>&1 || fail "installed imgload exit status $?"
wait "$sim" || fail "installed zp3ksim exit status $?"
sim=
grep -qx 'violations: 0' sim.out && cmp -s demo.bin received/image-1.bin &&
  pass "imgload to zp3ksim: received whole, 0 violations" ||
  fail "download to zp3ksim: $(grep -E '^(violation|  files)' sim.out | tr '\n' ' ')"
cd "$root"

# The manual pages, when the package has them, render without a warning.
for page in "$work"/root/usr/share/man/man1/*.1.gz; do
  [ -e "$page" ] || { echo "check_package: no manual page in the package"; break; }
  out=$(MANWIDTH=80 man -l --warnings "$page" 2>&1 >/dev/null)
  [ -z "$out" ] && pass "man -l $(basename "$page")" || fail "man -l $(basename "$page"): $out"
done

# The zip: one folder with the five files; the console programs under Wine.
want="README.txt imgconv-cli.exe imgconv.exe imgload-cli.exe imgload.exe"
listing=$(cmake -E tar tf "$zip")
got=$(sed -n "s|^zp3k-tools-$version/\(..*\)|\1|p" <<< "$listing" | LC_ALL=C sort | tr '\n' ' ')
[ "$got" = "$want " ] && ! grep -qv "^zp3k-tools-$version/" <<< "$listing" &&
  pass "zip holds $want" || fail "zip holds: $(tr '\n' ' ' <<< "$listing")"
mkdir "$work/zip" && (cd "$work/zip" && cmake -E tar xf "$root/$zip")
readme=$work/zip/zp3k-tools-$version/README.txt
! grep -qv $'\r$' "$readme" && cmp -s <(tr -d '\r' < "$readme") <(tr -d '\r' < docs/windows/README.txt) &&
  pass "README.txt is docs/windows/README.txt with CRLF" || fail "README.txt in the zip"
prefix=$root/build/mingw/wineprefix
if [ -f "$prefix/.zp3k-ready" ]; then
  for p in imgconv-cli imgload-cli; do
    out=$(WINEPREFIX=$prefix WINEDEBUG=-all wine "$work/zip/zp3k-tools-$version/$p.exe" --version 2>/dev/null | tr -d '\r')
    [ "$out" = "${p%-cli} $version" ] && pass "$p.exe --version under Wine" || fail "$p.exe --version under Wine: '$out'"
  done
else
  echo "check_package: skipped: the .exe files under Wine (no $prefix; run the mingw build first)"
fi

[ $failures -eq 0 ] && echo "check_package: all checks passed" || echo "check_package: $failures check(s) FAILED" >&2
[ $failures -eq 0 ]

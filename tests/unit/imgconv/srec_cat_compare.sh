#!/usr/bin/env bash
# Converts real objcopy S-record output with imgconv and with srec_cat and
# checks that the image bodies after the 64-byte header agree byte for byte:
# srec_cat_compare.sh IMGCONV BASE RECORD_LENGTH EOL(lf|crlf) [one|gap] [upper|lower]
# (lower: imgconv reads the records with lower-case hex digits)
set -euo pipefail
imgconv=$1 base=$2 reclen=$3 eol=$4 layout=${5:-one} digits=${6:-upper}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# Reproducible pseudo-random data (no /dev/urandom, so a failure can be rerun).
python3 - "$base" "$reclen" <<'PY'
import random, sys
rng = random.Random(int(sys.argv[1], 0) * 1000 + int(sys.argv[2]))
open("part1.raw", "wb").write(bytes(rng.randrange(256) for _ in range(20000 + rng.randrange(4096))))
open("part2.raw", "wb").write(bytes(rng.randrange(256) for _ in range(3001)))
PY
objcopy -I binary -O srec --srec-forceS3 --srec-len="$reclen" --change-addresses="$base" part1.raw a.hex
if [ "$layout" = gap ]; then
  # A second region 40 KiB above the first, leaving whole 0xFF blocks between.
  objcopy -I binary -O srec --srec-forceS3 --srec-len="$reclen" \
    --change-addresses=$((base + 61440 + 77)) part2.raw b.hex
  { grep -v '^S[789]' a.hex; grep '^S3' b.hex; grep '^S7' a.hex; } > ab.hex
  mv ab.hex a.hex
fi
# objcopy ends its lines with CR LF; make both kinds from LF lines.
tr -d '\r' < a.hex > lf.hex
if [ "$eol" = crlf ]; then sed 's/$/\r/' lf.hex > a.hex; else cp lf.hex a.hex; fi
if [ "$digits" = lower ]; then tr 'A-F' 'a-f' < a.hex > lower.hex && mv lower.hex a.hex; fi

"$imgconv" -Sa.hex -Dout -V1.00 -Ccompare >/dev/null
size=$(stat -c %s out.bin)
[ $((size % 2048)) -eq 0 ] || { echo "FAIL: size $size is not whole blocks"; exit 1; }
srec_cat lf.hex -crop "$base" $((base + size)) -offset -"$base" -fill 0xFF 0 "$size" \
  -o ref.bin -binary
[ "$(stat -c %s ref.bin)" = "$size" ] || { echo "FAIL: srec_cat made $(stat -c %s ref.bin) bytes, imgconv $size"; exit 1; }
# The highest data byte lies in the last block.
last=$(tail -c 2048 ref.bin | tr -d '\377' | wc -c)
[ "$last" -gt 0 ] || { echo "FAIL: imgconv's last block holds no data"; exit 1; }
cmp <(tail -c +65 out.bin) <(tail -c +65 ref.bin) || { echo "FAIL: bodies differ"; exit 1; }
"$imgconv" --info out.bin >/dev/null || { echo "FAIL: --info does not accept the image"; exit 1; }
echo "ok base=$base len=$reclen eol=$eol layout=$layout digits=$digits size=$size"

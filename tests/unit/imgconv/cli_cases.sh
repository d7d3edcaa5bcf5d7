#!/usr/bin/env bash
# End-to-end cases of the Linux imgconv, one per CTest test: cli_cases.sh IMGCONV CASE
# [LINUX_IMGCONV]. An IMGCONV ending in .exe is imgconv-cli.exe, run under Wine
# with ZP3K_WINE_ENV (and ZP3K_LOCALE, when set) and compared with LINUX_IMGCONV.
set -euo pipefail
imgconv=$1
case_name=$2
linux_imgconv=${3:-}
if [[ $imgconv == *.exe ]]; then
  windows_imgconv=$imgconv
  # shellcheck disable=SC2086  # ZP3K_WINE_ENV is a list of VAR=value words
  run_windows_imgconv() {
    env $ZP3K_WINE_ENV ${ZP3K_LOCALE:+LANG=$ZP3K_LOCALE LC_ALL=$ZP3K_LOCALE} wine "$windows_imgconv" "$@"
  }
  imgconv=run_windows_imgconv
fi
docs=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../../docs" && pwd)   # man pages, completions
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

fail() { echo "FAIL ($case_name): $*" >&2; exit 1; }
# expect_exit CODE command...: runs the command and checks its exit status.
expect_exit() {
  local want=$1; shift
  local got=0
  "$@" >out.txt 2>err.txt || got=$?
  [ "$got" -eq "$want" ] || { cat out.txt err.txt >&2; fail "exit $got, expected $want: $*"; }
}
hex_at() { od -An -tx1 -v -j "$2" -N "$3" "$1" | tr -d ' \n'; }   # FILE OFFSET LENGTH -> hex digits

printf 'S00600004844521B\nS30900100100112233443B\nS70500000000FA\n' > a.hex

case $case_name in
worked_example)
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 -Cabc
  [ "$(stat -c %s out.bin)" = 2048 ] || fail "size"
  # magic, length, checksum, untouched, base, size, version, untouched, comment, rest
  want="78563412""f4070000""7148bfbb""ffffffff""00001000""00080000""0100""ffffffffffff""61626300"
  want="$want$(printf 'ff%.0s' $(seq 28))"
  [ "$(hex_at out.bin 0 64)" = "$want" ] || fail "header bytes"
  [ "$(hex_at out.bin 256 4)" = 11223344 ] || fail "data bytes"
  expect_exit 0 "$imgconv" --info out.bin
  grep -q '0xBBBF4871 OK' out.txt || fail "--info checksum"
  grep -q 'comment: *abc' out.txt || fail "--info comment"
  ;;
separate_values_and_spaces)
  expect_exit 0 "$imgconv" -S a.hex -D out -V 1.23_A -C 'two words'
  [ "$(hex_at out.bin 24 2)" = a123 ] || fail "version"
  [ "$(hex_at out.bin 32 10)" = "74776f20776f72647300" ] || fail "comment with a space"
  # ':' is no drive letter here: the output goes into the current folder.
  mkdir -p 'dir:with:colons' && cp a.hex 'dir:with:colons/x.hex'
  expect_exit 0 "$imgconv" -S 'dir:with:colons/x.hex' -D img -V 1.00
  [ -f img.bin ] && [ ! -e dir:img.bin ] && [ ! -e 'dir:with:img.bin' ] || fail "output beside the source"
  ;;
comment_line_break)
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 -C $'ab\ncd'
  [ "$(hex_at out.bin 32 7)" = "61620d0a636400" ] || fail "bare LF must become CR LF"
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 -C $'ab\r\ncd'
  [ "$(hex_at out.bin 32 7)" = "61620d0a636400" ] || fail "CR LF kept"
  ;;
comment_cp932)
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 -Cいろは
  [ "$(hex_at out.bin 32 7)" = "82a282eb82cd00" ] || fail "cp932 bytes"
  expect_exit 0 "$imgconv" --info out.bin
  grep -q 'comment: *いろは' out.txt || fail "--info decodes cp932"
  # 15 double-byte characters are 30 bytes; 16 are too many.
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 -Cあいうえおかきくけこさしすせそ
  cp out.bin previous.bin
  expect_exit 7 "$imgconv" -Sa.hex -Dout -V1.00 -Cあいうえおかきくけこさしすせそた
  cmp -s out.bin previous.bin || fail "a comment too long changed the existing output"
  # 14 characters and a line break: 30 bytes.
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 -C $'あいうえおかきくけこさしすせ\n'
  ;;
comment_not_cp932)
  expect_exit 64 "$imgconv" -Sa.hex -Dout -V1.00 -C 'smile 😀'
  grep -q 'cp932' err.txt || fail "message"
  grep -q '😀' err.txt || fail "the refused character is named"
  [ ! -e out.bin ] || fail "no output for a refused comment"
  expect_exit 64 "$imgconv" -Sa.hex -Dout -V1.00 -C $'\xff'
  ;;
exit_codes)
  expect_exit 1 "$imgconv" -Snodot -Dout -V1.00
  expect_exit 2 "$imgconv" -Smissing.hex -Dout -V1.00
  expect_exit 3 "$imgconv" -Sa.hex -V1.00
  expect_exit 3 "$imgconv" -Sa.hex -Dno/such/dir -V1.00
  expect_exit 6 "$imgconv" -Sa.hex -Dout -V1.0
  grep -q 'version number' err.txt || fail "English gloss"
  grep -q 'バージョンNo.を正しく入力してください' err.txt || fail "Japanese message"
  expect_exit 7 "$imgconv" -Sa.hex -Dout -V1.00 -C 0123456789012345678901234567890
  printf 'S00600004844521B\nS70500000000FA\n' > empty.hex
  expect_exit 4 "$imgconv" -Sempty.hex -Dout -V1.00
  [ ! -e out.bin ] || fail "result 4 left its output"
  printf 'S30900100100112233443B\nS9030000FC\n' > bad.hex
  expect_exit 2 "$imgconv" -Sbad.hex -Dout -V1.00
  [ ! -e out.bin ] || fail "result 2 left its output"
  printf 'S30900100100112233443B\nS70500000000F\n' > bad.hex
  expect_exit 8 "$imgconv" -Sbad.hex -Dout -V1.00
  grep -q 'bad record in the source file, line 2' err.txt || fail "English gloss of 8"
  ;;
usage)
  expect_exit 64 "$imgconv"
  expect_exit 64 "$imgconv" -Sa.hex -Sb.hex
  expect_exit 64 "$imgconv" -sa.hex
  expect_exit 64 "$imgconv" stray
  expect_exit 64 "$imgconv" -Sa.hex -D
  grep -q 'option -D needs a value' err.txt || fail "message of a missing value"
  expect_exit 0 "$imgconv" --help
  grep -q -- '--info' out.txt || fail "usage text"
  grep -q -- '--version' out.txt || fail "--version in the usage text"
  expect_exit 0 "$imgconv" --version
  [ "$(tr -d '\r' < out.txt)" = "imgconv 1.1.0" ] && [ ! -s err.txt ] || fail "--version prints the name and version"
  expect_exit 64 "$imgconv" --version=2
  expect_exit 64 "$imgconv" --bogus
  ;;
overwrite_without_asking)
  echo old > out.bin
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 </dev/null
  [ "$(stat -c %s out.bin)" = 2048 ] || fail "existing output not replaced"
  # A bad version or comment is found before the output is touched; a run
  # that fails at the output stage removes it, as the Windows automatic run does.
  cp out.bin previous.bin
  expect_exit 6 "$imgconv" -Sa.hex -Dout -V9
  cmp -s out.bin previous.bin || fail "version error changed the output"
  expect_exit 7 "$imgconv" -Sa.hex -Dout -V1.00 -C 0123456789012345678901234567890
  cmp -s out.bin previous.bin || fail "comment error changed the output"
  printf 'S30900100100112233443B\nS5030001FB\n' > late.hex
  expect_exit 2 "$imgconv" -Slate.hex -Dout -V1.00
  [ ! -e out.bin ] || fail "failed automatic run keeps its output"
  # A link as the output name is replaced; its target stays as it was.
  echo victim > victim.txt
  ln -s victim.txt out.bin
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00
  [ ! -L out.bin ] && [ "$(stat -c %s out.bin)" = 2048 ] || fail "link not replaced"
  [ "$(cat victim.txt)" = victim ] || fail "link target written"
  ;;
header_only)
  expect_exit 0 "$imgconv" --header-only -Dhdr -V1.23_A -Cabc
  [ "$(stat -c %s hdr.bin)" = 64 ] || fail "size"
  want="78563412ffffffffffffffffffffffffffffffffffffffffa123ffffffffffff61626300"
  want="$want$(printf 'ff%.0s' $(seq 28))"
  [ "$(hex_at hdr.bin 0 64)" = "$want" ] || fail "bytes"
  expect_exit 65 "$imgconv" --info hdr.bin
  grep -q 'header-only' out.txt || fail "--info names a header-only file"
  # A bad version or a 31-byte comment leaves an existing file as it was,
  # and makes none.
  cp hdr.bin previous.bin
  expect_exit 6 "$imgconv" --header-only -Dhdr -V1
  cmp -s hdr.bin previous.bin || fail "header-only version error changed hdr.bin"
  expect_exit 6 "$imgconv" --header-only -D hdr -V 1.2
  cmp -s hdr.bin previous.bin || fail "header-only version error changed hdr.bin"
  expect_exit 7 "$imgconv" --header-only -Dhdr -V1.00 -C 0123456789012345678901234567890
  cmp -s hdr.bin previous.bin || fail "header-only comment error changed hdr.bin"
  expect_exit 6 "$imgconv" --header-only -Dnew -V1
  [ ! -e new.bin ] || fail "header-only failure left an output"
  [ -z "$(ls -A | grep '\.tmp$')" ] || fail "temporary file left"
  ;;
info_checks)
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00
  cp out.bin damaged.bin
  printf '\x00' | dd of=damaged.bin bs=1 seek=1500 conv=notrunc status=none
  expect_exit 65 "$imgconv" --info damaged.bin
  grep -q 'checksum:.*NG' out.txt || fail "checksum not checked"
  head -c 1024 out.bin > cut.bin
  expect_exit 65 "$imgconv" --info cut.bin
  expect_exit 66 "$imgconv" --info missing.bin
  ;;
corrupt_records)
  # LINE, the fault's gloss, the file: refused with 8, the line named in
  # Japanese and in the gloss, and nothing left under the output name.
  s0='S00600004844521B\n' good='S30900100100112233443B\n' s7='S70500000000FA\n'
  while IFS='|' read -r line gloss text; do
    printf "$text" > c.hex
    expect_exit 8 "$imgconv" -Sc.hex -Dout -V1.00
    grep -q "^${line}行目：" err.txt || { cat err.txt >&2; fail "line $line in Japanese: $text"; }
    grep -q "line $line: .*$gloss" err.txt || { cat err.txt >&2; fail "gloss for $text"; }
    [ "$(ls -A | grep -cv -e '\.hex$' -e '\.txt$')" = 0 ] || fail "output or temporary file left: $text"
  done <<ROWS
2|the checksum is wrong|${s0}S30900100100112233443C\n${s7}
2|the checksum is missing|${s0}S3090010010011223344\n${s7}
3|not a hexadecimal digit|${s0}${good}S309001001001122ZZ443B\n${s7}
3|the byte count does not match|${s0}${good}S30B00100100112233443B\n${s7}
3|the byte count does not match|${s0}${good}S30800100100112233443B\n${s7}
3|the line is cut off|${s0}${good}S70500
2|longer than 255 characters|${s0}S3$(printf '0%.0s' $(seq 300))\n
ROWS
  # Lower-case digits and trailing blanks convert as before.
  printf 's00600004844521b\ns30900100100112233443b \r\ns70500000000fa\n' > lower.hex
  expect_exit 0 "$imgconv" -Slower.hex -Dlower -V1.00 -Cabc
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 -Cabc
  cmp lower.bin out.bin || fail "lower case converts differently"
  ;;
concurrent_writers)
  # Two converters on one output name, 20 rounds: both succeed and the name
  # always holds one of the two whole images, with no temporary file left.
  for n in 1 2; do
    head -c $((768 * 1024)) /dev/urandom > $n.raw
    objcopy -I binary -O srec --srec-forceS3 --change-addresses=0x100000 $n.raw $n.hex
    expect_exit 0 "$imgconv" -S$n.hex -Dref$n -V1.00 -Crace
  done
  for round in $(seq 20); do
    "$imgconv" -S1.hex -Dout -V1.00 -Crace >/dev/null & one=$!
    "$imgconv" -S2.hex -Dout -V1.00 -Crace >/dev/null & two=$!
    wait $one || fail "round $round: first converter failed"
    wait $two || fail "round $round: second converter failed"
    cmp -s out.bin ref1.bin || cmp -s out.bin ref2.bin || fail "round $round: a mixed image"
    [ -z "$(ls -A | grep '\.tmp$')" ] || fail "round $round: temporary file left"
  done
  ;;
not_regular_files)
  # A FIFO, a directory and a device are refused at once, not waited on.
  mkfifo pipe.hex
  mkdir dir.hex
  ln -s /dev/zero zero.hex
  for source in pipe.hex dir.hex zero.hex; do
    expect_exit 2 timeout 1 "$imgconv" -S$source -Dout -V1.00
    grep -q '変換元ファイルオープンエラー' err.txt || fail "message for $source"
    expect_exit 66 timeout 1 "$imgconv" --info $source
  done
  [ ! -e out.bin ] || fail "output made from a file that is not regular"
  ;;
interrupted)
  # SIGNAL rows: a conversion stopped once its temporary file exists and
  # before it is written to (empty), sent the signal and continued: it ends
  # by that signal, leaves no temporary file and the previous image byte
  # for byte. A run that got past that point is run again.
  ulimit -c 0  # SIGQUIT: no core file
  head -c $((2 * 1024 * 1024)) /dev/urandom > big.raw
  objcopy -I binary -O srec --srec-forceS3 --change-addresses=0x100000 big.raw one.hex
  cat one.hex one.hex one.hex one.hex > big.hex   # the records again: a longer second pass
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 -Cprevious
  cp out.bin previous.bin
  temp_file() { compgen -G '.imgconv-*.tmp' || true; }
  for sig in HUP QUIT INT TERM; do
    caught=0
    for _ in $(seq 20); do
      # (a background job of a script ignores SIGINT and SIGQUIT unless told otherwise)
      env --default-signal=INT,QUIT "$imgconv" -Sbig.hex -Dout -V1.00 >/dev/null 2>&1 & pid=$!
      while kill -0 $pid 2>/dev/null && [ -z "$(temp_file)" ]; do :; done
      kill -STOP $pid 2>/dev/null || true
      # stopped (T) or ended (Z, or gone)
      while state=$(cut -d' ' -f3 /proc/$pid/stat 2>/dev/null) && [ "$state" != T ] && [ "$state" != Z ]; do :; done
      temp=$(temp_file)
      if [ -n "$temp" ] && [ ! -s "$temp" ]; then
        kill -$sig $pid
        kill -CONT $pid
        status=0
        wait $pid 2>/dev/null || status=$?
        [ $status = $((128 + $(kill -l $sig))) ] || fail "SIG$sig: exit $status, not ended by the signal"
        caught=1
      else
        kill -CONT $pid 2>/dev/null || true
        wait $pid || true
        cp previous.bin out.bin
      fi
      [ -z "$(temp_file)" ] || fail "SIG$sig: temporary file left"
      cmp -s out.bin previous.bin || fail "SIG$sig: the previous image was not kept"
      [ $caught = 0 ] || break
    done
    [ $caught = 1 ] || fail "SIG$sig: no try was caught in the second pass"
  done
  ;;
failure_reasons)
  # EXIT|TEXT|ARGUMENTS: each failure is told with its path, the system's
  # reason or the line, after the Japanese message.
  printf 'S00600004844521B\nS30900100100112233443B\nS5030001FB\n' > s5.hex
  printf 'S00600004844521B\n \r\nS30900100100112233443B\n' > blank.hex
  printf 'S00600004844521B\nhello\x1b[2J world, and more\n' > junk.hex
  printf 'S00600004844521B\nS70500000000FA\n' > nodata.hex
  mkdir dir.hex outdir.bin
  # srec_cat's default output: an S5 count record after the data.
  head -c 1000 /dev/urandom > small.raw
  srec_cat small.raw -binary -offset 0x100000 -o srec_cat.hex -address-length=4
  s5_line=$(grep -n '^S5' srec_cat.hex | cut -d: -f1)
  while IFS='|' read -r code text args; do
    # shellcheck disable=SC2086  # the arguments are words without blanks
    expect_exit "$code" "$imgconv" $args
    grep -qF -- "$text" err.txt || { cat err.txt >&2; fail "message for $args: $text"; }
    ! grep -q $'\x1b' err.txt || fail "an escape reached the terminal: $args"
  done <<ROWS
2|(cannot open nosuch.hex: No such file or directory)|-Snosuch.hex -Dout -V1.00
2|変換元ファイルオープンエラー (cannot open dir.hex: Is a directory)|-Sdir.hex -Dout -V1.00
3|(cannot create /nonexist/out.bin: No such file or directory)|-Sa.hex -D/nonexist/out -V1.00
3|変換先ファイルオープンエラー (cannot replace $PWD/outdir.bin: Is a directory)|-Sa.hex -Doutdir -V1.00
1|(source file path input error: the source path needs an extension (a '.'): nodot)|-Snodot -Dout -V1.00
1|(-S (the source file path) is missing)|-Dout -V1.00
3|(-D (the destination file name) is missing)|-Sa.hex -V1.00
6|バージョンNo.を正しく入力してください。|-Sa.hex -Dout
6|(-V (the version) is missing)|-Sa.hex -Dout
6|(-V (the version) is missing)|--header-only -Dout
6|(please enter the version number correctly (example: 1.23))|-Sa.hex -Dout -V1.2
2|(line 3: S5 record; only S0, S3 and S7 are read)|-Ss5.hex -Dout -V1.00
2|(line 2 is empty)|-Sblank.hex -Dout -V1.00
2|(line 2 is not an S-record: "hello\x1b[2J world,...")|-Sjunk.hex -Dout -V1.00
2|(line $s5_line: S5 record; only S0, S3 and S7 are read)|-Ssrec_cat.hex -Dout -V1.00
4|(destination file write error: no data byte of the source falls into the image)|-Snodata.hex -Dout -V1.00
ROWS
  [ ! -e out.bin ] || fail "a failed conversion left out.bin"
  # A name ending in .bin: warned, converted.
  expect_exit 0 "$imgconv" -Sa.hex -Dx.bin -V1.00
  grep -qF 'imgconv: 警告: 出力ファイル名には常に .bin が付きます (warning: the output is named x.bin.bin because ".bin" is always appended)' err.txt ||
    fail "no warning for -D x.bin"
  [ -f x.bin.bin ] || fail "x.bin.bin not written"
  expect_exit 0 "$imgconv" -Sa.hex -Dx.BIN -V1.00
  grep -qF 'x.BIN.bin because' err.txt || fail "no warning for -D x.BIN"
  expect_exit 0 "$imgconv" -Sa.hex -Dxbin -V1.00
  [ ! -s err.txt ] || fail "a warning for a name without .bin"
  ;;
safe_text)
  # Text from files and paths reaches the terminal with its control
  # characters escaped; a comment's line breaks stay new lines.
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 -C $'\e]0;owned\a\e[2J'
  expect_exit 0 "$imgconv" --info out.bin
  ! LC_ALL=C grep -q $'[\x01-\x09\x0b-\x1f\x7f]' out.txt || fail "a control character in the --info output"
  grep -qF 'comment:      \x1b]0;owned\x07\x1b[2J' out.txt || { cat out.txt >&2; fail "comment not escaped"; }
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00 -C $'ab\r\ncd\ref'
  expect_exit 0 "$imgconv" --info out.bin
  grep -qx 'comment:      ab' out.txt && grep -qx '              cd\\x0def' out.txt ||
    { cat out.txt >&2; fail "line breaks of the comment"; }
  cp out.bin $'\e[31mred.bin'
  expect_exit 0 "$imgconv" --info $'\e[31mred.bin'
  grep -qF 'file:         \x1b[31mred.bin' out.txt || fail "--info path not escaped"
  expect_exit 66 "$imgconv" --info $'\e[31mmissing.bin'
  grep -qF '\x1b[31mmissing.bin' out.txt || fail "unreadable path not escaped"
  expect_exit 0 "$imgconv" -Sa.hex -D $'\e[31mnew' -V1.00
  grep -qF '\x1b[31mnew.bin' out.txt || fail "output path not escaped"
  expect_exit 2 "$imgconv" -S $'\e[31mno.hex' -Dout -V1.00
  grep -qF 'cannot open \x1b[31mno.hex' err.txt || fail "source path not escaped"
  expect_exit 64 "$imgconv" -Sa.hex $'\e[2J'
  grep -qF 'unexpected argument \x1b[2J' err.txt || fail "argument not escaped"
  expect_exit 64 "$imgconv" -Sa.hex -Dout -V1.00 -C $'\xc2\x9b'
  grep -qF '\xc2\x9b' err.txt || fail "refused comment character not escaped"
  ;;
quiet)
  # -q: nothing on success; errors and warnings still on stderr.
  for args in "-q -Sa.hex -Dout -V1.00" "--quiet -Sa.hex -Dout -V1.00" "-q --header-only -Dhdr -V1.00"; do
    # shellcheck disable=SC2086
    expect_exit 0 "$imgconv" $args
    [ ! -s out.txt ] && [ ! -s err.txt ] || fail "output with $args"
  done
  [ -f out.bin ] && [ -f hdr.bin ] || fail "-q wrote nothing"
  expect_exit 0 "$imgconv" -q -Sa.hex -Dq.bin -V1.00
  [ ! -s out.txt ] && grep -q 'warning' err.txt || fail "-q hid the warning"
  expect_exit 2 "$imgconv" -q -Smissing.hex -Dout -V1.00
  grep -q 'cannot open missing.hex' err.txt || fail "-q hid the error"
  expect_exit 64 "$imgconv" -q --info out.bin
  expect_exit 0 "$imgconv" -Sa.hex -Dout -V1.00
  grep -q '^出力ファイル (output file): ' out.txt || fail "without -q the output is named"
  ;;
same_as_linux)
  # imgconv-cli.exe and the Linux imgconv: the same image, also from a folder
  # beyond the ANSI code page, the same refusals, Japanese texts in UTF-8.
  expect_exit 0 "$linux_imgconv" -Sa.hex -Dlinux -V1.00 -C日本語テスト
  mkdir 'Ünï 한글' && cp a.hex 'Ünï 한글/'
  expect_exit 0 "$imgconv" '-SÜnï 한글/a.hex' -Dwindows -V1.00 -C日本語テスト
  grep -q '^出力ファイル (output file): .*windows\.bin' out.txt || fail "output line in UTF-8"
  cmp linux.bin windows.bin || fail "the images differ"
  expect_exit 0 "$imgconv" --info windows.bin
  grep -q 'comment: *日本語テスト' out.txt || fail "--info comment in UTF-8"
  printf 'S30900100100112233443B\nS70500000000F\n' > bad.hex
  for program in "$linux_imgconv" "$imgconv"; do
    expect_exit 8 "$program" -Sbad.hex -Dout -V1.00
    grep -q '^2行目：' err.txt || fail "the refusal in Japanese"
    expect_exit 64 "$program" -Sa.hex -Dout -V1.00 --no-such-option
  done
  [ ! -e out.bin ] || fail "a refused conversion left its output"
  ;;
manuals)
  # Each man page renders without a warning (its Japanese texts under a UTF-8
  # locale) and carries the program's version; each completion is valid bash.
  version=$("$imgconv" --version | awk '{print $2}')
  for program in imgconv imgload zp3ksim; do
    LANG=C.UTF-8 MANWIDTH=200 man -l --warnings "$docs/man/$program.1" >"$program.txt" 2>warn.txt ||
      fail "man $program.1"
    [ ! -s warn.txt ] || { cat warn.txt >&2; fail "warnings in $program.1"; }
    grep -q '^EXIT STATUS' "$program.txt" || fail "$program.1 renders no EXIT STATUS"
    grep -q "^\.TH .*\"zp3k-tools $version\"" "$docs/man/$program.1" || fail "version of $program.1"
    bash -n "$docs/completion/$program" || fail "the $program completion"
  done
  grep -q '通信エラー (タイムアウトエラー)' imgload.txt || fail "Japanese text of status 5"
  # Every option imgconv --help names is on its page.
  for option in $("$imgconv" --help | grep -oE '(^| )(-[A-Z]|--[a-z-]+)\b' | sort -u); do
    grep -qF -- "$option" imgconv.txt || fail "imgconv.1 lacks $option"
  done
  # shellcheck disable=SC2016  # the completions expand inside the child bash
  complete_word='source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); "_${COMP_WORDS[0]}"
                 printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "'
  [[ $(bash -c 'source "$1"; complete -p imgload' - "$docs/completion/imgload") == 'complete -F _imgload imgload' ]] ||
    fail "complete -p imgload"
  [ "$(bash -c "$complete_word" - "$docs/completion/imgload" imgload --speed '')" = \
    "115200 19200 38400 57600 9600 " ] || fail "imgload --speed values"
  touch b.mot note.txt
  [ "$(bash -c "$complete_word" - "$docs/completion/imgconv" imgconv -S '')" = "a.hex b.mot " ] ||
    fail "imgconv -S prefers S-record files"
  ;;
*)
  fail "unknown case"
  ;;
esac
echo "ok $case_name"

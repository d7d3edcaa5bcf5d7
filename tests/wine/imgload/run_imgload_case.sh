#!/usr/bin/env bash
# Runs imgload.exe under Wine through one dialog-driver script, with COM1 (or
# COM3) wired to the simulated controller's pseudo-terminal, then checks what
# the simulator received and saved. The images lie in a folder whose name
# neither cp932 nor cp1252 can spell whole.
# Usage: run_imgload_case.sh CASE
# Environment (set by CTest): ZP3K_WINE_ENV, ZP3K_BUILD_DIR, ZP3K_DRIVER,
# IMGLOAD_EXE, IMGLOAD_CLI_EXE (the console program), ZP3KSIM (the native
# simulator; empty: cases needing it skip),
# ZP3K_LOCALE (optional, as for run_wine_test.sh, whose set-up this shares).
set -uo pipefail
case_name=$1
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source-path=SCRIPTDIR source=../run_wine_test.sh
source "$here/../run_wine_test.sh"
sim_pid=""
sim2_pid=""  # a second simulator, on COM2
gang_pids=()  # the simulators of the shared case

wine_setup "$ZP3K_BUILD_DIR/wine-work/imgload-$case_name${ZP3K_LOCALE:+-${ZP3K_LOCALE%%.*}}"
images="$work/Ünï 한글"
deep=長い名前のフォルダ長い名前のフォルダ長い名前のフォルダ
prefix=$ZP3K_BUILD_DIR/wineprefix
# Wine's mount manager rewrites dosdevices/comN at every session start (COM1
# becomes /dev/ttyS0), so the prefix's Ports key names fixed links, the same
# ones the link layer's Wine tests use; the simulator makes them.
com1=$prefix/zp3k-com1
com2=$prefix/zp3k-com2
com3=$prefix/zp3k-com3
mkdir -p saved "$images"

finish() {
  for pid in $sim_pid $sim2_pid "${gang_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  rm -f "$com1" "$com2" "$com3"
}
trap finish EXIT

configure_prefix() {
  local n link added=0
  for n in 1 2 3; do
    link=$prefix/zp3k-com$n
    if ! grep -qF "\"COM$n\"=\"$link\"" "$prefix/system.reg" 2>/dev/null; then
      wine_run wine reg add 'HKLM\Software\Wine\Ports' /v COM$n /t REG_SZ /d "$link" /f >/dev/null 2>&1
      added=1
    fi
    # For a session already running, whose mount manager has been.
    ln -sfn "$link" "$prefix/dosdevices/com$n"
  done
  if [ $added -eq 1 ]; then wine_run wineserver -w > /dev/null 2>&1; fi
}

# Image files of whole 2048-byte blocks with varied bytes, and the files
# the validation refuses.
make_images() {
  (cd "$images" && python3 -) <<'EOF'
import random
rng = random.Random(20261207)
def image(name, size):
    with open(name, "wb") as f:
        f.write(bytes(rng.randrange(256) for _ in range(size)))
image("a.bin", 4096)
image("b.bin", 2048)
image("c.bin", 6144)
image("ok.bin", 2048)
image("four.bin", 4096)
image("odd.bin", 3000)
image("noextension", 2048)
open("zero.bin", "wb").close()
EOF
  # A copy of c.bin three folders of 27 kana and kanji deep: a path of some
  # 180 characters that takes well over 255 bytes in UTF-8, which it may
  # only as the file system counts paths (UTF-16 units).
  mkdir -p "$images/$deep/$deep/$deep"
  cp "$images/c.bin" "$images/$deep/$deep/$deep/c.bin"
}

# Starts the simulator on the given link with extra options.
start_sim() {
  local link=$1
  shift
  if [ -z "${ZP3KSIM:-}" ]; then
    echo "no native build with zp3ksim configured (ZP3K_NATIVE_BUILD_DIR): skipped"
    exit 77
  fi
  if [ ! -x "$ZP3KSIM" ]; then
    echo "zp3ksim not found at $ZP3KSIM" >&2
    exit 1
  fi
  "$ZP3KSIM" --link "$link" --save-dir "$work/saved" --report "$work/report.txt" --quiet "$@" \
    > sim.out 2> sim.err &
  sim_pid=$!
  for _ in $(seq 50); do [ -L "$link" ] && return 0; sleep 0.1; done
  echo "zp3ksim did not make $link" >&2
  cat sim.err >&2
  exit 1
}

# Ends the simulator and shows its report; its exit status says whether the
# downloader broke the protocol.
stop_sim() {
  kill -TERM "$sim_pid" 2>/dev/null
  wait "$sim_pid"
  sim_status=$?
  sim_pid=""
  cat report.txt 2>/dev/null || cat sim.out
  if [ $sim_status -ne 0 ]; then
    echo "FAIL: zp3ksim exited with $sim_status (protocol violations)"
    cat sim.err
    failures=$((failures + 1))
  fi
}

failures=0
expect_line() {  # expect_line REGEX WHAT: a line of the report matches
  if ! grep -Eq "$1" report.txt; then
    echo "FAIL: $2 (report has no line matching '$1')"
    failures=$((failures + 1))
  fi
}
same_image() {  # same_image SAVED ORIGINAL
  if ! cmp -s "saved/$1" "$images/$2"; then
    echo "FAIL: saved/$1 is not byte-identical to $2"
    failures=$((failures + 1))
  fi
}
no_image() {
  if [ -e "saved/$1" ]; then
    echo "FAIL: saved/$1 received, none expected"
    failures=$((failures + 1))
  fi
}

run_script() {  # run_script SCRIPT [VAR=value...]: the driver on SCRIPT.txt
  local script=$1 setting
  shift
  (
    IMAGES=$(to_windows "$images")
    export IMAGES
    for setting in "$@"; do export "${setting?}"; done
    run_driver "$here/$script.txt"
  ) || failures=$((failures + 1))
}

configure_prefix
make_images
rm -f "$com1" "$com2" "$com3"

# cli_run STATUS ARGS...: imgload-cli.exe under Wine in the case's locale,
# which must end with STATUS; its output lands in cli.out.
cli_run() {
  local want=$1 got=0
  shift
  wine_run "${locale_env[@]}" timeout -k 5 120 wine "$IMGLOAD_CLI_EXE" "$@" > cli.out 2>&1 || got=$?
  if [ $got -ne "$want" ]; then
    echo "FAIL: imgload-cli.exe $* ended with $got, expected $want"
    cat cli.out
    failures=$((failures + 1))
  fi
}
expect_output() {  # expect_output REGEX WHAT: a line of cli.out matches
  if ! grep -Eq -- "$1" cli.out; then
    echo "FAIL: $2 (no line matching '$1')"
    cat cli.out
    failures=$((failures + 1))
  fi
}

case $case_name in
  dialogs) run_script dialogs ;;
  validation) run_script validation ;;  # COM1 leads nowhere: accepted jobs end with the port error
  missing) run_script failure ADDRESS=0008000 STATUS=$'通信エラー\n(COMポートオープンエラー)' ;;
  one)
    start_sim "$com1"
    run_script one
    stop_sim
    same_image image-1.bin a.bin
    same_image image-2.bin a.bin
    no_image image-3.bin
    expect_line 'requests: AD=2 .* RUN=1' "two runs, each asking for the model once, one run request"
    expect_line 'speeds of requests: 9600x[0-9]+ 115200x[0-9]+$' "requests at 9600 and 115200 bit/s"
    ;;
  three)
    start_sim "$com1"
    run_script three ADDRESS2=001F800 ADDRESS3=0000000_A STOP_LABEL=- LATER_FILES=1 \
      THIRD="$(to_windows "$images/$deep/$deep/$deep/c.bin")"
    stop_sim
    same_image image-1.bin a.bin
    same_image image-2.bin b.bin
    same_image image-3.bin c.bin
    expect_line 'requests: AD=1 AA=3 .* RUN=1' "one model request, three modes, the run request"
    ;;
  stop)  # the stop button during file 1: the run ends after it
    start_sim "$com1"
    run_script three ADDRESS2=0008000 ADDRESS3=0008000 STOP_LABEL=No.1 LATER_FILES=0 \
      THIRD="$(to_windows "$images/c.bin")"
    stop_sim
    same_image image-1.bin a.bin
    no_image image-2.bin
    expect_line 'requests: AD=1 AA=1 .* RUN=1' "one file, then the run request"
    ;;
  speed)  # COM3 at 9600 bit/s chosen in the settings dialog; COM1 unwired
    start_sim "$com3"
    run_script speed
    stop_sim
    same_image image-1.bin a.bin
    expect_line 'requests: AD=1 AA=1 AB=[0-9]+ EF=1 ' "one file over COM3"
    expect_line 'speeds of requests: 9600x[0-9]+$' "every request at 9600 bit/s, also after EF"
    ;;
  timeout|noise)  # "AD" never answered, or answered by ACK and bytes without end, never CR
    fault=silent
    [ "$case_name" = noise ] && fault=noise
    start_sim "$com1" --fault "$fault@AD"
    run_script failure ADDRESS=0008000 STATUS=$'通信エラー\n(タイムアウトエラー)'
    stop_sim
    expect_line 'requests: AD=3 AA=0 ' "three AD requests and nothing else"
    no_image image-1.bin
    ;;
  noflash)  # a model without external flash, the file bound for 0100000
    start_sim "$com1" --model 00
    run_script failure ADDRESS=0100000 STATUS=$'外部FROM未搭載機種のため、\n外部FROMにダウンロードできません。\nダウンロード先頭アドレスを確認してください。(No.1)'
    stop_sim
    expect_line 'requests: AD=1 AA=0 ' "only the model request"
    no_image image-1.bin
    ;;
  cli)  # the console program: one image to COM1 and COM2 at once, a simulator on each
    start_sim "$com2" --save-dir "$work/saved2" --report "$work/report2.txt"
    sim2_pid=$sim_pid
    mkdir -p saved2
    start_sim "$com1"
    cli_run 0 --list-ports
    expect_output '^COM2 ' "--list-ports names COM2"
    # The folder's name is beyond cp932 and cp1252: it arrives whole only
    # through the wide command line.
    cli_run 0 --log run.log --port COM1 --port COM2 "$(to_windows "$images/a.bin")@0100000"
    expect_output 'ダウンロード正常終了' "the status text in UTF-8"
    sum=$(sha256sum < "$images/a.bin" | cut -c1-64)
    if [ "$(grep -c "\"exit_status\":0,.*\"sha256\":\"$sum\"" run.log)" != 2 ]; then
      echo "FAIL: the log holds no line for each port with the image's SHA-256"; cat run.log
      failures=$((failures + 1))
    fi
    # A job file in the folder beyond cp932 and cp1252: its port, file and
    # log found from there; a dry run of it first sends nothing. Each run
    # follows the last at once: the simulator sees every close and opening.
    printf 'ports = ["COM1"]\nspeed = 38400\nlog = "job.log"\n[[files]]\npath = "a.bin"\naddress = "0100000"\n' \
      > "$images/job.toml"
    cli_run 0 --job "$(to_windows "$images/job.toml")" --dry-run
    expect_output 'COM1: opens and closes at 9600 bit/s; would get at 38400 bit/s:' "the dry run's summary"
    no_image image-2.bin
    cli_run 0 --job "$(to_windows "$images/job.toml")"
    same_image image-2.bin a.bin
    if ! grep -q "\"port\":\"COM1\",\"exit_status\":0,.*\"sha256\":\"$sum\"" "$images/job.log"; then
      echo "FAIL: the job's log in its folder holds no line of the run"; cat "$images/job.log"
      failures=$((failures + 1))
    fi
    printf '[[files]]\npath = "missing.bin"\n' > "$images/missing.toml"
    cli_run 13 --port COM1 --job "$(to_windows "$images/missing.toml")"
    expect_output 'Ünï 한글\\missing\.bin: ' "the missing file named in the job's folder"
    printf 'speed = 9600\nrun = yes\n' > "$images/bad.toml"
    cli_run 64 --job "$(to_windows "$images/bad.toml")"
    expect_output 'bad\.toml:2:7: ' "the job's error with its line and column"
    stop_sim
    kill -TERM "$sim2_pid" 2>/dev/null
    wait "$sim2_pid" || { echo "FAIL: the COM2 simulator saw protocol violations"; failures=$((failures + 1)); }
    sim2_pid=""
    same_image image-1.bin a.bin
    same_image ../saved2/image-1.bin a.bin
    cli_run 0 --help
    expect_output '--list-ports' "the usage text"
    expect_output '^usage: imgload-cli ' "the usage text names imgload-cli"
    if grep -Eq 'ZP3K_LOCK_DIR|see imgload --|SIGTERM\)' cli.out; then
      echo "FAIL: the Windows usage text holds Linux-only entries"; failures=$((failures + 1))
    fi
    cli_run 0 --version
    expect_output '^imgload 1\.1\.0' "the version"
    cli_run 64 --no-such-option a.bin
    cli_run 64 --port COM257 a.bin
    cli_run 64 --port COM1 --port '\\.\com1' a.bin  # one port, two spellings
    cli_run 10 --port '\\.\COM12' "$(to_windows "$images/a.bin")@0008000"  # not there
    expect_output 'COM12: no such port: see imgload-cli --list-ports' "the port error's advice"
    # --json into a pipe nobody reads, a 1 MiB image at the simulator's
    # fastest: the events fill the pipe early, the download goes on to its
    # end, the image arrives whole and the lines the pipe could not take are
    # counted on standard error.
    python3 -c 'import random, sys; open(sys.argv[1], "wb").write(random.Random(7).randbytes(1 << 20))' \
      "$images/big.bin"
    mkdir -p saved3
    start_sim "$com1" --no-pace --save-dir "$work/saved3"
    mkfifo unread.pipe
    exec 8<>unread.pipe  # held open and never read
    got=0
    wine_run ${ZP3K_LOCALE:+LANG=$ZP3K_LOCALE LC_ALL=$ZP3K_LOCALE} timeout -k 5 120 \
      wine "$IMGLOAD_CLI_EXE" --json --port COM1 "$(to_windows "$images/big.bin")@0008000" \
      > unread.pipe 2> cli.out || got=$?
    exec 8<&-
    if [ $got -ne 0 ]; then
      echo "FAIL: imgload-cli.exe --json into a pipe nobody reads ended with $got, expected 0"
      cat cli.out
      failures=$((failures + 1))
    fi
    expect_output '^imgload-cli: [0-9]+ line\(s\) of output dropped' "the count of the lines dropped"
    stop_sim
    same_image ../saved3/image-1.bin big.bin
    ;;
  shared)  # four console programs at once on one image, each to its own controller;
           # COM5 is known to Wine by its dosdevices link alone, as a user may make it
    com5=$prefix/zp3k-com5
    ln -sfn "$com5" "$prefix/dosdevices/com5"
    links=("$com1" "$com2" "$com3" "$com5")
    for n in 1 2 3 4; do
      start_sim "${links[n-1]}" --save-dir "$work/saved$n" --report "$work/report$n.txt"
      gang_pids+=("$sim_pid")
      mkdir -p "saved$n"
    done
    sim_pid=""
    cli_run 0 --list-ports
    expect_output '^COM5 ' "--list-ports names COM5, which only its link makes"
    cli_pids=()
    for n in 1 2 3 4; do
      port=COM$n
      [ $n -eq 4 ] && port=COM5
      (wine_run wine "$IMGLOAD_CLI_EXE" --port $port "$(to_windows "$images/four.bin")@0008000" \
         > "cli$n.out" 2>&1; echo $? > "status$n") &
      cli_pids+=($!)
    done
    wait "${cli_pids[@]}"
    for n in 1 2 3 4; do
      if [ "$(cat "status$n")" != 0 ]; then
        echo "FAIL: imgload-cli.exe $n of 4 ended with $(cat "status$n")"; cat "cli$n.out"
        failures=$((failures + 1))
      fi
      kill -TERM "${gang_pids[n-1]}" 2>/dev/null
      wait "${gang_pids[n-1]}" || { echo "FAIL: simulator $n saw violations"; failures=$((failures + 1)); }
      cmp -s "saved$n/image-1.bin" "$images/four.bin" || {
        echo "FAIL: controller $n did not receive four.bin whole"; failures=$((failures + 1)); }
    done
    # The same with the image held open by another reader the whole time.
    start_sim "$com1"
    run_script held IMGLOAD_CLI_EXE="$IMGLOAD_CLI_EXE"
    stop_sim
    same_image image-1.bin four.bin
    gang_pids=()
    rm -f "$prefix/dosdevices/com5" "$com5"
    ;;
  loop)  # --repeat --count 2 on COM1, whose port vanishes between the boards (as a
          # board's own USB adapter does): each board a simulator of its own, the
          # second started once the first has ended and taken its link away
    mkdir -p saved2
    start_sim "$com1" --boards 1 --swap 1
    (wine_run timeout -k 5 120 wine "$IMGLOAD_CLI_EXE" --repeat --count 2 --port COM1 --log loop.log \
       "$(to_windows "$images/a.bin")@0008000" > cli.out 2>&1; echo $? > loop.status) &
    loop_pid=$!
    wait "$sim_pid"  # it ends on its own once its board has been served
    first_status=$?
    sim_pid=""
    cat report.txt
    if [ $first_status -ne 0 ] || [ -e "$com1" ]; then
      echo "FAIL: the first board's simulator ended with $first_status, its link left: $(ls -l "$com1" 2>&1)"
      failures=$((failures + 1))
    fi
    sleep 1
    start_sim "$com1" --boards 1 --swap 1 --save-dir "$work/saved2" --report "$work/report2.txt"
    wait "$loop_pid"
    wait "$sim_pid"
    second_status=$?
    sim_pid=""
    cat report2.txt cli.out
    if [ "$(cat loop.status)" != 0 ] || [ $second_status -ne 0 ]; then
      echo "FAIL: imgload-cli.exe --repeat ended with $(cat loop.status), the second simulator with $second_status"
      failures=$((failures + 1))
    fi
    same_image board-1/image-1.bin a.bin
    same_image ../saved2/board-1/image-1.bin a.bin
    for unit in 1 2; do
      if ! grep -q "^PASS  COM1  unit $unit  " cli.out ||
         ! grep -q "\"port\":\"COM1\",\"unit\":$unit,\"unit_id\":null,\"exit_status\":0," loop.log; then
        echo "FAIL: no PASS line or log line of unit $unit"; cat loop.log
        failures=$((failures + 1))
      fi
    done
    # Wine opens a COM port whose device is gone, then finds no serial device there.
    expect_output '^COM1  waiting(: the port does not open| for a board \(no device\))' \
      "the vanished port said to be missing"
    ;;
  *)
    echo "unknown case $case_name" >&2
    exit 2
    ;;
esac

echo "imgload case $case_name: $failures failure(s)"
[ $failures -eq 0 ]

#!/usr/bin/env bash
# The production loop of the Linux imgload: ten boards of one 64 KiB image at
# 115200 bit/s through zp3ksim --boards 10 --swap 2, flashed by one
# imgload --repeat --count 10. Prints, each against its goal:
#  - how soon a board is found: the time from a board answering (the end of
#    the swap) to the first "AD" of its download, per board and the median
#    (goal at most 0.6 s), from the simulator's report;
#  - the CPU of the waiting loop: imgload --repeat on a line nobody answers
#    (a fixed cable without a board) and on a port that does not exist (a
#    board's own USB adapter unplugged), CPU time over wall time (goal at
#    most 0.01 each);
#  - as the last line, "ratio loop/singles = X": the loop's total time against
#    ten single downloads of the same image (one imgload run each, measured
#    here) plus nine swaps (goal at most 1.05).
# usage: bench/production.sh [BUILD_DIR]   (default build/native, built if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
source bench/download_tools.sh "${1:-}"

ZP3K_LOCK_DIR=$work python3 - "$build/imgload/cli/imgload" "$build/tools/zp3ksim/zp3ksim" "$work" <<'PY'
import os, re, signal, statistics, struct, subprocess, sys, time

imgload, zp3ksim, work = sys.argv[1:4]
SIZE = 64 * 1024  # bytes
BOARDS = 10
SWAP = 2          # seconds between two boards
IDLE = 10         # seconds the waiting loop is watched

sys.path.insert(0, "bench")
from bench_image import write_image  # noqa: E402
image = os.path.join(work, "board.bin")
data = write_image(image, SIZE)


def run(args, stdin=None):
    """imgload with args; (wall s, CPU s, exit status)."""
    start = time.monotonic()
    child = subprocess.Popen([imgload] + args, stdin=stdin, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    return time.monotonic() - start, usage.ru_utime + usage.ru_stime, os.waitstatus_to_exitcode(status)


def single(n):
    """One single download to a simulator of its own; its wall time."""
    save = os.path.join(work, "single-%d" % n)
    os.mkdir(save)
    sim = subprocess.Popen([zp3ksim, "--save-dir", save, "--quiet", "--runs", "1", "--max-time", "120"],
                           stdout=subprocess.PIPE, text=True)
    wall, _, status = run(["--port", sim.stdout.readline().strip(), image])
    report = sim.communicate(timeout=30)[0]
    ok = status == 0 and "violations: 0" in report and \
        open(os.path.join(save, "image-1.bin"), "rb").read() == bytes(data)
    if not ok:
        sys.exit("a single download failed (exit status %d)" % status)
    return wall


def waiting_cpu(port):
    """imgload --repeat waiting IDLE seconds on port, then Ctrl-C: CPU over wall."""
    start = time.monotonic()
    child = subprocess.Popen([imgload, "--repeat", "--port", port, image], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    time.sleep(IDLE)
    child.send_signal(signal.SIGINT)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    return (usage.ru_utime + usage.ru_stime) / wall, os.waitstatus_to_exitcode(status)


# The loop first: ten boards in turn.
save = os.path.join(work, "loop")
os.mkdir(save)
report_file = os.path.join(work, "loop-report.txt")
sim = subprocess.Popen([zp3ksim, "--boards", str(BOARDS), "--swap", str(SWAP), "--save-dir", save,
                        "--report", report_file, "--quiet", "--max-time", "600"],
                       stdout=subprocess.PIPE, text=True)
port = sim.stdout.readline().strip()
loop_wall, loop_cpu, loop_status = run(["--repeat", "--count", str(BOARDS), "--port", port, image])
report = sim.communicate(timeout=60)[0]
intact = all(open(os.path.join(save, "board-%d" % k, "image-1.bin"), "rb").read() == bytes(data)
             for k in range(1, BOARDS + 1))
print("loop: %d boards of %d bytes at 115200 bit/s, %d s between boards: %.3f s, exit status %d, "
      "every image intact: %s, simulator %s" %
      (BOARDS, SIZE, SWAP, loop_wall, loop_status, "yes" if intact else "NO",
       [l for l in report.splitlines() if l.startswith("violations")][0]))

# From a board answering to its download's first "AD".
found = []
for answering, run_ad in re.findall(r'timing: answering at ([\d.]+) s, first "AD" at [\d.]+ s, '
                                    r'the run\'s "AD" at ([\d.]+) s', report):
    found.append(float(run_ad) - float(answering))
print("from a board answering to its download's \"AD\", s: %s" % " ".join("%.3f" % f for f in found))
print("  (board 1 answers from the simulator's start, before imgload has started)")
print("median %.3f s (goal at most 0.6)" % statistics.median(found))

# The waiting loop's CPU.
master, slave = os.openpty()
quiet_line = os.ttyname(slave)
os.close(slave)
ratio, status = waiting_cpu(quiet_line)
os.close(master)
print("waiting on a line nobody answers, %d s: CPU/wall = %.4f (goal at most 0.01), exit status %d" %
      (IDLE, ratio, status))
ratio, status = waiting_cpu(os.path.join(work, "ttyUNPLUGGED"))
print("waiting on a port that does not exist, %d s: CPU/wall = %.4f (goal at most 0.01), exit status %d" %
      (IDLE, ratio, status))

# Ten single downloads, and the swaps a loop cannot save.
singles = [single(n) for n in range(BOARDS)]
reference = sum(singles) + (BOARDS - 1) * SWAP
print("ten single downloads: %.3f s (each %s s); plus %d swaps of %d s: %.3f s" %
      (sum(singles), " ".join("%.1f" % s for s in singles), BOARDS - 1, SWAP, reference))
print("  (a countdown pause of N s lasts between N-1 and N s: each run varies by up to some seconds)")
print("ratio loop/singles = %.3f" % (loop_wall / reference))
PY

#!/usr/bin/env bash
# Download speed and CPU use of the Linux imgload: one 256 KiB image sent to
# zp3ksim pacing at 115200 bit/s. Prints the measured time against the least
# time the protocol allows (every frame's wire time at 11 bits per character
# plus the specified pauses), "ratio measured/minimum = X" (goal: at most
# 1.03) and the CPU time of imgload over its wall time (goal at most 0.02).
# Then the same image to four zp3ksim at once from one imgload: the CPU time
# per port over the wall time (goal at most 0.02) and, as the last line,
# "ratio gang/single = X" (goal at most 1.05).
# With --unread-output: one 256 KiB image paced at 115200 bit/s, --json into
# a pipe that is read and then into one that is never read; the image must
# arrive whole both times, and the last line is "ratio unread/read = X"
# (goal: at most 1.05), the time the unread output costs the run.
# usage: bench/download.sh [--unread-output] [BUILD_DIR]   (default build/native, built if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
mode=transfer
if [ "${1:-}" = --unread-output ]; then
  mode=unread
  shift
fi
source bench/download_tools.sh "${1:-}"

python3 - "$build/imgload/cli/imgload" "$build/tools/zp3ksim/zp3ksim" "$work" "$mode" <<'PY'
import os, resource, signal, struct, subprocess, sys, threading, time

imgload, zp3ksim, work, mode = sys.argv[1:5]
SIZE = 256 * 1024          # bytes
SPEED = 115200             # bit/s after the speed change
BASE = 9600                # bit/s before it
BITS = 11                  # bits per character on the line

sys.path.insert(0, "bench")
from bench_image import write_image  # noqa: E402
image = os.path.join(work, "bench.bin")
data = write_image(image, SIZE)

# The least time: frames (request + reply, bytes) at each speed, the run
# request at 9600 bit/s, and the pauses (1 s after "AA", 1000 ms closed for
# the speed change, 1 s after reopening, 3 s after "AG", 1 s after closing).
blocks = SIZE // 512
at_base = (10 + 12) + (12 + 10) + (10 + 10) + (14 + 10) + 12
at_speed = (26 + 10) + blocks * (530 + 10) + (26 + 10) + (10 + 10)
wire = at_base * BITS / BASE + at_speed * BITS / SPEED
pauses = 1 + 1.0 + 1 + 3 + 1
minimum = wire + pauses

def download(ports):
    """One imgload run to `ports` simulators; (wall s, CPU s, exit status, images intact, reports)."""
    sims, args, saves = [], [], []
    for n in range(ports):
        save = os.path.join(work, "received-%d-%d" % (ports, n))
        os.mkdir(save)
        sim = subprocess.Popen([zp3ksim, "--save-dir", save, "--quiet", "--runs", "1",
                                "--max-time", "300"], stdout=subprocess.PIPE, text=True)
        args += ["--port", sim.stdout.readline().strip()]
        sims.append(sim)
        saves.append(save)
    start = time.monotonic()
    child = subprocess.Popen([imgload] + args + [image], stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.monotonic() - start
    reports = [sim.communicate(timeout=30)[0] for sim in sims]
    same = all(open(os.path.join(s, "image-1.bin"), "rb").read() == bytes(data) for s in saves)
    violations = [[l for l in r.splitlines() if l.startswith("violations")][0] for r in reports]
    return wall, usage.ru_utime + usage.ru_stime, os.waitstatus_to_exitcode(status), same, violations


def json_run(read):
    """One --json run whose standard output is read, or never read; (wall s, exit status, intact)."""
    save = os.path.join(work, "json-%s" % ("read" if read else "unread"))
    os.mkdir(save)
    sim = subprocess.Popen([zp3ksim, "--save-dir", save, "--quiet", "--runs", "1", "--max-time", "300"],
                           stdout=subprocess.PIPE, text=True)
    port = sim.stdout.readline().strip()
    out, into = os.pipe()

    def read_all():
        while os.read(out, 65536):
            pass

    reader = threading.Thread(target=read_all)
    start = time.monotonic()
    child = subprocess.Popen([imgload, "--json", "--port", port, image], stdout=into,
                             stderr=subprocess.DEVNULL)
    os.close(into)
    if read:
        reader.start()
    status = child.wait()
    wall = time.monotonic() - start
    if read:
        reader.join()
    os.close(out)
    sim.communicate(timeout=30)
    return wall, status, open(os.path.join(save, "image-1.bin"), "rb").read() == bytes(data)


if mode == "unread":
    read_wall, read_status, read_same = json_run(True)
    unread_wall, unread_status, unread_same = json_run(False)
    print("image: %d bytes, %d data requests at %d bit/s, --json" % (SIZE, blocks, SPEED))
    print("output read:       %.3f s, exit status %d, image received intact: %s" %
          (read_wall, read_status, "yes" if read_same else "NO"))
    print("output never read: %.3f s, exit status %d, image received intact: %s" %
          (unread_wall, unread_status, "yes" if unread_same else "NO"))
    print("ratio unread/read = %.3f" % (unread_wall / read_wall))
    sys.exit(0)

wall, cpu, status, same, violations = download(1)
print("image: %d bytes, %d data requests at %d bit/s" % (SIZE, blocks, SPEED))
print("imgload exit status: %d, image received intact: %s, simulator: %s" %
      (status, "yes" if same else "NO", violations[0]))
print("wire time of every frame: %.3f s; specified pauses: %.3f s" % (wire, pauses))
print("  (a countdown pause of N s lasts between N-1 and N s, so a run can come in under the minimum)")
print("measured: %.3f s; minimum: %.3f s" % (wall, minimum))
print("ratio measured/minimum = %.3f" % (wall / minimum))
print("imgload CPU time: %.3f s; CPU/wall = %.4f (goal at most 0.02)" % (cpu, cpu / wall))

GANG = 4
gang_wall, gang_cpu, status, same, violations = download(GANG)
print("%d ports at once: exit status %d, every image intact: %s, simulators: %s" %
      (GANG, status, "yes" if same else "NO", ", ".join(violations)))
print("measured: %.3f s; CPU time %.3f s, per port over the wall time = %.4f (goal at most 0.02)" %
      (gang_wall, gang_cpu, gang_cpu / GANG / gang_wall))
print("ratio gang/single = %.3f" % (gang_wall / wall))
PY

#!/usr/bin/env python3
"""End-to-end downloads over a real pseudo-terminal: the Linux imgload
against zp3ksim, one case per invocation.

usage: pty_download.py IMGLOAD ZP3KSIM CASE
Each case starts its own simulator, runs imgload, stops the simulator and
checks the exit status, the final text, the images the simulator saved and
its report (which must show no protocol violation unless the case says so).
"""
import fcntl
import hashlib
import json
import os
import re
import resource
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import termios
import threading
import time

IMGLOAD, ZP3KSIM, CASE = sys.argv[1], sys.argv[2], sys.argv[3]
EXAMPLE_JOB = os.path.realpath(os.path.join(os.path.dirname(__file__), "..", "..", "..", "examples",
                                            "production.toml"))

SUCCESS = "ダウンロード正常終了"
TIMEOUT = "通信エラー (タイムアウトエラー)"
DATA_ERROR = "通信エラー (受信データエラー)"
PORT_OPEN = "通信エラー (COMポートオープンエラー)"


def make_image(path, blocks, seed, base=0x8000, comment=b"pty"):
    """An image file as the converter writes it: header, 0xFF fill, checksum."""
    size = blocks * 2048
    data = bytearray(b"\xff" * size)
    for i in range(64, size, 3):
        data[i] = (i * seed + (i >> 8)) & 0xFF
    data[200] = 0x0D  # a CR inside the data
    struct.pack_into("<III", data, 0, 0x12345678, size - 12, 0)
    struct.pack_into("<II", data, 16, base, size)
    data[24], data[25] = 0x01, 0x00
    data[32:32 + len(comment) + 1] = comment + b"\x00"
    checksum = 0
    for (w,) in struct.iter_unpack("<I", bytes(data[12:])):
        checksum ^= w
    struct.pack_into("<I", data, 8, checksum)
    with open(path, "wb") as f:
        f.write(data)
    return bytes(data)


class Failure(Exception):
    pass


def expect(condition, what):
    if not condition:
        raise Failure(what)


class Simulator:
    def __init__(self, workdir, args, link=None):
        self.save = os.path.join(workdir, "received")
        os.mkdir(self.save)
        self.link = link or os.path.join(workdir, "ttySIM")
        self.proc = subprocess.Popen(
            [ZP3KSIM, "--link", self.link, "--save-dir", self.save, "--max-time", "150"] + args,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.device = self.proc.stdout.readline().strip()
        expect(self.device.startswith("/dev/"), "simulator gave no device: %r" % self.device)

    def stop(self):
        time.sleep(0.3)  # let it take in the last bytes
        self.proc.send_signal(signal.SIGTERM)
        out, err = self.proc.communicate(timeout=20)
        self.report = out
        self.errors = err
        self.status = self.proc.returncode
        return self

    def count(self, request):
        m = re.search(r"\b%s=(\d+)" % request, self.report)
        return int(m.group(1)) if m else -1

    def received(self, n):
        with open(os.path.join(self.save, "image-%d.bin" % n), "rb") as f:
            return f.read()

    def saved_count(self):
        return len(os.listdir(self.save))


def run_imgload(args, timeout=120, user=None):
    """Runs imgload (as user, when given, with that user's rights only)."""
    prefix = ["setpriv", "--reuid=" + user, "--regid=nogroup", "--clear-groups"] if user else []
    p = subprocess.run(prefix + [IMGLOAD] + args, capture_output=True, text=True, timeout=timeout)
    return p.returncode, p.stdout, p.stderr


def download(workdir, files, imgload_args=(), sim_args=(), violations=0):
    """Runs one download of (blocks, address) files; returns (status, what imgload
    wrote on standard output then standard error, sim, images)."""
    images = []
    args = []
    for n, (blocks, address) in enumerate(files, 1):
        path = os.path.join(workdir, "file%d.bin" % n)
        images.append(make_image(path, blocks, n + 2))
        args.append(path if address is None else "%s@%s" % (path, address))
    sim = Simulator(workdir, list(sim_args))
    status, out, err = run_imgload(["--port", sim.link] + list(imgload_args) + args)
    sim.stop()
    sys.stdout.write(out + err + sim.report + sim.errors)
    if violations == 0:
        expect(sim.status == 0 and "violations: 0" in sim.report,
               "the simulator reported protocol violations (status %d)" % sim.status)
    return status, out + err, sim, images


def check_success(status, out, sim, images, run_request=True, model_requests=1):
    expect(status == 0, "exit status %d, expected 0" % status)
    expect(SUCCESS in out, "no success text")
    expect(sim.saved_count() == len(images), "%d images saved" % sim.saved_count())
    for n, image in enumerate(images, 1):
        expect(sim.received(n) == image, "image %d differs from the file sent" % n)
    expect(sim.count("AD") == model_requests, "AD sent %d times" % sim.count("AD"))
    expect(sim.count("RUN") == (1 if run_request else 0), "RUN sent %d times" % sim.count("RUN"))


def check_failure(status, out, text, code):
    expect(status == code, "exit status %d, expected %d" % (status, code))
    expect(text in out, "missing text %r" % text)
    expect(SUCCESS not in out, "success text after a failure")


def case_one_file_115200_run(w):
    s, out, sim, images = download(w, [(4, None)])
    check_success(s, out, sim, images)
    expect("checksum 0x" in out and "verifies" in out, "no header summary")


def case_one_file_9600_norun(w):
    s, out, sim, images = download(w, [(1, None)], ["--speed", "9600", "--no-run"])
    check_success(s, out, sim, images, run_request=False)


def case_three_files_115200_run(w):
    s, out, sim, images = download(w, [(1, "0008000"), (2, "0100000"), (1, "0000000_A")])
    check_success(s, out, sim, images)
    expect(sim.count("EF") == 3 and sim.count("FG") == 3, "per-file requests")
    expect("start 00000000" in sim.report and "start 00100000" in sim.report, "addresses")


def case_three_files_9600_norun(w):
    s, out, sim, images = download(w, [(1, None), (1, "001F800"), (1, None)],
                                   ["--speed", "9600", "--no-run"])
    check_success(s, out, sim, images, run_request=False)


def case_three_files_57600_json(w):
    s, out, sim, images = download(w, [(1, None), (1, None), (1, None)],
                                   ["--speed", "57600", "--json"])
    check_success(s, out, sim, images)
    expect('"event":"end"' in out and '"exit_status":0' in out, "JSON end event")
    expect(out.count('"event":"file"') == 3, "JSON file events")


# A device that disappears in the blocks: each read fails at once, so the run
# ends with its text within the tries (a failed read lasts the 3 s read
# bound; about 4 s of the run come before "FG"), without spinning. What
# every other fault leads to is judged by the sequencer's campaign on the
# virtual clock.
def case_vanish_in_the_blocks(w):
    paths = [os.path.join(w, "file1.bin")]
    make_image(paths[0], 2, 3)
    sim = Simulator(w, ["--fault", "vanish@FD#3"])
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    status, out, err = run_imgload(["--port", sim.link] + paths)
    wall = time.monotonic() - started
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    sim.stop()
    sys.stdout.write(out + err + sim.report + sim.errors)
    print("imgload: %.1f s wall, %.3f s CPU (%.3f of the wall time)" % (wall, cpu, cpu / wall))
    expect(sim.status == 0 and "violations: 0" in sim.report, "protocol violations")
    check_failure(status, out, TIMEOUT, 5)
    expect(wall <= 4 + 3 + 5, "ended after %.1f s, at most %d s expected" % (wall, 4 + 3))
    expect(cpu < 0.25 * wall, "the run spun: %.2f s CPU in %.1f s" % (cpu, wall))
    expect(re.search("device vanished at", sim.report), "the simulator does not report the fault")
    expect("went away during the data request" in err, "the vanished device is not said to have gone away")
    expect(sim.saved_count() == 0, "an image was saved")


# Faults a correct downloader rides out on the real port: the run succeeds
# with the image whole and the simulator, judging what the downloader could
# read, reports no violation. A reply split over reads and one longer than
# the reply buffer are taken in and not asked for again. With a late tail
# (the second half of the first "AD" reply due after the downloader gave up
# on it and resent "AD", so that it arrives in the pause before "AB"), the
# trace shows the stale bytes dropped before "AB" and every reply read
# carries the code of its own request. The sequencer's campaign judges
# these faults on every request on the virtual clock.
# case: (faults, stale bytes dropped that the trace must show or None,
# requests counted by the simulator or None)
RIDDEN_OUT = {
    "split_and_long_replies": (["split@FG#1,4000", "long@AG#1,700", "slow@AB#1,20"], None,
                               {"AD": 1, "FG": 1, "AG": 1}),
    "late_model_tail_dropped": (["split@AD#1,3500"], 6, None),
}


def trace_exchanges(path):
    """(command sent, bytes of the reply read after it, its judgement) from a trace."""
    exchanges, sent, reply, judged = [], None, None, None
    with open(path) as f:
        for line in f:
            m = re.match(r"\s+[\d.]+ (sent (\w\w),|received \d+ bytes: (.*))", line)
            if m and m.group(2):
                sent, reply = m.group(2), None
            elif m:
                reply, judged = bytearray(), m.group(3)
                exchanges.append((sent, reply, judged))
            elif reply is not None and re.match(r"\s+[0-9A-F]{4} ", line):
                reply.extend(bytes.fromhex(line.split("|")[0].split(None, 1)[1]))
            else:
                reply = None
    return exchanges


def case_ridden_out(w, name):
    faults, dropped, counts = RIDDEN_OUT[name]
    trace = os.path.join(w, "trace.txt")
    sim_args = [a for fault in faults for a in ("--fault", fault)]
    s, out, sim, images = download(w, [(1, None)], ["--trace", trace], sim_args)
    check_success(s, out, sim, images, model_requests=sim.count("AD"))
    expect(sim.count("AD") <= 3, "AD sent %d times" % sim.count("AD"))
    for request, count in (counts or {}).items():
        expect(sim.count(request) == count, "%s sent %d times" % (request, sim.count(request)))
    if dropped is None:
        return
    with open(trace) as f:
        text = f.read()
    expect(re.search(r"discarded %d stale byte\(s\).*\n.* sent AB," % dropped, text),
           "no %d stale bytes dropped before AB in the trace" % dropped)
    for n, (command, reply, judged) in enumerate(trace_exchanges(trace)):
        code = reply[5:7].decode("ascii", "replace")
        own = "06" if command == "AB" else command  # "AB" answers with the mode
        if n == 0:  # the first half of the split reply, given up on
            expect(judged == "timed out" and len(reply) < 7, "first reply: %s" % judged)
        else:
            expect(judged == "ok" and code == own,
                   "reply %d to %s: %s, code %r" % (n, command, judged, code))


# Four controllers at once from one imgload: (the ports that fail, each with
# its fault, or None for a device that does not exist, and its exit status
# and text; the run's exit status; JSON or the summary table). Every other
# port must finish with the image unchanged. The run's status is that of the
# first failing port in the order given.
GANGS = {
    "four_ports": ({}, 0, False),
    "four_ports_two_fail": ({1: (None, 10, PORT_OPEN), 2: ("nak@FD#2", 9, DATA_ERROR)}, 10, True),
}


def case_gang(w, name):
    failing, code, as_json = GANGS[name]
    path = os.path.join(w, "gang.bin")
    image = make_image(path, 2, 7)
    sims, links = [], []
    for n in range(4):
        fault = failing.get(n, (None,))[0]
        if n in failing and fault is None:
            sims.append(None)
            links.append(os.path.join(w, "missing%d" % n))
            continue
        d = os.path.join(w, "p%d" % n)
        os.mkdir(d)
        sims.append(Simulator(d, ["--fault", fault] if fault else []))
        links.append(sims[-1].link)
    args = []
    for link in links:
        args += ["--port", link]
    status, out, err = run_imgload(args + (["--json"] if as_json else []) + [path])
    live = [sim for sim in sims if sim is not None]
    for sim in live:
        sim.stop()
    sys.stdout.write(out + err + "".join(s.report for s in live))
    expect(status == code, "exit status %d, expected %d" % (status, code))
    for sim in live:
        expect(sim.status == 0 and "violations: 0" in sim.report, "violations")
    if not as_json:
        for sim in live:
            expect(sim.received(1) == image, "an image differs")
            expect(re.search(r"^%s +\d+\.\ds  %s" % (re.escape(sim.link), SUCCESS), out, re.M),
                   "no summary line for %s" % sim.link)
        return
    ends = {e["port"]: e for e in (json.loads(line) for line in out.splitlines())
            if e["event"] == "end"}
    expect(sorted(ends) == sorted(links), "one end event per port")
    for n, link in enumerate(links):
        end = ends[link]
        if n in failing:
            _, port_code, text = failing[n]
            expect(end["exit_status"] == port_code and end["text"] == text.replace(" ", "\n", 1),
                   "port %d: %r" % (n, end))
            expect(sims[n] is None or sims[n].saved_count() == 0, "port %d saved an image" % n)
        else:
            expect(end["exit_status"] == 0 and sims[n].received(1) == image, "port %d: %r" % (n, end))
    summary = json.loads(out.splitlines()[-1])
    expect(summary["event"] == "summary" and summary["exit_status"] == code, "summary event")


TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
LOG_FIELDS = ["time_start", "time_end", "host", "port", "exit_status", "text", "gloss", "files",
              "model", "tool"]
TOOL = "imgload 1.1.0"


def read_log(path):
    """The production log's lines as objects; every line whole JSON."""
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [json.loads(line) for line in f.read().splitlines()]


def check_logged_files(entry, paths, addresses):
    """The files of a log line: path, size and SHA-256 of the bytes, header fields."""
    expect(len(entry["files"]) == len(paths), "%d files logged" % len(entry["files"]))
    for f, path, address in zip(entry["files"], paths, addresses):
        with open(path, "rb") as image:
            data = image.read()
        expect(f == {"path": path, "size": len(data), "sha256": hashlib.sha256(data).hexdigest(),
                     "version": "1.00", "comment": "pty", "start_address": address},
               "logged file %r" % f)


# --log over two runs of two ports, the second port's controller refusing
# every data request: four lines, each port's outcome, times, host, model,
# tool and the files' digests.
def case_log_two_runs_two_ports(w):
    paths = [os.path.join(w, "a.bin"), os.path.join(w, "b.bin")]
    make_image(paths[0], 2, 3)
    make_image(paths[1], 1, 4)
    log = os.path.join(w, "production.log")
    sims = []
    for n, fault in enumerate([[], ["--fault", "nak@FD"]]):
        d = os.path.join(w, "p%d" % n)
        os.mkdir(d)
        sims.append(Simulator(d, fault))
    links = [sim.link for sim in sims]
    for run in (1, 2):
        status, out, err = run_imgload(["--port", links[0], "--port", links[1], "--log", log,
                                        paths[0], paths[1] + "@0100000"])
        sys.stdout.write(out + err)
        expect(status == 9, "run %d: exit status %d, expected 9" % (run, status))
    for sim in sims:
        sim.stop()
        sys.stdout.write(sim.report + sim.errors)
        expect(sim.status == 0 and "violations: 0" in sim.report, "violations")
    lines = read_log(log)
    sys.stdout.write("".join(json.dumps(e, ensure_ascii=False) + "\n" for e in lines))
    expect(len(lines) == 4, "%d log lines, expected 4" % len(lines))
    for e in lines:
        expect(list(e) == LOG_FIELDS, "fields %r" % list(e))
        expect(TIME.match(e["time_start"]) and TIME.match(e["time_end"]) and
               e["time_start"] <= e["time_end"], "times %s %s" % (e["time_start"], e["time_end"]))
        expect(e["host"] == socket.gethostname() and e["tool"] == TOOL and e["model"] == "30",
               "host, tool, model: %r" % e)
        ok = e["port"] == links[0]
        expect(e["exit_status"] == (0 if ok else 9) and
               e["text"] == (SUCCESS if ok else DATA_ERROR.replace(" ", "\n", 1)) and e["gloss"],
               "outcome of %s: %r" % (e["port"], e))
        check_logged_files(e, paths, [0x8000, 0x100000])
    expect(sorted(e["port"] for e in lines) == sorted(links * 2), "two lines per port")
    expect(max(e["time_end"] for e in lines[:2]) <= min(e["time_start"] for e in lines[2:]),
           "the second run's lines follow the first's")


# Whole runs against a simulator that a job file, the image's own address or
# its checksum decide. Each case: the job file's text (written as
# job/job.toml and given with --job; None: no job), the words after it, the
# exit status, texts the output must hold, the images received in order as
# (file, start address), the speed after the speed change, whether the run
# request comes, files the run must leave (relative to the case's folder), and
# whether another program holds the port; a job's line.log must hold the run.
# {sim} is the simulator's device, {img} the folder of the images: boot.bin
# (base 0x8000), fw.bin (0x100000), zero.bin (0) and damaged.bin (base 0x8000,
# a byte changed after its checksum was made).
JOB_RUNS = {
    "job_file_every_key": dict(
        job='ports = ["{sim}"]\nspeed = 57600\nrun = false\nlog = "line.log"\n'
            'trace = "line.trace"\nrepeat = false\ncount = 1\nask_unit_id = false\n'
            'allow_bad_checksum = false\n'
            '[[files]]\npath = "../images/boot.bin"\naddress = "0009000"\n'
            '[[files]]\npath = "../images/fw.bin"  # no address: the header\'s base\n',
        received=[("boot.bin", 0x9000), ("fw.bin", 0x100000)], speed=57600, run_request=False,
        leaves=["job/line.log", "job/line.trace"]),
    "job_file_overridden": dict(
        job='ports = ["/dev/ttyNONE"]\nspeed = 57600\n[[files]]\npath = "missing.bin"\n',
        words=["--port", "{sim}", "--speed", "38400", "{img}/boot.bin@0110000"],
        received=[("boot.bin", 0x110000)], speed=38400),
    # The bases 0x100000 and 0x8000 as default addresses: job_file_every_key, damaged_image_allowed.
    "header_base_address": dict(words=["{img}/zero.bin"], received=[("zero.bin", 0)]),
    "damaged_image_refused": dict(
        words=["{img}/damaged.bin"], status=16,
        texts=["イメージファイルのチェックサムが一致しません。(No.1) [the image's checksum does not "
               "verify: convert it again]", "No.1: {img}/damaged.bin: the header's checksum is "
               "0x{header_checksum:08X}, the bytes give 0x{checksum:08X}"]),
    "damaged_image_allowed": dict(
        words=["--allow-bad-checksum", "{img}/damaged.bin"], received=[("damaged.bin", 0x8000)],
        texts=["warning: No.1: {img}/damaged.bin: the header's checksum is 0x{header_checksum:08X}"]),
    "dry_run_sends_nothing": dict(
        words=["--dry-run", "--no-run", "--speed", "38400", "{img}/fw.bin", "{img}/boot.bin@0100000"],
        texts=["{sim}: opens and closes at 9600 bit/s; would get at 38400 bit/s:\n"
               "  No.1 {img}/fw.bin -> 0100000  4096 bytes  version 1.00\n"
               "  No.2 {img}/boot.bin -> 0100000  2048 bytes  version 1.00\n"
               "  no run request\ndry run: nothing was sent\n",
               "warning: No.1 (0x100000..0x101000) and No.2 (0x100000..0x100800) overlap"]),
    "dry_run_json": dict(
        words=["--dry-run", "--json", "{img}/zero.bin"],
        texts=['{{"event":"dry_run","port":"{sim}","opens":true,"speed":115200,"run_request":true,'
               '"files":[{{"number":1,"path":"{img}/zero.bin","start_address":0,"size":2048,'
               '"version":"1.00"}}],"exit_status":0,']),
    "dry_run_port_held": dict(
        words=["--dry-run", "{img}/boot.bin"], status=10, held=True,
        texts=["通信エラー (COMポートオープンエラー) [communication error (COM port open error)]",
               "in use by"]),
}


def case_job_run(w, name):
    row = dict(job=None, words=[], status=0, texts=[], received=[], speed=115200,
               run_request=True, leaves=[], held=False)
    row.update(JOB_RUNS[name])
    img = os.path.join(w, "images")
    os.mkdir(img)
    images = {"boot.bin": make_image(os.path.join(img, "boot.bin"), 1, 1),
              "fw.bin": make_image(os.path.join(img, "fw.bin"), 2, 2, base=0x100000),
              "zero.bin": make_image(os.path.join(img, "zero.bin"), 1, 3, base=0)}
    damaged = bytearray(make_image(os.path.join(img, "damaged.bin"), 1, 4))
    header_checksum = struct.unpack_from("<I", damaged, 8)[0]
    damaged[1000] ^= 0x10
    with open(os.path.join(img, "damaged.bin"), "wb") as f:
        f.write(damaged)
    images["damaged.bin"] = bytes(damaged)
    sim = Simulator(w, [])
    lock = lock_path(sim.link)
    fill = dict(sim=sim.link, img=img, header_checksum=header_checksum,
                checksum=header_checksum ^ (0x10 << 8 * (1000 % 4)))
    words = [word.format(**fill) for word in row["words"]]
    if row["job"] is not None:
        os.mkdir(os.path.join(w, "job"))
        job = os.path.join(w, "job", "job.toml")
        with open(job, "w") as f:
            f.write(row["job"].replace("{sim}", sim.link))
        words = ["--job", job] + words
    elif "--port" not in words:
        words = ["--port", sim.link] + words
    holder = None
    if row["held"]:
        holder = os.open(sim.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
    status, out, err = run_imgload(words)
    if holder is not None:
        os.close(holder)
    sim.stop()
    sys.stdout.write(out + err + sim.report + sim.errors)
    expect(sim.status == 0 and "violations: 0" in sim.report, "protocol violations")
    expect(status == row["status"], "exit status %d, expected %d" % (status, row["status"]))
    for text in row["texts"]:
        text = text.format(**fill)
        expect(text in out + err, "no %r in the output" % text)
    check_job_received(sim, row, images)
    for left in row["leaves"]:
        expect(os.path.exists(os.path.join(w, left)), "no %s" % left)
    expect(not os.path.exists(lock), "the lock was left")
    if "job/line.log" in row["leaves"]:  # the job's files, named from its folder
        lines = read_log(os.path.join(w, "job", "line.log"))
        expect(len(lines) == 1 and lines[0]["exit_status"] == 0 and lines[0]["port"] == sim.link,
               "the log: %r" % lines)
        check_logged_files(lines[0], [os.path.join(w, "job", "../images", f) for f, _ in row["received"]],
                           [start for _, start in row["received"]])


def check_job_received(sim, row, images):
    """The images received whole at their addresses and speed, or nothing at all."""
    received = row["received"]
    expect(sim.saved_count() == len(received), "%d images saved" % sim.saved_count())
    if not received:
        expect(re.search(r"requests: AD=0 AA=0 AB=0 EF=0 FG=0 FD=0 FDEND=0 AG=0 RUN=0\n",
                         sim.report), "requests were sent")
        return
    starts = re.findall(r"file \d+: start ([0-9A-F]{8}) ", sim.report)
    expect(starts == ["%08X" % start for _, start in received], "received at %r" % starts)
    for n, (name, _) in enumerate(received, 1):
        expect(sim.received(n) == images[name], "%s arrived changed" % name)
    at_speed = "" if row["speed"] == 9600 else r" %dx\d+" % row["speed"]
    expect(re.search(r"speeds of requests: 9600x\d+%s\n" % at_speed, sim.report), "not at the speed")
    expect(sim.count("RUN") == (1 if row["run_request"] else 0), "RUN sent %d times" % sim.count("RUN"))


def case_port_in_use(w):
    make_image(os.path.join(w, "a.bin"), 1, 1)
    sim = Simulator(w, [])
    lock = lock_path(sim.link)
    holder = os.open(sim.link, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    fcntl.flock(holder, fcntl.LOCK_EX | fcntl.LOCK_NB)
    status, out, err = run_imgload(["--port", sim.link, os.path.join(w, "a.bin")])
    os.close(holder)
    sim.stop()
    sys.stdout.write(out + err + sim.report)
    check_failure(status, out, PORT_OPEN, 10)
    expect(sim.count("AD") == 0, "nothing sent")
    expect(not os.path.exists(lock), "the lock of a refused run was left")


# Stop requests while files go: (the files of 2 blocks, the signal, the
# file whose blocks have begun when it comes, exit status, the gloss after
# the success text, JSON events or lines). Files before and including that
# one arrive whole and no later one starts; the production log tells the
# same gloss and status.
STOPS = {
    "stop_during_first_of_three": (3, signal.SIGINT, 1, 3, "[stopped after file 1 of 3]", False),
    "stop_during_first_of_two": (2, signal.SIGHUP, 1, 3, "stopped after file 1 of 2", True),
    "stop_during_the_last_file": (2, signal.SIGTERM, 2, 0, "[download completed normally]", False),
}


def case_stop(w, name):
    count, sig, at, code, gloss, as_json = STOPS[name]
    paths = [os.path.join(w, "f%d.bin" % n) for n in range(1, count + 1)]
    images = [make_image(path, 2, n) for n, path in enumerate(paths, 1)]
    sim = Simulator(w, [])
    log = os.path.join(w, "run.log")
    p = subprocess.Popen([IMGLOAD, "--log", log, "--port", sim.link] + (["--json"] if as_json else []) + paths,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = []
    for line in p.stdout:
        lines.append(line)
        if (as_json and '"event":"file"' in line and '"number":%d' % at in line) or \
                (line.startswith("No.%d /" % at) and "->" not in line):  # its blocks begin
            p.send_signal(sig)
            break
    rest, err = p.communicate(timeout=60)
    out = "".join(lines) + rest
    sim.stop()
    sys.stdout.write(out + err + sim.report)
    expect(sim.status == 0 and "violations: 0" in sim.report, "protocol violations")
    expect(p.returncode == code, "exit status %d, expected %d" % (p.returncode, code))
    expect(SUCCESS in out and gloss in out, "no %r after the success text" % gloss)
    expect(sim.saved_count() == at and sim.count("FG") == at, "%d files sent" % sim.saved_count())
    for n in range(1, at + 1):
        expect(sim.received(n) == images[n - 1], "image %d differs from the file sent" % n)
    expect(sim.count("RUN") == 1, "RUN sent %d times" % sim.count("RUN"))
    expect("stop requested" in out, "no note of the stop request")
    logged = read_log(log)
    expect(len(logged) == 1 and logged[0]["exit_status"] == code and logged[0]["gloss"] == gloss.strip("[]"),
           "the log: %r" % logged)
    if as_json:
        end = [e for e in map(json.loads, out.splitlines()) if e["event"] == "end"][0]
        expect(end["exit_status"] == code and end["files_sent"] == at and end["gloss"] == gloss,
               "end event %r" % end)


def case_second_ctrl_c_ends_at_once(w):
    make_image(os.path.join(w, "a.bin"), 8, 1)
    sim = Simulator(w, ["--fault", "silent@FG"])
    log = os.path.join(w, "run.log")
    p = subprocess.Popen([IMGLOAD, "--log", log, "--port", sim.link, os.path.join(w, "a.bin")],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(4)  # waiting for the "FG" reply (60 s)
    p.send_signal(signal.SIGINT)
    time.sleep(0.3)
    p.send_signal(signal.SIGINT)
    out, err = p.communicate(timeout=10)
    sim.stop()
    sys.stdout.write(out + err + sim.report)
    expect(p.returncode == 130, "exit status %d, expected 130" % p.returncode)
    expect("run ended early" in sim.report, "the simulator saw no close")
    # The production log still records the run, as ended at once, with the
    # model "AD" was answered with.
    lines = read_log(log)
    expect(len(lines) == 1 and lines[0]["exit_status"] == 130 and lines[0]["port"] == sim.link and
           lines[0]["gloss"].startswith("ended at once") and lines[0]["model"] == "30",
           "the log: %r" % lines)
    check_logged_files(lines[0], [os.path.join(w, "a.bin")], [0x8000])


# Signals on a line nobody answers, set to settings of its own first: the
# line's settings as they were before the run once imgload has ended, both
# when a stop request lets the run end (a timeout, with one file) and when a
# second signal ends it at once. case: (signals, exit status)
LINE_RESTORED = {
    "sigterm_restores_the_line": ((signal.SIGTERM,), 5),
    "sighup_restores_the_line": ((signal.SIGHUP,), 5),
    "two_ctrl_c_restore_the_line": ((signal.SIGINT, signal.SIGINT), 130),
    "sigterm_then_sighup_restore_the_line": ((signal.SIGTERM, signal.SIGHUP), 129),
    "sighup_then_sigterm_restore_the_line": ((signal.SIGHUP, signal.SIGTERM), 143),
}


def stty(device, *settings):
    return subprocess.run(["stty", "-F", device] + list(settings), check=True,
                          capture_output=True, text=True).stdout.strip()


def case_line_restored(w, name):
    signals, code = LINE_RESTORED[name]
    make_image(os.path.join(w, "a.bin"), 1, 1)
    master, slave = os.openpty()
    device = os.ttyname(slave)
    os.close(slave)
    stty(device, "2400", "cstopb", "-echo", "-icanon", "min", "3", "time", "7")
    before = stty(device, "-g")
    p = subprocess.Popen([IMGLOAD, "--port", device, os.path.join(w, "a.bin")],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    for _ in range(100):  # until imgload has the line
        if stty(device, "-g") != before:
            break
        time.sleep(0.05)
    changed = stty(device, "-g") != before
    for sig in signals:
        p.send_signal(sig)
        time.sleep(0.3)
    out, err = p.communicate(timeout=60)
    after = stty(device, "-g")
    os.close(master)
    sys.stdout.write(out + err + "before %s\nafter  %s\n" % (before, after))
    expect(changed, "imgload never set the line")
    expect(p.returncode == code, "exit status %d, expected %d" % (p.returncode, code))
    expect(after == before, "the line's settings were not put back")


def case_output_closed_early(w):
    """imgload ... | head -1: the download goes on to its end."""
    paths = [os.path.join(w, "f%d.bin" % n) for n in (1, 2)]
    images = [make_image(path, 4, n) for n, path in enumerate(paths, 1)]
    sim = Simulator(w, [])
    p = subprocess.Popen([IMGLOAD, "--port", sim.link] + paths, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    first = p.stdout.readline()
    p.stdout.close()
    err = p.stderr.read()
    p.wait(timeout=60)
    sim.stop()
    sys.stdout.write(first + err + sim.report)
    check_success(p.returncode, SUCCESS, sim, images)


def lock_path(device):
    """The lock file of a device that exists (links resolved)."""
    real = os.path.realpath(device)
    expect(real.startswith("/dev/"), "no device behind %s" % device)
    return os.path.join(os.environ["ZP3K_LOCK_DIR"], "LCK.." + real[5:].replace("/", "_"))


def case_port_held_through_a_run(w):
    """A second imgload, tried every 250 ms from the first's first file to its
    end, is refused each time. The first is held still (SIGSTOP) while its
    lock file is looked at and a second tries, so that a lock seen is a lock
    held throughout the try."""
    path = os.path.join(w, "a.bin")
    image = make_image(path, 16, 1)
    sim = Simulator(w, [])
    with open(os.path.join(w, "out.txt"), "w") as out_file:
        p = subprocess.Popen([IMGLOAD, "--port", sim.link, path], stdout=out_file,
                             stderr=subprocess.PIPE, text=True)
    lock, refusals = lock_path(sim.link), []
    while p.poll() is None:
        p.send_signal(signal.SIGSTOP)
        with open(os.path.join(w, "out.txt")) as f:
            shown = f.read()
        started = re.search(r"^No\.1 /[^>]*$", shown, re.M)
        # From the first file on, the lock goes only after the run's end is shown.
        expect(not started or os.path.exists(lock) or SUCCESS in shown,
               "the lock was gone before the run ended:\n" + shown)
        if started and os.path.exists(lock):
            refusals.append(run_imgload(["--port", sim.link, path], timeout=20))
        p.send_signal(signal.SIGCONT)
        time.sleep(0.25)
    with open(os.path.join(w, "out.txt")) as f:
        out = f.read()
    sim.stop()
    sys.stdout.write(out + p.stderr.read() + sim.report + "%d tries\n" % len(refusals))
    expect(sim.status == 0 and "violations: 0" in sim.report, "protocol violations")
    check_success(p.returncode, out, sim, [image])
    expect(len(refusals) >= 10, "only %d tries during the run" % len(refusals))
    for status, _, err in refusals:
        expect(status == 10, "a second imgload exited %d, expected 10: %s" % (status, err))
        named = re.search(r"in use by process (\d+)", err)
        expect(named is not None and int(named.group(1)) == p.pid, "the holder named: %s" % err)
    expect(not os.path.exists(lock), "the lock outlived the run")


def case_stale_lock_taken_over(w):
    dead = subprocess.Popen(["true"])
    dead.wait()
    path = os.path.join(w, "a.bin")
    image = make_image(path, 1, 1)
    sim = Simulator(w, [])
    lock = lock_path(sim.link)
    with open(lock, "w") as f:
        f.write("%10d\n" % dead.pid)
    status, out, err = run_imgload(["--port", sim.link, path])
    sim.stop()
    sys.stdout.write(out + err + sim.report)
    check_success(status, out, sim, [image])
    expect(not os.path.exists(lock), "the lock file was left")


def case_job_checks(w):
    make_image(os.path.join(w, "ok.bin"), 1, 1)
    make_image(os.path.join(w, "base0.bin"), 1, 2, base=0)
    with open(os.path.join(w, "odd.bin"), "wb") as f:
        f.write(b"\xff" * 3000)
    with open(os.path.join(w, "huge.bin"), "wb") as f:
        f.truncate((1 << 32) + 2048)  # sparse: 4 GiB + 2 KiB, 2 KiB when cut to 32 bits
    os.mkfifo(os.path.join(w, "fifo.bin"))
    srecord_file(os.path.join(w, "fw.hex"), 0x8000, bytes(100))
    with open(os.path.join(w, "plain.txt"), "w") as f:
        f.write("no serial device\n")
    with open(os.path.join(w, "bare.bin"), "wb") as f:
        f.write(bytes(2048))  # no image header
    damaged = bytearray(make_image(os.path.join(w, "damaged.bin"), 1, 5))
    damaged[1500] ^= 1
    with open(os.path.join(w, "damaged.bin"), "wb") as f:
        f.write(damaged)
    jobs = os.path.join(w, "jobs")
    os.mkdir(jobs)
    syntax, missing_job = os.path.join(jobs, "syntax.toml"), os.path.join(jobs, "missing.toml")
    with open(syntax, "w") as f:
        f.write('# a job\nspeed = 9600\nrun = tru\n')
    with open(missing_job, "w") as f:
        f.write('[[files]]\npath = "missing.bin"\n')
    # A terminal this user may not open: a pseudo-terminal kept by root.
    _, slave = os.openpty()
    locked = os.ttyname(slave)
    os.chmod(locked, 0o600)
    os.chmod(w, 0o755)
    ok, null = os.path.join(w, "ok.bin"), "/dev/null"
    # (port, files and options, exit status, texts standard output and error
    # must hold, a text they must not, the user who runs imgload or None)
    log = os.path.join(w, "job.log")
    cases = [
        (null, ["--version"], 0, ["imgload 1.1.0\n"], None, None),
        (null, ["--bogus", ok], 64, ["see imgload --help"], None, None),
        (null, ["--log", os.path.join(w, "no", "such.log"), ok], 64, ["log file"], None, None),
        (null, [ok, os.path.join(w, "noextension")], 11, ["(No.2)"], None, None),
        (null, [ok + "@0008001"], 12, ["(No.1)", "seven hexadecimal digits, 0008000-001F800"],
         "did you mean", None),
        (null, [ok + "@0x100000"], 12, ['No.1: address "0x100000" is not accepted',
                                        "; did you mean 0100000?"], None, None),
        (null, [os.path.join(w, "missing.bin")], 13,
         ["(No.1)", "imgload: cannot open %s/missing.bin: No such file or directory" % w], None, None),
        # Job files: an error named by file, line and column; a file of the
        # job found from the job's folder.
        (null, ["--job", syntax], 64, ["imgload: %s:3:10: Error while parsing boolean" % syntax,
                                         "see imgload --help"], None, None),
        (null, ["--job", missing_job], 13,
         ["(No.1)", "imgload: cannot open %s/jobs/missing.bin: No such file or directory" % w], None, None),
        (null, ["--ask-unit-id", ok], 64, ["--ask-unit-id (ask_unit_id) needs --repeat"], None, None),
        # The shipped example, its port and log replaced on the command line.
        (null, ["--job", EXAMPLE_JOB, "--dry-run"], 10,
         ["No.1 %s/demo.bin -> 0100000\n" % os.path.dirname(EXAMPLE_JOB), "dry run: nothing was sent"],
         "warning", None),
        # The header's base as the address; a header that does not verify.
        (null, [os.path.join(w, "bare.bin")], 12,
         ["(No.1)", "bare.bin has no image header, so no address of its own: give it as FILE@ADDRESS"],
         None, None),
        (null, [ok, os.path.join(w, "damaged.bin")], 16,
         ["イメージファイルのチェックサムが一致しません。(No.2) [the image's checksum does not verify: "
          "convert it again]", "damaged.bin: the header's checksum is 0x"], "DOES NOT VERIFY", None),
        # A dry run refuses as a run does, and logs nothing.
        (null, ["--dry-run", ok + "@0008001"], 12, ["(No.1)", 'No.1: address "0008001" is not accepted'],
         "dry run", None),
        (null, ["--dry-run", ok], 10, ["/dev/null: 通信エラー (COMポートオープンエラー)",
                                       "/dev/null: Inappropriate ioctl for device: not a serial device",
                                       "dry run: nothing was sent"], None, None),
        (null, [ok, os.path.join(w, "fifo.bin")], 13, ["(No.2)", "fifo.bin: not a regular file"],
         None, None),
        (null, [ok, ok, os.path.join(w, "odd.bin")], 14, ["(No.3)"], "S-record", None),
        (null, [os.path.join(w, "huge.bin")], 14, ["(No.1)"], None, None),
        (null, [os.path.join(w, "fw.hex")], 14,
         ["(No.1)", "fw.hex is an S-record file: convert it with imgconv first"], None, None),
        # Past the checks: the port's own reason and what to do about it.
        (os.path.join(w, "plain.txt"), [ok], 10,
         ["plain.txt: Inappropriate ioctl for device: not a serial device"], "warning", None),
        (os.path.join(w, "ttyGONE"), [ok], 10,
         ["ttyGONE: No such file or directory: see imgload --list-ports"], None, None),
        (locked, [ok], 10, [locked + ": Permission denied: add your user to the dialout group"],
         None, "nobody"),
        # Warnings, and the run goes on (to the port that does not open).
        (null, [ok + "@0100000", ok, ok], 10,
         ["warning: No.1: the image's base address 0x008000 differs from the download address "
          "0x100000", "warning: No.2 (0x008000..0x008800) and No.3 (0x008000..0x008800) overlap"],
         "No.2: the image's base", None),
        (null, ["--json", os.path.join(w, "base0.bin@0000000_A"), ok + "@0000000_A"], 10,
         ['"kind":"base_address","row":2,"text":"No.2: the image\'s base address 0x008000 differs '
          'from the download address 0x000000 (0000000_A)"', '"kind":"overlap","row":1,"other_row":2',
          '"detail":"/dev/null: Inappropriate ioctl for device","hint":"not a serial device"'],
         '"row":1,"text":"No.1: the image', None),
        # A log or trace that is no file is refused at once, never waited for.
        (null, ["--log", os.path.join(w, "fifo.bin"), ok], 64,
         ["imgload: cannot use %s/fifo.bin as the log: it is a FIFO" % w], None, None),
        (null, ["--trace", os.path.join(w, "fifo.bin"), ok], 64,
         ["imgload: cannot use %s/fifo.bin as the trace: it is a FIFO" % w], None, None),
        (null, ["--log", w, ok], 64, ["imgload: cannot use %s as the log: it is a folder" % w],
         None, None),
        (null, ["--trace", "/dev/full", ok], 64,
         ["imgload: cannot use /dev/full as the trace: it is a device"], None, None),
        (null, ["--log", os.path.join(w, "no", "such.log"), ok], 64,
         ["imgload: cannot open the log file: %s/no/such.log: No such file or directory" % w],
         None, None),
    ]
    logged = 0
    for port, args, code, texts, absent, user in cases:
        # Refused before the port: /dev/null is no controller. The timeout
        # only guards against a hang (a FIFO held in open()). Another user
        # could not append to this folder's log: that run keeps none.
        logging = ["--log", log] if user is None else []
        status, out, err = run_imgload(["--port", port] + logging + args, timeout=20, user=user)
        sys.stdout.write(out + err)
        expect(status == code, "%s: exit %d, expected %d" % (args, status, code))
        for text in texts:
            expect(text in out + err, "%s: no %s in %r" % (args, text, out + err))
        expect(absent is None or absent not in out + err, "%s: %s shown" % (args, absent))
        # Each port that ran, or each port of a refused job, logs one line;
        # a refused job's has no model and the rows checked before the refused one.
        lines = read_log(log)[logged:]
        logged += len(lines)
        if not logging or code not in (10, 11, 12, 13, 14, 16) or "--dry-run" in args:
            expect(lines == [], "%s: logged %r" % (args, lines))
            continue
        expect([e["port"] for e in lines] == [port], "%s: %r" % (args, lines))
        expect(all(e["exit_status"] == code and e["tool"] == TOOL for e in lines), "%r" % lines)
        if code == 10:
            continue
        for e in lines:
            refused = re.search(r"\(No\.(\d)\)$", e["text"])
            expect(refused and refused.group(0) in out + err and e["model"] is None,
                   "%s: %r" % (args, e))
            row = int(refused.group(1))
            check_logged_files(e, [ok] * (row - 1), [0x8000] * (row - 1))


def srecord_file(path, base, data):
    """S3 records of 32 data bytes each and an S7 end, as a converter's source."""
    with open(path, "w") as f:
        for off in range(0, len(data), 32):
            body = bytes([len(data[off:off + 32]) + 5]) + (base + off).to_bytes(4, "big") + \
                data[off:off + 32]
            f.write("S3%s%02X\n" % (body.hex().upper(), ~sum(body) & 0xFF))
        f.write("S70500000000FA\n")


def rewrite_by_cp(w, path):
    other = os.path.join(w, "other.bin")
    make_image(other, 16, 99)
    subprocess.run(["cp", other, path], check=True)  # in place: truncate, then write


def rewrite_by_imgconv(w, path):
    source = os.path.join(w, "new.hex")
    srecord_file(source, 0x8000, bytes((i * 31 + 7) & 0xFF for i in range(16 * 2048)))
    name = os.path.splitext(os.path.basename(path))[0]
    subprocess.run([os.environ["IMGCONV"], "-S", source, "-D", name, "-V", "2.00"],
                   cwd=os.path.dirname(path), check=True, stdout=subprocess.DEVNULL)


REWRITES = {"image_rewritten_by_cp": rewrite_by_cp,
            "image_rewritten_by_imgconv": rewrite_by_imgconv}


def case_image_rewritten(w, name):
    """The image file replaced in the middle of its blocks: the controller gets
    the bytes that were checked, whole."""
    path = os.path.join(w, "fw.bin")
    image = make_image(path, 16, 5)
    sim = Simulator(w, [])
    p = subprocess.Popen([IMGLOAD, "--json", "--port", sim.link, path],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = []
    rewritten = False
    for line in p.stdout:
        lines.append(line)
        if not rewritten and '"blocks_sent":20,' in line:  # 20 of 64 data requests
            REWRITES[name](w, path)
            rewritten = True
    rest, err = p.communicate(timeout=60)
    out = "".join(lines) + rest
    sim.stop()
    sys.stdout.write(out + err + sim.report)
    expect(rewritten, "the file was not rewritten during its blocks")
    with open(path, "rb") as f:
        expect(f.read() != image, "the rewrite left the file as it was")
    expect(sim.status == 0 and "violations: 0" in sim.report, "protocol violations")
    check_success(p.returncode, out, sim, [image])


def case_simulator_flags_a_broken_downloader(w):
    """The simulator's checks can fail: a hand-made broken downloader."""
    sim = Simulator(w, [])
    fd = os.open(sim.link, os.O_RDWR | os.O_NOCTTY)
    t = termios.tcgetattr(fd)
    t[0] = t[1] = t[3] = 0
    t[4] = t[5] = termios.B9600
    termios.tcsetattr(fd, termios.TCSANOW, t)
    os.write(fd, b"\x0500FFAD99\r")         # wrong BCC
    time.sleep(0.2)
    body = b"\x0500FFFG0000800000000800"
    bcc = 0
    for b in body:
        bcc ^= b
    os.write(fd, body + b"%02X\r" % bcc)  # a correct "FG", but before "AD"
    time.sleep(0.3)
    os.close(fd)
    sim.stop()
    sys.stdout.write(sim.report + sim.errors)
    expect(sim.status == 1, "simulator exit %d, expected 1" % sim.status)
    expect("BCC" in sim.report and "\"FG\"" in sim.report, "violations not named")


# Runs in a row against one simulator, each started 0, 0.2 or 1 s after the
# last ended, every other one without the run request, so that each gap comes
# after a run with it and after one without: the simulator sees every close
# and reopening, whatever the gap, so each run is judged on its own; every
# image arrives whole and the report counts six runs ended, three each way.
GAPS = (0, 0.2, 1, 0, 0.2, 1)  # seconds after each run


def case_six_runs_in_a_row(w):
    paths = [os.path.join(w, "f%d.bin" % n) for n in range(1, len(GAPS) + 1)]
    images = [make_image(path, 1, n) for n, path in enumerate(paths, 1)]
    sim = Simulator(w, [])
    outcomes = []
    for n, (path, gap) in enumerate(zip(paths, GAPS)):
        outcomes.append(run_imgload(["--port", sim.link] + (["--no-run"] if n % 2 else []) + [path]))
        time.sleep(gap)
    sim.stop()
    sys.stdout.write("".join(out + err for _, out, err in outcomes) + sim.report + sim.errors)
    expect(sim.status == 0 and "violations: 0" in sim.report,
           "the simulator reported protocol violations (status %d)" % sim.status)
    for n, (status, out, _) in enumerate(outcomes, 1):
        expect(status == 0 and SUCCESS in out, "run %d: exit status %d" % (n, status))
    expect("runs ended: %d\n" % len(GAPS) in sim.report, "not %d runs ended" % len(GAPS))
    for how in ("with the run request", "after the last file, without run request"):
        expect(sim.report.count("run ended " + how) == len(GAPS) // 2, "not %d runs ended %s" % (len(GAPS) // 2, how))
    expect(sim.saved_count() == len(images), "%d images saved" % sim.saved_count())
    for n, image in enumerate(images, 1):
        expect(sim.received(n) == image, "image %d differs from the file sent" % n)
    expect(sim.count("AD") == len(GAPS), "AD sent %d times" % sim.count("AD"))


# Boards in turn on one line: zp3ksim --boards N --swap 1 and one plain
# imgload run per board, each started as soon as the last has ended. A run
# that starts while the line is silent (the swap time after a run request,
# or after the "AD" with which it asked for the next board) waits: its first
# "AD" goes unanswered, a retry a second or more later finds the next board.
# The simulator ends on its own once the last board's run has ended. case:
# (imgload options, boards, faults, each run's exit status, how each
# board's turn ended)
NEXT_BOARD = "the downloader asked for the next board"
BOARDS = {
    "boards_in_turn": ([], 3, ["2:nak@FD#2"], [0, 9, 0],
                       ["its run ended with the run request", NEXT_BOARD,
                        "its run ended with the run request"]),
    "boards_in_turn_no_run": (["--no-run"], 2, [], [0, 0],
                              [NEXT_BOARD, "the line stayed closed after its run"]),
}


def case_boards(w, name):
    args, boards, faults, codes, turns = BOARDS[name]
    path = os.path.join(w, "board.bin")
    image = make_image(path, 1, 9)
    sim = Simulator(w, ["--boards", str(boards), "--swap", "1"] +
                    [a for fault in faults for a in ("--fault", fault)])
    outcomes = [run_imgload(["--port", sim.link] + args + [path]) for _ in codes]
    try:
        sim.report, sim.errors = sim.proc.communicate(timeout=30)  # it ends on its own
    except subprocess.TimeoutExpired:
        sim.stop()
        sys.stdout.write(sim.report + sim.errors)
        raise Failure("the simulator did not end after the last board")
    sys.stdout.write("".join(out + err for _, out, err in outcomes) + sim.report + sim.errors)
    expect(sim.proc.returncode == 0 and "violations: 0" in sim.report,
           "simulator exit %d, or violations" % sim.proc.returncode)
    expect("served: %d of %d" % (boards, boards) in sim.report, "not every board served")
    for k, (code, turn) in enumerate(zip(codes, turns), 1):
        expect(outcomes[k - 1][0] == code, "run %d: exit status %d, expected %d" %
               (k, outcomes[k - 1][0], code))
        expect("board %d: served, %s" % (k, turn) in sim.report, "board %d's turn" % k)
        saved = os.path.join(sim.save, "board-%d" % k, "image-1.bin")
        if code != 0:
            expect(not os.path.exists(saved), "board %d saved an image" % k)
            continue
        with open(saved, "rb") as f:
            expect(f.read() == image, "board %d's image differs from the file sent" % k)
    ignored = re.search(r"requests ignored while no board answered: (\d+)", sim.report)
    expect(ignored and int(ignored.group(1)) >= boards - 1, "no request went unanswered")


# Output nobody reads: imgload --json into a pipe never read, a 2 MiB image
# at the simulator's fastest (so that the events fill the pipe in the first
# blocks). The download goes on at the controller's pace and ends; what the
# output lost is counted on standard error; stop signals are served at once,
# the line's settings put back. case: (signals sent once the pipe is full,
# the exit status, seconds each write to the log waits or None for no log)
UNREAD_OUTPUT = {
    "json_into_unread_pipe": ((), 0, None),
    "two_sigterms_into_unread_pipe": ((signal.SIGTERM, signal.SIGTERM), 143, None),
    "slow_log_into_unread_pipe": ((), 0, 30),
}


def pipe_is_full(fd):
    """Full for a writer of whole events: less than a page left."""
    capacity = fcntl.fcntl(fd, 1032)  # F_GETPIPE_SZ
    held = struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"))[0]
    return held > capacity - 4096


def pipe_contents(fd):
    os.set_blocking(fd, False)
    data = b""
    try:
        while True:
            chunk = os.read(fd, 65536)
            if not chunk:
                break
            data += chunk
    except BlockingIOError:
        pass
    return data.decode("utf-8")


def case_unread_output(w, name):
    signals, code, slow_seconds = UNREAD_OUTPUT[name]
    path = os.path.join(w, "big.bin")
    image = make_image(path, 1024, 9)
    log = os.path.join(os.path.realpath(w), "run.log")
    sim = Simulator(w, ["--no-pace"])
    before = stty(sim.link, "-g")  # what the line is whenever imgload opens it
    env = dict(os.environ)
    args = [IMGLOAD, "--json", "--port", sim.link, path]
    if slow_seconds:
        args[1:1] = ["--log", log]
        env.update(LD_PRELOAD=os.environ["ZP3K_SLOW_WRITE"], ZP3K_SLOW_WRITE_PATH=log,
                   ZP3K_SLOW_WRITE_SECONDS=str(slow_seconds))
    unread, write_end = os.pipe()
    started = time.monotonic()
    p = subprocess.Popen(args, stdout=write_end, stderr=subprocess.PIPE, text=True, env=env)
    os.close(write_end)
    changed = False
    if signals:
        while p.poll() is None and not pipe_is_full(unread):
            time.sleep(0.05)
        expect(p.poll() is None, "the run ended before its output filled the pipe")
        sim.proc.send_signal(signal.SIGSTOP)  # the line stays as imgload leaves it
        changed = stty(sim.link, "-g") != before
        for sig in signals:
            p.send_signal(sig)
            time.sleep(0.3)
    try:
        err = p.communicate(timeout=60)[1]
    except subprocess.TimeoutExpired:
        p.kill()
        raise Failure("imgload did not end: " + p.communicate()[1][-3000:])
    wall = time.monotonic() - started
    shown = pipe_contents(unread)
    os.close(unread)
    after = stty(sim.link, "-g")
    sim.proc.send_signal(signal.SIGCONT)
    sim.stop()
    sys.stdout.write(err + sim.report + sim.errors + "imgload: %.1f s\n" % wall)
    expect(p.returncode == code, "exit status %d, expected %d" % (p.returncode, code))
    # What reached the pipe is whole events only, never half a line.
    events = [json.loads(line) for line in shown.splitlines()]
    expect(shown.endswith("\n") and events, "the pipe holds no whole events")
    if signals:
        expect(changed, "imgload never set the line")
        expect(after == before, "the line's settings were not put back:\n%s\n%s" % (before, after))
        return
    expect(sim.status == 0 and "violations: 0" in sim.report, "protocol violations")
    expect(sim.received(1) == image, "the image differs from the file sent")
    dropped = re.search(r"^imgload: (\d+) line\(s\) of output dropped", err, re.M)
    expect(dropped and int(dropped.group(1)) > 0, "no count of the lines dropped")
    if slow_seconds:
        # The run did not wait for the log: its line is on standard error, whole.
        expect(re.search(r"^imgload: 1 log line\(s\) not written to %s in time" % re.escape(log),
                         err, re.M), "the late log line is not reported")
        lines = [json.loads(line) for line in err.splitlines() if line.startswith("{")]
        expect(len(lines) == 1 and lines[0]["port"] == sim.link and lines[0]["exit_status"] == 0
               and lines[0]["model"] == "30", "the log line on standard error: %r" % lines)
        check_logged_files(lines[0], [path], [0x8000])
        expect(read_log(log) == [], "the log was written after all")


def case_trace_cannot_be_written(w):
    """A trace file that fills up (a file size limit, as a full disk): the run
    goes on to its end with its own status, warned about at its end."""
    path = os.path.join(w, "a.bin")
    image = make_image(path, 4, 1)
    trace = os.path.join(w, "trace.txt")
    sim = Simulator(w, [])

    def limited():
        resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past the limit fails instead

    p = subprocess.run([IMGLOAD, "--json", "--trace", trace, "--port", sim.link, path],
                       capture_output=True, text=True, timeout=120, preexec_fn=limited)
    sim.stop()
    sys.stdout.write(p.stdout + p.stderr + sim.report)
    check_success(p.returncode, p.stdout, sim, [image])
    warnings = [e for e in map(json.loads, p.stdout.splitlines()) if e["event"] == "warning"]
    expect(len(warnings) == 1 and warnings[0]["kind"] == "trace" and
           "File too large" in warnings[0]["text"], "warning events %r" % warnings)
    last = [line for line in p.stderr.splitlines() if line.startswith("imgload: warning:")]
    expect(last and "the trace file %s could not be written" % trace in last[-1],
           "no warning line at the end")
    expect(os.path.getsize(trace) <= 4096, "the trace grew past the limit")


# What a run of one file shows on standard output and error: -q (the last
# line only), -v (the trace's lines on standard error, as --trace writes
# them), the transfer notice, once although "AD" is sent three times when
# nothing answers, and a file whose name is not UTF-8 and whose comment
# holds terminal escapes: shown escaped, in valid UTF-8 JSON and log lines.
# case: (options ({log}: the log's path), simulator options, exit status,
# the lines of standard output or None, {text: times in standard output},
# texts standard error must hold[, (file name, comment)])
NOTICE = "データ転送中 電源を切らないでください!"
HOSTILE = (b"bad\xffname.bin", b"\x1b]0;owned\x07\x1b[2J")
SHOWN = {
    "quiet_shows_the_last_line": (["-q"], [], 0, [SUCCESS + " [download completed normally]"], {},
                                  []),
    "verbose_traces_on_standard_error": (["-v"], [], 0, None,
                                         {SUCCESS: 1, NOTICE: 1, "bad\\xffname.bin": 2,
                                          "\\x1b]0;owned\\x07\\x1b[2J": 1},
                                         ["open %s at 9600 bit/s: ok", "sent AD, 10 bytes",
                                          "sent FD, 530 bytes", "received 10 bytes: ok"], HOSTILE),
    "transfer_notice_once_while_nothing_answers": ([], ["--fault", "silent@AD"], 5, None,
                                                   {NOTICE: 1, TIMEOUT: 1}, []),
    "hostile_name_in_json_and_log": (["--json", "--log", "{log}"], [], 0, None,
                                     {"bad\\ufffdname.bin": 2, "\\u001b]0;owned\\u0007": 1}, [], HOSTILE),
}


def case_shown(w, name):
    options, sim_args, code, lines, counts, errors = SHOWN[name][:6]
    file_name, comment = (SHOWN[name][6:] or [(b"a.bin", b"pty")])[0]
    path = os.path.join(os.fsencode(w), file_name)
    image = make_image(path, 2, 1, comment=comment)
    log = os.path.join(w, "run.log")
    sim = Simulator(w, sim_args)
    options = [o.replace("{log}", log) for o in options]
    p = subprocess.run([IMGLOAD] + options + ["--port", sim.link, path], capture_output=True, timeout=120)
    # Every byte shown is UTF-8 (strict), and no control character of a
    # file's name or comment reaches the terminal raw.
    status, out, err = p.returncode, p.stdout.decode("utf-8"), p.stderr.decode("utf-8")
    expect(b"\x1b" not in p.stdout + p.stderr, "an escape byte reached the terminal")
    if "--json" in options:
        events = [json.loads(line) for line in out.splitlines()]
        expect(events[-1]["event"] == "end", "the JSON lines end with the end event")
    for entry in read_log(log):
        expect(bytes.fromhex(entry["files"][0].get("path_hex", path.hex())) == path,
               "the log names the file's exact bytes")
    expect(not os.path.exists(log) or len(read_log(log)) == 1, "one log line")
    sim.stop()
    sys.stdout.write(out + err + sim.report)
    expect(status == code, "exit status %d, expected %d" % (status, code))
    if code == 0:
        expect(sim.received(1) == image, "the image differs from the file sent")
    if lines is not None:
        expect(out.splitlines() == lines, "standard output: %r" % out)
    for text, times in counts.items():
        expect(out.count(text) == times, "%r shown %d times" % (text, out.count(text)))
    for text in errors:
        text = text % sim.link if "%s" in text else text
        expect(text in err, "no %r on standard error" % text)
    expect("sent AD" not in out, "trace lines on standard output")


# The production loop, imgload --repeat --log, against boards in turn
# (zp3ksim --boards, --swap 1) on each port, images of one block at 115200
# bit/s. A port is a list of simulators started one after another on its
# link, each once the last has ended (the port vanishes between boards and
# comes back), or None for a line nobody answers (a fixed cable, no board).
# Each board gets one line (PASS or FAIL, its unit 1, 2, ... on its port)
# and one log line with its unit and unit id; an image arrives whole on each
# board that passed, nothing on one that failed, the first file of two on
# one stopped during its first. case: (ports, imgload options, the unit ids
# on standard input or None, when Ctrl-C comes (None: never; "file": when
# the first port's first file begins; "waiting": when a port waits after
# the last board), the exit status, each port's boards' exit statuses, the
# unit ids the boards get)
LOOPS = {
    # The unit ids as a scanner types them: a blank line skipped, blanks around one dropped.
    "loop_four_boards": ([[["--boards", "4", "--fault", "3:nak@FD#2"]]], ["--count", "4", "--ask-unit-id"],
                         "SN-0001\n\n  SN 0002 \nSN-0003\nSN-0004\n", None, 9, [[0, 0, 9, 0]],
                         ["SN-0001", "SN 0002", "SN-0003", "SN-0004"]),
    "loop_port_vanishes": ([[["--boards", "1"]] * 2 + [["--boards", "1", "--fault", "nak@FD#2"]] +
                            [["--boards", "1"]]], ["--count", "4"], None, None, 9, [[0, 0, 9, 0]], None),
    "loop_two_ports_stopped_while_waiting": ([[["--boards", "2"]], [["--boards", "1"]]], [], None,
                                             "waiting", 0, [[0, 0], [0]], None),
    "loop_stopped_during_a_board": ([[["--boards", "2"]], None], ["--no-run"], None, "file", 3,
                                    [[3], []], None),
}
BOARD_LINE = re.compile(r"^(PASS|FAIL)  (\S+)  unit (\d+)(?: \(id ([^)]*)\))?  ")


def start_loop_port(w, n, sims):
    """The port's link, its first simulator (or the pty master of a line
    nobody answers) and the folders of its simulators."""
    link = os.path.join(w, "port%d" % n)
    if sims is None:
        master, slave = os.openpty()
        os.symlink(os.ttyname(slave), link)
        os.close(slave)
        return link, master, []
    dirs = [os.path.join(w, "p%d-%d" % (n, k)) for k in range(len(sims))]
    os.mkdir(dirs[0])
    return link, Simulator(dirs[0], sims[0] + ["--swap", "1"], link), dirs


def next_simulators(ports, started):
    """The next simulator of a vanishing port, once its last has ended."""
    for n, (sims, (link, first, dirs)) in enumerate(ports):
        if sims is None or started[n][-1].proc.poll() is None or len(started[n]) == len(sims):
            continue
        started[n][-1].report, started[n][-1].errors = started[n][-1].proc.communicate()
        time.sleep(0.3)
        k = len(started[n])
        os.mkdir(dirs[k])
        started[n].append(Simulator(dirs[k], sims[k] + ["--swap", "1"], link))


def watch_loop(p, ports, started, stop_at, links, total):
    """imgload's standard output, with Ctrl-C when stop_at says (total: the
    boards of every port), read on a thread while the next simulators start."""
    queue = []
    reader = threading.Thread(target=lambda: queue.extend(iter(p.stdout.readline, "")) or
                              queue.append(None))
    reader.start()
    lines, boards, stopped = [], 0, False
    give_up = time.monotonic() + 100  # a loop that never ends is a failure, not a hang
    while True:
        next_simulators(ports, started)
        if time.monotonic() > give_up and p.poll() is None:
            p.kill()
            lines.append("(imgload killed: the loop did not end)\n")
        if not queue:
            time.sleep(0.05)
            continue
        line = queue.pop(0)
        if line is None:
            reader.join()
            return "".join(lines)
        lines.append(line)
        boards += 1 if BOARD_LINE.match(line) else 0
        begun = stop_at == "file" and line.startswith("[%s] No.1 /" % links[0])
        waiting = stop_at == "waiting" and boards == total and "waiting for a board" in line
        if (begun or waiting) and not stopped:
            p.send_signal(signal.SIGINT)
            stopped = True


def end_loop_simulators(started):
    """Those that end on their own once their last board is served, the others stopped."""
    for sims in started:
        for sim in sims:
            if hasattr(sim, "report"):
                continue
            try:
                sim.report, sim.errors = sim.proc.communicate(timeout=3)
            except subprocess.TimeoutExpired:
                sim.stop()


def case_loop(w, name):
    ports, options, ids, stop_at, code, statuses, unit_ids = LOOPS[name]
    paths = [os.path.join(w, "a.bin")] + ([os.path.join(w, "b.bin")] if stop_at == "file" else [])
    images = [make_image(path, 1, n + 3) for n, path in enumerate(paths)]
    log = os.path.join(w, "loop.log")
    opened = [start_loop_port(w, n, sims) for n, sims in enumerate(ports)]
    links = [link for link, _, _ in opened]
    started = [[first] if sims is not None else [] for sims, (_, first, _) in zip(ports, opened)]
    args = [IMGLOAD, "--repeat", "--speed", "115200", "--log", log] + options
    for link in links:
        args += ["--port", link]
    p = subprocess.Popen(args + paths, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    p.stdin.write(ids or "")
    p.stdin.close()  # the end of the unit ids
    out = watch_loop(p, list(zip(ports, opened)), started, stop_at, links,
                     sum(len(s) for s in statuses))
    err = p.stderr.read()
    p.wait(timeout=60)
    end_loop_simulators(started)
    sys.stdout.write(out + err + "".join(s.report + s.errors for sims in started for s in sims))
    expect(p.returncode == code, "exit status %d, expected %d" % (p.returncode, code))
    for sims in started:
        for sim in sims:
            expect("violations: 0\n" in sim.report, "the simulator saw violations")
    check_loop_boards(out, links, statuses, unit_ids, started, images)
    check_loop_log(read_log(log), links, statuses, unit_ids)
    check_loop_summary(out, links, statuses)
    for n, (link, master, _) in enumerate(opened):
        if ports[n] is None:  # asked quietly, never shown a transfer
            os.set_blocking(master, False)
            sent = os.read(master, 65536)
            expect(b"\x0500FFAD" in sent, "no model request on the line nobody answers")
            expect("[%s] データ転送中" % link not in out, "a transfer shown where nothing answered")
            expect("%s  waiting for a board  (passed 0, failed 0)" % link in out, "no waiting line")


def check_loop_boards(out, links, statuses, unit_ids, started, images):
    """Each port's board lines in order, and what each board received."""
    told = [m.groups() for m in map(BOARD_LINE.match, out.splitlines()) if m]
    for n, link in enumerate(links):
        mine = [(word, int(unit), uid) for word, port, unit, uid in told if port == link]
        want = [("PASS" if s == 0 else "FAIL", k, unit_ids[k - 1] if unit_ids else None)
                for k, s in enumerate(statuses[n], 1)]
        expect(mine == want, "%s's boards told %r, expected %r" % (link, mine, want))
        saved = [os.path.join(sim.save, "board-%d" % k) for sim in started[n]
                 for k in range(1, 1 + len(os.listdir(sim.save)))]
        # A board that came after the loop had ended got nothing.
        expect(len(saved) >= len(statuses[n]) and
               all(not os.listdir(folder) for folder in saved[len(statuses[n]):]),
               "%s: boards saved into %r" % (link, saved))
        for folder, status in zip(saved, statuses[n]):
            got = sorted(os.listdir(folder))
            sent = images if status == 0 else images[:1] if status == 3 else []
            expect(len(got) == len(sent), "%s: %r" % (folder, got))
            for k, image in enumerate(sent, 1):
                with open(os.path.join(folder, "image-%d.bin" % k), "rb") as f:
                    expect(f.read() == image, "%s: image %d differs" % (folder, k))


def check_loop_log(lines, links, statuses, unit_ids):
    sys.stdout.write("".join(json.dumps(e, ensure_ascii=False) + "\n" for e in lines))
    expect(len(lines) == sum(len(s) for s in statuses), "%d log lines" % len(lines))
    for n, link in enumerate(links):
        mine = [e for e in lines if e["port"] == link]
        expect([(e["unit"], e["unit_id"], e["exit_status"]) for e in mine] ==
               [(k, unit_ids[k - 1] if unit_ids else None, s) for k, s in enumerate(statuses[n], 1)],
               "%s's log lines %r" % (link, mine))
        for e in mine:
            expect(list(e)[:6] == ["time_start", "time_end", "host", "port", "unit", "unit_id"],
                   "fields %r" % list(e))


def check_loop_summary(out, links, statuses):
    for link, boards in zip(links, statuses):
        passed = sum(1 for s in boards if s == 0)
        expect(re.search(r"^%s +%d +%d +\d+\.\ds +\d+\.\d$" % (re.escape(link), passed, len(boards) - passed),
                         out, re.M), "no summary line for %s" % link)


# The tables whose rows are cases of their own, with the function that runs a row.
TABLE_CASES = [(GANGS, case_gang), (RIDDEN_OUT, case_ridden_out), (JOB_RUNS, case_job_run),
               (REWRITES, case_image_rewritten), (STOPS, case_stop), (LINE_RESTORED, case_line_restored),
               (BOARDS, case_boards), (UNREAD_OUTPUT, case_unread_output), (SHOWN, case_shown),
               (LOOPS, case_loop)]


def main():
    fn = globals().get("case_" + CASE)
    for table, run in TABLE_CASES:
        if CASE in table:
            fn = lambda w, run=run: run(w, CASE)  # noqa: E731
    if fn is None:
        print("unknown case", CASE)
        return 2
    with tempfile.TemporaryDirectory(prefix="ptydl-") as w:
        os.environ["ZP3K_LOCK_DIR"] = w  # the ports' lock files, this case's own
        try:
            fn(w)
        except Failure as e:
            print("FAILED:", e)
            return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())

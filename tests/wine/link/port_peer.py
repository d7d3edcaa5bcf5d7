#!/usr/bin/env python3
"""The far end of COM1 for wine_port_check.exe: makes a pseudo-terminal,
links it as COM1 of the Wine prefix, runs the program under Wine and answers
it, checking from the master side the line settings that Wine applied.

Usage: port_peer.py EXE PREFIX WORKDIR [VAR=value ...]   (the Wine environment)
"""
import errno
import os
import pty
import select
import subprocess
import sys
import termios
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SPEEDS = {1200: termios.B1200, 9600: termios.B9600, 19200: termios.B19200, 38400: termios.B38400,
          57600: termios.B57600, 115200: termios.B115200}
RUN_REQUEST = b"\x05" b"00FFAA0104\r"
ECHO_REPLY = b"\x06\x0a\x00\xff\x7f echo\r"
TIME_LIMIT = 120  # seconds for the whole exchange


def judge(master, speed, parity):
    """Empty string when the line carries speed, raw mode, one stop bit and
    the parity's visible trace; otherwise what is wrong."""
    iflag, oflag, cflag, lflag, ispeed, ospeed, cc = termios.tcgetattr(master)
    wrong = []
    if ospeed != SPEEDS.get(speed) or ispeed != SPEEDS.get(speed):
        wrong.append("speed %s/%s" % (ispeed, ospeed))
    if cflag & termios.CSTOPB:
        wrong.append("two stop bits")
    if lflag & (termios.ICANON | termios.ECHO):
        wrong.append("not raw")
    # A pseudo-terminal forces 8 bits and no PARENB, but keeps PARODD.
    if bool(cflag & termios.PARODD) != (parity == "ODD"):
        wrong.append("parity " + parity)
    # Flow control is left as the port had it (Wine derives it from the
    # line's earlier settings): shown, not judged.
    kept = [name for name in ("IXON", "IXOFF", "ICRNL", "INLCR", "IGNCR", "ISTRIP")
            if iflag & getattr(termios, name)]
    print("peer: %s %s input flags kept: %s" % (speed, parity, " ".join(kept) or "none"))
    return ", ".join(wrong)


def main():
    exe, prefix, work = sys.argv[1:4]
    wine_env = sys.argv[4:]
    # The stand-in lies deep, so that its name is long (over 100 characters)
    # wherever the build tree is: names of any length reach the system whole.
    deep = os.path.join(work, "a_folder_with_a_long_name" * 4)
    os.makedirs(deep, exist_ok=True)
    stand_in = os.path.join(deep, "not_a_port.bin")
    with open(stand_in, "wb") as f:
        f.write(b"\0" * 16)

    master, slave = pty.openpty()
    cooked = termios.tcgetattr(master)
    cooked[4] = cooked[5] = termios.B1200
    termios.tcsetattr(master, termios.TCSANOW, cooked)
    line_reset = True
    slave_path = os.ttyname(slave)
    os.close(slave)
    subprocess.run([os.path.join(HERE, "point_com1.sh"), prefix, slave_path] + wine_env,
                   check=True)

    env = dict(os.environ)
    for word in wine_env:
        key, _, value = word.partition("=")
        env[key] = value
    env["WINEPREFIX"] = prefix
    windows_path = "Z:" + stand_in.replace("/", "\\")
    program = subprocess.Popen(["wine", exe, windows_path], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    os.set_blocking(program.stdout.fileno(), False)

    received = b""
    pending = b""
    checks = []
    failures = []
    output = b""
    output_open = True
    deadline = time.time() + TIME_LIMIT
    while time.time() < deadline:
        watched = [master] + ([program.stdout] if output_open else [])
        ready, _, _ = select.select(watched, [], [], 0.2)
        if program.stdout in ready:
            chunk = program.stdout.read()
            if chunk == b"":
                output_open = False
            output += chunk or b""
        if master in ready:
            try:
                data = os.read(master, 4096)
            except OSError as e:  # no slave open between two openings
                if e.errno != errno.EIO:
                    raise
                if not line_reset:
                    # Cooked and slow again, so that the next opening is a
                    # change in every respect, as a controller's line would be.
                    termios.tcsetattr(master, termios.TCSANOW, cooked)
                    line_reset = True
                time.sleep(0.05)
                data = b""
            if data:
                line_reset = False
            received += data
            pending += data
            while b"\r" in pending:
                line, _, pending = pending.partition(b"\r")
                words = line.decode("latin-1").split()
                if words and words[0] == "CHECK":
                    speed, parity = int(words[1]), words[2]
                    wrong = judge(master, speed, parity)
                    checks.append((speed, parity, wrong))
                    os.write(master, b"\x06OK\r" if not wrong else b"\x15" + wrong.encode() + b"\r")
                elif words and words[0] == "ECHO":
                    os.write(master, ECHO_REPLY)
        if program.poll() is not None and not output_open:
            break
    else:
        program.kill()
        failures.append("the program did not finish in %d s" % TIME_LIMIT)
    program.wait()
    sys.stdout.write(output.decode("utf-8", "replace"))

    for speed, parity, wrong in checks:
        print("peer: %s %s: %s" % (speed, parity, wrong or "as asked"))
    if [(s, p) for s, p, _ in checks] != [(19200, "EVEN"), (19200, "EVEN"), (115200, "EVEN"),
                                          (9600, "ODD"), (57600, "EVEN"), (1200, "EVEN")]:
        failures.append("line checks asked: %s" % checks)
    if RUN_REQUEST not in received:
        failures.append("the request written before closing never arrived")
    if not received.endswith(b"DONE\r"):
        failures.append("the last write did not arrive")
    if program.returncode != 0:
        failures.append("wine_port_check reported %s failure(s)" % program.returncode)
    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())

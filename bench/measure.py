"""Measuring TARVEL runs: one observed run (peak memory of the process, the
arrival time of every progress line, the outputs), and the timing of several
binaries side by side (hyperfine, else repeated runs)."""
import json
import os
import pty
import shlex
import shutil
import statistics
import subprocess
import tempfile
import termios
import time

# A child forked from this Python process carries the interpreter's resident
# pages into its peak (the high-water mark survives exec), so the peak is
# read by GNU time, whose own child starts small.
GNU_TIME = "/usr/bin/time"

STAGES = ["Computing Emission Prob", "Computing Alpha", "Computing Beta", "Writing Results"]
STAGE_NAMES = ["load", "emission", "forward", "backward", "write"]


class Observed:
    """status, stdout bytes, wall seconds, peak RSS in KiB, and (seconds
    since start, line) for each line of standard output as it arrived."""

    def __init__(self, status, stdout, wall, maxrss_kib, lines):
        self.status, self.stdout, self.wall = status, stdout, wall
        self.maxrss_kib, self.lines = maxrss_kib, lines


def _read_lines(fd, start, is_pty):
    data, lines, pending = b"", [], b""
    while True:
        try:
            chunk = os.read(fd, 65536)
        except OSError:  # a pty's reader gets EIO once the child has closed it
            chunk = b""
        if not chunk:
            break
        now = time.monotonic() - start
        data += chunk
        pending += chunk
        *done, pending = pending.split(b"\n")
        lines += [(now, l.rstrip(b"\r").decode(errors="replace")) for l in done]
    if is_pty:  # the terminal turned "\n" into "\r\n"
        data = data.replace(b"\r\n", b"\n")
    return data, lines


def observe(binary, args, cwd, terminal=True):
    """Runs BINARY ARGS in CWD once. With TERMINAL its standard output is a
    pseudo-terminal, so the C library flushes every line as it is printed;
    without, a pipe (as under a batch system)."""
    if terminal:
        master, slave = pty.openpty()
        attrs = termios.tcgetattr(slave)
        attrs[3] &= ~termios.ECHO
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
    else:
        master, slave = os.pipe()
    meter = os.access(GNU_TIME, os.X_OK)
    with tempfile.NamedTemporaryFile("r") as peak:
        command = [binary] + args
        if meter:
            command = [GNU_TIME, "-f", "%M", "-o", peak.name] + command
        start = time.monotonic()
        p = subprocess.Popen(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=slave,
                             stderr=subprocess.DEVNULL)
        os.close(slave)
        stdout, lines = _read_lines(master, start, terminal)
        _, status, usage = os.wait4(p.pid, 0)
        wall = time.monotonic() - start
        p.returncode = os.waitstatus_to_exitcode(status)
        os.close(master)
        maxrss = usage.ru_maxrss
        if meter:  # the last line; a killed command's is preceded by a note
            maxrss = int(peak.read().split()[-1])
    return Observed(p.returncode, stdout, wall, maxrss, lines)


def stage_seconds(obs):
    """Seconds spent before the first progress line, between consecutive
    ones and after the last, named by STAGE_NAMES; None when a line is missing."""
    at = {}
    for t, line in obs.lines:
        if line in STAGES and line not in at:
            at[line] = t
    if len(at) != len(STAGES):
        return None
    marks = [0.0] + [at[s] for s in STAGES] + [obs.wall]
    return dict(zip(STAGE_NAMES, (b - a for a, b in zip(marks, marks[1:]))))


def lines_arrive_as_printed(obs):
    """False when the progress lines came all at once although the run
    between them took time: held in a buffer and written together."""
    at = [t for t, line in obs.lines if line in STAGES]
    if not at:
        return False
    return at[-1] < 0.2 or at[-1] - at[0] > 0.05 * at[-1]


def time_side_by_side(commands, runs, workdir):
    """{name: [seconds per run]} for {name: argv}. hyperfine when installed
    (one warm-up run each), else the commands in turn, RUNS times."""
    if shutil.which("hyperfine"):
        out = os.path.join(workdir, "hyperfine.json")
        cmd = ["hyperfine", "-N", "--style", "basic", "--warmup", "1", "--runs", str(runs),
               "--export-json", out]
        for name, argv in commands.items():
            cmd += ["-n", name, shlex.join(argv)]
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
        with open(out) as f:
            return {r["command"]: r["times"] for r in json.load(f)["results"]}
    times = {name: [] for name in commands}
    for _ in range(runs):
        for name, argv in commands.items():
            t = time.monotonic()
            subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            times[name].append(time.monotonic() - t)
    return times


def median(xs):
    return statistics.median(xs) if xs else float("nan")


def scratch(parent):
    os.makedirs(parent, exist_ok=True)
    return tempfile.mkdtemp(prefix="run-", dir=parent)

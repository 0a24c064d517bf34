"""Progress lines of a panel run: one plain line per step, for a terminal as
for a cluster job's log (no carriage returns, no colours).

    runs: 7 of 20 batches done, 2:41 elapsed, about 4:36 left
    collect: chromosome 3 done (69 strains, 5,200 markers), 3 of 20 chromosomes
    runs: chromosome 1, batch 0: 300 of 1,000 strains

A batch is done when its done file is there (runs/batches/chr<c>/<k>.txt),
or when its chromosome has been collected and its raw results dropped
(runs/dropped/chr<c>); either counts only when newer than the prepared
panel, so a previous panel's files in the same folder do not. Elapsed time
runs from the start of the run (the time in OUT/.panel.lock); the estimate
is the time per batch done in this run so far times the batches left.
Jobs print their own lines; on a cluster, where those go to each job's log,
Snakemake's own process prints the counts as they change (Watcher).
"""
import math
import os
import sys
import threading
import time

from tarvel_panel import paths
from tarvel_panel.errors import InputError
from tarvel_panel.panel.prepared import read_prepared


def clock(seconds):
    """m:ss, or h:mm:ss from an hour on."""
    seconds = max(0, int(round(seconds)))
    hours, rest = divmod(seconds, 3600)
    minutes, seconds = divmod(rest, 60)
    return f"{hours}:{minutes:02d}:{seconds:02d}" if hours else f"{minutes}:{seconds:02d}"


def run_start(out):
    """When the run writing to `out` started (seconds since the epoch), or
    None when no run holds the folder."""
    path = paths.lock_file(out)
    try:
        with open(path) as f:
            fields = f.read().split()
        return float(fields[3]) if len(fields) > 3 else os.stat(path).st_mtime
    except (OSError, ValueError):
        return None


def _mtime(path):
    try:
        return os.stat(path).st_mtime
    except OSError:
        return None


def done_times(runs, chromosomes, batches, since):
    """When each done batch of `chromosomes` (safe names, `batches` batches
    each) was done, for those done at `since` or later."""
    times = []
    for safe in chromosomes:
        dropped = _mtime(paths.dropped_file(runs, safe))
        if dropped is not None and dropped >= since:
            times += [dropped] * batches
            continue
        wanted = {f"{k}.txt" for k in range(batches)}
        try:
            with os.scandir(os.path.dirname(paths.batch_file(runs, safe, 0))) as entries:
                times += [t for t in (e.stat().st_mtime for e in entries if e.name in wanted) if t >= since]
        except OSError:
            pass
    return times


def time_left(elapsed, done_here, done, total):
    """Seconds left at the pace of this run: `done_here` of the `done`
    batches were done in the `elapsed` seconds; None before any was."""
    if done >= total:
        return 0.0
    if done_here <= 0 or elapsed <= 0:
        return None
    return elapsed / done_here * (total - done)


def runs_line(done, total, elapsed=None, left=None):
    line = f"runs: {done:,} of {total:,} batches done"
    if elapsed is not None:
        line += f", {clock(elapsed)} elapsed"
    if left is not None and done < total:
        line += f", about {clock(left)} left"
    return line


def batches_line(out, panel, batch_size, now=None):
    """The runs line of the panel writing to `out` (panel: its prepared panel)."""
    return runs_line(*batches_state(out, panel, batch_size, now))


def batches_state(out, panel, batch_size, now=None):
    """(batches done, batches in all, seconds since the run's start, seconds
    left); the times are None without a run's lock."""
    now = time.time() if now is None else now
    runs = paths.runs_dir(out)
    prepared_at = _mtime(panel.path) or 0.0
    batches = paths.batch_count(len(panel.strains), batch_size)
    safes = panel.chromosome_safes()
    times = done_times(runs, safes, batches, prepared_at)
    total = batches * len(safes)
    start = run_start(out)
    if start is None:
        return len(times), total, None, None
    # the pace counts from when the runs could begin: the run's start, or
    # the end of prepare when this run prepared the panel
    began = max(start, prepared_at)
    here = sum(1 for t in times if t >= began)
    return len(times), total, now - start, time_left(now - began, here, len(times), total)


class Ticker:
    """A line every tenth or so of a long step: one of `least` items or more
    that has been at it for `after` seconds; a short step says nothing, its
    end line is enough. Safe across threads."""

    def __init__(self, what, total, noun, least=50, after=10.0, lines=10, stream=None, clock=time.monotonic):
        self.what, self.total, self.noun = what, total, noun
        self.every = math.ceil(total / lines) if total >= least else 0
        self.done = 0
        self.lock = threading.Lock()
        self.stream, self.clock = stream, clock
        self.quiet_until = clock() + after

    def step(self):
        with self.lock:
            self.done += 1
            done = self.done
        if self.every and done % self.every == 0 and done < self.total and self.clock() >= self.quiet_until:
            say(f"{self.what}: {done:,} of {self.total:,} {self.noun}", self.stream)


def write_whole(fd, text):
    """`text` to file descriptor `fd` in as few writes as the system takes:
    one for a few lines, so that it never runs into another process's."""
    data = text.encode("utf-8", "backslashreplace")
    while data:
        data = data[os.write(fd, data):]


def _fileno(stream):
    try:
        return stream.fileno()
    except (AttributeError, OSError, ValueError):
        return None


class Lines:
    """A text stream that passes on whole lines only, each batch of them in
    one write to the file descriptor below (and, for a job, to its log file
    too). Python's standard error writes straight through: print(), or a
    logging handler, writes a message and its line end in two pieces, and a
    line another process writes between them lands in the middle of this
    one's. Text without its line end waits for it, or for flush()."""

    def __init__(self, stream, log=None):
        self.stream, self.log = stream, log
        self.fd = _fileno(stream)
        self.pending = ""
        self.gone = False
        self.lock = threading.Lock()

    def write(self, text):
        with self.lock:
            self.pending += text
            end = self.pending.rfind("\n") + 1
            if end:
                whole, self.pending = self.pending[:end], self.pending[end:]
                self._put(whole)
        return len(text)

    def flush(self):
        with self.lock:
            if self.pending:
                self._put(self.pending)
                self.pending = ""

    def _put(self, text):
        if self.log is not None:
            self.log.write(text)
            self.log.flush()
        if self.gone:
            return
        try:
            if self.fd is None:
                self.stream.write(text)
                self.stream.flush()
            else:
                write_whole(self.fd, text)
        except BrokenPipeError:
            # no one reads any more (`| head` has had its lines): the run
            # goes on, saying the rest to its logs only, rather than a job
            # or one of Snakemake's threads failing on a line
            self.gone = True

    def __getattr__(self, name):
        return getattr(self.stream, name)


def whole_lines(log_path=None):
    """From now on, what this process says on standard error reaches it in
    whole lines, and goes to `log_path` too when one is given."""
    log = None
    if log_path is not None:
        os.makedirs(os.path.dirname(os.path.abspath(log_path)), exist_ok=True)
        log = open(log_path, "w", encoding="utf-8", errors="backslashreplace")
    sys.stderr = Lines(sys.stderr, log)


def say(line, stream=None):
    """One whole line, written in one piece: the lines of jobs ending at the
    same moment never run into each other in a shared log."""
    stream = stream or sys.stderr
    if stream is sys.__stderr__ and _fileno(stream) is not None:
        stream.flush()
        write_whole(stream.fileno(), line + "\n")
    else:
        stream.write(line + "\n")
        stream.flush()


def collected_line(out, safe):
    """The line of a chromosome just collected, with the count of the
    panel's chromosomes collected (their npz newer than the prepared panel)."""
    panel = read_prepared(out)
    done = collected_count(out, panel, _mtime(panel.path) or 0.0)
    chrom = panel.chromosome(safe)
    return (f"collect: chromosome {shown(chrom['name'], safe)} done ({len(panel.strains):,} strains, "
            f"{chrom['markers']:,} markers), {done} of {len(panel.chromosomes)} chromosomes")


def shown(name, safe):
    """A name as shown in a progress line: as read, unless it holds a
    character a terminal would act on."""
    return name if name.isprintable() else safe


def collected_count(out, panel, since):
    """Chromosomes of `panel` collected since `since` (their npz files)."""
    return sum(1 for c in panel.chromosome_safes() if (_mtime(paths.npz_file(out, c)) or -1) >= since)


class Watcher:
    """For runs whose jobs write to logs of their own (a cluster): Snakemake's
    process says, every `interval` seconds when a count has changed, how many
    batches are done and how many chromosomes collected."""

    def __init__(self, out, batch_size, interval=30.0, stream=None):
        self.out, self.batch_size, self.interval, self.stream = out, batch_size, interval, stream
        self.batches = self.chromosomes = None

    def poll(self, now=None):
        """The lines of the counts that changed since the last poll."""
        try:
            panel = read_prepared(self.out)
        except InputError:
            return []
        lines = []
        state = batches_state(self.out, panel, self.batch_size, now)
        if state[0] != self.batches:
            self.batches = state[0]
            lines.append(runs_line(*state))
        collected = collected_count(self.out, panel, _mtime(panel.path) or 0.0)
        if collected != self.chromosomes and collected:
            lines.append(f"collect: {collected} of {len(panel.chromosomes)} chromosomes collected")
        self.chromosomes = collected
        return lines

    def start(self):
        def loop():
            while True:
                time.sleep(self.interval)
                for line in self.poll():
                    say(line, self.stream)
        threading.Thread(target=loop, name="progress", daemon=True).start()

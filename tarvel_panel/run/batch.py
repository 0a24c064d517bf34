"""Run one batch of strains of one prepared chromosome.

    python3 -m tarvel_panel batch (--engine BIN | --tarvel BIN) --out OUT --chr C \
        --batch K --batch-size N --threads T --done OUT/runs/batches/chr<C>/<K>.txt [--keep-runs] [--pairs]

C is the chromosome's safe name; the batch is strains K*N .. K*N+N-1 of
panel.json (N = 0: all of them). Each strain's values go to
runs/chr<C>/<strain>/strain.values (paths.py, run/values_file.py) with its
wall time in seconds.txt: from the engine its founder values, all the
tables need, or with --pairs (an output needs them) its 36 pair values; a
TARVEL program's results always give the pair values.

With --engine, tarvel_engine runs the batch: its strains, in order of
#Generation and sex (the engine makes its tables once per such group), are
cut into up to T consecutive parts, one engine process each, side by side;
each part's strains are listed in one job list. The engine writes every
values file complete or not at all and says "done" after each; its output is
in logs/tarvel/batches/chr<C>/<K>-engine-<part>.log. With --keep-runs it also
writes TARVEL's results text, strain.txt.prob, with the strain file beside it.

With --tarvel, a TARVEL program runs once per strain, up to T at once, each
started directly, writing to a temporary name; its results text is checked
in full (values_file.check_values: every line adds up as TARVEL's do) and
converted into the values file, and renamed into place only then.

Either way a strain whose files are there and read back complete is kept;
temporary files left by a killed run are removed first. The --done file
lists the batch's strains once every one has its values; a strain refused is
named in one line and the job ends with status 1, the strains finished kept.
On standard error, a batch of many strains says now and then how many are
done, and each batch ends with the panel's count of batches done and an
estimate of the time left (progress.py).
"""
import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

from tarvel_panel import paths
from tarvel_panel.atomic import AtomicFile
from tarvel_panel.errors import InputError, exit_on_signals, run_command
from tarvel_panel.panel.prepared import read_job, read_prepared
from tarvel_panel.panel.x_copies import two_copy_x
from tarvel_panel.pairs import NPAIRS
from tarvel_panel.run.results import read_results
from tarvel_panel.run.values_file import FOUNDER_VALUES, TWO_COPY_X_MAX, check_values, read_values, write_values
from tarvel_panel.support import progress


def tarvel_command(tarvel, job, chr_dir, job_dir, strain_file):
    command = [str(tarvel), os.path.join(chr_dir, "founders.txt"), strain_file,
               os.path.join(job_dir, "funnel.txt"), str(job["generation"]),
               job["positions"], os.path.join(chr_dir, "positions.txt"), "-e", repr(float(job["error_rate"]))]
    if job["x"]:
        command += ["-x", "-s", job["sex"]]
    return command


class Batch:
    """The strains of one batch and where their files go."""

    def __init__(self, out, chrom, batch, batch_size, text=False, founder_values=False):
        self.out, self.number = out, batch
        self.prepared = paths.prepared_dir(out)
        self.runs = paths.runs_dir(out)
        panel = read_prepared(out)
        entry = panel.chromosome(chrom)
        self.chrom, self.panel, self.batch_size, self.entry = chrom, panel, batch_size, entry
        self.label = f"chromosome {progress.shown(entry['name'], chrom)}, batch {batch}"
        self.markers = entry["markers"]
        # whether a complete run keeps TARVEL's results text and input too
        self.text = text
        # whether a strain's values file holds its founder values, not its pairs
        self.founder_values = founder_values
        members = paths.batch_members(panel.strains, batch, batch_size)
        self.strains = [s["safe"] for s in members]
        self.two_copy = {s["safe"]: two_copy_x(entry, s) for s in members}
        if not self.strains:
            raise InputError(panel.path, f"chromosome {entry['name']} has no batch {batch} "
                             f"of {batch_size or 'all'} strains")

    def job_dir(self, strain):
        return paths.job_dir(self.prepared, self.chrom, strain)

    def run_dir(self, strain):
        return paths.run_dir(self.runs, self.chrom, strain)

    def values(self, strain):
        return paths.values_file(self.runs, self.chrom, strain)

    def present(self, strain):
        """Whether the strain's files (its text too, when kept) are all there."""
        needed = [self.values(strain), paths.seconds_file(self.runs, self.chrom, strain)]
        if self.text:
            needed += [paths.results_file(self.runs, self.chrom, strain),
                       os.path.join(self.run_dir(strain), paths.STRAIN)]
        return all(os.path.exists(p) for p in needed)

    def complete(self, strain):
        """Whether the strain's files are there and its values read back complete."""
        if not self.present(strain):
            return False
        try:
            read_values(self.values(strain), self.markers, self.two_copy[strain],
                        FOUNDER_VALUES if self.founder_values else NPAIRS)
        except InputError:
            return False
        return True

    def finished(self, strain, seconds):
        """The strain's wall time recorded, the last of its files: from now
        on it counts as complete."""
        with AtomicFile(paths.seconds_file(self.runs, self.chrom, strain)) as f:
            f.write(f"{seconds:.6f}\n")


def remove_leftovers(run_dir):
    """Temporary files of a killed run: TARVEL's partial input and results and
    half-written files of the atomic writers."""
    for pattern in (paths.PARTIAL_PREFIX + "*", ".*.tmp-*"):
        for path in glob.glob(os.path.join(glob.escape(run_dir), pattern)):
            os.remove(path)


def engine_parts(batch, strains, threads):
    """The pending strains in order of #Generation and sex, cut into up to
    `threads` consecutive parts of nearly equal size."""
    jobs = {s: read_job(batch.job_dir(s)) for s in strains}
    ordered = sorted(strains, key=lambda s: (jobs[s]["generation"], str(jobs[s]["sex"])))
    n = max(1, min(threads, len(ordered)))
    size, extra = divmod(len(ordered), n)
    parts, first = [], 0
    for k in range(n):
        last = first + size + (k < extra)
        parts.append([(s, jobs[s]) for s in ordered[first:last]])
        first = last
    return [p for p in parts if p]


_UNLISTABLE = re.compile(r"[\t\n\r]")


def job_line(batch, strain, job):
    """The strain's line of the engine's list (native/engine/job_list.h)."""
    fields = [os.path.join(batch.job_dir(strain), paths.STRAIN), os.path.join(batch.job_dir(strain), "funnel.txt"),
              str(int(job["generation"])), {"M": "m", "F": "f"}.get(job["sex"] or "", "-"),
              repr(float(job["error_rate"])), batch.values(strain)]
    if batch.text:
        fields.append(paths.results_file(batch.runs, batch.chrom, strain))
    if any(_UNLISTABLE.search(f) for f in fields):
        raise InputError("config out", f"{batch.out!r} holds a tab or a line end, which no path given to "
                         "the engine may hold")
    return "\t".join(fields) + "\n"


def write_job_list(path, batch, part):
    """The engine's list of one part's strains ((strain, job) pairs)."""
    with AtomicFile(path) as f:
        f.write("".join(job_line(batch, s, job) for s, job in part))


def engine_command(engine, batch, jobs_file, job):
    """The engine's command line on a job list of the batch's chromosome
    (`job`: one of its strains' prepared jobs, for the chromosome's options)."""
    chr_dir = paths.chromosome_dir(batch.prepared, batch.chrom)
    command = [str(engine), "--founders", os.path.join(chr_dir, paths.FOUNDERS),
               "--positions", os.path.join(chr_dir, paths.POSITIONS), job["positions"], "--jobs", jobs_file]
    return command + (["-x"] if job["x"] else []) + (["--founder-values"] if batch.founder_values else [])


class Stoppable:
    """The processes a runner started, stopped together when the batch is."""

    def __init__(self):
        self.processes = set()
        self.lock = threading.Lock()
        self.stopping = threading.Event()

    def start(self, command, **options):
        """The started process, or None once the batch is stopping."""
        with self.lock:
            if self.stopping.is_set():
                return None
            process = subprocess.Popen(command, **options)
            self.processes.add(process)
            return process

    def ended(self, process):
        with self.lock:
            self.processes.discard(process)

    def stop(self, signum=signal.SIGKILL):
        self.stopping.set()
        with self.lock:
            for process in self.processes:
                process.send_signal(signum)


class EngineRunner(Stoppable):
    """Runs the pending strains of a batch in up to `threads` engine
    processes side by side."""

    def __init__(self, engine, batch, threads, ticker=None):
        super().__init__()
        self.engine, self.batch, self.threads, self.ticker = engine, batch, max(1, threads), ticker

    def run(self, strains):
        """The errors of the parts that failed, in part order."""
        if not strains:
            return []
        parts = engine_parts(self.batch, strains, self.threads)
        errors = [None] * len(parts)
        # one event per part, set when its thread is through: a signal that
        # interrupts Thread.join can leave the thread looking stopped
        ended = [threading.Event() for _ in parts]

        def run_part(k):
            try:
                errors[k] = self.run_part(k, parts[k])
            except BaseException as e:   # an OSError too: raised again below
                errors[k] = e
            finally:
                ended[k].set()
        for k in range(len(parts)):
            threading.Thread(target=run_part, args=(k,), daemon=True).start()
        try:
            for event in ended:
                while not event.wait(0.2):
                    pass
        except BaseException:
            # the engine removes its temporary files on SIGTERM
            self.stop(signal.SIGTERM)
            for event in ended:
                event.wait(10)
            raise
        for e in errors:
            if e is not None and not isinstance(e, InputError):
                raise e
        return [e for e in errors if e]

    def run_part(self, k, part):
        """None when the part's strains all have their values (or the batch
        was stopped), else the InputError that says why not."""
        batch = self.batch
        jobs_file = paths.job_list(batch.runs, batch.chrom, batch.number, k)
        write_job_list(jobs_file, batch, part)
        command = engine_command(self.engine, batch, jobs_file, part[0][1])
        log = paths.engine_log(batch.out, batch.chrom, batch.number, k)
        os.makedirs(os.path.dirname(log), exist_ok=True)
        said = []
        try:
            with open(log, "w") as log_file:
                log_file.write(" ".join(command) + "\n")
                log_file.flush()
                process = self.start(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
                if process is None:
                    return None
                try:
                    for raw in process.stdout:
                        line = raw.decode("utf-8", "replace").rstrip("\n")
                        log_file.write(line + "\n")
                        log_file.flush()
                        done = re.fullmatch(r"done (\d+) (\d+(?:\.\d+)?)", line)
                        if done and 1 <= int(done.group(1)) <= len(part):
                            self._finished(part[int(done.group(1)) - 1][0], float(done.group(2)))
                        elif line.strip():
                            said.append(line)
                    status = process.wait()
                finally:
                    process.stdout.close()
                    self.ended(process)
        finally:
            if os.path.exists(jobs_file):
                os.remove(jobs_file)
        if status == 0 or self.stopping.is_set():
            return None
        return self._refusal(part, jobs_file, log, status, said)

    def _finished(self, strain, seconds):
        batch = self.batch
        if batch.text:
            copy = AtomicFile(os.path.join(batch.run_dir(strain), paths.STRAIN), binary=True)
            with copy as f, open(os.path.join(batch.job_dir(strain), paths.STRAIN), "rb") as source:
                shutil.copyfileobj(source, f)
        batch.finished(strain, seconds)
        if self.ticker:
            self.ticker.step()

    def _refusal(self, part, jobs_file, log, status, said):
        """The engine's own message, under the name of the strain it concerns."""
        chromosome = self.batch.entry["name"]
        prefix = re.compile(re.escape(jobs_file) + r":(\d+): (.*)")
        for line in reversed(said):
            found = prefix.fullmatch(line)
            if found and 1 <= int(found.group(1)) <= len(part):
                strain = part[int(found.group(1)) - 1][1]["strain"]
                return InputError(log, f"the engine refused strain {strain}, chromosome {chromosome}: "
                                  f"{found.group(2)}")
        message = said[-1] if said else "(no output)"
        return InputError(log, f"the engine failed ({_how(status)}) on chromosome {chromosome}: {message}")


class TarvelRunner(Stoppable):
    """Runs the pending strains of a batch, `threads` TARVEL processes at once."""

    def __init__(self, tarvel, batch, threads, ticker=None):
        super().__init__()
        self.tarvel, self.batch, self.threads = tarvel, batch, max(1, threads)
        self.ticker = ticker

    def run(self, strains):
        """The errors of the strains that failed, in batch order."""
        with ThreadPoolExecutor(self.threads) as pool:
            futures = [pool.submit(self.run_strain, s) for s in strains]
            try:
                return [m for m in (f.result() for f in futures) if m]
            except BaseException:
                self.stop()
                raise

    def run_strain(self, strain):
        """None when the strain's results are in place (or the batch was
        stopped), else the InputError that says why not."""
        if self.stopping.is_set():
            return None
        batch = self.batch
        run_dir = batch.run_dir(strain)
        partial = os.path.join(run_dir, f"{paths.PARTIAL_PREFIX}{os.getpid()}")
        job_dir = batch.job_dir(strain)
        try:
            job = read_job(job_dir)
            shutil.copyfile(os.path.join(job_dir, paths.STRAIN), partial)
            command = tarvel_command(self.tarvel, job, os.path.dirname(job_dir), job_dir, partial)
            log = paths.log_file(batch.out, batch.chrom, strain)
            seconds = self._run(command, log, job)
            if seconds is None:
                return None
            values = _check_results(partial + ".prob", batch.markers, log, job, batch.two_copy[strain])
            write_values(batch.values(strain), values)
            os.replace(partial, os.path.join(run_dir, paths.STRAIN))
            os.rename(partial + ".prob", paths.results_file(batch.runs, batch.chrom, strain))
            batch.finished(strain, seconds)
            if self.ticker:
                self.ticker.step()
        except InputError as e:
            return e
        finally:
            for path in (partial, partial + ".prob"):
                if os.path.exists(path):
                    os.remove(path)
        return None

    def _run(self, command, log, job):
        """TARVEL's wall time, or None when the batch was stopped meanwhile."""
        os.makedirs(os.path.dirname(log), exist_ok=True)
        with open(log, "w") as log_file:
            log_file.write(" ".join(command) + "\n")
            log_file.flush()
            start = time.monotonic()
            process = self.start(command, stdout=log_file, stderr=subprocess.STDOUT)
            if process is None:
                return None
            status = process.wait()
            seconds = time.monotonic() - start
            self.ended(process)
        if self.stopping.is_set():
            return None
        if status != 0:
            raise InputError(log, f"TARVEL failed ({_how(status)}) on strain {job['strain']}, "
                             f"chromosome {job['chromosome']}: {_last_message(log)}")
        if not os.path.exists(command[2] + ".prob"):
            raise InputError(log, f"TARVEL ended without writing its results file on strain {job['strain']}, "
                             f"chromosome {job['chromosome']}")
        return seconds


def _check_results(path, markers, log, job, two_copy):
    """TARVEL's results read back in full and checked, as values; else an
    error naming the strain and the run's log."""
    try:
        values = read_results(path, markers, max_value=TWO_COPY_X_MAX if two_copy else 1.0)
        check_values(values, os.path.basename(path), two_copy)
    except InputError as e:
        where = f"line {e.line}: " if e.line else ""
        raise InputError(log, f"TARVEL's results file on strain {job['strain']}, chromosome {job['chromosome']} "
                         f"is refused ({where}{e.message})")
    return values


def _how(status):
    return f"status {status}" if status > 0 else f"killed by signal {-status}"


def _last_message(log):
    """TARVEL's own message: its last line, or the last that says "Error"."""
    with open(log, errors="replace") as f:
        said = [line.strip() for line in f.readlines()[1:] if line.strip()]
    errors = [line for line in said if "rror" in line]
    return (errors or said or ["(no output)"])[-1]


def run_batch(program, out, chrom, batch_number, batch_size, threads, done, engine=True, keep_runs=False,
              pairs=False):
    """`program` is tarvel_engine (engine=True) or a TARVEL program run per
    strain; `pairs`: an output needs the 36 pair values (else the engine
    writes the founder values alone)."""
    batch = Batch(out, chrom, batch_number, batch_size, text=keep_runs or not engine,
                  founder_values=engine and not pairs)
    # job lists of a killed runner
    stale = paths.job_list(batch.runs, chrom, batch_number, "*")
    folder, name = glob.escape(os.path.dirname(stale)), os.path.basename(stale)
    for path in glob.glob(os.path.join(folder, name)) + glob.glob(os.path.join(folder, f".{name}.tmp-*")):
        os.remove(path)
    pending = []
    for strain in batch.strains:
        os.makedirs(batch.run_dir(strain), exist_ok=True)
        remove_leftovers(batch.run_dir(strain))
        if not batch.complete(strain):
            pending.append(strain)
    print(f"chromosome file chr{chrom}, batch {batch_number}: {len(batch.strains) - len(pending)} of "
          f"{len(batch.strains)} strains already done, running {len(pending)}", flush=True)
    ticker = progress.Ticker(f"runs: {batch.label}", len(pending), "strains")
    runner = EngineRunner if engine else TarvelRunner
    failed = runner(program, batch, threads, ticker).run(pending)
    if failed:
        more = f" (and {len(failed) - 1} more failed)" if len(failed) > 1 else ""
        raise InputError(failed[0].path, failed[0].message + more, failed[0].line)
    missing = [s for s in pending if not batch.present(s)]
    if missing:
        raise InputError(done, f"{'the engine' if engine else 'TARVEL'} ended without the values of "
                         f"{len(missing)} strains (the first: {missing[0]}); the batch is not done")
    with AtomicFile(done) as f:
        f.write("".join(f"{s}\n" for s in batch.strains))
    progress.say(progress.batches_line(out, batch.panel, batch_size))


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tarvel_panel batch", description=__doc__.split("\n")[0])
    program = parser.add_mutually_exclusive_group(required=True)
    program.add_argument("--engine", help="tarvel_engine: the batch's strains in one process (or --threads)")
    program.add_argument("--tarvel", help="a TARVEL program, run once per strain")
    parser.add_argument("--out", required=True, help="the panel's output folder")
    parser.add_argument("--chr", required=True, help="the chromosome's safe name")
    parser.add_argument("--batch", type=int, required=True)
    parser.add_argument("--batch-size", type=int, default=0, help="strains per batch; 0: all")
    parser.add_argument("--threads", type=int, default=1, help="engine or TARVEL processes at once")
    parser.add_argument("--done", required=True, help="file listing the batch's strains once done")
    parser.add_argument("--keep-runs", action="store_true", help="the engine writes TARVEL's results text too")
    parser.add_argument("--pairs", action="store_true",
                        help="the values files hold the 36 pair values (else the engine's founder values)")
    args = parser.parse_args(argv)
    exit_on_signals()
    program = args.engine or args.tarvel
    return run_command(lambda: run_batch(program, args.out, args.chr, args.batch, args.batch_size,
                                         args.threads, args.done, engine=bool(args.engine), keep_runs=args.keep_runs,
                                         pairs=args.pairs),
                       lambda e: f"running {'the engine' if args.engine else 'TARVEL'} ({program}): {e}")


if __name__ == "__main__":
    sys.exit(main())

"""Run TARVEL for one batch of strains of one prepared chromosome.

    python3 -m tarvel_panel batch --tarvel BIN --out OUT --chr C \
        --batch K --batch-size N --threads T --done OUT/runs/batches/chr<C>/<K>.txt

C is the chromosome's safe name; the batch is strains K*N .. K*N+N-1 of
panel.json (N = 0: all of them). Up to T TARVEL processes run at once, each
started directly. Each strain's results go to runs/chr<C>/<strain>/
strain.txt.prob (paths.py) with its wall time in seconds.txt and the strain
file beside it. TARVEL writes to a temporary name; the results are checked in
full (results.read_results) and renamed into place only then, so a results
file under its final name is always complete. A strain whose results are
already there and read back complete is kept; temporary files left by a
killed run are removed first. The --done file lists the batch's strains once
every one has its results; a strain that fails is named in one line and the
job ends with status 1, its other strains kept. On standard error, a batch
of many strains says now and then how many are done, and each batch ends
with the panel's count of batches done and an estimate of the time left
(progress.py).
"""
import argparse
import glob
import os
import shutil
import signal
import subprocess
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor

from tarvel_panel import paths
from tarvel_panel.atomic import AtomicFile
from tarvel_panel.errors import InputError, run_command
from tarvel_panel.panel.prepared import read_job, read_prepared
from tarvel_panel.run.results import TWO_COPY_X_MAX, read_results
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

    def __init__(self, out, chrom, batch, batch_size):
        self.out = out
        self.prepared = paths.prepared_dir(out)
        self.runs = paths.runs_dir(out)
        panel = read_prepared(out)
        entry = panel.chromosome(chrom)
        self.chrom, self.panel, self.batch_size = chrom, panel, batch_size
        self.label = f"chromosome {progress.shown(entry['name'], chrom)}, batch {batch}"
        self.markers = entry["markers"]
        self.strains = [s["safe"] for s in paths.batch_members(panel.strains, batch, batch_size)]
        if not self.strains:
            raise InputError(panel.path, f"chromosome {entry['name']} has no batch {batch} "
                             f"of {batch_size or 'all'} strains")

    def job_dir(self, strain):
        return paths.job_dir(self.prepared, self.chrom, strain)

    def run_dir(self, strain):
        return paths.run_dir(self.runs, self.chrom, strain)

    def complete(self, strain):
        """Whether the strain's results are in place and read back complete."""
        results = paths.results_file(self.runs, self.chrom, strain)
        if not os.path.exists(results) or not os.path.exists(paths.seconds_file(self.runs, self.chrom, strain)):
            return False
        try:
            _check_results(results, self.markers, results, read_job(self.job_dir(strain)))
        except InputError:
            return False
        return True


def remove_leftovers(run_dir):
    """Temporary files of a killed run: TARVEL's partial input and results and
    half-written files of the atomic writer."""
    for pattern in (paths.PARTIAL_PREFIX + "*", ".*.tmp-*"):
        for path in glob.glob(os.path.join(glob.escape(run_dir), pattern)):
            os.remove(path)


class Runner:
    """Runs the pending strains of a batch, `threads` TARVEL processes at once."""

    def __init__(self, tarvel, batch, threads, ticker=None):
        self.tarvel, self.batch, self.threads = tarvel, batch, max(1, threads)
        self.ticker = ticker
        self.processes = set()
        self.lock = threading.Lock()
        self.stopping = threading.Event()

    def run(self, strains):
        """The errors of the strains that failed, in batch order."""
        with ThreadPoolExecutor(self.threads) as pool:
            futures = [pool.submit(self.run_strain, s) for s in strains]
            try:
                return [m for m in (f.result() for f in futures) if m]
            except BaseException:
                self.stop()
                raise

    def stop(self):
        self.stopping.set()
        with self.lock:
            for process in self.processes:
                process.kill()

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
            _check_results(partial + ".prob", batch.markers, log, job)
            with AtomicFile(paths.seconds_file(batch.runs, batch.chrom, strain)) as f:
                f.write(f"{seconds:.3f}\n")
            os.replace(partial, os.path.join(run_dir, paths.STRAIN))
            os.rename(partial + ".prob", paths.results_file(batch.runs, batch.chrom, strain))
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
            with self.lock:
                if self.stopping.is_set():
                    return None
                process = subprocess.Popen(command, stdout=log_file, stderr=subprocess.STDOUT)
                self.processes.add(process)
            status = process.wait()
            seconds = time.monotonic() - start
            with self.lock:
                self.processes.discard(process)
        if self.stopping.is_set():
            return None
        if status != 0:
            raise InputError(log, f"TARVEL failed ({_how(status)}) on strain {job['strain']}, "
                             f"chromosome {job['chromosome']}: {_last_message(log)}")
        if not os.path.exists(command[2] + ".prob"):
            raise InputError(log, f"TARVEL ended without writing its results file on strain {job['strain']}, "
                             f"chromosome {job['chromosome']}")
        return seconds


def _check_results(path, markers, log, job):
    """TARVEL's results read back in full, or an error naming the run."""
    try:
        if job["x"] and job["sex"] == "F":
            read_results(path, markers, max_value=TWO_COPY_X_MAX)
        else:
            read_results(path, markers)
    except InputError as e:
        where = f"line {e.line}: " if e.line else ""
        raise InputError(log, f"TARVEL's results on strain {job['strain']}, chromosome {job['chromosome']} "
                         f"are not complete ({where}{e.message})")


def _how(status):
    return f"status {status}" if status > 0 else f"killed by signal {-status}"


def _last_message(log):
    """TARVEL's own message: its last line, or the last that says "Error"."""
    with open(log, errors="replace") as f:
        said = [line.strip() for line in f.readlines()[1:] if line.strip()]
    errors = [line for line in said if "rror" in line]
    return (errors or said or ["(no output)"])[-1]


def run_batch(tarvel, out, chrom, batch_number, batch_size, threads, done):
    batch = Batch(out, chrom, batch_number, batch_size)
    pending = []
    for strain in batch.strains:
        os.makedirs(batch.run_dir(strain), exist_ok=True)
        remove_leftovers(batch.run_dir(strain))
        if not batch.complete(strain):
            pending.append(strain)
    print(f"chromosome file chr{chrom}, batch {batch_number}: {len(batch.strains) - len(pending)} of "
          f"{len(batch.strains)} strains already done, running {len(pending)}", flush=True)
    ticker = progress.Ticker(f"runs: {batch.label}", len(pending), "strains")
    failed = Runner(tarvel, batch, threads, ticker).run(pending)
    if failed:
        more = f" (and {len(failed) - 1} more strains failed)" if len(failed) > 1 else ""
        raise InputError(failed[0].path, failed[0].message + more, failed[0].line)
    with AtomicFile(done) as f:
        f.write("".join(f"{s}\n" for s in batch.strains))
    progress.say(progress.batches_line(out, batch.panel, batch_size))


def _terminate(signum, frame):
    raise SystemExit(128 + signum)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tarvel_panel batch", description=__doc__.split("\n")[0])
    parser.add_argument("--tarvel", required=True)
    parser.add_argument("--out", required=True, help="the panel's output folder")
    parser.add_argument("--chr", required=True, help="the chromosome's safe name")
    parser.add_argument("--batch", type=int, required=True)
    parser.add_argument("--batch-size", type=int, default=0, help="strains per batch; 0: all")
    parser.add_argument("--threads", type=int, default=1, help="TARVEL processes at once")
    parser.add_argument("--done", required=True, help="file listing the batch's strains once done")
    args = parser.parse_args(argv)
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, _terminate)
    return run_command(lambda: run_batch(args.tarvel, args.out, args.chr, args.batch, args.batch_size,
                                         args.threads, args.done),
                       lambda e: f"running TARVEL ({args.tarvel}): {e}")


if __name__ == "__main__":
    sys.exit(main())

"""Run TARVEL for one prepared strain and chromosome.

    python3 -m tarvel_panel.runjob --tarvel BIN --job prepared/chr<c>/<safe> \
        --out runs/chr<c>/<safe>/strain.txt.prob --log LOG

The strain file is copied beside the results (runs/chr<c>/<safe>/strain.txt,
so the results file keeps its name: strain file + ".prob"). TARVEL runs on a
temporary copy and its results are renamed into place only after a complete
run, so an interrupted job never leaves a results file behind. The wall time
goes to `seconds.txt` in the same folder.
"""
import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import time

from .errors import InputError, run_command


def tarvel_command(tarvel, job, chr_dir, job_dir, strain_file):
    command = [str(tarvel), os.path.join(chr_dir, "founders.txt"), strain_file,
               os.path.join(job_dir, "funnel.txt"), str(job["generation"]),
               job["positions"], os.path.join(chr_dir, "positions.txt"), "-e", repr(float(job["error_rate"]))]
    if job["x"]:
        command += ["-x", "-s", job["sex"]]
    return command


def run_job(tarvel, job_dir, out, log):
    job_dir = job_dir.rstrip("/")
    job = _read_job(job_dir)
    out_dir = os.path.dirname(os.path.abspath(out))
    os.makedirs(out_dir, exist_ok=True)
    strain_file = os.path.join(out_dir, "strain.txt")
    if os.path.basename(out) != "strain.txt.prob":
        raise InputError(out, "the results file of a job must be named strain.txt.prob")
    partial = os.path.join(out_dir, f".strain.txt.part-{os.getpid()}")
    shutil.copyfile(os.path.join(job_dir, "strain.txt"), partial)
    command = tarvel_command(tarvel, job, os.path.dirname(job_dir), job_dir, partial)
    try:
        seconds = _run(command, log, job)
        _check_results(partial + ".prob", job)
        with open(os.path.join(out_dir, "seconds.txt"), "w") as f:
            f.write(f"{seconds:.3f}\n")
        shutil.copyfile(partial, strain_file)
        os.rename(partial + ".prob", out)
    finally:
        for path in (partial, partial + ".prob"):
            if os.path.exists(path):
                os.remove(path)


def _read_job(job_dir):
    path = os.path.join(job_dir, "job.json")
    try:
        with open(path) as f:
            return json.load(f)
    except (OSError, ValueError) as e:
        raise InputError(path, f"cannot read the prepared job ({e})")


def _run(command, log, job):
    os.makedirs(os.path.dirname(os.path.abspath(log)), exist_ok=True)
    with open(log, "w") as log_file:
        log_file.write(" ".join(command) + "\n")
        log_file.flush()
        start = time.monotonic()
        process = subprocess.Popen(command, stdout=log_file, stderr=subprocess.STDOUT)
        try:
            status = process.wait()
        except BaseException:
            process.kill()
            process.wait()
            raise
        seconds = time.monotonic() - start
    if status != 0:
        with open(log) as f:
            said = [line.strip() for line in f.readlines()[1:] if line.strip()]
        # TARVEL's own message is its last line, or the last that says "Error"
        errors = [line for line in said if "rror" in line]
        last = (errors or said or ["(no output)"])[-1]
        how = f"status {status}" if status > 0 else f"killed by signal {-status}"
        raise InputError(log, f"TARVEL failed ({how}) on strain {job['strain']}, "
                         f"chromosome {job['chromosome']}: {last}")
    return seconds


def _check_results(path, job):
    if not os.path.exists(path):
        raise InputError(path, "TARVEL ended without writing its results file")
    with open(path, "rb") as f:
        lines = sum(1 for _ in f)
    if lines != job["markers"]:
        raise InputError(path, f"TARVEL wrote {lines} lines for {job['markers']} markers")


def _terminate(signum, frame):
    raise SystemExit(128 + signum)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--tarvel", required=True)
    parser.add_argument("--job", required=True, help="prepared/chr<c>/<safe>")
    parser.add_argument("--out", required=True, help="runs/chr<c>/<safe>/strain.txt.prob")
    parser.add_argument("--log", required=True, help="file for TARVEL's output")
    args = parser.parse_args(argv)
    signal.signal(signal.SIGTERM, _terminate)
    return run_command(lambda: run_job(args.tarvel, args.job, args.out, args.log),
                       lambda e: f"running TARVEL ({args.tarvel}): {e}")


if __name__ == "__main__":
    sys.exit(main())

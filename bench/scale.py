"""The whole workflow on a simulated VCF panel at sequencing density, and
what the measured rates say of a cluster-sized panel. See bench/scale.sh --help."""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)
from panel import JobMemory, disk_bytes, job_trees  # noqa: E402

SNAKEMAKE = "/usr/bin/snakemake"
PYTHON = "/usr/bin/python3"
GIB = 1 << 30
# the panel projected to: strains, chromosomes, markers a chromosome
CLUSTER = (1000, 20, 1_000_000)
# what a job does, told by the command lines of its process tree (first match)
JOB_KINDS = [("prepare", (" prepare --config",)), ("batch", (" batch --engine", " batch --tarvel", "tarvel_engine", "TARVEL ")),
             ("collect", (" collect --out",)), ("drop-runs", (" drop-runs ",)), ("join", (" join --out",)),
             ("qtl2-chr", (" qtl2 --out",)), ("R", ("Rscript",)), ("qc", (" qc --out",)),
             ("report", (" report-table ", " report ")), ("plots", (" plot all",))]
# how a kind's memory grows: with every call of the panel (strains x markers
# of all chromosomes) or, for jobs run once per chromosome and for qc, which
# holds one chromosome's markers at a time, with one chromosome's
SCALES_WITH = {"prepare": "panel", "join": "panel", "report": "panel", "qtl2": "panel"}
# kinds whose memory does not grow with the strains (a batch holds a few
# results at once, collect reads one strain at a time): their peaks are
# fitted to markers alone, since the sampled peak of a job of many short
# processes moves with the number of chances to catch one at its top
STRAIN_FREE = {"batch", "collect", "drop-runs"}

# peaks of three runs closer than this are taken as one size of job
NOISE_MIB, NOISE_SHARE = 16, 0.1
# a kind of job shorter than this (summed) in any run is too short to be
# sampled well: its peak is projected as measured
SAMPLED_S = 1.0

HELP = f"""Writes a simulated VCF panel with tools/simulate/scale_panel.py (default
100 strains x 2 chromosomes x 10^6 markers: founders and strains in two
bgzipped, indexed VCFs, positions in bp; --route cross: an R/qtl2 cross with
markers as rows, positions in cM), builds this working tree
(build-bench/cand-scale/; --tarvel: an existing build), runs the whole workflow on it once (plots off,
--cores 2) and prints the wall time, each kind of job's count, summed wall
time and peak memory (the resident memory of the job's process tree, sampled
every 0.1 s; target 1 GiB), the bytes of the panel and of the output folder;
then the same with a quarter of the markers, and with a quarter of the
strains too, and from the three a projection for {CLUSTER[0]:,} strains x {CLUSTER[1]}
chromosomes x {CLUSTER[2]:,} markers on a cluster: CPU hours, bytes on disk and
the largest job's memory. Try it small first: --strains 10 --markers 10000."""


def parse_args(argv):
    p = argparse.ArgumentParser(prog="bench/scale.sh", description=HELP)
    p.add_argument("--strains", type=int, default=100)
    p.add_argument("--chromosomes", type=int, default=2)
    p.add_argument("--markers", type=int, default=1_000_000, help="markers a chromosome")
    p.add_argument("--route", choices=["vcf", "cross"], default="vcf",
                   help="the panel as VCF files (default) or as an R/qtl2 cross")
    p.add_argument("--work", default=os.path.join(REPO, "build-bench", "scale"),
                   help="folder for the panel and the run (default build-bench/scale/)")
    p.add_argument("--build", default=os.path.join(REPO, "build-bench", "cand-scale"),
                   help="build folder of this working tree (default build-bench/cand-scale/)")
    p.add_argument("--tarvel", help="a TARVEL built from this working tree, instead of building one "
                   "(the tarvel_engine beside it runs the batches)")
    p.add_argument("--set", action="append", default=[], metavar="KEY=VALUE",
                   help="a workflow config value for the runs (e.g. batch_size=25), as YAML; repeatable")
    p.add_argument("--keep", action="store_true", help="keep the panel and the output folder")
    a = p.parse_args(argv)
    try:
        a.settings = dict(_setting(item) for item in a.set)
    except ValueError as e:
        p.error(str(e))
    if a.strains < 1 or a.chromosomes < 1 or a.markers < 100:
        p.error("--strains and --chromosomes must be 1 or more, --markers 100 or more")
    return a


def _setting(item):
    import yaml
    key, sep, value = item.partition("=")
    if not sep or not key.strip():
        raise ValueError(f"--set {item!r}: give KEY=VALUE")
    return key.strip(), yaml.safe_load(value)


def say(text):
    print(f"bench/scale: {text}", file=sys.stderr, flush=True)


class JobWatch(JobMemory):
    """JobMemory, and per job (a child of the Snakemake process) its kind,
    the time it was first and last seen, and its peak."""

    def __init__(self, parent, interval=0.1):
        super().__init__(parent, interval)
        self.jobs = {}    # child pid -> [kind, first seen, last seen, peak KiB]

    def _watch(self):
        while not self._stop.is_set():
            now = time.monotonic()
            for pid, (kib, commands) in job_trees(self.parent).items():
                kind = job_kind(commands)
                job = self.jobs.setdefault(pid, [kind, now, now, 0])
                if job[0] == "other":
                    job[0] = kind
                job[2], job[3] = now, max(job[3], kib)
            self._stop.wait(self.interval)

    def kinds(self):
        """{kind: (jobs, summed wall seconds, peak KiB)}"""
        out = {}
        for kind, first, last, kib in self.jobs.values():
            count, seconds, peak = out.get(kind, (0, 0.0, 0))
            out[kind] = (count + 1, seconds + last - first + self.interval, max(peak, kib))
        return out


def job_kind(commands):
    kind = next((k for k, words in JOB_KINDS if any(w in commands for w in words)), "other")
    if kind == "qtl2-chr" and not re.search(r" qtl2 --out .* --chr ", commands):
        return "qtl2"    # the whole panel's R objects
    return kind


def build(folder):
    say(f"building this working tree in {folder}")
    for command in (["cmake", "-S", REPO, "-B", folder, "-DCMAKE_BUILD_TYPE=Release"],
                    ["cmake", "--build", folder, "-j2"]):
        subprocess.run(["nice"] + command, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(folder, "TARVEL")


def make_panel(a, dest):
    say(f"writing the panel: {a.strains} strains x {a.chromosomes} chromosomes x {a.markers:,} markers ({a.route})")
    start = time.monotonic()
    subprocess.run([PYTHON, os.path.join(REPO, "tools", "simulate", "scale_panel.py"), "--out", dest,
                    "--strains", str(a.strains), "--chromosomes", str(a.chromosomes),
                    "--markers", str(a.markers), "--route", a.route], check=True, stderr=subprocess.DEVNULL)
    say(f"panel written in {time.monotonic() - start:.0f} s")
    if a.route == "cross":
        return {"cross": os.path.join(dest, "cross", "panel.yaml")}
    vcf = os.path.join(dest, "vcf")
    return {"founders_vcf": os.path.join(vcf, "founders.vcf.gz"), "strains_vcf": os.path.join(vcf, "strains.vcf.gz"),
            "strain_table": os.path.join(vcf, "strain_table.tsv"),
            "founders": "AJ,B6,S129,NOD,NZO,CAST,PWK,WSB"}


def run_workflow(panel, tarvel, workdir, settings=None):
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    config = os.path.join(workdir, "config.json")
    with open(config, "w") as f:
        # the engine beside this build's TARVEL runs the batches, as by default
        engine = os.path.join(os.path.dirname(tarvel), "tarvel_engine")
        json.dump(dict(panel, out="out", engine=engine, plots=False, **(settings or {})), f)
    command = [SNAKEMAKE, "--snakefile", os.path.join(REPO, "workflow", "Snakefile"), "--directory", workdir,
               "--cores", "2", "--configfile", config]
    log = os.path.join(workdir, "snakemake.log")
    say(f"running the workflow (log: {log})")
    start = time.monotonic()
    cpu_before = os.times()
    runs_peak = [0]
    stop = threading.Event()

    def watch_runs():   # runs/ at its fullest: the strains' values while chromosomes are collected
        while not stop.wait(2.0):
            runs_peak[0] = max(runs_peak[0], disk_bytes(os.path.join(workdir, "out", "runs")))
    watcher = threading.Thread(target=watch_runs, daemon=True)
    watcher.start()
    with open(log, "w") as out:
        process = subprocess.Popen(["nice"] + command, stdout=out, stderr=subprocess.STDOUT)
        with JobWatch(process.pid) as watch:
            status = process.wait()
    stop.set()
    watcher.join()
    wall = time.monotonic() - start
    cpu_after = os.times()
    if status != 0:
        raise SystemExit(f"bench/scale: the workflow failed ({' '.join(command)}); see {log}")
    cpu = (cpu_after.children_user - cpu_before.children_user) + (cpu_after.children_system - cpu_before.children_system)
    with open(log) as f:
        steps = re.findall(r"(\d+) of (\d+) steps \(100%\) done", f.read())
    return {"wall": wall, "cpu": cpu, "jobs": int(steps[-1][1]) if steps else 0, "kinds": watch.kinds(),
            "bytes": disk_bytes(os.path.join(workdir, "out")), "runs_peak": runs_peak[0]}


def sizes(a):
    """The panel asked for, then with a quarter of its markers, then also a
    quarter of its strains: three points to tell what grows with markers
    from what grows with strains x markers."""
    quarter = max(a.markers // 4, 100)
    return [(a.strains, a.markers), (a.strains, quarter), (max(a.strains // 4, 1), quarter)]


def fit(points, value, strain_free=False):
    """a, b, c of value = a + b * markers + c * strains * markers through the
    three (strains, markers, value) points (least squares when they do not
    determine it, as when the strains cannot be quartered); c = 0 and the
    points of the most strains only when `strain_free`."""
    import numpy as np
    if strain_free:
        most = max(s for s, _, _ in points)
        points = [p for p in points if p[0] == most]
    rows = np.array([[1.0, m, s * m] for s, m, _ in points])
    if strain_free:
        rows[:, 2] = 0.0
    values = np.array([value(v) for _, _, v in points], float)
    return np.linalg.lstsq(rows, values, rcond=None)[0]


def projection(a, runs):
    """The cluster panel's CPU hours, bytes and each kind's largest job,
    each fitted to the three runs: memory as a + b * markers + c * strains x
    markers of one chromosome (whole-panel jobs: of all chromosomes), CPU and
    bytes the same over all chromosomes."""
    strains, chromosomes, markers = CLUSTER
    points = [(s, m, run) for (s, m), run in zip(sizes(a), runs)]
    panel_points = [(s, m * a.chromosomes, run) for s, m, run in points]

    def at(coefficients, s, m):
        return float(coefficients[0] + coefficients[1] * m + coefficients[2] * s * m)
    memory, unsampled = {}, set()
    for kind in runs[0]["kinds"]:
        whole = SCALES_WITH.get(kind) == "panel"
        peak = lambda run: run["kinds"].get(kind, (0, 0, 0))[2] / 1024
        peaks = [peak(run) for run in runs]
        if any(run["kinds"].get(kind, (0, 0.0, 0))[1] < SAMPLED_S for run in runs):
            unsampled.add(kind)
        if kind in unsampled or max(peaks) - min(peaks) < max(NOISE_MIB, NOISE_SHARE * max(peaks)):
            memory[kind] = max(peaks)   # no growth the sampling can tell from its noise
            continue
        c = fit(panel_points if whole else points, peak, strain_free=kind in STRAIN_FREE)
        memory[kind] = max(at(c, strains, markers * chromosomes if whole else markers), 0.0)
    cpu = fit(panel_points, lambda run: run["cpu"])
    out = fit(panel_points, lambda run: run["bytes"])
    # runs/ holds the values of the chromosomes being collected: it grows with one chromosome's strains x markers
    runs_peak = fit(points, lambda run: run["runs_peak"])
    largest = max(memory, key=memory.get) if memory else "-"
    per_chromosome = {k: v for k, v in memory.items() if SCALES_WITH.get(k) != "panel"}
    largest_per_chromosome = max(per_chromosome, key=per_chromosome.get) if per_chromosome else "-"
    panel_factor = strains * chromosomes * markers / (a.strains * a.chromosomes * a.markers)
    return {"cpu_hours": at(cpu, strains, markers * chromosomes) / 3600,
            "out_bytes": at(out, strains, markers * chromosomes),
            "panel_bytes": runs[0]["panel_bytes"] * panel_factor, "memory": memory, "unsampled": unsampled,
            "runs_peak": max(at(runs_peak, strains, markers), 0.0),
            "largest": largest,
            "largest_per_chromosome": largest_per_chromosome}


def report(a, runs, proj):
    run = runs[0]
    settings = "".join(f", {k}={v}" for k, v in a.settings.items())
    lines = [f"Panel: {a.strains} strains x {a.chromosomes} chromosomes x {a.markers:,} markers "
             f"({'VCF' if a.route == 'vcf' else 'R/qtl2 cross'}, {run['panel_bytes'] / 1e6:.1f} MB)",
             f"Workflow, plots off{settings}: {run['wall']:.1f} s wall, {run['cpu']:.1f} s CPU, {run['jobs']} jobs, "
             f"{run['bytes'] / 1e6:.1f} MB in the output folder (runs/ at its fullest during the run: "
             f"{run['runs_peak'] / 1e6:,.1f} MB, sampled every 2 s)",
             "", "| job kind | jobs | wall s (summed) | peak MB | within 1 GiB |", "|---|---:|---:|---:|---|"]
    for kind, (count, seconds, kib) in sorted(run["kinds"].items(), key=lambda item: -item[1][2]):
        lines.append(f"| {kind} | {count} | {seconds:.1f} | {kib / 1024:.0f} | {'yes' if kib * 1024 <= GIB else 'NO'} |")
    lines += ["", "The smaller runs the projection is fitted to:"]
    for (s, m), r in zip(sizes(a)[1:], runs[1:]):
        peaks = ", ".join(f"{k} {kib / 1024:.0f}" for k, (_, _, kib) in sorted(r["kinds"].items()))
        lines.append(f"- {s} strains x {m:,} markers: {r['wall']:.1f} s wall, {r['cpu']:.1f} s CPU, "
                     f"{r['bytes'] / 1e6:.1f} MB; peak MB {peaks}")
    strains, chromosomes, markers = CLUSTER
    lines += ["", f"Projected to {strains:,} strains x {chromosomes} chromosomes x {markers:,} markers (each "
              "figure fitted as a + b x markers + c x strains x markers; "
              f"{', '.join(sorted(STRAIN_FREE))} to markers alone):",
              f"- CPU: {proj['cpu_hours']:,.0f} core hours",
              f"- disk: {proj['out_bytes'] / 1e9:,.0f} GB of outputs, {proj['panel_bytes'] / 1e9:,.0f} GB of input; "
              f"runs/ at its fullest {proj['runs_peak'] / 1e9:,.0f} GB (the values of the chromosomes being "
              f"collected; more where more of them run at once)",
              f"- largest job: {proj['largest']}, about {proj['memory'].get(proj['largest'], 0) / 1024:,.1f} GiB; "
              f"largest per-chromosome job: {proj['largest_per_chromosome']}, about "
              f"{proj['memory'].get(proj['largest_per_chromosome'], 0) / 1024:,.1f} GiB"]
    lines.append("- memory by kind, GiB: " + ", ".join(
        f"{k} {v / 1024:,.1f}{' (as measured: too short to sample)' if k in proj['unsampled'] else ''}"
        for k, v in sorted(proj["memory"].items())))
    return "\n".join(lines)


def main(argv=None):
    a = parse_args(argv)
    tarvel = os.path.abspath(a.tarvel) if a.tarvel else build(a.build)
    shutil.rmtree(a.work, ignore_errors=True)
    os.makedirs(a.work)
    runs = []
    for strains, markers in sizes(a):
        panel_dir = os.path.join(a.work, f"panel-{strains}x{markers}")
        panel = make_panel(argparse.Namespace(strains=strains, chromosomes=a.chromosomes, markers=markers,
                                              route=a.route), panel_dir)
        run = run_workflow(panel, tarvel, os.path.join(a.work, f"run-{strains}x{markers}"), a.settings)
        run["panel_bytes"] = disk_bytes(panel_dir)
        runs.append(run)
        if not a.keep:
            shutil.rmtree(panel_dir, ignore_errors=True)
            shutil.rmtree(os.path.join(a.work, f"run-{strains}x{markers}"), ignore_errors=True)
    print(report(a, runs, projection(a, runs)))
    if not a.keep:
        shutil.rmtree(a.work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

"""The panel workflow of a reference revision against this working tree, side
by side on one simulated Collaborative Cross-sized panel. See bench/panel.sh --help."""
import argparse
import os
import re
import resource
import shutil
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "tests", "diff"))
import builds  # noqa: E402

SNAKEMAKE = "/usr/bin/snakemake"
PYTHON = "/usr/bin/python3"
DEFAULT_REV = "5f02fd7"

HELP = f"""Makes a simulated panel with tools/simulate/make_panel.py (69 strains,
chromosomes 1-19 and X, 110,100 markers, 2% missing calls, 0.4% untyped founder
genotypes, #Generation 20; --quick: 8 strains, the example panel's three
chromosomes), builds revision BASE (default {DEFAULT_REV}) into CACHE/ref-<hash>/
and this working tree's TARVEL and tarvel_engine, then runs each revision's
workflow on the panel, plots off and then on (--no-plots: off only), from a
fresh folder each time, --cores 2: the reference with its TARVEL, the working
tree with its engine; and the working tree once more plots off with the
whole-panel R object off (qtl2_whole_max_mb=0: the R objects per chromosome
only), against the reference's run plots off. Then the floor: the engine alone on the same batches
(one job list per chromosome, as the workflow's batches make them from the
prepared panel), two engines at a time. Prints per run the wall time, the
peak memory of the largest job (the resident memory of a job's process tree,
sampled every 0.1 s; the Snakemake process itself apart), the CPU time of
the whole run (user and system, every process it started), the number of jobs
and the bytes left in the output folder, with the ratio working tree /
reference; the floor's wall time and the panel's ratio to it; then the
largest job of each kind (prepare, runs, collect, R, plots)."""


def parse_args(argv):
    p = argparse.ArgumentParser(prog="bench/panel.sh", description=HELP)
    p.add_argument("--base", "--rev", dest="rev", default=DEFAULT_REV,
                   help=f"reference git revision (default {DEFAULT_REV})")
    p.add_argument("--quick", action="store_true", help="a small panel, for a smoke run")
    p.add_argument("--no-plots", action="store_true", help="only the runs without plots")
    p.add_argument("--cache", default=builds.DEFAULT_CACHE, help="builds and scratch (default build-bench/)")
    p.add_argument("--keep", action="store_true", help="keep the panel and the output folders")
    return p.parse_args(argv)


def say(text):
    print(f"bench/panel: {text}", file=sys.stderr, flush=True)


def make_panel(simulate, dest, quick):
    args = [PYTHON, os.path.join(REPO, "tools", "simulate", "make_panel.py"), "--out", dest,
            "--simulate", simulate, "--seed", "7", "--generation", "20"]
    args += ["--strains", "8"] if quick else ["--strains", "69", "--chromosomes", "cc",
                                              "--missing", "0.02", "--founder-missing", "0.004"]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
    return os.path.join(dest, "panel.zip")


# what a job does, told by the command lines of its processes (a revision's
# steps as `-m tarvel_panel STEP` or, before the steps had one entry point,
# as `-m tarvel_panel.STEP`; Rscript shows as R's own binary once started, so
# an R job run by the qtl2 step is told by the step)
JOB_KINDS = [("R", ("Rscript", " qtl2 --out")), ("plots", ("plot all",)), ("collect", ("tarvel_panel.collect", " collect --out")),
             ("runs", ("TARVEL", "tarvel_engine")), ("prepare", ("tarvel_panel.prepare", " prepare --config"))]


class JobMemory:
    """Peak resident memory of the largest process tree under one parent
    (a Snakemake job: the shell and everything it started), sampled; also
    the peak per kind of job."""

    def __init__(self, parent, interval=0.1):
        self.parent, self.interval = parent, interval
        self.peak_kib = 0
        self.by_kind = {}
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._watch, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()

    def _watch(self):
        while not self._stop.is_set():
            for kib, commands in job_trees(self.parent).values():
                self.peak_kib = max(self.peak_kib, kib)
                kind = next((k for k, words in JOB_KINDS if any(w in commands for w in words)), "other")
                self.by_kind[kind] = max(self.by_kind.get(kind, 0), kib)
            self._stop.wait(self.interval)


def processes():
    """{pid: (parent pid, resident KiB, command line)} of every process readable now."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/stat") as f:
                stat = f.read()
            with open(f"/proc/{entry}/statm") as f:
                resident_pages = int(f.read().split()[1])
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                command = f.read().replace(b"\0", b" ").decode(errors="replace")
        except (OSError, IndexError, ValueError):
            continue
        ppid = int(stat[stat.rindex(")") + 2:].split()[1])
        table[int(entry)] = (ppid, resident_pages * os.sysconf("SC_PAGESIZE") // 1024, command)
    return table


def job_trees(root):
    """{child of root: (resident KiB, command lines) of the child's whole process tree}."""
    table = processes()
    children = {}
    for pid, (ppid, _, _) in table.items():
        children.setdefault(ppid, []).append(pid)

    def tree(pid):
        below = [tree(c) for c in children.get(pid, [])]
        return (table[pid][1] + sum(kib for kib, _ in below),
                " ".join([table[pid][2]] + [command for _, command in below]))
    return {child: tree(child) for child in children.get(root, [])}


def children_cpu():
    """User and system seconds of every finished descendant so far: less
    moved by other work on the machine than the wall time."""
    used = resource.getrusage(resource.RUSAGE_CHILDREN)
    return used.ru_utime + used.ru_stime


def disk_bytes(folder):
    total = 0
    for top, _, files in os.walk(folder):
        for name in files:
            try:
                total += os.lstat(os.path.join(top, name)).st_blocks * 512
            except OSError:
                pass
    return total


def run_workflow(snakefile, program, cross, workdir, plots, settings=()):
    """`program`: "tarvel=BIN" or "engine=BIN"; `settings`: more KEY=VALUE."""
    shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(workdir)
    command = [SNAKEMAKE, "--snakefile", snakefile, "--directory", workdir, "--cores", "2",
               "--config", f"cross={cross}", "out=out", program, f"plots={str(plots).lower()}", *settings]
    log = os.path.join(workdir, "snakemake.log")
    cpu = children_cpu()
    start = time.monotonic()
    with open(log, "w") as out:
        process = subprocess.Popen(command, stdout=out, stderr=subprocess.STDOUT)
        with JobMemory(process.pid) as memory:
            status = process.wait()
    wall = time.monotonic() - start
    cpu = children_cpu() - cpu
    if status != 0:
        raise SystemExit(f"bench/panel: the workflow failed ({' '.join(command)}); see {log}")
    with open(log) as f:
        steps = re.findall(r"(\d+) of (\d+) steps \(100%\) done", f.read())
    jobs = int(steps[-1][1]) if steps else 0
    return {"wall": wall, "cpu": cpu, "peak_kib": memory.peak_kib, "by_kind": memory.by_kind, "jobs": jobs,
            "bytes": disk_bytes(os.path.join(workdir, "out"))}


def engine_floor(engine, out):
    """Wall seconds of the engine alone on the panel's batches (one per
    chromosome, all its strains), two engines at a time; and the peak
    resident memory of one engine, KiB."""
    sys.path.insert(0, REPO)
    from tarvel_panel import native
    from tarvel_panel.panel.prepared import read_prepared
    from tarvel_panel.run import batch as runs
    floor = os.path.join(out, "floor")
    commands = []
    for chrom in read_prepared(out).chromosome_safes():
        b = runs.Batch(out, chrom, 0, 0, founder_values=True)   # as the workflow runs it by default
        for strain in b.strains:
            os.makedirs(b.run_dir(strain), exist_ok=True)
        part = runs.engine_parts(b, b.strains, 1)[0]
        jobs = os.path.join(floor, f"chr{chrom}.jobs")
        os.makedirs(floor, exist_ok=True)
        runs.write_job_list(jobs, b, part)
        commands.append(runs.engine_command(engine, b, jobs, part[0][1]))
    # the largest chromosomes first, so that the two lanes end together
    commands.sort(key=lambda c: -os.path.getsize(c[c.index("--positions") + 1]))
    # the environment the workflow gives its jobs (workflow/rules/common.smk)
    env = dict(os.environ, GLIBC_TUNABLES=os.environ.get("GLIBC_TUNABLES", native.MALLOC_TUNABLES))
    start, cpu, peak, running = time.monotonic(), children_cpu(), 0, []
    while commands or running:
        while commands and len(running) < 2:
            running.append(subprocess.Popen(commands.pop(0), stdout=subprocess.DEVNULL, env=env))
        time.sleep(0.01)
        for process in list(running):
            try:
                with open(f"/proc/{process.pid}/status") as f:
                    peak = max([peak] + [int(line.split()[1]) for line in f if line.startswith("VmHWM:")])
            except OSError:
                pass
            if process.poll() is not None:
                if process.returncode != 0:
                    raise SystemExit(f"bench/panel: the engine failed on {process.args}")
                running.remove(process)
    return time.monotonic() - start, children_cpu() - cpu, peak


def ratio(new, old):
    return f"{new / old:.3f}" if old else "-"


def table(rows, floor=None):
    lines = ["| run | wall s | CPU s | largest job MB | jobs | bytes on disk |",
             "|---|---:|---:|---:|---:|---:|"]
    for label, ref, cand in rows:
        lines.append(f"| {label}, reference | {ref['wall']:.1f} | {ref['cpu']:.1f} | {ref['peak_kib'] / 1024:.0f} | "
                     f"{ref['jobs']} | {ref['bytes'] / 1e6:.1f} MB |")
        lines.append(f"| {label}, working tree | {cand['wall']:.1f} | {cand['cpu']:.1f} | "
                     f"{cand['peak_kib'] / 1024:.0f} | {cand['jobs']} | {cand['bytes'] / 1e6:.1f} MB |")
        lines.append(f"| {label}, ratio | {ratio(cand['wall'], ref['wall'])} | {ratio(cand['cpu'], ref['cpu'])} | "
                     f"{ratio(cand['peak_kib'], ref['peak_kib'])} | {ratio(cand['jobs'], ref['jobs'])} | "
                     f"{ratio(cand['bytes'], ref['bytes'])} |")
    if floor:
        seconds, cpu, kib = floor
        lines += ["", "| against the engine floor (the engine alone, two at a time) | wall s | CPU s | "
                      "one engine's peak MB | panel / floor, wall | panel / floor, CPU |",
                  "|---|---:|---:|---:|---:|---:|"]
        for label, _, cand in rows:
            lines.append(f"| {label} | {seconds:.1f} | {cpu:.1f} | {kib / 1024:.0f} | "
                         f"{ratio(cand['wall'], seconds)} | {ratio(cand['cpu'], cpu)} |")
    lines += ["", "Largest job of each kind, MB (reference / working tree):"]
    for label, ref, cand in rows:
        kinds = [k for k, _ in JOB_KINDS + [("other", "")] if k in ref["by_kind"] or k in cand["by_kind"]]
        lines.append(f"- {label}: " + ", ".join(
            f"{k} {ref['by_kind'].get(k, 0) / 1024:.0f} / {cand['by_kind'].get(k, 0) / 1024:.0f}" for k in kinds))
    return "\n".join(lines)


def main(argv=None):
    a = parse_args(argv)
    full = builds.resolve_revision(a.rev)
    say(f"building revision {full[:10]} and the working tree")
    ref_build = builds.build_revision(a.rev, a.cache, progress=say)
    ref_src = os.path.join(os.path.dirname(ref_build), "src")
    cand_build = builds.cmake_build(REPO, os.path.join(a.cache, "cand-panel"), progress=say)
    work = os.path.join(a.cache, "panel-quick" if a.quick else "panel")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    say("making the panel")
    cross = make_panel(os.path.join(cand_build, "tools", "simulate", "tarvel_simulate"),
                       os.path.join(work, "cross"), a.quick)
    sides = [("reference", os.path.join(ref_src, "workflow", "Snakefile"), "tarvel=" + os.path.join(ref_build, "TARVEL")),
             ("working tree", os.path.join(REPO, "workflow", "Snakefile"),
              "engine=" + os.path.join(cand_build, "tarvel_engine"))]
    rows = []
    for plots in ([False] if a.no_plots else [False, True]):
        label = "plots on" if plots else "plots off"
        results = []
        for name, snakefile, tarvel in sides:
            say(f"{label}: {name}")
            results.append(run_workflow(snakefile, tarvel, cross,
                                        os.path.join(work, f"{name.replace(' ', '_')}-{label.replace(' ', '_')}"),
                                        plots))
        rows.append((label, *results))
        if not plots:
            # the configuration the memory target is set for: the R objects per chromosome only
            say("plots off, whole-panel R object off: working tree")
            rows.append(("plots off, whole-panel R object off", results[0],
                         run_workflow(sides[1][1], sides[1][2], cross, os.path.join(work, "working_tree-whole_off"),
                                      False, ["qtl2_whole_max_mb=0"])))
    say("the engine floor")
    floor = engine_floor(os.path.join(cand_build, "tarvel_engine"),
                         os.path.join(work, "working_tree-plots_off", "out"))
    print(f"reference {a.rev} ({full[:10]}) against the working tree; "
          f"{'quick panel' if a.quick else '69 strains, 20 chromosomes, 110,100 markers'}, --cores 2")
    print(table(rows, floor))
    if not a.keep:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

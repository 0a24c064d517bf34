"""TARVEL's benchmark: a reference revision against a candidate source tree,
side by side on the same simulated inputs. See bench/run.sh --help."""
import argparse
import hashlib
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tests", "diff"))
import builds  # noqa: E402
import configs  # noqa: E402
import measure  # noqa: E402
import report  # noqa: E402

FILES = ["founders.txt", "strain.txt", "funnel.txt"]

HELP = """Builds revision REV (default ed462ef) once into CACHE/ref-<hash>/ and the
candidate source tree DIR (default: this checkout's working tree) in Release
into CACHE/cand-<path>/default/ and, when DIR's CMake has the TARVEL_AVX2
option, again with -DTARVEL_AVX2=OFF (portable/: no AVX2 path at all). Then,
per configuration, simulates the strain with the candidate's tarvel_simulate,
runs each binary once observed (peak memory of the process, by GNU time; the
arrival time of each progress line on a pseudo-terminal, for the time per
marker of each stage; the results file and standard output, which must be
byte-identical to the reference's), and times them side by side with
hyperfine (one warm-up, then --runs runs; without hyperfine: --runs runs each
in turn). Prints the CPU's features, a table per configuration and build
(medians, ratio candidate/reference, peak MB = 2^20 bytes), the microseconds
per marker of each stage, and whether the progress lines reach a pipe as they
are printed. Exit status 1 when any output differs from the reference's.

Configurations (100,000 markers; --quick: 10,000 and 2 runs):
""" + "\n".join("  " + c.name for c in configs.CONFIGS) + """
The 1M-marker run is observed once per binary (its time is that run's)."""


def parse_args(argv):
    p = argparse.ArgumentParser(prog="bench/run.sh", description=HELP,
                                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--rev", default="ed462ef", help="reference git revision (default ed462ef)")
    p.add_argument("--source", default=builds.REPO,
                   help="candidate source tree (default: the checkout this script is in)")
    p.add_argument("--runs", type=int, help="timed runs per binary (default 5; --quick 2)")
    p.add_argument("--quick", action="store_true", help="a smoke run: fewer markers and runs")
    p.add_argument("--config", action="append", default=[],
                   help="only configurations whose name starts with this (repeatable)")
    p.add_argument("--cache", default=builds.DEFAULT_CACHE,
                   help="where builds and scratch runs go (default build-bench/ of this checkout)")
    p.add_argument("--keep", action="store_true", help="keep the simulated inputs and outputs")
    a = p.parse_args(argv)
    a.runs = a.runs or (2 if a.quick else 5)
    return a


def cpu_features():
    model, flags = "unknown CPU", set()
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                key, _, value = line.partition(":")
                if key.strip() == "model name":
                    model = value.strip()
                elif key.strip() == "flags":
                    flags = set(value.split())
                    break
    except OSError:
        pass
    shown = ", ".join("%s %s" % (x, "yes" if x in flags else "no")
                      for x in ("sse4_2", "avx", "avx2", "fma", "avx512f"))
    return "CPU: %s (%d cores); %s" % (model, os.cpu_count() or 0, shown)


def build_all(a):
    """{label: build dir} for the reference and the candidate's builds."""
    found = {"reference": builds.build_revision(a.rev, a.cache, progress=builds.say)}
    default = builds.candidate_build_dir(a.source, a.cache, "default")
    found["candidate"] = builds.cmake_build(a.source, default, progress=builds.say)
    if builds.cache_has_option(default, "TARVEL_AVX2"):
        portable = builds.candidate_build_dir(a.source, a.cache, "portable")
        found["portable"] = builds.cmake_build(a.source, portable, ["-DTARVEL_AVX2=OFF"],
                                               progress=builds.say)
    else:
        builds.say("the candidate has no TARVEL_AVX2 option: one candidate build only")
    return found


def prepare(config, markers, simulate, top, labels):
    """Simulates CONFIG's inputs into TOP/data; a run directory per label
    with links to them (each run writes its own results file)."""
    data = os.path.join(top, "data")
    builds.say("simulating %s: %d markers" % (config.name, markers))
    subprocess.run([simulate, "--out", data, "--markers", str(markers), "--seed", "1"]
                   + config.simulate, check=True, stdout=subprocess.DEVNULL)
    for label in labels:
        d = os.path.join(top, label)
        os.makedirs(d)
        for name in os.listdir(data):
            os.symlink(os.path.join(data, name), os.path.join(d, name))


def results_digest(run_dir):
    """SHA-256 of the run's results file; None when it wrote none."""
    path = os.path.join(run_dir, "strain.txt.prob")
    if not os.path.exists(path):
        return None
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def build_name(label, dirs):
    if label == "portable":
        return "portable (TARVEL_AVX2=OFF)"
    return "default (AVX2 where the CPU has it)" if "portable" in dirs else "default"


def bench_config(config, a, dirs, work):
    """Timing rows and stage rows for one configuration."""
    labels = [l for l in dirs if l != "portable" or config.portable]
    markers = config.marker_count(a.quick)
    top = os.path.join(work, config.name.split()[0] + "-" + "-".join(config.run))
    top = top.replace(" ", "_") + ("-%d" % markers)
    prepare(config, markers, builds.simulator(dirs["candidate"]), top, labels)
    args = FILES + config.run + ["-cm", "positions.txt"]
    observed, digest = {}, {}
    for label in labels:
        builds.say("observing %s on %s" % (label, config.name))
        observed[label] = measure.observe(builds.tarvel(dirs[label]), args, os.path.join(top, label))
        digest[label] = results_digest(os.path.join(top, label))
    ref = observed["reference"]
    same = {l: observed[l].status == ref.status == 0 and observed[l].stdout == ref.stdout
            and digest[l] == digest["reference"] is not None for l in labels}
    if config.timed:
        builds.say("timing %s: %d runs each" % (config.name, a.runs))
        commands = {l: [builds.tarvel(dirs[l])] + [os.path.join(top, l, x) for x in FILES]
                    + config.run + ["-cm", os.path.join(top, l, "positions.txt")] for l in labels}
        runs = measure.time_side_by_side(commands, a.runs, top)
        times = {l: measure.median(t) for l, t in runs.items()}
        fastest = {l: min(t) for l, t in runs.items()}
    else:
        times = fastest = {l: observed[l].wall for l in labels}
    rows = [dict(config=config.name, markers=markers, build=build_name(l, dirs),
                 ref_s=times["reference"], cand_s=times[l],
                 min_ratio=fastest[l] / fastest["reference"],
                 ref_kib=observed["reference"].maxrss_kib, cand_kib=observed[l].maxrss_kib,
                 same=same[l]) for l in labels if l != "reference"]
    stages = [(config.name, l, markers, measure.stage_seconds(observed[l]))
              for l in ("reference", "candidate")]
    return rows, stages


def pipe_check(dirs, work):
    """Whether the candidate's progress lines reach a pipe as printed."""
    cfg = configs.CONFIGS[0]
    top = os.path.join(work, "pipe-check")
    prepare(cfg, 20_000, builds.simulator(dirs["candidate"]), top, ["candidate"])
    obs = measure.observe(builds.tarvel(dirs["candidate"]), FILES + cfg.run + ["-cm", "positions.txt"],
                          os.path.join(top, "candidate"), terminal=False)
    return measure.lines_arrive_as_printed(obs), obs.wall


def main(argv):
    a = parse_args(argv)
    a.source = os.path.abspath(a.source)
    try:
        chosen = configs.by_name(a.config)
        print(cpu_features(), flush=True)
        dirs = build_all(a)
    except (ValueError, builds.BuildError) as e:
        print("bench: " + str(e))
        return 1
    print("reference: revision %s (%s)\ncandidate: %s (%s)" % (
        a.rev, dirs["reference"], a.source, ", ".join(dirs[l] for l in dirs if l != "reference")),
        flush=True)
    work = measure.scratch(os.path.join(a.cache, "runs"))
    rows, stages = [], []
    try:
        for config in chosen:
            r, s = bench_config(config, a, dirs, work)
            rows += r
            stages += s
        flushed, wall = pipe_check(dirs, work)
    finally:
        if a.keep:
            print("inputs and outputs kept in " + work)
        else:
            shutil.rmtree(work, ignore_errors=True)
    timing = "median of %d runs (hyperfine, 1 warm-up)" % a.runs if shutil.which("hyperfine") \
        else "median of %d runs in turn" % a.runs
    print("\nWall time: %s; 1M-marker rows: one observed run.\n" % timing)
    print(report.timing_table(rows))
    print("\nMicroseconds per marker and stage (stage = from one progress line to the next;"
          " load = before 'Computing Emission Prob', write = after 'Writing Results'):\n")
    print(report.stage_table(stages))
    print("\nProgress lines on a pipe: %s" % (
        "arrive as printed" if flushed else
        "held until the end of the run (%.2f s): not flushed as printed" % wall))
    differ = [r for r in rows if not r["same"]]
    for r in differ:
        print("RESULTS DIFFER: %s, %s build" % (r["config"], r["build"]))
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

#!/usr/bin/python3
"""Differential test: the candidate TARVEL must print the same standard
output (but for the lines listed in compare.STDOUT_MAY_DIFFER), exit with the
same status and write the same results file bytes (or none) as a reference
build, on simulated inputs of every configuration.

  /usr/bin/python3 tests/diff/diff_test.py [--short] [--candidate BIN|SRCDIR]
      [--rev REV | --reference BIN] [--case NAME]... [--keep] [--list]

Defaults: candidate build/TARVEL of this checkout; reference git revision
ed462ef, built once (Release) into build-bench/ref-<hash>/ and reused; the
inputs come from the reference's tarvel_simulate with fixed seeds. Prints one
line per failing case with the command that repeats it, then
"N passed, M failed"; exits 1 when any case fails."""
import argparse
import concurrent.futures
import os
import shlex
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import builds  # noqa: E402
import cases  # noqa: E402
import compare  # noqa: E402


def parse_args(argv):
    p = argparse.ArgumentParser(
        prog="diff_test.py", description=__doc__.split("\n\n")[0],
        formatter_class=argparse.RawDescriptionHelpFormatter,
        epilog="The full form runs %d cases, --short the %d covering ones (CI)."
        % (len(cases.all_cases(False)), len(cases.all_cases(True))))
    p.add_argument("--short", action="store_true", help="only the covering cases (about a minute)")
    p.add_argument("--candidate", default=os.path.join(builds.REPO, "build", "TARVEL"),
                   help="TARVEL binary, or a source tree to build (default: build/TARVEL)")
    p.add_argument("--rev", default="ed462ef", help="reference git revision (default ed462ef)")
    p.add_argument("--reference", help="reference TARVEL binary instead of building --rev")
    p.add_argument("--simulator", help="tarvel_simulate to make inputs with "
                   "(default: the one beside the reference)")
    p.add_argument("--cache", default=builds.DEFAULT_CACHE,
                   help="where builds are kept (default build-bench/ of this checkout)")
    p.add_argument("--case", action="append", default=[],
                   help="run only the case of this name (repeatable)")
    p.add_argument("--keep", action="store_true", help="keep the work directory and say where")
    p.add_argument("--list", action="store_true", help="list the cases and their command lines")
    p.add_argument("--jobs", type=int, default=2, choices=[1, 2], help="cases run at once (default 2)")
    return p.parse_args(argv)


def binaries(a):
    """(reference, candidate, simulator) paths, building what is asked for."""
    if a.reference:
        reference = os.path.abspath(a.reference)
        sim_default = os.path.join(os.path.dirname(reference), "tools", "simulate", "tarvel_simulate")
    else:
        build_dir = builds.build_revision(a.rev, a.cache, progress=builds.say)
        reference, sim_default = builds.tarvel(build_dir), builds.simulator(build_dir)
    candidate = os.path.abspath(a.candidate)
    if os.path.isdir(candidate):
        d = builds.cmake_build(candidate, builds.candidate_build_dir(candidate, a.cache),
                               progress=builds.say)
        candidate = builds.tarvel(d)
    simulate = os.path.abspath(a.simulator) if a.simulator else sim_default
    for what, path in (("reference", reference), ("candidate", candidate), ("simulator", simulate)):
        if not os.access(path, os.X_OK):
            raise builds.BuildError("the %s %s is not an executable file" % (what, path))
    return reference, candidate, simulate


def repeat_command(a, name):
    cmd = ["/usr/bin/python3", os.path.relpath(os.path.abspath(__file__)), "--case", name, "--keep",
           "--candidate", a.candidate]
    cmd += ["--reference", a.reference] if a.reference else ["--rev", a.rev]
    if a.simulator:
        cmd += ["--simulator", a.simulator]
    if a.cache != builds.DEFAULT_CACHE:
        cmd += ["--cache", a.cache]
    return " ".join(shlex.quote(c) for c in cmd)


def selected(a):
    chosen = cases.all_cases(a.short and not a.case)
    if a.case:
        known = {c.name for c in chosen}
        unknown = [n for n in a.case if n not in known]
        if unknown:
            raise builds.BuildError("no case named " + ", ".join(unknown) + " (see --list)")
        chosen = [c for c in chosen if c.name in a.case]
    return chosen


def main(argv):
    a = parse_args(argv)
    try:
        chosen = selected(a)
        if a.list:
            for c in chosen:
                print("%-45s TARVEL %s" % (c.name, " ".join(c.args)))
            return 0
        reference, candidate, simulate = binaries(a)
    except builds.BuildError as e:
        print("diff_test: " + str(e))
        return 1
    work = tempfile.mkdtemp(prefix="tarvel-diff-")
    start = time.time()
    passed = failed = 0
    print("reference %s\ncandidate %s\n%d cases" % (reference, candidate, len(chosen)), flush=True)
    with concurrent.futures.ThreadPoolExecutor(max_workers=a.jobs) as pool:
        futures = {pool.submit(compare.check, c, reference, candidate, simulate, work): c
                   for c in chosen}
        for f in concurrent.futures.as_completed(futures):
            c = futures[f]
            try:
                diffs = f.result()
            except Exception as e:  # a case that cannot even be set up fails
                diffs = ["could not run: %s" % e]
            if diffs:
                failed += 1
                print("FAIL %s: %s; TARVEL %s; repeat: %s"
                      % (c.name, "; ".join(diffs), " ".join(c.args), repeat_command(a, c.name)),
                      flush=True)
            else:
                passed += 1
    if a.keep:
        print("inputs and outputs kept in " + work)
    else:
        shutil.rmtree(work, ignore_errors=True)
    print("compared in %.0f s" % (time.time() - start))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))

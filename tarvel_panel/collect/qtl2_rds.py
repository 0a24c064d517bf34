"""One R/qtl2 object as qtl2/<kind>.rds (the whole panel) or
qtl2/<kind>_<chr>.rds (one chromosome, --chr), written by R itself
(workflow/scripts/qtl2_rds.R): a chromosome's from its binary parts, the
whole panel's probabilities from the chromosomes' objects, its maps from the
index parts; found here so that no command line lists them.

    python3 -m tarvel_panel qtl2 --out OUT --kind alleleprobs|genoprobs|pmap|gmap [--chr SAFE] --dest FILE.rds

R writes FILE.rds as .FILE.rds.tmp-<R's pid> and renames it when complete.
A temporary file left by an R that was killed (SIGKILL or SIGTERM, which R
does not clean up after) goes at the next run; a SIGTERM or SIGINT to this
command stops R (with SIGTERM: R takes a SIGINT only once saveRDS is done)
and removes its temporary file before it ends.
"""
import argparse
import glob
import math
import os
import signal
import subprocess
import sys

from tarvel_panel import REPO
from tarvel_panel import paths
from tarvel_panel.errors import InputError, run_command
from tarvel_panel.pairs import FOUNDERS, NPAIRS
from tarvel_panel.panel.prepared import read_prepared
from tarvel_panel.support import progress


SCRIPT = os.path.join(REPO, "workflow", "scripts", "qtl2_rds.R")
GENOTYPES = {"alleleprobs": FOUNDERS, "genoprobs": NPAIRS}
WHOLE_KEY = "qtl2_whole_max_mb"
CHROMOSOME_KEY = "qtl2_chr_max_mb"


def object_mb(kind, strains, markers):
    """MB of an object's probabilities: 8 bytes x strains x genotypes x markers."""
    return 8 * strains * GENOTYPES.get(kind, 0) * markers / 2**20


def job_mem_mb(kind, strains, markers, attempt=1):
    """What an R job writing an object asks for: R holds the whole object once
    (read a strain at a time into the array saveRDS writes), plus about 200
    MB for R itself and the Python step that starts it (a map's job, holding
    next to nothing, peaked at 181 MB under Slurm)."""
    return attempt * (200 + math.ceil(1.2 * object_mb(kind, strains, markers)))


def whole_too_large(kind, strains, markers, max_mb):
    """None when the whole-panel object of `kind` fits max_mb, else the
    one line that says it is written per chromosome only."""
    mb = object_mb(kind, strains, markers)
    if kind not in GENOTYPES or mb <= max_mb:
        return None
    return (f"qtl2: the whole-panel {kind} object would take {math.ceil(mb):,} MB, more than "
            f"{WHOLE_KEY}={max_mb:g}: written per chromosome only (qtl2/{kind}_<chr>.rds)")


def chromosomes_too_large(kind, strains, markers, names, max_mb):
    """([safe names of the chromosomes whose object of `kind` would take more
    than max_mb], the one line that says these and the whole-panel object
    are not written) from {safe name: markers kept}; ([], None) when every
    chromosome's fits."""
    sizes = {safe: object_mb(kind, strains, m) for safe, m in markers.items()}
    over = [safe for safe, mb in sizes.items() if mb > max_mb]
    if kind not in GENOTYPES or not over:
        return [], None
    shown = ", ".join(str(names.get(safe, safe)) for safe in over)
    return over, (f"qtl2: the {kind} object of chromosome{'s' if len(over) > 1 else ''} {shown} would take "
                  f"{math.ceil(max(sizes[s] for s in over)):,} MB{' at most' if len(over) > 1 else ''}, more than "
                  f"{CHROMOSOME_KEY}={max_mb:g}: not written, nor the whole-panel qtl2/{kind}.rds (npz/ and "
                  f"the tables hold every marker; reduce_markers_cm writes the objects on fewer markers)")


def temporary_names(dest, pid="*"):
    folder, name = os.path.split(dest)
    return os.path.join(folder, f".{name}.tmp-{pid}")


def _remove(paths_):
    for path in paths_:
        try:
            os.remove(path)
        except FileNotFoundError:
            pass


def write_object(out, kind, dest, chrom=None):
    panel = read_prepared(out)
    if chrom is not None:
        if kind not in paths.QTL2_VALUES:
            raise InputError("--chr", f"a {kind} is written for the whole panel only")
        panel.chromosome(chrom)
    if chrom is not None:
        parts = paths.qtl2_parts(out, [chrom], kind)
    else:
        parts = paths.qtl2_whole_sources(out, panel.chromosome_safes(), kind)
    _remove(glob.glob(glob.escape(temporary_names(dest, "")) + "*"))
    r = subprocess.Popen(["Rscript", "--vanilla", "--default-packages=NULL", os.path.normpath(SCRIPT), kind, dest,
                          *parts],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    caught = []

    # R takes a SIGINT only once saveRDS is done, a SIGTERM at once
    def stop_r(signum, frame):
        caught.append(signum)
        r.send_signal(signal.SIGTERM)
    handlers = {s: signal.signal(s, stop_r) for s in (signal.SIGTERM, signal.SIGINT)}
    try:
        said = r.stdout.read().decode("utf-8", "replace")
        status = r.wait()
    finally:
        for s, handler in handlers.items():
            signal.signal(s, handler)
        if r.poll() is None:
            r.kill()
            r.wait()
        if r.returncode != 0:
            _remove([temporary_names(dest, r.pid)])
    if said:
        sys.stderr.write(said)
    if caught:
        return 128 + caught[0]
    if status == 0:
        progress.say(f"collect: qtl2/{os.path.basename(dest)} written")
    elif status < 0:
        print(f"error: {dest}: R ended by signal {-status} before writing it", file=sys.stderr)
        return 1
    return status


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tarvel_panel qtl2", description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True, help="the panel's output folder")
    parser.add_argument("--kind", required=True, choices=paths.QTL2_KINDS)
    parser.add_argument("--chr", help="the safe name of the one chromosome to write (probabilities only)")
    parser.add_argument("--dest", required=True, help="the .rds file to write")
    args = parser.parse_args(argv)
    status = []
    failed = run_command(lambda: status.append(write_object(args.out, args.kind, args.dest, args.chr)))
    return failed or status[0]


if __name__ == "__main__":
    sys.exit(main())

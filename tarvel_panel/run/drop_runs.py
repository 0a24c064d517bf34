"""Remove the raw runs of a collected chromosome: values, wall times and any results text.

    python3 -m tarvel_panel drop-runs --out OUT --chr SAFE

Every strain's folder under runs/chr<SAFE>/ (paths.run_dir) goes, then the
chromosome's folder when nothing else is left in it.
"""
import argparse
import os
import shutil
import sys

from tarvel_panel import paths
from tarvel_panel.errors import run_command
from tarvel_panel.panel.prepared import read_prepared


def drop_runs(out, chrom):
    strains = [s["safe"] for s in read_prepared(out).strains]
    runs = paths.runs_dir(out)
    for strain in strains:
        shutil.rmtree(paths.run_dir(runs, chrom, strain), ignore_errors=True)
    try:
        os.rmdir(paths.chromosome_dir(runs, chrom))
    except OSError:
        pass


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tarvel_panel drop-runs", description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True, help="the panel's output folder")
    parser.add_argument("--chr", required=True, help="the chromosome's safe name")
    args = parser.parse_args(argv)
    return run_command(lambda: drop_runs(args.out, args.chr))


if __name__ == "__main__":
    sys.exit(main())

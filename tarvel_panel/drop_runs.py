"""Remove the raw TARVEL results of a collected chromosome.

    python3 -m tarvel_panel.drop_runs --out OUT --chr SAFE

Every strain's folder under runs/chr<SAFE>/ (layout.run_dir) goes, then the
chromosome's folder when nothing else is left in it.
"""
import argparse
import json
import os
import shutil
import sys

from . import layout
from .errors import InputError, run_command


def drop_runs(out, chrom):
    panel_file = os.path.join(out, "prepared", "panel.json")
    try:
        with open(panel_file) as f:
            strains = [s["safe"] for s in json.load(f)["strains"]]
    except (OSError, ValueError, KeyError) as e:
        raise InputError(panel_file, f"cannot read the prepared panel ({e})")
    runs = os.path.join(out, "runs")
    for strain in strains:
        shutil.rmtree(layout.run_dir(runs, chrom, strain), ignore_errors=True)
    try:
        os.rmdir(layout.chromosome_dir(runs, chrom))
    except OSError:
        pass


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True, help="the panel's output folder")
    parser.add_argument("--chr", required=True, help="the chromosome's safe name")
    args = parser.parse_args(argv)
    return run_command(lambda: drop_runs(args.out, args.chr))


if __name__ == "__main__":
    sys.exit(main())

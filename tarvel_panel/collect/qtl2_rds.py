"""One R/qtl2 object of the whole panel as qtl2/<kind>.rds, written by R
itself (workflow/scripts/qtl2_rds.R) from the chromosomes' binary parts,
which are found here so that no command line lists them.

    python3 -m tarvel_panel qtl2 --out OUT --kind alleleprobs|genoprobs|pmap|gmap --dest OUT/qtl2/KIND.rds
"""
import argparse
import os
import subprocess
import sys

from tarvel_panel import REPO
from tarvel_panel import paths
from tarvel_panel.errors import run_command
from tarvel_panel.panel.prepared import read_prepared
from tarvel_panel.support import progress


SCRIPT = os.path.join(REPO, "workflow", "scripts", "qtl2_rds.R")


def write_object(out, kind, dest):
    parts = paths.qtl2_parts(out, read_prepared(out).chromosome_safes(), kind)
    done = subprocess.run(["Rscript", "--vanilla", os.path.normpath(SCRIPT), kind, dest, *parts],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    said = done.stdout.decode("utf-8", "replace")
    if said:
        sys.stderr.write(said)
    status = done.returncode
    if status == 0:
        progress.say(f"collect: qtl2/{os.path.basename(dest)} written")
    return status


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tarvel_panel qtl2", description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True, help="the panel's output folder")
    parser.add_argument("--kind", required=True, choices=paths.QTL2_KINDS)
    parser.add_argument("--dest", required=True, help="the .rds file to write")
    args = parser.parse_args(argv)
    status = []
    failed = run_command(lambda: status.append(write_object(args.out, args.kind, args.dest)))
    return failed or status[0]


if __name__ == "__main__":
    sys.exit(main())

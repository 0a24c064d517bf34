"""The per-chromosome parts of the panel's joined outputs, in the prepared
panel's chromosome order, so that no rule has to list them on its command
line (with 20 chromosomes that is kilobytes in every log):

    python3 -m tarvel_panel.parts --out OUT KIND -- COMMAND [ARG ...]

runs COMMAND with KIND's parts appended: for `join`, --mosaic-parts and
--summary-parts with runs/chr<c>.mosaic.csv and runs/chr<c>.summary.tsv; for
an R/qtl2 object (alleleprobs, genoprobs, pmap, gmap) per chromosome its
index runs/chr<c>.qtl2-index.bin, followed for the probabilities by its
values runs/chr<c>.<KIND>.f64.
"""
import argparse
import os
import sys

from . import layout
from .errors import run_command

QTL2_KINDS = ("alleleprobs", "genoprobs", "pmap", "gmap")


def chromosome_parts(runs, safes, name):
    return [os.path.join(runs, f"chr{c}.{name}") for c in safes]


def qtl2_parts(runs, safes, kind):
    """Per chromosome its index, and for the probabilities its values file."""
    parts = []
    for c in safes:
        parts.append(os.path.join(runs, f"chr{c}.qtl2-index.bin"))
        if kind in ("alleleprobs", "genoprobs"):
            parts.append(os.path.join(runs, f"chr{c}.{kind}.f64"))
    return parts


def arguments(out, kind):
    safes = [c["safe"] for c in layout.read_panel(out)["chromosomes"]]
    runs = os.path.join(out, "runs")
    if kind == "join":
        return (["--mosaic-parts"] + chromosome_parts(runs, safes, "mosaic.csv")
                + ["--summary-parts"] + chromosome_parts(runs, safes, "summary.tsv"))
    return qtl2_parts(runs, safes, kind)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True, help="the panel's output folder")
    parser.add_argument("kind", choices=("join",) + QTL2_KINDS)
    parser.add_argument("command", nargs=argparse.REMAINDER, help="-- COMMAND [ARG ...]")
    args = parser.parse_args(argv)
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command after --")
    found = []
    status = run_command(lambda: found.extend(arguments(args.out, args.kind)))
    if status:
        return status
    sys.stdout.flush()
    os.execvp(command[0], command + found)


if __name__ == "__main__":
    sys.exit(main())

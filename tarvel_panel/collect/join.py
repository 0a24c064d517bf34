"""The panel's mosaic.csv and summary.tsv, joined from the chromosomes' parts
(runs/chr<c>.mosaic.csv and runs/chr<c>.summary.tsv, in the prepared panel's
chromosome order).

    python3 -m tarvel_panel join --out OUT --mosaic OUT/mosaic.csv --summary OUT/summary.tsv
"""
import argparse
import csv
import os
import sys

from tarvel_panel import paths
from tarvel_panel.atomic import AtomicFile
from tarvel_panel.collect.tables import MOSAIC_HEADER, SUMMARY_HEADER, table_writer
from tarvel_panel.errors import run_command
from tarvel_panel.panel.prepared import read_prepared
from tarvel_panel.support import progress


def join_parts(mosaic_parts, summary_parts, mosaic_out, summary_out):
    """Concatenate the per-chromosome parts; summary columns are the union of
    the parts' columns (site counts may differ between chromosomes)."""
    with AtomicFile(mosaic_out) as stream:
        out = table_writer(stream, ",")
        out.writerow(MOSAIC_HEADER)
        for part in mosaic_parts:
            with open(part, newline="") as f:
                rows = csv.reader(f)
                next(rows, None)
                out.writerows(rows)
    tables = []
    for part in summary_parts:
        with open(part, newline="") as f:
            tables.append(list(csv.DictReader(f, delimiter="\t")))
    columns = list(SUMMARY_HEADER)
    for table in tables:
        for row in table:
            columns += [k for k in row if k not in columns]
    with AtomicFile(summary_out) as stream:
        out = table_writer(stream, "\t")
        out.writerow(columns)
        for table in tables:
            out.writerows([[row.get(c, "") for c in columns] for row in table])


def join_panel(out, mosaic_out, summary_out):
    safes = read_prepared(out).chromosome_safes()
    join_parts([paths.chromosome_part(out, c, paths.MOSAIC_PART) for c in safes],
               [paths.chromosome_part(out, c, paths.SUMMARY_PART) for c in safes], mosaic_out, summary_out)
    progress.say(f"collect: {os.path.basename(mosaic_out)} and {os.path.basename(summary_out)} joined "
                 f"({len(safes)} chromosomes)")


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tarvel_panel join", description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True, help="the panel's output folder")
    parser.add_argument("--mosaic", required=True)
    parser.add_argument("--summary", required=True)
    args = parser.parse_args(argv)
    return run_command(lambda: join_panel(args.out, args.mosaic, args.summary),
                       lambda e: f"{e.filename}: {e.strerror}")


if __name__ == "__main__":
    sys.exit(main())

"""Collect TARVEL's results under strain, marker and founder names.

    python3 -m tarvel_panel.collect chromosome --prepared OUT/prepared --runs OUT/runs --chr C \
        --genoprobs G.csv.gz --founderprobs F.csv.gz --mosaic M.csv --summary S.tsv
    python3 -m tarvel_panel.collect join --mosaic OUT/mosaic.csv --summary OUT/summary.tsv \
        --mosaic-parts M1.csv ... --summary-parts S1.tsv ...

Pair values are TARVEL's text unchanged; derived values carry six
significant digits, as TARVEL writes its own.
"""
import argparse
import csv
import gzip
import io
import json
import os
import sys

from . import mosaic
from .errors import InputError, run_command

MOSAIC_HEADER = ["strain", "chr", "first_marker", "last_marker", "first_pos", "last_pos",
                 "markers", "pair", "mean_prob"]
SUMMARY_HEADER = ["strain", "chr", "markers", "confident", "het_mass", "switches", "tarvel_seconds"]


def fmt(x):
    return f"{x:.6g}"


def read_results(path, markers):
    """The 36 value texts of every marker line of a HAPPY-layout results file."""
    rows = []
    try:
        with open(path) as f:
            for number, line in enumerate(f, 1):
                index, _, rest = line.rstrip("\r\n").partition("|")
                values = rest.split(",")
                if values and values[-1] == "":
                    values.pop()
                if index != str(number - 1) or len(values) != 36:
                    raise InputError(path, "not a line of TARVEL's HAPPY layout (index|36 values,)", number)
                rows.append(values)
    except OSError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")
    if len(rows) != markers:
        raise InputError(path, f"{len(rows)} lines for {markers} markers")
    return rows


def read_markers(path):
    with open(path) as f:
        lines = f.read().splitlines()[1:]
    return [tuple(line.split("\t")) for line in lines]


def collect_chromosome(prepared, runs, chrom, outputs):
    panel_file = os.path.join(prepared, "panel.json")
    with open(panel_file) as f:
        panel = json.load(f)
    if chrom not in [c["name"] for c in panel["chromosomes"]]:
        raise InputError(panel_file, f"no chromosome '{chrom}'")
    markers = read_markers(os.path.join(prepared, f"chr{chrom}", "markers.tsv"))
    founders = panel["founders"]
    pairs = mosaic.pair_names(founders)
    extra = list(panel.get("site_stats", {}).get(chrom, {}).items())
    with _Atomic(outputs["genoprobs"], gz=True) as geno, _Atomic(outputs["founderprobs"], gz=True) as fprob, \
            _Atomic(outputs["mosaic"]) as mos_file, _Atomic(outputs["summary"]) as summ_file:
        mos, summ = _writer(mos_file, ","), _writer(summ_file, "\t")
        geno.write(csv_line(["strain", "marker", "chr", "pos"] + pairs))
        fprob.write(csv_line(["strain", "marker", "chr", "pos"] + founders))
        mos.writerow(MOSAIC_HEADER)
        summ.writerow(SUMMARY_HEADER + [k for k, _ in extra])
        for strain in panel["strains"]:
            job = os.path.join(runs, f"chr{chrom}", strain["safe"])
            texts = read_results(os.path.join(job, "strain.txt.prob"), len(markers))
            values = [[float(v) for v in row] for row in texts]
            name = strain["name"]
            leads = [csv_line([name, marker, chrom, pos])[:-1] for marker, pos in markers]
            geno.write("".join(f"{lead},{','.join(text)}\n" for lead, text in zip(leads, texts)))
            fprob.write("".join(f"{lead},{','.join(fmt(p) for p in mosaic.founder_probs(vals))}\n"
                                for lead, vals in zip(leads, values)))
            tops = [mosaic.top_pair(v) for v in values]
            for first, last, pair, mean in mosaic.runs(tops, values):
                mos.writerow([name, chrom, markers[first][0], markers[last][0], markers[first][1],
                              markers[last][1], last - first + 1, pairs[pair], fmt(mean)])
            confident, het, switches = mosaic.summary(tops, values)
            summ.writerow([name, chrom, len(markers), confident, fmt(het), switches, _seconds(job)]
                          + [v for _, v in extra])


def csv_line(fields):
    """One CSV line, fields quoted only where they need it."""
    out = io.StringIO()
    csv.writer(out, lineterminator="\n").writerow(fields)
    return out.getvalue()


def _writer(stream, delimiter):
    return csv.writer(stream, delimiter=delimiter, lineterminator="\n")


def _seconds(job):
    try:
        with open(os.path.join(job, "seconds.txt")) as f:
            return f.read().strip()
    except OSError:
        return ""


def join_parts(mosaic_parts, summary_parts, mosaic_out, summary_out):
    """Concatenate the per-chromosome parts; summary columns are the union of
    the parts' columns (site counts may differ between chromosomes)."""
    with _Atomic(mosaic_out) as stream:
        out = _writer(stream, ",")
        out.writerow(MOSAIC_HEADER)
        for part in mosaic_parts:
            with open(part, newline="") as f:
                out.writerows(list(csv.reader(f))[1:])
    tables = []
    for part in summary_parts:
        with open(part, newline="") as f:
            tables.append(list(csv.DictReader(f, delimiter="\t")))
    columns = list(SUMMARY_HEADER)
    for table in tables:
        for row in table:
            columns += [k for k in row if k not in columns]
    with _Atomic(summary_out) as stream:
        out = _writer(stream, "\t")
        out.writerow(columns)
        for table in tables:
            out.writerows([[row.get(c, "") for c in columns] for row in table])


class _Atomic:
    """A text file that appears under its name only when complete."""

    def __init__(self, path, gz=False):
        self.path, self.gz = path, gz
        self.tmp = os.path.join(os.path.dirname(os.path.abspath(path)), f".{os.path.basename(path)}.tmp-{os.getpid()}")

    def __enter__(self):
        os.makedirs(os.path.dirname(self.tmp), exist_ok=True)
        self._raw = open(self.tmp, "wb")
        # no name or time in the gzip header: the same values give the same
        # bytes; level 1 compresses these tables several times faster than the
        # default for a sixth more size
        binary = gzip.GzipFile(filename="", mode="wb", fileobj=self._raw, mtime=0, compresslevel=1) \
            if self.gz else self._raw
        self._text = io.TextIOWrapper(binary, encoding="utf-8", newline="")
        return self._text

    def __exit__(self, kind, value, tb):
        self._text.close()
        if self.gz:
            self._raw.close()
        if kind is None:
            os.rename(self.tmp, self.path)
        else:
            os.remove(self.tmp)
        return False


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    one = sub.add_parser("chromosome")
    for name in ("prepared", "runs", "chr", "genoprobs", "founderprobs", "mosaic", "summary"):
        one.add_argument(f"--{name}", required=True)
    join = sub.add_parser("join")
    join.add_argument("--mosaic", required=True)
    join.add_argument("--summary", required=True)
    join.add_argument("--mosaic-parts", nargs="*", default=[])
    join.add_argument("--summary-parts", nargs="*", default=[])
    args = parser.parse_args(argv)
    def work():
        if args.command == "chromosome":
            collect_chromosome(args.prepared, args.runs, args.chr, vars(args))
        else:
            join_parts(args.mosaic_parts, args.summary_parts, args.mosaic, args.summary)
    return run_command(work, lambda e: f"{e.filename}: {e.strerror}")


if __name__ == "__main__":
    sys.exit(main())

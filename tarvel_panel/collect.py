"""Collect TARVEL's results under strain, marker and founder names.

    python3 -m tarvel_panel.collect chromosome --prepared OUT/prepared --runs OUT/runs --chr SAFE \
        --founderprobs F.csv.gz --mosaic M.csv --summary S.tsv --npz N.npz \
        [--genoprobs G.csv.gz] [--npz-genoprobs] \
        [--qtl2-index I --qtl2-alleleprobs A [--qtl2-genoprobs P]]
    python3 -m tarvel_panel.collect join --mosaic OUT/mosaic.csv --summary OUT/summary.tsv \
        --mosaic-parts M1.csv ... --summary-parts S1.tsv ...

One strain at a time, so memory does not grow with the strains. Pair values
in genoprobs are TARVEL's text unchanged; derived values in the tables carry
six significant digits, as TARVEL writes its own.
"""
import argparse
import csv
import io
import json
import os
import sys
from contextlib import ExitStack
from types import SimpleNamespace

import numpy as np

from . import mosaic, native, progress, rds_parts
from .atomic import AtomicFile
from .errors import InputError, run_command
from .happy import FOUNDERS, NPAIRS, pair_names
from .npz import NpzWriter
from .prepare import x_sex
from .results import TWO_COPY_X_MAX, read_results, value_texts

MOSAIC_HEADER = ["strain", "chr", "first_marker", "last_marker", "first_pos", "last_pos",
                 "markers", "pair", "mean_prob"]
SUMMARY_HEADER = ["strain", "chr", "markers", "confident", "het_mass", "switches", "tarvel_seconds"]
MAPS = ("pmap", "gmap")


def fmt(x):
    return f"{x:.6g}"


class Markers:
    """A prepared chromosome's markers.tsv: names, the position texts given to
    TARVEL, and the physical (Mbp) and genetic (cM) maps where every marker
    has them."""

    def __init__(self, path):
        with open(path, encoding="utf-8") as f:
            header, *rows = [line.rstrip("\n").split("\t") for line in f]
        columns = [[row[i] if i < len(row) else "" for row in rows] for i in range(len(header))]
        table = dict(zip(header, columns))
        self.names, self.pos = table["marker"], table["pos"]
        self.maps = {m: [float(v) for v in table[m]] for m in MAPS if m in table and all(table[m])}

    def __len__(self):
        return len(self.names)


def find_chromosome(panel, panel_file, safe):
    for c in panel["chromosomes"]:
        if c.get("safe", c["name"]) == safe:
            return c
    raise InputError(panel_file, f"no chromosome '{safe}'")


def collect_chromosome(prepared, runs, safe, outputs, npz_genoprobs=False):
    """All outputs of the chromosome, or none: one that fails takes back those
    already in place."""
    try:
        _collect(prepared, runs, safe, outputs, npz_genoprobs)
    except BaseException:
        for path in outputs.values():
            if os.path.exists(path):
                os.remove(path)
        raise


def alleles(panel):
    """The founders' allele codes (panel.json before they were recorded: the names)."""
    return panel.get("alleles") or panel["founders"]


def two_copy_x(chrom, strain):
    """Whether the strain's run of this chromosome is the two-copy X model,
    whose pair values may exceed 1."""
    return bool(chrom["is_x"]) and x_sex(SimpleNamespace(sex=strain.get("sex")), strain["generation"]) == "F"


def _collect(prepared, runs, safe, outputs, npz_genoprobs):
    panel_file = os.path.join(prepared, "panel.json")
    with open(panel_file) as f:
        panel = json.load(f)
    chrom = find_chromosome(panel, panel_file, safe)
    markers = Markers(os.path.join(prepared, f"chr{safe}", "markers.tsv"))
    strains = panel["strains"]
    with ExitStack() as stack:
        tables = ChromosomeTables(stack, outputs, chrom["name"], markers, panel)
        npz = stack.enter_context(_npz_writer(outputs["npz"], panel, chrom, markers, npz_genoprobs))
        qtl2 = Qtl2Parts(stack, outputs, panel, chrom, markers)
        ticker = progress.Ticker(f"collect: chromosome {progress.shown(chrom['name'], safe)}", len(strains), "strains")
        for strain in strains:
            job = os.path.join(runs, f"chr{safe}", strain["safe"])
            path = os.path.join(job, "strain.txt.prob")
            values = read_results(path, len(markers), max_value=TWO_COPY_X_MAX if two_copy_x(chrom, strain) else 1.0)
            tops, top_probs = mosaic.top_pairs(values)
            founder = mosaic.founder_probs(values)
            tables.add(strain["name"], path, values, founder, tops, top_probs, _seconds(job))
            blocks = dict(alleleprobs=founder.T, top_pair=tops, top_prob=top_probs)
            if npz_genoprobs:
                blocks["genoprobs"] = values.T
            npz.add(**blocks)
            qtl2.add(values, founder)
            ticker.step()


class ChromosomeTables:
    """founderprobs (and genoprobs) CSV, and the chromosome's mosaic and
    summary parts, a strain at a time."""

    def __init__(self, stack, outputs, chrom, markers, panel):
        self.chrom, self.markers = chrom, markers
        self.pairs = pair_names(panel["founders"])
        self.extra = list(panel.get("site_stats", {}).get(chrom, {}).items())
        # "marker,chr,pos" of each row, quoted where CSV needs it
        self.tails = [csv_line([m, chrom, p])[:-1] for m, p in zip(markers.names, markers.pos)]
        self.founder_tails = native.Tails(self.tails)
        self.fprob = stack.enter_context(AtomicFile(outputs["founderprobs"], gz=True, binary=True))
        self.fprob.write(csv_line(["strain", "marker", "chr", "pos"] + panel["founders"]).encode("utf-8"))
        self.geno = None
        if outputs.get("genoprobs"):
            self.geno = stack.enter_context(AtomicFile(outputs["genoprobs"], gz=True))
            self.geno.write(csv_line(["strain", "marker", "chr", "pos"] + self.pairs))
        self.mosaic = _writer(stack.enter_context(AtomicFile(outputs["mosaic"])), ",")
        self.summary = _writer(stack.enter_context(AtomicFile(outputs["summary"])), "\t")
        self.mosaic.writerow(MOSAIC_HEADER)
        self.summary.writerow(SUMMARY_HEADER + [k for k, _ in self.extra])

    def add(self, name, path, values, founder, tops, top_probs, seconds):
        lead = csv_line([name])[:-1] + ","
        self.fprob.write(native.format_rows(founder, lead, self.founder_tails))
        if self.geno:
            self.geno.write("".join(f"{lead}{tail},{text}\n" for tail, text in zip(self.tails, value_texts(path))))
        names, pos = self.markers.names, self.markers.pos
        for first, last, pair, mean in mosaic.runs(tops, top_probs):
            self.mosaic.writerow([name, self.chrom, names[first], names[last], pos[first], pos[last],
                                  last - first + 1, self.pairs[pair], fmt(mean)])
        confident, het, switches = mosaic.summary(tops, top_probs, values)
        self.summary.writerow([name, self.chrom, len(names), confident, fmt(het), switches, seconds]
                              + [v for _, v in self.extra])


def _npz_writer(path, panel, chrom, markers, genoprobs):
    m = len(markers)
    blocks = {"alleleprobs": (np.float32, (FOUNDERS, m)), "top_pair": (np.uint8, (m,)),
              "top_prob": (np.float32, (m,))}
    if genoprobs:
        blocks["genoprobs"] = (np.float32, (NPAIRS, m))
    return NpzWriter(path, len(panel["strains"]), blocks, {
        "chromosome": np.str_(chrom["name"]), "is_x": np.bool_(chrom["is_x"]),
        "strains": np.array([s["name"] for s in panel["strains"]], dtype=str),
        "founders": np.array(panel["founders"], dtype=str),
        "alleles": np.array(alleles(panel), dtype=str),
        "markers": np.array(markers.names, dtype=str),
        "pos": np.array([float(p) for p in markers.pos])}, stored=("alleleprobs", "genoprobs"))


class Qtl2Parts:
    """The chromosome's binary parts for the .rds files (float64 values as
    read from TARVEL's text), when asked for."""

    def __init__(self, stack, outputs, panel, chrom, markers):
        self.alleles = self.pairs = None
        if not outputs.get("qtl2_index"):
            return
        index = stack.enter_context(AtomicFile(outputs["qtl2_index"], binary=True))
        rds_parts.write_index(index, chrom["name"], chrom["is_x"], [s["name"] for s in panel["strains"]],
                              alleles(panel), panel["founders"], markers.names, markers.maps)
        self.alleles = stack.enter_context(AtomicFile(outputs["qtl2_alleleprobs"], binary=True))
        if outputs.get("qtl2_genoprobs"):
            self.pairs = stack.enter_context(AtomicFile(outputs["qtl2_genoprobs"], binary=True))

    def add(self, values, founder):
        if self.alleles:
            rds_parts.write_values(self.alleles, founder)
        if self.pairs:
            rds_parts.write_values(self.pairs, values)


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
    with AtomicFile(mosaic_out) as stream:
        out = _writer(stream, ",")
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
        out = _writer(stream, "\t")
        out.writerow(columns)
        for table in tables:
            out.writerows([[row.get(c, "") for c in columns] for row in table])


OUTPUTS = ("founderprobs", "mosaic", "summary", "npz", "genoprobs", "qtl2_index", "qtl2_alleleprobs",
           "qtl2_genoprobs")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = parser.add_subparsers(dest="command", required=True)
    one = sub.add_parser("chromosome")
    for name in ("prepared", "runs", "chr", "founderprobs", "mosaic", "summary", "npz"):
        one.add_argument(f"--{name}", required=True)
    for name in ("genoprobs", "qtl2-index", "qtl2-alleleprobs", "qtl2-genoprobs"):
        one.add_argument(f"--{name}")
    one.add_argument("--npz-genoprobs", action="store_true", help="the 36 pair values in the npz too")
    join = sub.add_parser("join")
    join.add_argument("--mosaic", required=True)
    join.add_argument("--summary", required=True)
    join.add_argument("--mosaic-parts", nargs="*", default=[])
    join.add_argument("--summary-parts", nargs="*", default=[])
    args = parser.parse_args(argv)
    if args.command == "chromosome" and bool(args.qtl2_index) != bool(args.qtl2_alleleprobs):
        parser.error("--qtl2-index and --qtl2-alleleprobs go together")

    def work():
        if args.command == "chromosome":
            outputs = {k: v for k, v in vars(args).items() if k in OUTPUTS and v}
            collect_chromosome(args.prepared, args.runs, args.chr, outputs, args.npz_genoprobs)
            progress.say(progress.collected_line(args.prepared, args.chr, os.path.dirname(args.npz)))
        else:
            join_parts(args.mosaic_parts, args.summary_parts, args.mosaic, args.summary)
            progress.say(f"collect: {os.path.basename(args.mosaic)} and {os.path.basename(args.summary)} joined "
                         f"({len(args.mosaic_parts)} chromosomes)")
    return run_command(work, lambda e: f"{e.filename}: {e.strerror}")


if __name__ == "__main__":
    sys.exit(main())

"""Collect the strains' pair values under strain, marker and founder names.

    python3 -m tarvel_panel collect --out OUT --chr SAFE \
        --founderprobs F.csv.gz --mosaic M.csv --summary S.tsv --npz N.npz \
        [--genoprobs G.csv.gz] [--npz-genoprobs] \
        [--qtl2-index I --qtl2-alleleprobs A [--qtl2-genoprobs P]] [--reduce-markers-cm D]
        [--qtl2-skip alleleprobs|genoprobs ...]

One strain at a time, so memory does not grow with the strains, and each
strain a block of markers at a time, so it holds only a few arrays of one
value per marker (its top pairs, their values and the heterozygous sum)
beside the markers' names. Each strain's values are read from its values
file (run/values_file.py) in full float64 precision and checked: its
founder values as the engine computed them, or its pair values, from which
the same are derived (derive.py). The founderprobs and genoprobs rows, the
R parts and the npz's probabilities are written block by block, the mosaic
runs, the summary and the npz's top pairs from the whole chromosome's
arrays. Pair values in genoprobs are written as TARVEL writes them in its
results text (its own number formatter); derived values in the tables carry
six significant digits, as TARVEL writes its own. With --reduce-markers-cm
the founderprobs and genoprobs tables and the R/qtl2 parts hold only the
markers kept for mapping (collect/reduce_markers.py); the npz, mosaic and
summary hold every marker.
"""
import argparse
import os
import sys
from contextlib import ExitStack

import numpy as np

from tarvel_panel import native, paths
from tarvel_panel.atomic import AtomicFile
from tarvel_panel.collect import derive, qtl2_parts
from tarvel_panel.collect.npz import NpzWriter, Texts
from tarvel_panel.collect.reduce_markers import kept_markers
from tarvel_panel.collect.tables import MOSAIC_HEADER, SUMMARY_HEADER, csv_line, fmt, table_writer
from tarvel_panel.errors import InputError, exit_on_signals, run_command
from tarvel_panel.pairs import FOUNDERS, NPAIRS, pair_names
from tarvel_panel.panel.prepared import read_prepared
from tarvel_panel.panel.x_copies import two_copy_x
from tarvel_panel.run.values_file import BLOCK_MARKERS, read_value_blocks
from tarvel_panel.support import progress


def collect_chromosome(out, safe, outputs, npz_genoprobs=False, reduce_cm=0, qtl2_skip=(), block=BLOCK_MARKERS):
    """All outputs of the chromosome, or none: one that fails takes back those
    already in place. `qtl2_skip`: kinds whose R part is left empty;
    `block`: markers of a strain's values taken at a time (the outputs do not
    depend on it)."""
    try:
        _collect(out, safe, outputs, npz_genoprobs, reduce_cm, qtl2_skip, block)
    except BaseException:
        for path in outputs.values():
            if os.path.exists(path):
                os.remove(path)
        raise


def _collect(out, safe, outputs, npz_genoprobs, reduce_cm, qtl2_skip, block):
    panel = read_prepared(out)
    chrom = panel.chromosome(safe)
    markers = panel.markers(safe)
    m = len(markers)
    mapped = MappedMarkers(markers, kept_markers(markers, reduce_cm, f"chromosome {chrom['name']}"))
    runs = paths.runs_dir(out)
    strains = panel.strains
    pairs_wanted = npz_genoprobs or bool(outputs.get("genoprobs")) or bool(outputs.get("qtl2_genoprobs"))
    with ExitStack() as stack:
        tables = ChromosomeTables(stack, outputs, chrom["name"], markers, panel, mapped)
        npz = stack.enter_context(_npz_writer(outputs["npz"], panel, chrom, markers, npz_genoprobs))
        qtl2 = Qtl2Parts(stack, outputs, panel, chrom, mapped, qtl2_skip)
        ticker = progress.Ticker(f"collect: chromosome {progress.shown(chrom['name'], safe)}", len(strains), "strains")
        tops, top_probs, het = np.empty(m, np.intp), np.empty(m), np.empty(m)
        for strain in strains:
            path = paths.values_file(runs, safe, strain["safe"])
            lead = csv_line([strain["name"]])[:-1] + ","
            for first, values in read_value_blocks(path, m, two_copy_x(chrom, strain), None, block):
                part = slice(first, first + len(values))
                founder, tops[part], top_probs[part], het[part], pairs = derive.strain_values(values)
                if pairs is None and pairs_wanted:
                    raise InputError(path, "holds founder values only, and the outputs asked for need the 36 "
                                     "pair values: run its batch again")
                npz.add_columns(first, alleleprobs=founder.T, **({"genoprobs": pairs.T} if npz_genoprobs else {}))
                kept = mapped.within(first, len(values))
                tables.add_rows(lead, kept, pairs, founder)
                qtl2.add(kept, pairs, founder)
            tables.add_strain(strain["name"], tops, top_probs, het,
                              _seconds(paths.seconds_file(runs, safe, strain["safe"])))
            npz.add_columns(0, top_pair=tops, top_prob=top_probs)
            npz.strain_done()
            ticker.step()


class MappedMarkers:
    """The markers kept for mapping (their indices `kept`, ascending) of a
    chromosome's `markers`: the rows of the founderprobs and genoprobs tables
    and of the R/qtl2 objects. When every marker is kept, the names and maps
    are the markers' own, not copies."""

    def __init__(self, markers, kept):
        self.every = len(kept) == len(markers)
        self.kept = np.asarray(kept, dtype=np.intp)
        if self.every:
            self.names, self.pos, self.maps = markers.names, markers.pos, markers.maps
        else:
            self.names = [markers.names[i] for i in self.kept]
            self.pos = [markers.pos[i] for i in self.kept]
            self.maps = {name: np.asarray(positions)[self.kept] for name, positions in markers.maps.items()}

    def within(self, first, n):
        """Kept rows among markers first .. first + n - 1: (their place in
        the kept rows as a slice, their rows in that block of markers, or
        None for all of them)."""
        if self.every:
            return slice(first, first + n), None
        lo, hi = np.searchsorted(self.kept, [first, first + n])
        return slice(int(lo), int(hi)), self.kept[lo:hi] - first


def _rows(values, kept):
    """A block's rows kept for mapping (MappedMarkers.within)."""
    _, rows = kept
    return values if rows is None else values[rows]


class ChromosomeTables:
    """founderprobs (and genoprobs) CSV on the markers kept for mapping, and
    the chromosome's mosaic and summary parts on every marker, a strain at a
    time; the CSV rows a block of markers at a time."""

    def __init__(self, stack, outputs, chrom, markers, panel, mapped):
        self.chrom, self.markers, self.mapped = chrom, markers, mapped
        self.pairs = pair_names(panel.founders)
        self.extra = list(panel.site_stats.get(chrom, {}).items())
        # "marker,chr,pos" of each row, quoted where CSV needs it, joined in one text
        self.row_tails = native.Tails(
            csv_line([m, chrom, p])[:-1] for m, p in zip(mapped.names, mapped.pos))
        self.fprob = stack.enter_context(AtomicFile(outputs["founderprobs"], gz=True, binary=True))
        self.fprob.write(csv_line(["strain", "marker", "chr", "pos"] + panel.founders).encode("utf-8"))
        self.geno = None
        if outputs.get("genoprobs"):
            self.geno = stack.enter_context(AtomicFile(outputs["genoprobs"], gz=True, binary=True))
            self.geno.write(csv_line(["strain", "marker", "chr", "pos"] + self.pairs).encode("utf-8"))
        self.mosaic = table_writer(stack.enter_context(AtomicFile(outputs["mosaic"])), ",")
        self.summary = table_writer(stack.enter_context(AtomicFile(outputs["summary"])), "\t")
        self.mosaic.writerow(MOSAIC_HEADER)
        self.summary.writerow(SUMMARY_HEADER + [k for k, _ in self.extra])

    def add_rows(self, lead, kept, values, founder):
        """A block's founderprobs (and genoprobs) rows; `lead` starts each
        row (the strain's name and a comma)."""
        tails = self.row_tails.part(kept[0])
        if tails.count == 0:
            return
        self.fprob.write(native.format_rows(_rows(founder, kept), lead, tails))
        if self.geno:
            self.geno.write(native.format_rows(_rows(values, kept), lead, tails))

    def add_strain(self, name, tops, top_probs, het, seconds):
        """The strain's mosaic runs and summary row, from its whole chromosome."""
        names, pos = self.markers.names, self.markers.pos
        for first, last, pair, mean in derive.runs(tops, top_probs):
            self.mosaic.writerow([name, self.chrom, names[first], names[last], pos[first], pos[last],
                                  last - first + 1, self.pairs[pair], fmt(mean)])
        confident, het, switches = derive.summary(tops, top_probs, het)
        self.summary.writerow([name, self.chrom, len(names), confident, fmt(het), switches, seconds]
                              + [v for _, v in self.extra])


def _npz_writer(path, panel, chrom, markers, genoprobs):
    m = len(markers)
    blocks = {"alleleprobs": (np.float32, (FOUNDERS, m)), "top_pair": (np.uint8, (m,)),
              "top_prob": (np.float32, (m,))}
    if genoprobs:
        blocks["genoprobs"] = (np.float32, (NPAIRS, m))
    return NpzWriter(path, len(panel.strains), blocks, {
        "chromosome": np.str_(chrom["name"]), "is_x": np.bool_(chrom["is_x"]),
        "strains": np.array([s["name"] for s in panel.strains], dtype=str),
        "founders": np.array(panel.founders, dtype=str),
        "alleles": np.array(panel.alleles, dtype=str),
        "markers": Texts(markers.names),
        "pos": np.fromiter(map(float, markers.pos), np.float64, len(markers))}, stored=("alleleprobs", "genoprobs"))


class Qtl2Parts:
    """The chromosome's binary parts for the .rds files (the float64 values
    of the values files) on the markers kept for mapping, when asked for."""

    def __init__(self, stack, outputs, panel, chrom, mapped, skip=()):
        self.alleles = self.pairs = None
        self.mapped = mapped
        if not outputs.get("qtl2_index"):
            return
        index = stack.enter_context(AtomicFile(outputs["qtl2_index"], binary=True))
        qtl2_parts.write_index(index, chrom["name"], chrom["is_x"], [s["name"] for s in panel.strains],
                               [s.get("sex") == "female" for s in panel.strains],
                               panel.alleles, panel.founders, mapped.names, mapped.maps)
        # a kind skipped (its object too large to write) leaves its part empty
        self.alleles = stack.enter_context(AtomicFile(outputs["qtl2_alleleprobs"], binary=True))
        if "alleleprobs" in skip:
            self.alleles = None
        if outputs.get("qtl2_genoprobs"):
            self.pairs = stack.enter_context(AtomicFile(outputs["qtl2_genoprobs"], binary=True))
            if "genoprobs" in skip:
                self.pairs = None

    def add(self, kept, values, founder):
        """A block's rows kept for mapping (MappedMarkers.within)."""
        if self.alleles:
            qtl2_parts.write_values(self.alleles, _rows(founder, kept))
        if self.pairs:
            qtl2_parts.write_values(self.pairs, _rows(values, kept))


def _seconds(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return ""


OUTPUTS = ("founderprobs", "mosaic", "summary", "npz", "genoprobs", "qtl2_index", "qtl2_alleleprobs",
           "qtl2_genoprobs")


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tarvel_panel collect", description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True, help="the panel's output folder")
    parser.add_argument("--chr", required=True, help="the chromosome's safe name")
    for name in ("founderprobs", "mosaic", "summary", "npz"):
        parser.add_argument(f"--{name}", required=True)
    for name in ("genoprobs", "qtl2-index", "qtl2-alleleprobs", "qtl2-genoprobs"):
        parser.add_argument(f"--{name}")
    parser.add_argument("--npz-genoprobs", action="store_true", help="the 36 pair values in the npz too")
    parser.add_argument("--reduce-markers-cm", type=float, default=0.0,
                        help="tables and R/qtl2 parts only on markers this many cM apart (0: every marker)")
    parser.add_argument("--qtl2-skip", action="append", default=[], choices=paths.QTL2_VALUES,
                        help="leave this kind's R/qtl2 values part empty (its object is too large to write)")
    args = parser.parse_args(argv)
    if bool(args.qtl2_index) != bool(args.qtl2_alleleprobs):
        parser.error("--qtl2-index and --qtl2-alleleprobs go together")

    exit_on_signals()

    def work():
        outputs = {k: v for k, v in vars(args).items() if k in OUTPUTS and v}
        collect_chromosome(args.out, args.chr, outputs, args.npz_genoprobs, args.reduce_markers_cm,
                           args.qtl2_skip)
        progress.say(progress.collected_line(args.out, args.chr))
    return run_command(work, lambda e: f"{e.filename}: {e.strerror}")


if __name__ == "__main__":
    sys.exit(main())

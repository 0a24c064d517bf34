#!/usr/bin/python3
"""Write a simulated panel (an R/qtl2 cross as make_panel.py writes it) as
the array input: GenomeStudio FinalReports, a marker annotation, a sample
table, and the founders also as a founder genotype table with allele codes,
so that the array route can be run against the cross on the same calls.

Every marker gets two alleles (allele 0 first in A, C, G, T), the cross's
founder and strain codes become those alleles' calls, and the annotation
places each marker at bp = pmap Mbp x 10^6 and at its gmap cM text, so the
array route sees exactly the cross's markers, positions and calls:

  report_1.txt      plain, CRLF line ends, one sample after another (SNPs by
                    name), columns SNP Name, Sample ID, alleles, GC Score:
                    the first half of the strains
  report_2.txt.gz   gzip, one SNP after another (in map order), Sample ID
                    empty and the sample in Sample Name, other columns first:
                    the founders' second samples, the other strains and a
                    second sample of one strain (the same calls)
  report_3.zip      a zip of one report laid out as report_1.txt (the
                    founders' first samples) and a SNP map
  annotation.csv    marker,chr,bp_grcm39,cM_cox,unique,strand
  samples.csv       sample,strain,funnel,sex,generation,role
  founder_geno.csv, allele_codes.csv   the founders as tables (A/B/-; marker,chr,A,B)

Where the cross's founder is untyped, its two samples are both no-calls,
disagree, or one is heterozygous and the other a no-call (each makes the
founder untyped); where it is typed, one of its samples is sometimes a
no-call. Some of a strain's missing calls carry an allele neither founder
allele is (read as missing). Both reports hold a control sample H2O that the
sample table lacks, and a few markers the array route drops: on chromosome 1
three non-unique probes and one without a cM position, one marker the
annotation places nowhere, one it lacks, one on Y, and on chromosome 2 one
where the founders carry three alleles.

    /usr/bin/python3 tools/simulate/panel_to_arrays.py examples/panel/panel.yaml examples/panel/arrays
    ... --truncated   cuts report_1.txt short (a third of its last sample's rows)
"""
import argparse
import gzip
import os
import random
import sys
import zipfile
from pathlib import Path

import yaml

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "panel"))
from panel_to_vcf import load  # noqa: E402  (the cross's codes, maps and strains)

PAIRS = [("A", "G"), ("C", "T"), ("A", "C"), ("G", "T"), ("A", "T"), ("C", "G")]
BASES = "ACGT"
FOUNDERS = "ABCDEFGH"
REPLICATED = 2            # the strain (0-based) with a second sample
CONTROL = "H2O"
HEADER_KEYS = ["GSGT Version\t2.0.4", "Processing Date\t1/1/2024 12:00 PM", "Content\t\tGigaMUGA_sim_A.bpm"]
COLUMNS_1 = ["SNP Name", "Sample ID", "Allele1 - Forward", "Allele2 - Forward", "GC Score"]
COLUMNS_2 = ["Sample Index", "Sample ID", "Sample Name", "SNP Index", "SNP Name", "GC Score",
             "Allele1 - AB", "Allele2 - AB", "Allele1 - Forward", "Allele2 - Forward"]


def founder_samples(panel, marker, pair, k):
    """The calls of the founders' two samples at a marker (two lists of allele pairs)."""
    zero, one = pair
    first, second = [], []
    for f, code in enumerate(panel["founder_geno"][marker]):
        allele = {1: zero, 3: one}.get(code)
        if allele is None:
            scheme = (k + f) % 3
            first.append(("-", "-") if scheme == 0 else (zero, zero) if scheme == 1 else (zero, one))
            second.append(("-", "-") if scheme != 1 else (one, one))
        else:
            first.append((allele, allele))
            second.append(("-", "-") if (k + f) % 50 == 7 else (allele, allele))
    return first, second


def strain_call(code, pair, foreign):
    zero, one = pair
    if code is None:
        if foreign:
            return zero, next(b for b in BASES if b not in pair)
        return "-", "-"
    return {1: (zero, zero), 2: (zero, one), 3: (one, one)}[code]


def sample_names(panel):
    names = [s.split("/")[0] + "_1" for s in panel["strains"]]
    return names, names[REPLICATED][:-2] + "_2"


def extra_markers(panel):
    """(name, chr, bp, cM, unique, in the annotation, founder calls) of the markers only the arrays have."""
    first = [m for m in panel["markers"] if m[1] == "1"][10]
    second = [m for m in panel["markers"] if m[1] == "2"][10]
    hom = lambda alleles: [(a, a) for a in alleles]
    two = hom("AAGGAGAG")
    return [(f"nu_{i}", "1", first[3] + i, first[2], "FALSE", True, two) for i in (1, 2, 3)] + [
        ("np_1", "1", first[3] + 5, "NA", "TRUE", True, two),
        ("un_1", "NA", "NA", "NA", "FALSE", True, two),
        ("na_1", None, None, None, None, False, two),
        ("y_1", "Y", 1000000, "NA", "TRUE", True, two),
        ("tri_1", "2", second[3] + 1, second[2], "TRUE", True, hom("ACGTACGT"))]


class Calls:
    """Every sample's call at every marker, built once."""

    def __init__(self, panel):
        self.panel = panel
        markers = [m[0] for m in panel["markers"]]
        strain_samples, replicate = sample_names(panel)
        half = len(strain_samples) // 2
        self.reports = [strain_samples[:half] + [CONTROL],
                        [f"F{f}_2" for f in FOUNDERS] + strain_samples[half:] + [replicate, CONTROL],
                        [f"F{f}_1" for f in FOUNDERS]]
        self.pairs = {m: PAIRS[k % len(PAIRS)] for k, m in enumerate(markers)}
        self.calls = {}
        self.foreign = 0
        missing_seen = 0
        for k, m in enumerate(markers):
            first, second = founder_samples(panel, m, self.pairs[m], k)
            row = {f"F{f}_1": first[i] for i, f in enumerate(FOUNDERS)}
            row.update({f"F{f}_2": second[i] for i, f in enumerate(FOUNDERS)})
            for name, sample, code in zip(panel["strains"], strain_samples, panel["geno"][m]):
                missing_seen += code is None
                foreign = code is None and missing_seen % 4 == 1
                self.foreign += foreign
                row[sample] = strain_call(code, self.pairs[m], foreign)
            row[replicate] = row[strain_samples[REPLICATED]]
            row[CONTROL] = self.pairs[m][0], self.pairs[m][0]
            self.calls[m] = row
        for name, _, _, _, _, _, founder_calls in extra_markers(panel):
            row = {f"F{f}_{r}": founder_calls[i] for i, f in enumerate(FOUNDERS) for r in (1, 2)}
            row.update({s: ("A", "G") for samples in self.reports for s in samples if s not in row})
            self.calls[name] = row
        self.markers = markers + [e[0] for e in extra_markers(panel)]


def header(calls, report):
    snps, samples = len(calls.markers), len(calls.reports[report])
    total = sum(map(len, calls.reports))
    return ["[Header]"] + HEADER_KEYS + [f"Num SNPs\t{snps}", f"Total SNPs\t{snps}", f"Num Samples\t{samples}",
                                         f"Total Samples\t{total}", f"File \t{report + 1} of 3", "[Data]"]


def by_sample(calls, report, rng, cut=False):
    """Sample after sample, SNPs by name; CRLF line ends."""
    snps = sorted(calls.markers)
    lines = header(calls, report) + ["\t".join(COLUMNS_1)]
    for sample in calls.reports[report]:
        for snp in snps:
            a, b = calls.calls[snp][sample]
            lines.append("\t".join([snp, sample, a, b, f"{rng.random():.2f}"]))
    if cut:
        lines = lines[:-len(snps) // 3]
    return "".join(line + "\r\n" for line in lines)


def by_snp(calls, report, rng):
    """SNP after SNP in map order; the sample in Sample Name, Sample ID empty."""
    lines = header(calls, report) + ["\t".join(COLUMNS_2)]
    for i, snp in enumerate(calls.markers, 1):
        zero, one = calls.pairs.get(snp, ("A", "G"))
        for j, sample in enumerate(calls.reports[report], 1):
            a, b = calls.calls[snp][sample]
            ab = ["-" if x == "-" else "A" if x == zero else "B" for x in (a, b)]
            lines.append("\t".join([str(j), "", sample, str(i), snp, f"{rng.random():.2f}", *ab, a, b]))
    return "".join(line + "\n" for line in lines)


def snp_map(panel):
    """The SNP map a genotyping service sends beside the reports."""
    rows = ["Index\tName\tChromosome\tPosition"]
    return "\n".join(rows + [f"{i}\t{m}\t{c}\t{bp}" for i, (m, c, _, bp) in enumerate(panel["markers"], 1)]) + "\n"


def annotation(panel):
    rows = ["marker,chr,bp_grcm39,cM_cox,unique,strand"]
    rows += [f"{m},{c},{bp},{cm},TRUE,plus" for m, c, cm, bp in panel["markers"]]
    rows += [f"{n},{c},{bp},{cm},{u},minus" for n, c, bp, cm, u, listed, _ in extra_markers(panel) if listed]
    rows.append("ao_1,2,1000,0.5,TRUE,plus")   # a marker of the array no report has
    return "\n".join(rows) + "\n"


def sample_table(panel):
    strain_samples, replicate = sample_names(panel)
    rows = ["sample,strain,funnel,sex,generation,role"]
    rows += [f"F{f}_{r},{f},,,,founder" for f in FOUNDERS for r in (1, 2)]
    sex_column = panel["sex_column"]
    for k, (name, sample) in enumerate(zip(panel["strains"], strain_samples)):
        funnel = "".join(panel["alleles"][n - 1] for n in panel["funnels"][name])
        sex = panel["covar"][name].get(sex_column, "")
        rows.append(f"{sample},{name},{funnel},{sex},,strain")
        if k == REPLICATED:
            rows.append(f"{replicate},{name},{funnel},{sex},,strain")
    return "\n".join(rows) + "\n"


def founder_tables(panel, calls):
    geno = ["# founder genotypes: A or B, the allele codes' alleles; - untyped", "marker," + ",".join(FOUNDERS)]
    codes = ["# the A and B allele of each marker, as the reports' Forward columns", "marker,chr,A,B"]
    for m, c, _, _ in panel["markers"]:
        geno.append(m + "," + ",".join({1: "A", 3: "B"}.get(g, "-") for g in panel["founder_geno"][m]))
        codes.append(f"{m},{c},{calls.pairs[m][0]},{calls.pairs[m][1]}")
    return "\n".join(geno) + "\n", "\n".join(codes) + "\n"


def write(path, text, compress=None, snp_map=""):
    """`text` to `path`, compressed with gzip or into a zip (`compress`), there
    beside a SNP map."""
    tmp = path.with_name(path.name + ".tmp")
    if compress == "gzip":
        with open(tmp, "wb") as f, gzip.GzipFile(fileobj=f, mode="wb", mtime=0, filename="") as z:
            z.write(text.encode())
    elif compress == "zip":
        with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
            for name, member in ((path.stem + ".txt", text), ("SNP_Map.txt", snp_map)):
                z.writestr(zipfile.ZipInfo(name, date_time=(1980, 1, 1, 0, 0, 0)), member,
                           compress_type=zipfile.ZIP_DEFLATED)
    else:
        with open(tmp, "w", newline="") as f:
            f.write(text)
    os.replace(tmp, path)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("control", help="the cross's control file (YAML)")
    ap.add_argument("out", type=Path, help="folder for the reports, annotation and tables")
    ap.add_argument("--truncated", action="store_true", help="cut report_1.txt short")
    args = ap.parse_args(argv)
    try:
        panel = load(args.control)
    except (OSError, KeyError, ValueError, TypeError, yaml.YAMLError) as e:
        print(f"error: {args.control}: cannot read the cross ({type(e).__name__}: {e})", file=sys.stderr)
        return 1
    args.out.mkdir(parents=True, exist_ok=True)
    calls = Calls(panel)
    rng = random.Random(1)
    write(args.out / "report_1.txt", by_sample(calls, 0, rng, cut=args.truncated))
    write(args.out / "report_2.txt.gz", by_snp(calls, 1, rng), compress="gzip")
    write(args.out / "report_3.zip", by_sample(calls, 2, rng), compress="zip", snp_map=snp_map(panel))
    write(args.out / "annotation.csv", annotation(panel))
    write(args.out / "samples.csv", sample_table(panel))
    geno, codes = founder_tables(panel, calls)
    write(args.out / "founder_geno.csv", geno)
    write(args.out / "allele_codes.csv", codes)
    print(f"wrote {len(calls.markers)} markers, {sum(map(len, calls.reports))} samples "
          f"({calls.foreign} calls with a foreign allele) to {args.out}", file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

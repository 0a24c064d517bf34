#!/usr/bin/python3
"""Write the example panel (an R/qtl2 cross with markers as rows) also as the
VCF input: founders VCF, strains VCF (bgzipped and indexed, and plain), strain
table and genetic map, so that both ways into the workflow run on one panel.

Every marker becomes a biallelic SNP with the marker's name as its ID, at
bp = pmap Mbp x 10^6, and the genetic map has one point per marker carrying
its gmap cM text unchanged: every site's cM is then exactly the cross's.
Contigs are named "chr1", "chrX", ... in the VCFs and "1", "X" in the map.
The founders get sample names of their own, in a column order other than the
founder order, so that `founders=` has to put them in order.

    /usr/bin/python3 tools/panel/panel_to_vcf.py examples/panel/panel.yaml examples/panel/vcf
"""
import argparse
import csv
import os
import sys

import pysam
import yaml

FOUNDER_SAMPLES = ["AJ", "B6", "S129", "NOD", "NZO", "CAST", "PWK", "WSB"]
VCF_COLUMN_ORDER = [5, 1, 7, 0, 3, 6, 2, 4]   # founder index per founders-VCF column
FOUNDER_GT = {1: "0/0", 3: "1/1"}
STRAIN_GT = {1: "0/0", 2: "0/1", 3: "1/1"}
ALLELE_PAIRS = [("A", "G"), ("C", "T"), ("G", "A"), ("T", "C"), ("A", "C"), ("G", "T")]


def read_csv(folder, control, key):
    """Header and rows of a CSV the control file names, comment lines skipped."""
    comment = control.get("comment.char", "#")
    name = control[key]["file"] if key == "cross_info" else control[key]
    with open(os.path.join(folder, name), newline="") as f:
        lines = [line for line in f if line.strip() and not line.startswith(comment)]
    rows = list(csv.reader(lines, delimiter=control.get("sep", ",")))
    return rows[0], rows[1:]


def load(control_path):
    folder = os.path.dirname(os.path.abspath(control_path))
    with open(control_path) as f:
        control = yaml.safe_load(f)
    codes = {str(k): v for k, v in control["genotypes"].items()}
    missing = set(control.get("na.strings", ["-", "NA"]))
    decode = lambda row: [None if c in missing else codes[c] for c in row]
    strain_names, geno = read_csv(folder, control, "geno")
    _, founder_geno = read_csv(folder, control, "founder_geno")
    _, gmap = read_csv(folder, control, "gmap")
    _, pmap = read_csv(folder, control, "pmap")
    _, cross_info = read_csv(folder, control, "cross_info")
    covar_header, covar = read_csv(folder, control, "covar")
    bp = {m: round(float(p) * 1e6) for m, _, p in pmap}
    return {
        "alleles": [str(a) for a in control["alleles"]],
        "strains": strain_names[1:],
        "markers": [(m, c, cm, bp[m]) for m, c, cm in gmap],  # map order
        "founder_geno": {r[0]: decode(r[1:]) for r in founder_geno},
        "geno": {r[0]: decode(r[1:]) for r in geno},
        "funnels": {r[0]: [int(x) for x in r[1:]] for r in cross_info},
        "covar": {r[0]: dict(zip(covar_header[1:], r[1:])) for r in covar},
        "sex_column": control.get("sex", {}).get("covar"),
    }


def vcf_header(contigs, samples):
    lines = ["##fileformat=VCFv4.2", "##source=tools/panel/panel_to_vcf.py"]
    lines += [f"##contig=<ID=chr{c},length={n}>" for c, n in contigs]
    lines.append('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">')
    lines.append("\t".join(["#CHROM", "POS", "ID", "REF", "ALT", "QUAL", "FILTER", "INFO",
                            "FORMAT"] + samples))
    return "\n".join(lines) + "\n"


def vcf_lines(panel, calls_of):
    for i, (marker, chrom, _, bp) in enumerate(panel["markers"]):
        ref, alt = ALLELE_PAIRS[i % len(ALLELE_PAIRS)]
        yield "\t".join([f"chr{chrom}", str(bp), marker, ref, alt, ".", "PASS", ".", "GT"]
                        + calls_of(marker)) + "\n"


def contigs(panel):
    ends = {}
    for _, chrom, _, bp in panel["markers"]:
        ends[chrom] = max(ends.get(chrom, 0), bp + 1000)
    return list(ends.items())


def write_vcf(path, panel, samples, calls_of):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write(vcf_header(contigs(panel), samples))
        f.writelines(vcf_lines(panel, calls_of))
    os.replace(tmp, path)


def write_bgzipped(plain, target):
    """bgzip `plain` to `target` and index it (tabix)."""
    pysam.tabix_compress(plain, target + ".tmp", force=True)
    os.replace(target + ".tmp", target)
    pysam.tabix_index(target, preset="vcf", force=True)


def write_table(path, rows):
    tmp = path + ".tmp"
    with open(tmp, "w", newline="") as f:
        f.writelines("\t".join(map(str, r)) + "\n" for r in rows)
    os.replace(tmp, path)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("control", help="the cross's control file (YAML)")
    ap.add_argument("out", help="folder for the VCF files, strain table and map")
    args = ap.parse_args(argv)
    try:
        panel = load(args.control)
    except (OSError, KeyError, ValueError, TypeError, yaml.YAMLError) as e:
        print(f"error: {args.control}: cannot read the cross ({type(e).__name__}: {e})",
              file=sys.stderr)
        return 1
    os.makedirs(args.out, exist_ok=True)
    out = lambda name: os.path.join(args.out, name)

    columns = VCF_COLUMN_ORDER
    write_vcf(out("founders.vcf"), panel, [FOUNDER_SAMPLES[j] for j in columns],
              lambda m: [FOUNDER_GT.get(panel["founder_geno"][m][j], "./.") for j in columns])
    write_vcf(out("strains.vcf"), panel, panel["strains"],
              lambda m: [STRAIN_GT.get(c, "./.") for c in panel["geno"][m]])
    write_bgzipped(out("founders.vcf"), out("founders.vcf.gz"))
    os.remove(out("founders.vcf"))
    write_bgzipped(out("strains.vcf"), out("strains.vcf.gz"))

    letters = panel["alleles"]
    sex_col = panel["sex_column"]
    write_table(out("strain_table.tsv"), [("strain", "funnel", "generation", "sex")] + [
        (s, "".join(letters[n - 1] for n in panel["funnels"][s]),
         panel["covar"][s].get("ngen", ""), panel["covar"][s].get(sex_col, ""))
        for s in panel["strains"]])
    write_table(out("genetic_map.csv"), [("chr,pos_bp,cM",)] + [
        (f"{chrom},{bp},{cm}",) for _, chrom, cm, bp in panel["markers"]])
    print(f"wrote {len(panel['markers'])} sites, {len(panel['strains'])} strains to {args.out}",
          file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())

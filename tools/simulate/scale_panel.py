#!/usr/bin/python3
"""Writes a large simulated panel, streaming, as VCF files and as an R/qtl2 cross.

make_panel.py breeds every strain with tarvel_simulate and holds the whole
panel as text; at sequencing density (10^6 markers a chromosome, a hundred
strains) that is hours and gigabytes. This writer draws the same kind of
panel directly and writes it a block of markers at a time, so its memory
stays near one block:

- founders: at each site one to four founders carry allele 1, the others
  allele 0; FOUNDER_MISSING of the founder calls are missing;
- strains: each strain is a mosaic of founders along the chromosome, about
  SEGMENTS stretches each (an inbred strain: homozygous everywhere), with
  ERROR of its calls changed to another call and MISSING of them missing.

OUT gets (only what --route asks for):
  vcf/founders.vcf.gz(.tbi), vcf/strains.vcf.gz(.tbi), vcf/strain_table.tsv
      contigs chr1, chr2, ...; positions in bp, no genetic map
  cross/panel.yaml with geno.csv, founder_geno.csv (markers as rows, A/H/B,
      "-" missing), gmap.csv (cM), pmap.csv (Mbp), cross_info.csv, covar.csv

    /usr/bin/python3 tools/simulate/scale_panel.py --out OUT --strains 100 \\
        --chromosomes 2 --markers 1000000 [--route vcf|cross|both] [--seed N]
"""
import argparse
import os
import sys

import numpy as np

FOUNDER_SAMPLES = ["AJ", "B6", "S129", "NOD", "NZO", "CAST", "PWK", "WSB"]
LETTERS = "ABCDEFGH"
BLOCK = 50_000            # markers drawn and written at a time
SEGMENTS = 12             # founder stretches per strain and chromosome
ERROR, MISSING, FOUNDER_MISSING = 0.002, 0.01, 0.005
BP_START, BP_STEP = 3_000_000, 150   # sites every BP_STEP bp on average
CM_PER_MBP = 0.5
ALLELES = [(b"A", b"G"), (b"C", b"T"), (b"G", b"A"), (b"T", b"C")]

# call codes: founders 0/1/missing(2); strains 0/1/2/missing(3)
VCF_FOUNDER = [b"0/0", b"1/1", b"./."]
VCF_STRAIN = [b"0/0", b"0/1", b"1/1", b"./."]
CROSS_FOUNDER = [b"A", b"B", b"-"]
CROSS_STRAIN = [b"A", b"H", b"B", b"-"]


class Chromosome:
    """One chromosome's founders and strain mosaics, drawn block by block."""

    def __init__(self, name, markers, strains, rng):
        self.name, self.markers, self.rng = name, markers, rng
        self.steps = rng.integers(BP_STEP // 2, BP_STEP * 3 // 2, markers)
        cuts = [np.sort(rng.choice(markers, SEGMENTS - 1, replace=False)) for _ in range(strains)]
        # the founder (0..7) of each strain's stretches, a new one at each cut
        self.cuts = cuts
        self.stretch_founders = [rng.integers(0, 8, SEGMENTS) for _ in range(strains)]

    def blocks(self):
        """(bp positions, founder codes [n, 8], strain codes [n, strains]) per block."""
        bp = BP_START + np.cumsum(self.steps)
        for start in range(0, self.markers, BLOCK):
            stop = min(start + BLOCK, self.markers)
            n = stop - start
            carriers = self.rng.integers(1, 5, n)
            order = np.argsort(self.rng.random((n, 8)), axis=1)
            founders = (np.argsort(order, axis=1) < carriers[:, None]).astype(np.uint8)
            index = np.arange(start, stop)
            strains = np.empty((n, len(self.cuts)), np.uint8)
            for s, (cuts, which) in enumerate(zip(self.cuts, self.stretch_founders)):
                founder = which[np.searchsorted(cuts, index, side="right")]
                strains[:, s] = 2 * founders[np.arange(n), founder]
            wrong = self.rng.random(strains.shape) < ERROR
            strains[wrong] = (strains[wrong] + self.rng.integers(1, 3, int(wrong.sum()))) % 3
            strains[self.rng.random(strains.shape) < MISSING] = 3
            founders[self.rng.random(founders.shape) < FOUNDER_MISSING] = 2
            yield bp[start:stop], founders, strains


def field_rows(codes, texts, sep, end):
    """Each row of `codes` as one line of fields: texts[code] joined by `sep`."""
    width = max(len(t) for t in texts) + 1
    table = np.zeros((len(texts), width), np.uint8)
    for i, t in enumerate(texts):
        assert len(t) == width - 1, "field texts of one width"
        table[i, :-1] = np.frombuffer(t, np.uint8)
        table[i, -1] = ord(sep)
    cells = table[codes]                 # [n, columns, width]
    cells[:, -1, -1] = ord(end)
    flat = cells.reshape(len(codes), -1)
    return [row.tobytes() for row in flat]


class Writers:
    def __init__(self, out, routes, strain_names):
        self.routes, self.files = routes, {}
        if "vcf" in routes:
            os.makedirs(os.path.join(out, "vcf"), exist_ok=True)
            self.vcf_paths = [os.path.join(out, "vcf", n) for n in ("founders.vcf", "strains.vcf")]
            self.files["founders_vcf"] = open(self.vcf_paths[0], "wb")
            self.files["strains_vcf"] = open(self.vcf_paths[1], "wb")
        if "cross" in routes:
            os.makedirs(os.path.join(out, "cross"), exist_ok=True)
            for key in ("geno", "founder_geno", "gmap", "pmap"):
                self.files[key] = open(os.path.join(out, "cross", f"{key}.csv"), "wb")
            self.files["geno"].write(("marker," + ",".join(strain_names) + "\n").encode())
            self.files["founder_geno"].write(("marker," + ",".join(LETTERS) + "\n").encode())
            for key in ("gmap", "pmap"):
                self.files[key].write(b"marker,chr,pos\n")

    def vcf_headers(self, contigs, strain_names):
        for key, samples in (("founders_vcf", FOUNDER_SAMPLES), ("strains_vcf", strain_names)):
            lines = ["##fileformat=VCFv4.2", "##source=tools/simulate/scale_panel.py"]
            lines += [f"##contig=<ID=chr{c},length={n}>" for c, n in contigs]
            lines.append('##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">')
            lines.append("\t".join(["#CHROM", "POS", "ID", "REF", "ALT", "QUAL", "FILTER", "INFO", "FORMAT"]
                                   + samples))
            self.files[key].write(("\n".join(lines) + "\n").encode())

    def block(self, chrom, start, bp, founders, strains):
        names = [f"s{chrom}_{start + i + 1}".encode() for i in range(len(bp))]
        if "vcf" in self.routes:
            heads = [b"chr%s\t%d\t%s\t%s\t%s\t.\tPASS\t.\tGT\t" % (chrom.encode(), p, m, *ALLELES[p % 4])
                     for p, m in zip(bp.tolist(), names)]
            for key, codes, texts in (("founders_vcf", founders, VCF_FOUNDER), ("strains_vcf", strains, VCF_STRAIN)):
                self.files[key].writelines(h + row for h, row in zip(heads, field_rows(codes, texts, "\t", "\n")))
        if "cross" in self.routes:
            for key, codes, texts in (("founder_geno", founders, CROSS_FOUNDER), ("geno", strains, CROSS_STRAIN)):
                self.files[key].writelines(m + b"," + row for m, row in zip(names, field_rows(codes, texts, ",", "\n")))
            c = chrom.encode()
            self.files["pmap"].writelines(b"%s,%s,%.6f\n" % (m, c, p / 1e6) for m, p in zip(names, bp.tolist()))
            self.files["gmap"].writelines(b"%s,%s,%.6f\n" % (m, c, (p - BP_START) / 1e6 * CM_PER_MBP)
                                          for m, p in zip(names, bp.tolist()))

    def close(self):
        for f in self.files.values():
            f.close()
        if "vcf" in self.routes:
            import pysam
            for plain in self.vcf_paths:
                pysam.tabix_compress(plain, plain + ".gz", force=True)
                pysam.tabix_index(plain + ".gz", preset="vcf", force=True)
                os.remove(plain)


def write_small_files(out, routes, strains, rng):
    """Strain table (VCF), control file, cross_info and covar (cross)."""
    funnels = [rng.permutation(8) for _ in strains]
    sexes = ["female" if i % 2 == 0 else "male" for i in range(len(strains))]
    if "vcf" in routes:
        with open(os.path.join(out, "vcf", "strain_table.tsv"), "w") as f:
            f.write("strain\tfunnel\tgeneration\tsex\n")
            f.writelines(f"{s}\t{''.join(LETTERS[i] for i in fu)}\t20\t{x}\n"
                         for s, fu, x in zip(strains, funnels, sexes))
    if "cross" in routes:
        folder = os.path.join(out, "cross")
        with open(os.path.join(folder, "cross_info.csv"), "w") as f:
            f.write("id," + ",".join(LETTERS) + "\n")
            f.writelines(f"{s}," + ",".join(str(i + 1) for i in fu) + "\n" for s, fu in zip(strains, funnels))
        with open(os.path.join(folder, "covar.csv"), "w") as f:
            f.write("id,Sex,ngen\n")
            f.writelines(f"{s},{x},20\n" for s, x in zip(strains, sexes))
        with open(os.path.join(folder, "panel.yaml"), "w") as f:
            f.write("crosstype: risib8\nsep: ','\nna.strings: ['-', NA]\ncomment.char: '#'\n"
                    "geno: geno.csv\nfounder_geno: founder_geno.csv\ngmap: gmap.csv\npmap: pmap.csv\n"
                    "covar: covar.csv\nalleles: [A, B, C, D, E, F, G, H]\n"
                    "genotypes: {A: 1, H: 2, B: 3}\ngeno_transposed: true\nfounder_geno_transposed: true\n"
                    "sex: {covar: Sex, female: female, male: male}\ncross_info: {file: cross_info.csv}\n")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", required=True)
    ap.add_argument("--strains", type=int, default=100)
    ap.add_argument("--chromosomes", type=int, default=2)
    ap.add_argument("--markers", type=int, default=1_000_000, help="markers a chromosome")
    ap.add_argument("--route", choices=["vcf", "cross", "both"], default="vcf")
    ap.add_argument("--seed", type=int, default=1)
    args = ap.parse_args(argv)
    if args.strains < 1 or args.chromosomes < 1 or args.markers < SEGMENTS:
        print(f"error: --strains and --chromosomes must be 1 or more, --markers {SEGMENTS} or more",
              file=sys.stderr)
        return 1
    routes = ["vcf", "cross"] if args.route == "both" else [args.route]
    rng = np.random.default_rng(args.seed)
    strains = [f"SIM{i + 1:04d}/Tv" for i in range(args.strains)]
    os.makedirs(args.out, exist_ok=True)
    writers = Writers(args.out, routes, strains)
    chroms = [Chromosome(str(c + 1), args.markers, args.strains, rng) for c in range(args.chromosomes)]
    if "vcf" in routes:
        writers.vcf_headers([(c.name, BP_START + int(c.steps.sum()) + 1000) for c in chroms], strains)
    for chrom in chroms:
        start = 0
        for bp, founders, calls in chrom.blocks():
            writers.block(chrom.name, start, bp, founders, calls)
            start += len(bp)
        print(f"scale_panel: chromosome {chrom.name}: {args.markers} markers, {args.strains} strains",
              file=sys.stderr, flush=True)
    writers.close()
    write_small_files(args.out, routes, strains, rng)
    return 0


if __name__ == "__main__":
    sys.exit(main())

#!/usr/bin/python3
"""Measures the two ways of treating untyped founder genotypes on simulated strains.

keep: TARVEL gets the files as they are (an untyped founder genotype then
      disagrees with every homozygous strain call at that marker);
mask: the strain's call is set to N at every marker where any founder is untyped.

For each founder-missing rate, chromosome kind and seed, tarvel_simulate breeds
one strain; TARVEL runs on it both ways. A marker is right when the founder pair
with the highest value is the strain's true unordered pair. Prints a Markdown
table of the share of right markers (mean over seeds, and the worst seed).

Usage: measure_founder_missing.py [--seeds 10] [--rates 0,0.01,0.05,0.2]
       [--markers 3000] [--generation 20] [--tarvel BIN] [--simulate BIN]
"""
import argparse
import subprocess
import sys
import tempfile
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
KINDS = {"autosome": [], "male X": ["--x", "--sex", "M"]}
TARVEL_KIND = {"autosome": [], "male X": ["-x", "-s", "M"]}


def happy_pairs():
    """Founder pairs (a, b), a >= b, in the HAPPY layout's column order."""
    return [(a, b) for a in range(1, 9) for b in range(1, a + 1)]


def top_pairs(prob_file):
    """Per marker, the unordered founder pair with the highest value (first on ties)."""
    pairs = happy_pairs()
    tops = []
    for line in Path(prob_file).read_text().splitlines():
        values = [float(v) for v in line.split("|", 1)[1].split(",") if v.strip()]
        tops.append(frozenset(pairs[values.index(max(values))]))
    return tops


def true_pairs(truth_file):
    return [frozenset(map(int, l.split())) for l in Path(truth_file).read_text().splitlines()]


def masked_calls(founder_lines, strain_lines):
    """The strain's calls with N wherever a founder genotype is marked missing."""
    return ["N" if "-" in f else s for f, s in zip(founder_lines, strain_lines)]


def share_right(prob_file, truth_file):
    truth = true_pairs(truth_file)
    return sum(p == t for p, t in zip(top_pairs(prob_file), truth)) / len(truth)


def run_tarvel(args, d, strain_file, kind):
    cmd = [str(args.tarvel), str(d / "founders.txt"), str(strain_file), str(d / "funnel.txt"),
           str(args.generation), "-cm", str(d / "positions.txt"), *TARVEL_KIND[kind]]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return Path(str(strain_file) + ".prob")


def measure_one(args, tmp, rate, kind, seed):
    """(keep, mask) shares of right markers for one simulated strain."""
    d = tmp / f"{rate}_{kind.replace(' ', '')}_{seed}"
    subprocess.run([str(args.simulate), "--out", str(d), "--seed", str(seed),
                    "--markers", str(args.markers), "--generation", str(args.generation),
                    "--founder-missing", str(rate), *KINDS[kind]],
                   check=True, stdout=subprocess.DEVNULL)
    masked = d / "strain_masked.txt"
    founders = (d / "founders.txt").read_text().splitlines()
    strain = (d / "strain.txt").read_text().splitlines()
    masked.write_text("\n".join(masked_calls(founders, strain)) + "\n")
    truth = d / "truth.txt"
    return (share_right(run_tarvel(args, d, d / "strain.txt", kind), truth),
            share_right(run_tarvel(args, d, masked, kind), truth))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--seeds", type=int, default=10)
    ap.add_argument("--rates", default="0,0.01,0.05,0.2")
    ap.add_argument("--markers", type=int, default=3000)
    ap.add_argument("--generation", type=int, default=20)
    ap.add_argument("--tarvel", type=Path, default=REPO / "build/TARVEL")
    ap.add_argument("--simulate", type=Path, default=REPO / "build/tools/simulate/tarvel_simulate")
    args = ap.parse_args(argv)
    rates = [float(r) for r in args.rates.split(",")]
    print("| founder genotypes missing | chromosome | keep | mask | keep, worst seed | mask, worst seed |")
    print("|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as tmpdir:
        for rate in rates:
            for kind in KINDS:
                shares = [measure_one(args, Path(tmpdir), rate, kind, s)
                          for s in range(1, args.seeds + 1)]
                keep, mask = zip(*shares)
                print(f"| {rate:g} | {kind} | {100 * sum(keep) / len(keep):.2f}% "
                      f"| {100 * sum(mask) / len(mask):.2f}% | {100 * min(keep):.2f}% "
                      f"| {100 * min(mask):.2f}% |", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())

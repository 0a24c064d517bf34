#!/usr/bin/python3
"""Writes a simulated recombinant inbred panel as an R/qtl2 cross, with its truth.

Every strain has its own random funnel and sex; for each chromosome all
strains are bred by tarvel_simulate from the same founder genotypes and
marker positions (the first strain's run draws them, the others read them
with --founders). Output directory OUT gets:

  panel.yaml, panel.json   control file (YAML, and the same as JSON)
  panel.zip                the control file and the CSVs in one zip
  geno.csv, founder_geno.csv   markers as rows (transposed), codes A/H/B, "-" missing
  gmap.csv (cM), pmap.csv (Mbp, 6 decimals), cross_info.csv, covar.csv (id,Sex,ngen)
  truth.csv                strain,chr,marker,copy1,copy2 (founder letters)

Usage: make_panel.py --out OUT [--simulate BIN] [--seed N] [--strains N]
       [--generation G] [--founder-missing RATE] [--missing RATE]
       [--chromosomes small|cc|NAME:CM:MARKERS,...]

--chromosomes cc lays out a Collaborative Cross-sized genome: chromosomes 1-19
from 8,200 markers down to 3,000 and X with 3,700, 110,100 markers in all.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile
from pathlib import Path

import panel_files

REPO = Path(__file__).resolve().parents[2]
# name, length in cM, markers, Mbp per cM
CHROMOSOMES = [("1", 98.0, 300, 1.99), ("2", 90.0, 270, 2.02), ("X", 72.0, 230, 2.35)]
# the mouse autosomes' lengths in cM, roughly, and the X
CC_LENGTHS = [98, 103, 82, 85, 92, 75, 74, 73, 75, 70, 83, 61, 67, 66, 54, 57, 59, 55, 54]
CC_CHROMOSOMES = [(str(i + 1), float(cm), round(8200 - 5200 * i / 18), 1.95)
                  for i, cm in enumerate(CC_LENGTHS)] + [("X", 72.0, 3700, 2.35)]


def chromosome_layout(text):
    """The chromosomes to simulate: "small" (the example panel's three), "cc"
    or NAME:CM:MARKERS[,...]; None when the text is not such a list."""
    if text == "small":
        return CHROMOSOMES
    if text == "cc":
        return CC_CHROMOSOMES
    layout = []
    for item in text.split(","):
        m = re.fullmatch(r"([A-Za-z0-9]+):([0-9.]+):([0-9]+)", item.strip())
        if not m or float(m.group(2)) <= 0 or int(m.group(3)) < 2:
            return None
        layout.append((m.group(1), float(m.group(2)), int(m.group(3)), 2.0))
    return layout


def marker_positions(length, markers, rng):
    """Strictly increasing cM positions with four decimals, evenly spread with jitter."""
    step = length / markers
    return [round((i + 0.1 + 0.8 * rng.random()) * step, 4) for i in range(markers)]


def mbp_positions(cm, per_cm):
    """A monotone, not quite linear cM -> Mbp map starting at 3 Mbp, 6 decimals."""
    end = cm[-1]
    return [round(3.0 + per_cm * (c + 0.08 * end * (c / end) ** 2), 6) for c in cm]


def simulate(binary, workdir, seed, chrom_is_x, male, funnel, generation, positions,
             founders=None, founder_missing=0.0, missing=0.01):
    """Runs tarvel_simulate once; returns its output directory."""
    cmd = [str(binary), "--out", str(workdir), "--seed", str(seed), "--generation", str(generation),
           "--positions", str(positions), "--funnel", " ".join(map(str, funnel)),
           "--missing", str(missing), "--founder-missing", str(founder_missing)]
    if chrom_is_x:
        cmd += ["--x", "--sex", "M" if male else "F"]
    if founders is not None:
        cmd += ["--founders", str(founders)]
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return workdir


def draw_strains(n, rng):
    """Strain names, funnels (founder numbers in funnel order) and sexes, half of each sex."""
    sexes = ["female", "male"] * ((n + 1) // 2)
    rng.shuffle(sexes)
    strains = []
    for i in range(n):
        funnel = list(range(1, 9))
        rng.shuffle(funnel)
        strains.append({"name": f"SIM{i + 1:02d}/Tv", "funnel": funnel, "sex": sexes[i]})
    return strains


def run_seed(seed, strain, chrom):
    """A distinct simulator seed per strain and chromosome: ten per strain for
    the first ten chromosomes (the seeds the example panel was made with),
    past them a hundred per strain, far above."""
    if chrom < 10:
        return seed * 1000 + 10 * strain + chrom
    return 10 ** 6 + seed * 10 ** 5 + 100 * strain + chrom


def breed_chromosome(args, chrom, index, strains, rng, tmp):
    """Simulates every strain on one chromosome (at its own "generation" where
    it has one); returns markers, founder rows and strain data."""
    name, length, count, per_cm = chrom
    cm = marker_positions(length, count, rng)
    pos_file = tmp / f"positions_{name}.txt"
    pos_file.write_text("".join(f"{c:.4f}\n" for c in cm))
    markers = [f"c{name}_{i + 1:04d}" for i in range(count)]
    founders_file = None
    runs = []
    for k, strain in enumerate(strains):
        seed = run_seed(args.seed, k, index)
        out = simulate(args.simulate, tmp / f"chr{name}_{k}", seed, name == "X",
                       strain["sex"] == "male", strain["funnel"], strain.get("generation", args.generation),
                       pos_file,
                       founders=founders_file,
                       founder_missing=args.founder_missing if founders_file is None else 0.0,
                       missing=args.missing)
        founders_file = founders_file or out / "founders.txt"
        runs.append(out)
    return {
        "name": name, "markers": markers, "cm": cm, "mbp": mbp_positions(cm, per_cm),
        "founders": panel_files.read_lines(founders_file),
        "calls": [panel_files.read_lines(r / "strain.txt") for r in runs],
        "truth": [panel_files.read_lines(r / "truth.txt") for r in runs],
    }


def fail(message):
    print(f"error: {message}", file=sys.stderr)
    return 1


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--out", required=True, type=Path)
    ap.add_argument("--simulate", type=Path, default=REPO / "build/tools/simulate/tarvel_simulate")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--strains", type=int, default=8)
    ap.add_argument("--generation", type=int, default=20)
    ap.add_argument("--founder-missing", type=float, default=0.005)
    ap.add_argument("--missing", type=float, default=0.01)
    ap.add_argument("--chromosomes", default="small")
    args = ap.parse_args(argv)
    layout = chromosome_layout(args.chromosomes)
    if not layout:
        return fail(f"--chromosomes: '{args.chromosomes}' is not small, cc or NAME:CM:MARKERS,...")
    if args.strains < 1 or args.generation < 3:
        return fail("--strains must be 1 or more and --generation 3 or more")
    if not (0 <= args.founder_missing <= 1 and 0 <= args.missing <= 1):
        return fail("--founder-missing and --missing are rates from 0 to 1")
    if args.out.exists() and not args.out.is_dir():
        return fail(f"{args.out}: exists and is not a directory")
    if not args.simulate.is_file():
        return fail(f"{args.simulate}: simulator not found (build it first)")
    rng = random.Random(args.seed)
    strains = draw_strains(args.strains, rng)
    args.out.parent.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=args.out.parent, prefix=".make_panel.") as tmpdir:
        tmp = Path(tmpdir)
        chroms = []
        for index, chrom in enumerate(layout):
            print(f"make_panel: chromosome {chrom[0]}: {len(strains)} strains", flush=True)
            chroms.append(breed_chromosome(args, chrom, index, strains, rng, tmp))
        staged = tmp / "panel"
        panel_files.write_cross(staged, strains, chroms, args.generation)
        args.out.mkdir(exist_ok=True)
        for f in sorted(staged.iterdir()):
            os.replace(f, args.out / f.name)
    print(f"make_panel: wrote {args.out}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except subprocess.CalledProcessError as e:
        sys.exit(fail(f"tarvel_simulate failed ({e.returncode}): {' '.join(e.cmd)}"))

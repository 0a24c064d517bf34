#!/usr/bin/python3
"""Simulated panels whose faults are known, for strain QC: make_panel.py's
cross with a few strains made wrong on purpose.

    qc_cases.py make --out DIR [--clean N] [--seed S] [--chromosomes small|cc|...]
    qc_cases.py score --cases DIR --qc OUT/qc

`make` writes an R/qtl2 cross (as make_panel.py; run the workflow with
generation_column=ngen) with truth.csv and cases.json, which names:
  clean        N strains bred at #Generation 20 and left as they are
  x_funnel     XFUN/Tv, whose funnel is changed so that the founder of most of
               its X stands at place 4, whose X cannot reach the strain
  het          HET8/Tv, a male bred at #Generation 8 (covar ngen 8): residually
               heterozygous, its segments in truth.csv
  duplicate    DUPB/Tv, DUPA/Tv genotyped once more (fresh no-calls and errors)
  mixed        MIX/Tv, a sample of MIXA/Tv and MIXB/Tv mixed half and half: a
               call shows every allele either strain carries
`score` prints the recall and precision of HET8/Tv's heterozygous segments
against the truth and the share of clean strains flagged, as JSON.
"""
import argparse
import csv
import json
import random
import sys
import tempfile
from pathlib import Path

import make_panel
import panel_files

FOUNDERS = panel_files.FOUNDERS
MISSING, ERROR = 0.01, 0.002       # a fresh genotyping's no-calls and errors, as tarvel_simulate's
SPECIAL = [("XFUN/Tv", 20, None), ("HET8/Tv", 8, "male"), ("DUPA/Tv", 20, None), ("MIXA/Tv", 20, None),
           ("MIXB/Tv", 20, None)]


def true_calls(founder_lines, truth_lines):
    """A strain's error-free genotype (copies of allele 1) at every marker."""
    calls = []
    for founders, truth in zip(founder_lines, truth_lines):
        alleles = [int(g.lstrip("-")) for g in founders.split()]
        a, b = (int(n) for n in truth.split())
        calls.append(alleles[a - 1] + alleles[b - 1])
    return calls


def genotyped(calls, rng):
    """Calls as a genotyping gives them: some missing, some wrong."""
    out = []
    for c in calls:
        if rng.random() < MISSING:
            out.append("N")
        else:
            out.append(str((c + 1 + rng.randrange(2)) % 3 if rng.random() < ERROR else c))
    return out


def mixed_call(a, b):
    """The call of a sample holding DNA of two strains with calls a and b."""
    alleles = {0: {0}, 1: {0, 1}, 2: {1}}[a] | {0: {0}, 1: {0, 1}, 2: {1}}[b]
    return 1 if len(alleles) == 2 else 2 * alleles.pop()


def x_founder(chroms, k):
    """The founder number that gave most of strain k's X."""
    x = next(c for c in chroms if c["name"] == "X")
    counts = {}
    for line in x["truth"][k]:
        for n in line.split():
            counts[int(n)] = counts.get(int(n), 0) + 1
    return max(counts, key=counts.get)


def make(args):
    rng = random.Random(args.seed)
    clean = make_panel.draw_strains(args.clean, rng)
    for i, s in enumerate(clean):
        s["name"] = f"SIM{i + 1:03d}/Tv"
    special = make_panel.draw_strains(len(SPECIAL), rng)
    for s, (name, generation, sex) in zip(special, SPECIAL):
        s.update(name=name, generation=generation, sex=sex or s["sex"])
    strains = clean + special
    layout = make_panel.chromosome_layout(args.chromosomes)
    sim = argparse.Namespace(simulate=args.simulate, seed=args.seed, generation=20, founder_missing=0.005,
                             missing=MISSING)
    args.out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(dir=args.out, prefix=".qc_cases.") as tmp:
        chroms = [make_panel.breed_chromosome(sim, chrom, i, strains, rng, Path(tmp))
                  for i, chrom in enumerate(layout)]
    row = {s["name"]: k for k, s in enumerate(strains)}
    cases = {"clean": [s["name"] for s in clean]}
    cases["x_funnel"] = wrong_x_funnel(strains[row["XFUN/Tv"]], chroms, row["XFUN/Tv"])
    cases["het"] = {"strain": "HET8/Tv", "generation": 8}
    add_copy(strains, chroms, row["DUPA/Tv"], "DUPB/Tv", rng)
    cases["duplicate"] = {"strain": "DUPB/Tv", "of": "DUPA/Tv"}
    add_mixture(strains, chroms, row["MIXA/Tv"], row["MIXB/Tv"], "MIX/Tv", rng)
    cases["mixed"] = {"strain": "MIX/Tv", "of": ["MIXA/Tv", "MIXB/Tv"]}
    panel_files.write_cross(args.out, strains, chroms, 20)
    (args.out / "cases.json").write_text(json.dumps(cases, indent=1) + "\n")
    print(f"qc_cases: wrote {args.out} ({len(strains)} strains)")
    return 0


def wrong_x_funnel(strain, chroms, k):
    """Moves the founder of most of the strain's X to funnel place 4."""
    founder = x_founder(chroms, k)
    funnel = strain["funnel"]
    place = funnel.index(founder)
    funnel[place], funnel[3] = funnel[3], funnel[place]
    return {"strain": strain["name"], "founder": FOUNDERS[founder - 1], "place": 4}


def add_copy(strains, chroms, k, name, rng):
    strains.append(dict(strains[k], name=name, funnel=list(strains[k]["funnel"])))
    for c in chroms:
        c["calls"].append(genotyped(true_calls(c["founders"], c["truth"][k]), rng))
        c["truth"].append(list(c["truth"][k]))


def add_mixture(strains, chroms, a, b, name, rng):
    """A sample of strains a and b, named after neither; its truth is a's."""
    strains.append(dict(strains[a], name=name, funnel=list(strains[a]["funnel"])))
    for c in chroms:
        both = zip(true_calls(c["founders"], c["truth"][a]), true_calls(c["founders"], c["truth"][b]))
        c["calls"].append(genotyped([mixed_call(x, y) for x, y in both], rng))
        c["truth"].append(list(c["truth"][a]))


# --- scoring a QC run of such a panel ------------------------------------------

def read_tsv(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def het_truth(cases_dir, strain):
    """{(chr, marker): heterozygous in truth} of one strain, in file order."""
    with open(cases_dir / "truth.csv", newline="") as f:
        return {(r["chr"], r["marker"]): r["copy1"] != r["copy2"] for r in csv.DictReader(f) if r["strain"] == strain}


def segment_scores(truth, segments, strain):
    """Marker-level recall and precision of a strain's heterozygous segments,
    and the share of true segments that a found one overlaps (and of found
    segments that overlap a true one)."""
    markers = list(truth)
    index = {key: i for i, key in enumerate(markers)}
    found = [False] * len(markers)
    spans = []
    for seg in segments:
        if seg["strain"] != strain:
            continue
        lo, hi = index[seg["chr"], seg["first_marker"]], index[seg["chr"], seg["last_marker"]]
        spans.append((lo, hi))
        for i in range(lo, hi + 1):
            found[i] = True
    real = [truth[key] for key in markers]
    hits = sum(f and r for f, r in zip(found, real))
    true_spans = runs_of(real, markers)
    return {
        "het_markers": sum(real), "found_markers": sum(found),
        "recall": hits / sum(real) if sum(real) else None,
        "precision": hits / sum(found) if sum(found) else None,
        "true_segments": len(true_spans), "found_segments": len(spans),
        "true_segments_found": sum(any(found[lo:hi + 1]) for lo, hi in true_spans) / len(true_spans)
        if true_spans else None,
        "found_segments_true": sum(any(real[lo:hi + 1]) for lo, hi in spans) / len(spans) if spans else None,
    }


def runs_of(flags, markers):
    """(first, last) of every run of True within one chromosome."""
    spans, start = [], None
    for i, f in enumerate(flags + [False]):
        same_chrom = start is not None and i < len(markers) and markers[i][0] == markers[start][0]
        if start is not None and not (f and same_chrom):
            spans.append((start, i - 1))
            start = None
        if f and start is None:
            start = i
    return spans


def score(args):
    cases = json.loads((args.cases / "cases.json").read_text())
    strains = {r["strain"]: r for r in read_tsv(args.qc / "strains.tsv")}
    segments = read_tsv(args.qc / "het_segments.tsv")
    het = cases["het"]["strain"]
    clean = cases["clean"]
    flagged = {name: strains[name]["flags"] for name in clean if strains[name]["flags"]}
    result = {
        "het_segments": segment_scores(het_truth(args.cases, het), segments, het),
        "clean_strains": len(clean), "clean_flagged": len(flagged),
        "false_flag_rate": len(flagged) / len(clean), "clean_flags": flagged,
        "cases": {case: strains[cases[case]["strain"]]["flags"] for case in ("x_funnel", "het", "duplicate", "mixed")},
    }
    json.dump(result, sys.stdout, indent=1)
    print()
    return 0


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = ap.add_subparsers(dest="command", required=True)
    m = sub.add_parser("make")
    m.add_argument("--out", required=True, type=Path)
    m.add_argument("--clean", type=int, default=100)
    m.add_argument("--seed", type=int, default=1)
    m.add_argument("--chromosomes", default="small")
    m.add_argument("--simulate", type=Path, default=make_panel.REPO / "build/tools/simulate/tarvel_simulate")
    s = sub.add_parser("score")
    s.add_argument("--cases", required=True, type=Path)
    s.add_argument("--qc", required=True, type=Path)
    args = ap.parse_args(argv)
    if args.command == "make":
        if not make_panel.chromosome_layout(args.chromosomes) or args.clean < 1:
            return make_panel.fail("--chromosomes must be small, cc or NAME:CM:MARKERS,... and --clean 1 or more")
        if not args.simulate.is_file():
            return make_panel.fail(f"{args.simulate}: simulator not found (build it first)")
        return make(args)
    return score(args)


if __name__ == "__main__":
    sys.exit(main())

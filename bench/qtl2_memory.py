"""Peak memory of the R jobs that write the R/qtl2 objects: the whole-panel
qtl2/alleleprobs.rds against one chromosome's qtl2/alleleprobs_<chr>.rds,
side by side, on a CC-sized panel's parts (the chromosomes of
tools/simulate/make_panel.py --chromosomes cc, random probabilities; R's
work does not depend on the values).

    /usr/bin/python3 bench/qtl2_memory.py [--strains 69] [--dir TMP] [--reduce-markers-cm 0]

Peak = GNU time's maximum resident set of `python3 -m tarvel_panel qtl2`
and the R it runs (the largest of them: R). With --reduce-markers-cm the
parts hold the markers kept that far apart on the simulated map."""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

import numpy as np

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, REPO)
sys.path.insert(0, os.path.join(REPO, "tools", "simulate"))
from make_panel import CC_CHROMOSOMES  # noqa: E402

from tarvel_panel import paths  # noqa: E402
from tarvel_panel.collect import qtl2_parts, qtl2_rds  # noqa: E402
from tarvel_panel.collect.reduce_markers import reduce_markers  # noqa: E402


def write_parts(out, strains, min_cm, rng):
    os.makedirs(os.path.join(out, "prepared"))
    os.makedirs(os.path.join(out, "runs"))
    names = [f"CC{i:03d}/Unc" for i in range(strains)]
    chromosomes = []
    for name, cm, markers, _ in CC_CHROMOSOMES:
        gmap = np.sort(rng.uniform(0, cm, markers))
        kept = reduce_markers(gmap, min_cm)
        chromosomes.append({"name": name, "safe": name, "is_x": name == "X", "markers": len(kept)})
        with open(paths.chromosome_part(out, name, paths.QTL2_INDEX_PART), "wb") as f:
            qtl2_parts.write_index(f, name, name == "X", names, [False] * strains, list("ABCDEFGH"),
                                   list("ABCDEFGH"), [f"{name}_{i}" for i in kept], {"gmap": gmap[kept]})
        with open(paths.qtl2_values_part(out, name, "alleleprobs"), "wb") as f:
            for _ in range(strains):
                qtl2_parts.write_values(f, rng.random((len(kept), 8)))
    with open(paths.panel_file(out), "w") as f:
        json.dump({"founders": list("ABCDEFGH"), "pos_unit": "cM", "chromosomes": chromosomes,
                   "strains": [{"name": n} for n in names]}, f)
    return chromosomes


def peak_mb(out, dest, chrom=None):
    command = ["/usr/bin/time", "-v", sys.executable, "-m", "tarvel_panel", "qtl2", "--out", out,
               "--kind", "alleleprobs", "--dest", dest] + (["--chr", chrom] if chrom else [])
    done = subprocess.run(command, capture_output=True, text=True, env=dict(os.environ, PYTHONPATH=REPO), check=True)
    kb = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", done.stderr).group(1))
    seconds = re.search(r"Elapsed \(wall clock\) time.*: (\S+)", done.stderr).group(1)
    return kb / 1024, seconds


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--strains", type=int, default=69)
    parser.add_argument("--dir", help="where the parts go (default: a temporary folder, removed)")
    parser.add_argument("--reduce-markers-cm", type=float, default=0.0)
    args = parser.parse_args(argv)
    root = tempfile.mkdtemp(dir=args.dir, prefix="qtl2_memory.")
    try:
        out = os.path.join(root, "out")
        chromosomes = write_parts(out, args.strains, args.reduce_markers_cm, np.random.default_rng(1))
        total = sum(c["markers"] for c in chromosomes)
        rows = [("whole panel", total, paths.qtl2_file(out, "alleleprobs"), None)]
        for c in (chromosomes[0], chromosomes[-2]):  # the largest chromosome and the smallest autosome
            rows.append((f"chromosome {c['name']}", c["markers"], paths.qtl2_chromosome_file(out, "alleleprobs", c["safe"]),
                         c["safe"]))
        print(f"{args.strains} strains, {total:,} markers (reduce_markers_cm={args.reduce_markers_cm:g})")
        print(f"{'object':<16} {'markers':>8} {'object MB':>10} {'asked MB':>9} {'peak MB':>8} {'wall':>8}")
        whole = None
        for label, markers, dest, chrom in rows:
            peak, wall = peak_mb(out, dest, chrom)
            whole = whole or peak
            print(f"{label:<16} {markers:>8,} {qtl2_rds.object_mb('alleleprobs', args.strains, markers):>10.0f} "
                  f"{qtl2_rds.job_mem_mb('alleleprobs', args.strains, markers):>9} {peak:>8.0f} {wall:>8}"
                  f"   {peak / whole:.2f} x the whole panel's peak")
    finally:
        shutil.rmtree(root)


if __name__ == "__main__":
    main()

"""Where a panel's prepared and run files live under its output folder, and
how the strains of a chromosome are cut into batches. Every path here is
built from safe names (names.safe_names), never from a name read from an
input file.

    prepared/panel.json
    prepared/chr<c>/markers.tsv, founders.txt, positions.txt
    prepared/chr<c>/<s>/strain.txt, funnel.txt, job.json
    runs/chr<c>/<s>/strain.txt.prob, seconds.txt, strain.txt
    runs/batches/chr<c>/<k>.txt        strains of batch k, once all are done
    runs/dropped/chr<c>                once the chromosome's raw results are removed
    logs/tarvel/chr<c>/<s>.log         TARVEL's own output
"""
import json
import os

from .errors import InputError

RESULTS = "strain.txt.prob"
SECONDS = "seconds.txt"
STRAIN = "strain.txt"
# temporary names in a run folder: TARVEL's input copy and its results
PARTIAL_PREFIX = ".strain.txt.part-"


def panel_file(out):
    return os.path.join(out, "prepared", "panel.json")


def read_panel(out):
    """The prepared panel of the output folder `out` (prepared/panel.json)."""
    path = panel_file(out)
    try:
        with open(path) as f:
            panel = json.load(f)
    except (OSError, ValueError) as e:
        raise InputError(path, f"cannot read the prepared panel ({e})")
    if not isinstance(panel, dict):
        raise InputError(path, "cannot read the prepared panel (not a JSON object)")
    return panel


def chromosome_dir(root, chrom):
    """prepared/chr<c> or runs/chr<c>."""
    return os.path.join(root, f"chr{chrom}")


def job_dir(prepared, chrom, strain):
    return os.path.join(chromosome_dir(prepared, chrom), strain)


def run_dir(runs, chrom, strain):
    return os.path.join(chromosome_dir(runs, chrom), strain)


def results_file(runs, chrom, strain):
    return os.path.join(run_dir(runs, chrom, strain), RESULTS)


def batch_file(runs, chrom, batch):
    # beside the chromosomes' folders, which all begin with "chr"
    return os.path.join(runs, "batches", f"chr{chrom}", f"{batch}.txt")


def dropped_file(runs, chrom):
    return os.path.join(runs, "dropped", f"chr{chrom}")


def log_file(out, chrom, strain):
    return os.path.join(out, "logs", "tarvel", f"chr{chrom}", f"{strain}.log")


def batch_count(strains, batch_size):
    """Number of batches for `strains` strains; batch_size 0 puts all in one."""
    if strains == 0:
        return 0
    size = batch_size or strains
    return -(-strains // size)


def batch_members(items, batch, batch_size):
    """The items of batch number `batch` (from 0), in order."""
    size = batch_size or len(items)
    return items[batch * size:(batch + 1) * size]

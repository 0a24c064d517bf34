"""Every path under a panel's output folder, and how the strains of a
chromosome are cut into batches. Each path is built from safe names
(panel/safe_names.py), never from a name read from an input file; <c> is a
chromosome's safe name, <s> a strain's, <k> a batch number. Safe names keep
clear of the files beside them: no <s> is one of BESIDE_STRAINS and no <c>
ends in ".<part>" of CHROMOSOME_PARTS.

    config.json                         the settings that shaped the panel
    .panel.lock                         held by the run writing to the folder
    prepared/panel.json
    prepared/chr<c>/markers.tsv, founders.txt, positions.txt
    prepared/chr<c>/<s>/strain.txt, funnel.txt, job.json
    runs/chr<c>/<s>/strain.values, seconds.txt   the strain's pair values (binary), wall time
    runs/chr<c>/<s>/strain.txt.prob, strain.txt  TARVEL's results text and input (kept runs,
                                        or a TARVEL program given in the config)
    runs/chr<c>.<part>                  a chromosome's parts of the joined outputs
    runs/batches/chr<c>/<k>.txt         strains of batch k, once all are done
    runs/batches/chr<c>/.<k>-<p>.jobs   the engine's list of strains, part p of batch k, while it runs
    runs/dropped/chr<c>                 once the chromosome's raw results are removed
    founderprobs/chr<c>.csv.gz, genoprobs/chr<c>.csv.gz, npz/chr<c>.npz
    mosaic.csv, summary.tsv, qtl2/<kind>.rds, qtl2/<kind>_<c>.rds
    qc/strains.tsv, het_segments.tsv, flags.tsv, similarity.tsv, qc/strains.png|svg
    plots/, report/<page>.html
    logs/tarvel/chr<c>/<s>.log          TARVEL's own output (a TARVEL program given in the config)
    logs/tarvel/batches/chr<c>/<k>-engine-<p>.log   the engine's output, part p of batch k
    logs/<step>/...                     each job's log
"""
import os


CONFIG_RECORD = "config.json"
LOCK = ".panel.lock"
PREPARED = "prepared"
RUNS = "runs"
RESULTS = "strain.txt.prob"
VALUES = "strain.values"
SECONDS = "seconds.txt"
STRAIN = "strain.txt"
# temporary names in a run folder: TARVEL's input copy and its results
PARTIAL_PREFIX = ".strain.txt.part-"
# a prepared chromosome's files, beside its strains' folders (prepared/chr<c>/)
MARKERS, FOUNDERS, POSITIONS = "markers.tsv", "founders.txt", "positions.txt"
BESIDE_STRAINS = (MARKERS, FOUNDERS, POSITIONS)
# the per-chromosome parts that the join and the R objects take, beside the
# chromosomes' run folders (runs/chr<c>.<part>)
MOSAIC_PART, SUMMARY_PART = "mosaic.csv", "summary.tsv"
QTL2_INDEX_PART = "qtl2-index.bin"
QTL2_KINDS = ("alleleprobs", "genoprobs", "pmap", "gmap")
QTL2_VALUES = ("alleleprobs", "genoprobs")
VALUES_SUFFIX = "f64"
CHROMOSOME_PARTS = (MOSAIC_PART, SUMMARY_PART, QTL2_INDEX_PART) + tuple(f"{k}.{VALUES_SUFFIX}" for k in QTL2_VALUES)


def config_record(out):
    return os.path.join(out, CONFIG_RECORD)


def lock_file(out):
    return os.path.join(out, LOCK)


def prepared_dir(out):
    return os.path.join(out, PREPARED)


def runs_dir(out):
    return os.path.join(out, RUNS)


def panel_file(out):
    return os.path.join(out, PREPARED, "panel.json")


def chromosome_dir(root, chrom):
    """prepared/chr<c> or runs/chr<c>, under the folder `root`."""
    return os.path.join(root, f"chr{chrom}")


def markers_file(prepared, chrom):
    return os.path.join(chromosome_dir(prepared, chrom), MARKERS)


def job_dir(prepared, chrom, strain):
    return os.path.join(chromosome_dir(prepared, chrom), strain)


def run_dir(runs, chrom, strain):
    return os.path.join(chromosome_dir(runs, chrom), strain)


def results_file(runs, chrom, strain):
    return os.path.join(run_dir(runs, chrom, strain), RESULTS)


def values_file(runs, chrom, strain):
    """The strain's pair values on the chromosome (run/values_file.py)."""
    return os.path.join(run_dir(runs, chrom, strain), VALUES)


def seconds_file(runs, chrom, strain):
    return os.path.join(run_dir(runs, chrom, strain), SECONDS)


def batch_file(runs, chrom, batch):
    # beside the chromosomes' folders, which all begin with "chr"
    return os.path.join(runs, "batches", f"chr{chrom}", f"{batch}.txt")


def job_list(runs, chrom, batch, part):
    """The engine's list of the strains of one part of a batch (hidden, so
    never a batch's done file)."""
    return os.path.join(runs, "batches", f"chr{chrom}", f".{batch}-{part}.jobs")


def dropped_file(runs, chrom):
    return os.path.join(runs, "dropped", f"chr{chrom}")


def chromosome_part(out, chrom, part):
    """runs/chr<c>.<part>: one of a chromosome's parts of the joined outputs."""
    return os.path.join(out, RUNS, f"chr{chrom}.{part}")


def qtl2_values_part(out, chrom, kind):
    return chromosome_part(out, chrom, f"{kind}.{VALUES_SUFFIX}")


def qtl2_parts(out, chroms, kind):
    """The parts an R/qtl2 object is written from: per chromosome its index,
    and for the probabilities its values file."""
    parts = []
    for c in chroms:
        parts.append(chromosome_part(out, c, QTL2_INDEX_PART))
        if kind in QTL2_VALUES:
            parts.append(qtl2_values_part(out, c, kind))
    return parts


def qtl2_whole_sources(out, chroms, kind):
    """What the whole-panel object of `kind` is written from: the
    chromosomes' own objects for the probabilities (so that their values
    parts can go once those are written), the index parts for the maps."""
    if kind in QTL2_VALUES:
        return [qtl2_chromosome_file(out, kind, c) for c in chroms]
    return qtl2_parts(out, chroms, kind)


def founderprobs_file(out, chrom):
    return os.path.join(out, "founderprobs", f"chr{chrom}.csv.gz")


def genoprobs_file(out, chrom):
    return os.path.join(out, "genoprobs", f"chr{chrom}.csv.gz")


def npz_dir(out):
    return os.path.join(out, "npz")


def npz_file(out, chrom):
    return os.path.join(npz_dir(out), f"chr{chrom}.npz")


def mosaic_file(out):
    return os.path.join(out, "mosaic.csv")


def summary_file(out):
    return os.path.join(out, "summary.tsv")


def qtl2_file(out, kind):
    return os.path.join(out, "qtl2", f"{kind}.rds")


def qtl2_chromosome_file(out, kind, chrom):
    """qtl2/<kind>_<c>.rds: the R/qtl2 object of one chromosome (the
    probabilities' kinds, QTL2_VALUES)."""
    return os.path.join(out, "qtl2", f"{kind}_{chrom}.rds")


def qc_table(out, table):
    """qc/<table>.tsv: strains, het_segments, flags or similarity."""
    return os.path.join(out, "qc", f"{table}.tsv")


def qc_figure(out, suffix=""):
    """The QC figure qc/strains.png or .svg (the suffix); without one, the
    prefix of both."""
    return os.path.join(out, "qc", "strains" + suffix)


def plots_dir(out):
    return os.path.join(out, "plots")


def report_page(out, name):
    return os.path.join(out, "report", f"{name}.html")


def log_file(out, chrom, strain):
    return os.path.join(out, "logs", "tarvel", f"chr{chrom}", f"{strain}.log")


def engine_log(out, chrom, batch, part):
    """The engine's output on one part of a batch, beside the batch's own log."""
    return step_log(out, "tarvel", "batches", f"chr{chrom}", f"{batch}-engine-{part}")


def step_log(out, step, *names):
    """logs/<step>/<name>/.../<last>.log: the log of one job of a workflow step."""
    *folders, last = names or ("all",)
    return os.path.join(out, "logs", step, *folders, f"{last}.log")


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


def top_level():
    """What the workflow writes directly in the output folder: the names of
    its files there, and of the folders holding all the rest (every path
    above begins with one of them)."""
    files, folders = set(), set()
    for path in (config_record(""), lock_file(""), prepared_dir(""), runs_dir(""), founderprobs_file("", "c"),
                 genoprobs_file("", "c"), npz_dir(""), mosaic_file(""), summary_file(""), qtl2_file("", "k"),
                 qc_table("", "t"), plots_dir(""), report_page("", "p"), step_log("", "s")):
        head, sep, _ = path.partition(os.sep)
        (folders if sep or path in (prepared_dir(""), runs_dir(""), npz_dir(""), plots_dir("")) else files).add(head)
    return sorted(files), sorted(folders)

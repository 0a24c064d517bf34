# What the rules of every stage use: the config read and checked, the output
# folder checked and locked (before any job), the panel's constants, and the
# functions the rules call for their inputs, outputs, options and resources,
# by stage in the order the stages run; the rules are in the other files of
# this folder.
#
# `snakemake --lint` leaves two remarks, answered here for the rules that
# carry them (marked "lint: see common.smk"): no rule names a conda
# environment or container, because the workflow runs on Debian's packages,
# which tools/install-deps.sh installs, and nothing may come from another
# registry; and the `out` param is the output folder itself, which each step
# takes to find the prepared panel, not a file's prefix written out by hand.

from dataclasses import fields as _fields
import math
import os
import shlex
import sys
import time

from snakemake.common import Mode
from snakemake.io import apply_wildcards

REPO = os.path.dirname(os.path.abspath(workflow.basedir))
sys.path.insert(0, REPO)
from snakemake.logging import logger as snakemake_logger
from tarvel_panel.support import outfolder, snakemake_log

# Snakemake's own lines whole, and with --quiet rules only the panel's lines
# and the errors (support/snakemake_log.py); a cluster job's log keeps all
if workflow.mode == Mode.default:
    snakemake_log.tidy(snakemake_logger, dry_run=outfolder.looks_only(sys.argv[1:]))

configfile: os.path.join(workflow.basedir, "..", "config", "config.yaml")

from tarvel_panel import native, paths
from tarvel_panel.collect import qtl2_rds, reduce_markers
from tarvel_panel.errors import InputError
from tarvel_panel.inputs.cross.read import named_files
from tarvel_panel.inputs.sources import source_paths
from tarvel_panel.panel.prepared import read_prepared
from tarvel_panel.qc.settings import Settings as QcSettings
from tarvel_panel.qc.write import TABLES as QC_TABLES
from tarvel_panel.support import graceful_stop, out_safety, progress, report_assets, report_order
from tarvel_panel.support.config import check_config, panel_config, read_schema


# the folders this run makes to hold the output folder, if it makes it
NEW_FOLDERS = []


def refuse(error):
    """A fault the user can mend: one line and status 1, before any job,
    leaving the output folder as it was."""
    print(f"error: {error}", file=sys.stderr, flush=True)
    outfolder.release()
    if NEW_FOLDERS:
        out_safety.undo_new(OUT, NEW_FOLDERS)
    os._exit(1)


SCHEMA = read_schema(os.path.join(workflow.basedir, "schemas", "config.schema.yaml"))
try:
    check_config(config, SCHEMA)
except InputError as e:
    refuse(e)

OUT = str(config["out"]).rstrip(os.sep) or os.sep
PREPARED = paths.prepared_dir(OUT)
RUNS = paths.runs_dir(OUT)
CONFIG_JSON = paths.config_record(OUT)
TARVEL = str(config.get("tarvel") or os.path.join(REPO, "build", "TARVEL"))
ENGINE = native.engine_path(config.get("engine"))
# a TARVEL program given in the config runs once per strain; otherwise the
# engine runs each batch's strains in one process
PER_STRAIN = bool(config.get("tarvel"))
RUNNER = f"--tarvel {shlex.quote(TARVEL)}" if PER_STRAIN else f"--engine {shlex.quote(ENGINE)}"
BATCH_SIZE = int(config["batch_size"])
BATCH_THREADS = int(config["batch_threads"])
KEEP_RUNS = bool(config["keep_runs"])
# the helpers that format TARVEL's numbers, built with it (tarvel_panel/native.py)
PANEL_LIBRARY = native.library_beside(TARVEL if PER_STRAIN else ENGINE)
# Jobs take their large arrays in 2 MB pages (native.MALLOC_TUNABLES): each
# fresh 4 KB page costs a fault, dear on a virtual machine; on a CC-sized
# panel the R and collect jobs spent a third less time (docs/performance.md).
# Set in the environment, not the commands, so that it reruns nothing; a
# GLIBC_TUNABLES of the user's own is kept.
os.environ.setdefault("GLIBC_TUNABLES", native.MALLOC_TUNABLES)
# the panel modules run under Debian's python3, whatever python3 is first on
# PATH; -P: this workflow's modules, even when the working directory holds
# another checkout's tarvel_panel (-m would put the working directory first)
PY = f"PYTHONPATH={shlex.quote(REPO)} {native.LIBRARY_ENV}={shlex.quote(PANEL_LIBRARY)} /usr/bin/python3 -P -m tarvel_panel"


def log_of(step, *names):
    """The log file of one job of a step (logs/<step>/...)."""
    return paths.step_log(OUT, step, *names)


def input_paths():
    """Every file and folder the run reads, none of which it may write over."""
    found = ([str(config["cross"])] + named_files(config["cross"])) if config.get("cross") else []
    reference = str(config.get("qc_reference") or "")
    if reference:
        found += [paths.panel_file(reference), paths.npz_dir(reference)]
    return found + source_paths(config)


# Snakemake itself, not a job it started (a cluster job reads this file again):
# the output folder is checked (no link where the workflow writes, no input
# written over, nothing of the user's where a step empties a folder: see
# support/out_safety.py), locked for this run, rid of dead processes'
# temporary files, and its config.json brought up to date, so the output
# folder decides what is redone, whatever the working directory and whether
# or not .snakemake is there. A dry run only looks.
if workflow.mode == Mode.default:
    try:
        if PER_STRAIN and config.get("engine"):
            raise InputError("config engine", "is given with tarvel: give the engine, or a TARVEL program "
                             "to run once per strain, not both")
        if PER_STRAIN:
            outfolder.check_tarvel(TARVEL, given=True)
        else:
            native.check_engine(ENGINE, given=bool(config.get("engine")))
        native.check_library(PANEL_LIBRARY)
        wanted, dry_run = panel_config(config, SCHEMA), outfolder.looks_only(sys.argv[1:])
        out_safety.check(OUT, input_paths(), wanted)
        if not dry_run:
            NEW_FOLDERS = out_safety.new_folders(OUT)
            outfolder.make_folder(OUT)
            outfolder.lock(OUT)
            graceful_stop.install()  # SIGTERM ends the run, never hangs it holding the lock
            out_safety.remove_leftovers(OUT, min_age=0 if workflow.run_local else out_safety.CLUSTER_AGE)
        # what a changed setting replaces is said before anything is
        changes = outfolder.changed_keys(CONFIG_JSON, wanted)
        if changes:
            print(outfolder.change_note(CONFIG_JSON, changes, OUT, dry_run), file=sys.stderr, flush=True)
        if not dry_run:
            outfolder.record_config(CONFIG_JSON, wanted)
        # on a cluster each job's lines go to the job's own log: this log
        # gets the counts of batches done and chromosomes collected instead
        if not dry_run and not workflow.run_local:
            progress.Watcher(OUT, BATCH_SIZE).start()
    except InputError as e:
        refuse(e)

wildcard_constraints:
    chr="[^/]+",
    safe="[^/]+",
    batch="[0-9]+",


def source_files(wildcards):
    """The panel's input files, so that a change to one redoes prepare; a
    missing file is left to prepare, which names it in one clear line."""
    files = [path for path in source_paths(config) if os.path.isfile(path)]
    if config.get("cross"):
        files += named_files(config["cross"])
    return files


def prepared_panel():
    """The prepared panel (once the prepare checkpoint is done), read once per
    version: every batch job's threads and resources ask."""
    checkpoints.prepare.get()
    return read_prepared(OUT)


def plots_wanted():
    return bool(config["plots"])


# collect_targets(), plot_targets() and qc_targets() are below, with their stages
def all_targets(wildcards):
    targets = collect_targets() + (plot_targets() if plots_wanted() else []) + qc_targets()
    if not KEEP_RUNS:
        targets += [dropped_marker(c) for c in prepared_panel().chromosome_safes()]
    return targets


# --- prepare (rules/prepare.smk)

# about 100 MB for Python and numpy and, per marker, 0.65 KB; the genotypes
# at two bits per call: their text (2 bytes a call) counts for far more than
# they take, a zip's for about what they take
def prepare_mem_mb(wildcards, input, attempt):
    return attempt * (200 + math.ceil(input.size_mb))


def config_record(wildcards):
    """config.json, which every run writes before it looks at the jobs; a dry
    run writes nothing, and on a new output folder there is none yet."""
    return [CONFIG_JSON] if os.path.exists(CONFIG_JSON) else []


# --- tarvel (rules/tarvel.smk)

def batch_strains(wildcards):
    """Number of strains in this batch."""
    return len(paths.batch_members(prepared_panel().strains, int(wildcards.batch), BATCH_SIZE))


def chromosome_runs(chrom_safe):
    """The files the collect step of a chromosome takes as input: the done
    file of each of its batches. Its strains' values are then at
    runs/chr<c>/<strain>/strain.values (paths.values_file). Unless
    keep_runs is set, the done files are temporary and the runs are
    removed once the chromosome is collected (rule drop_runs)."""
    batches = paths.batch_count(len(prepared_panel().strains), BATCH_SIZE)
    return [paths.batch_file(RUNS, chrom_safe, k) for k in range(batches)]


def batch_threads(wildcards):
    return max(1, min(BATCH_THREADS, batch_strains(wildcards)))


# memory and time of a batch (formulas in config.yaml); a job resubmitted
# after a failure (--restart-times) asks for twice, three times, ... as much
def batch_mem_mb(wildcards, threads, attempt):
    per_process = float(config["mem_mb_per_process"]) + \
        prepared_panel().markers_count(wildcards.chr) * float(config["mem_kb_per_marker"]) / 1024
    return attempt * math.ceil(float(config["mem_mb_base"]) + threads * per_process)


def batch_runtime(wildcards, threads, attempt):
    rounds = math.ceil(batch_strains(wildcards) / threads)
    minutes = rounds * prepared_panel().markers_count(wildcards.chr) * float(config["runtime_ms_per_marker"]) / 60000
    return attempt * max(int(config["runtime_min_minutes"]), math.ceil(minutes))


# kept runs hold TARVEL's results text too, as the engine writes it
KEEP_TEXT = " --keep-runs" if KEEP_RUNS else ""
# the strains' values files hold the 36 pair values only when an output needs them
PAIRS = " --pairs" if config["genoprobs_csv"] or config["qtl2_genoprobs"] else ""


def done_file(path):
    return path if KEEP_RUNS else temp(path)


def dropped_marker(chrom_safe):
    return paths.dropped_file(RUNS, chrom_safe)


def collected(wildcards):
    """The lasting outputs of the chromosome's collect step (not its temporary ones)."""
    return [apply_wildcards(f, wildcards) for f in rules.collect.rule.output if not f.is_temp]


# --- collect (rules/collect.smk)

def config_true(key):
    return bool(config[key])


def panel_chromosome_safes():
    return prepared_panel().chromosome_safes()


# a chromosome's parts sit beside its folder of runs, so no strain's folder can clash with them
def collect_outputs():
    chrom = "{chr}"
    outputs = {
        "founderprobs": paths.founderprobs_file(OUT, chrom),
        "npz": paths.npz_file(OUT, chrom),
        "mosaic": paths.chromosome_part(OUT, chrom, paths.MOSAIC_PART),
        "summary": paths.chromosome_part(OUT, chrom, paths.SUMMARY_PART),
        "qtl2_index": temp(paths.chromosome_part(OUT, chrom, paths.QTL2_INDEX_PART)),
        "qtl2_alleleprobs": temp(paths.qtl2_values_part(OUT, chrom, "alleleprobs")),
    }
    if config_true("genoprobs_csv"):
        outputs["genoprobs"] = paths.genoprobs_file(OUT, chrom)
    if config_true("qtl2_genoprobs"):
        outputs["qtl2_genoprobs"] = temp(paths.qtl2_values_part(OUT, chrom, "genoprobs"))
    return outputs


def collect_options(wildcards, output):
    """The collect command's options as separate words, quoted one by one in
    the shell line."""
    options = [word for key, path in output.items() for word in (f"--{key.replace('_', '-')}", path)]
    if config_true("genoprobs_csv") or config_true("qtl2_genoprobs"):
        options.append("--npz-genoprobs")
    if REDUCE_CM:
        options += ["--reduce-markers-cm", repr(REDUCE_CM)]
    for kind in ("alleleprobs", "genoprobs") if config_true("qtl2_genoprobs") else ("alleleprobs",):
        if wildcards.chr in qtl2_skipped(kind):
            options += ["--qtl2-skip", kind]
    return options


REDUCE_CM = float(config["reduce_markers_cm"])


WHOLE_MAX_MB = float(config["qtl2_whole_max_mb"])
CHROMOSOME_MAX_MB = float(config["qtl2_chr_max_mb"])


_mapped = {}


def mapped_counts():
    """{chromosome's safe name: its markers in the tables and R objects},
    worked out once per prepared panel."""
    panel = prepared_panel()
    version = os.stat(panel.path).st_mtime_ns
    if version not in _mapped:
        try:
            _mapped[version] = reduce_markers.mapped_counts(panel, REDUCE_CM)
        except InputError as e:
            refuse(e)
    return _mapped[version]


# one strain's values at a time, a block of markers at a time, so the strains
# do not count: measured peak 58 MB at 8,300 markers x 69 strains, 277 MB at
# 10^6 markers x 20 strains, 381 MB there with every opt-in output; the
# interpreter and numpy plus at most 0.6 KB per marker
def collect_mem_mb(wildcards, attempt):
    return attempt * (150 + math.ceil(prepared_panel().markers_count(wildcards.chr) * 0.6 / 1024))


def chromosome_parts(part):
    def of_panel(wildcards):
        return [paths.chromosome_part(OUT, c, part) for c in panel_chromosome_safes()]
    return of_panel


def qtl2_parts(wildcards):
    return paths.qtl2_whole_sources(OUT, panel_chromosome_safes(), wildcards.kind)


# R holds the whole object: 8 bytes x strains x (8 founders or 36 pairs) x markers,
# plus R itself (qtl2_rds.job_mem_mb)
def qtl2_mem_mb(wildcards, attempt):
    markers = sum(mapped_counts().values())
    return qtl2_rds.job_mem_mb(wildcards.kind, len(prepared_panel().strains), markers, attempt)


def qtl2_chromosome_parts(wildcards):
    return paths.qtl2_parts(OUT, [wildcards.chr], wildcards.kind)


# one chromosome's object, so R holds only that chromosome
def qtl2_chromosome_mem_mb(wildcards, attempt):
    markers = mapped_counts()[wildcards.chr]
    return qtl2_rds.job_mem_mb(wildcards.kind, len(prepared_panel().strains), markers, attempt)


_said = set()


def qtl2_skipped(kind):
    """The chromosomes whose object of a kind is over qtl2_chr_max_mb (said
    once), and so not written, nor the whole-panel one."""
    panel = prepared_panel()
    names = {c["safe"]: c["name"] for c in panel.chromosomes}
    skipped, line = qtl2_rds.chromosomes_too_large(kind, len(panel.strains), mapped_counts(), names,
                                                   CHROMOSOME_MAX_MB)
    if line and line not in _said:
        _said.add(line)
        progress.say(line)
    return skipped


def qtl2_targets(kind):
    """The per-chromosome objects of a kind that fit qtl2_chr_max_mb, and the
    whole-panel one while every chromosome's does and it fits
    qtl2_whole_max_mb (said once when it does not)."""
    skipped = qtl2_skipped(kind)
    targets = [paths.qtl2_chromosome_file(OUT, kind, c) for c in panel_chromosome_safes() if c not in skipped]
    if skipped:
        return targets
    too_large = qtl2_rds.whole_too_large(kind, len(prepared_panel().strains), sum(mapped_counts().values()), WHOLE_MAX_MB)
    if too_large is None:
        return targets + [paths.qtl2_file(OUT, kind)]
    if too_large not in _said:
        _said.add(too_large)
        progress.say(too_large)
    return targets


def collect_targets():
    """What the collect rules leave in OUT, for the all rule."""
    safes = panel_chromosome_safes()
    targets = [paths.founderprobs_file(OUT, c) for c in safes] + [paths.npz_file(OUT, c) for c in safes]
    if config_true("genoprobs_csv"):
        targets += [paths.genoprobs_file(OUT, c) for c in safes]
    targets += [paths.mosaic_file(OUT), paths.summary_file(OUT)] + qtl2_targets("alleleprobs")
    if config_true("qtl2_genoprobs"):
        targets += qtl2_targets("genoprobs")
    return targets + [paths.qtl2_file(OUT, m) for m in prepared_panel().maps_everywhere()] + report_tables()


# --- plots (rules/plots.smk)

def plot_targets():
    return [paths.plots_dir(OUT)]


def all_npz(wildcards):
    return [paths.npz_file(OUT, c) for c in prepared_panel().chromosome_safes()]


def plot_strains(wildcards):
    return len(prepared_panel().strains)


# a process takes about 100 MB and holds a panel mosaic's pixels, 0.13 MB per
# strain; about 0.2 s per figure and process, measured on a 69-strain panel
def plot_mem_mb(wildcards, attempt):
    return attempt * (300 + plot_strains(wildcards) // 2)


def plot_minutes(wildcards, attempt):
    return attempt * (10 + plot_strains(wildcards) // 60)


def mosaic_label(wildcards):
    """The report's name of a panel mosaic (panel_<figure>.png): the genome, or
    a chromosome's real name. Snakemake puts labels unescaped into a script
    of the page, so a name holding "<" is shown by its safe name."""
    if wildcards.figure == "genome":
        return {"figure": "genome"}
    names = {f"chr{c['safe']}": c["name"] for c in prepared_panel().chromosomes}
    name = names.get(wildcards.figure, wildcards.figure[3:])
    return {"figure": f"chromosome {wildcards.figure[3:] if '<' in name else name}"}


# --- qc (rules/qc.smk)

def qc_wanted():
    return bool(config["qc"])


def qc_option_words(names):
    """--<name> VALUE for each threshold the config sets to other than its
    default, as separate words quoted one by one (a short command line)."""
    defaults = QcSettings()
    return [word for name in names if config[f"qc_{name}"] != getattr(defaults, name)
            for word in (f"--{name.replace('_', '-')}", str(config[f"qc_{name}"]))]


def qc_options(wildcards):
    return qc_option_words([f.name for f in _fields(QcSettings)])


def qc_reference_inputs(wildcards):
    """The reference folder's panel and npz files, so that a new reference redoes QC."""
    folder = str(config["qc_reference"])
    if not folder:
        return []
    try:
        reference = read_prepared(folder)
    except InputError:
        return []     # the qc step names what is wrong with it
    return [paths.panel_file(folder)] + [paths.npz_file(folder, c) for c in reference.chromosome_safes()]


# the strains' shares of one another (8 bytes a pair, twice over), the calls of
# every strain at 20,000 points, a block of strains' arrays (about 64 MB) and the
# X's founder model for a block (about as much again); Python and numpy 100 MB;
# the largest chromosome's markers (names, positions, founders, map, about
# 250 bytes each: 236 MB in all at 10^6 markers x 100 strains)
def qc_mem_mb(wildcards, attempt):
    panel = prepared_panel()
    strains, markers = len(panel.strains), max((c["markers"] for c in panel.chromosomes), default=0)
    return attempt * (300 + math.ceil((16 * strains ** 2 + 20_000 * strains + 250 * markers) / 2**20))


def qc_targets():
    """What the QC rules leave in OUT, for the all rule."""
    if not qc_wanted():
        return []
    return [paths.qc_table(OUT, t) for t in QC_TABLES] + [paths.qc_figure(OUT, ".png"), paths.qc_figure(OUT, ".svg"),
                                                            paths.report_page(OUT, "qc")]


# --- report (rules/report.smk)

if report_assets.wants_report(sys.argv[1:]):
    try:
        report_assets.serve_local()
    except InputError as e:
        refuse(e)
    # the genome's mosaic first, then the chromosomes' in their natural order
    report_order.order_results()


def report_tables():
    """The report's table pages, for the all rule (through collect_targets)."""
    return [paths.report_page(OUT, "summary"), paths.report_page(OUT, "settings")]

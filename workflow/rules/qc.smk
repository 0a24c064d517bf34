# Strain QC (`python3 -m tarvel_panel qc`, tarvel_panel/qc/): once every
# chromosome is collected, one job reads the prepared calls beside the npz
# files and writes qc/strains.tsv, het_segments.tsv, flags.tsv and
# similarity.tsv, and draws the QC figure qc/strains.png|svg for the report. Off with --config qc=false; every threshold is a qc_* key
# (docs/qc.md), passed as the step's options, so a changed one redoes only QC.
from dataclasses import fields as _fields

from tarvel_panel.qc.settings import Settings as QcSettings
from tarvel_panel.qc.write import TABLES as QC_TABLES


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
# X's founder model for a block (about as much again); Python and numpy 100 MB
def qc_mem_mb(wildcards, attempt):
    strains = len(prepared_panel().strains)
    return attempt * (300 + math.ceil((16 * strains ** 2 + 20_000 * strains) / 2**20))


rule qc:
    input:
        prepared=PREPARED,
        npz=lambda wildcards: [paths.npz_file(OUT, c) for c in prepared_panel().chromosome_safes()],
        reference=qc_reference_inputs,
    output:
        **{t: paths.qc_table(OUT, t) for t in QC_TABLES},
        png=report(paths.qc_figure(OUT) + ".png", caption="../report/qc_figure.rst", category="Quality control",
                   labels={"figure": "strain QC"}),
        svg=paths.qc_figure(OUT) + ".svg",
    log: log_of("qc")
    # a changed threshold changes the options, which redoes QC
    params: options=qc_options
    resources: mem_mb=qc_mem_mb, runtime=60
    shell: "{PY} --log {log:q} qc --out {OUT:q} --figure {params.options:q}"


localrules: qc_page

rule qc_page:
    input: [paths.qc_table(OUT, t) for t in ("strains", "flags")]
    output:
        report(paths.report_page(OUT, "qc"), caption="../report/qc.rst", category="Quality control",
               labels={"table": "strain QC and its flags"})
    log: log_of("report", "qc")
    shell: "{PY} --log {log:q} report-table qc {input[0]:q} {output:q}"


def qc_targets():
    """What the QC rules leave in OUT, for the all rule."""
    if not qc_wanted():
        return []
    figure = paths.qc_figure(OUT)
    return [paths.qc_table(OUT, t) for t in QC_TABLES] + [figure + ".png", figure + ".svg",
                                                            paths.report_page(OUT, "qc")]

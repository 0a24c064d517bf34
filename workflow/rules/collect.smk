# TARVEL's results joined to strain, marker and founder names: per chromosome
# (wildcard chr = the chromosome's safe name) the tables, the npz and the
# binary parts of the R/qtl2 objects; then the panel's mosaic, summary and
# qtl2/*.rds. Every path is paths.py's.
#
# config keys read here:
#   genoprobs_csv  also write genoprobs/chr<safe>.csv.gz, the 36 pairs as TARVEL's text
#   qtl2_genoprobs also write qtl2/genoprobs.rds (8 bytes x strains x 36 x markers in R)
#   reduce_markers_cm  founderprobs, genoprobs and the R/qtl2 objects only on
#                  markers this many cM apart (collect/reduce_markers.py)
#   qtl2_whole_max_mb  the whole-panel R/qtl2 objects only up to this size;
#                  the per-chromosome ones (qtl2/<kind>_<chr>.rds) always
# either of the first two also puts the 36 pair values into the npz files.


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
    return options


REDUCE_CM = float(config["reduce_markers_cm"])
WHOLE_MAX_MB = float(config["qtl2_whole_max_mb"])
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


# one strain's values at a time, so the strains do not count: measured peak
# 58 MB at 8,300 markers x 69 strains (56 MB with 10 strains), 63 MB with
# every opt-in output; the interpreter and numpy plus at most 3 KB per marker
def collect_mem_mb(wildcards, attempt):
    return attempt * (150 + math.ceil(prepared_panel().markers_count(wildcards.chr) * 3 / 1024))


rule collect:
    input:
        prepared=PREPARED,
        results=lambda wildcards: chromosome_runs(wildcards.chr),
    output: **collect_outputs()
    log: log_of("collect", "chr{chr}")
    params: options=collect_options
    resources: mem_mb=collect_mem_mb, runtime=30
    shell:
        "{PY} --log {log:q} collect --out {OUT:q} --chr {wildcards.chr:q} {params.options:q}"


def chromosome_parts(part):
    def of_panel(wildcards):
        return [paths.chromosome_part(OUT, c, part) for c in panel_chromosome_safes()]
    return of_panel


rule join:
    input:
        mosaic=chromosome_parts(paths.MOSAIC_PART),
        summary=chromosome_parts(paths.SUMMARY_PART),
    output:
        mosaic=paths.mosaic_file(OUT),
        summary=paths.summary_file(OUT),
    log: log_of("join")
    shell:
        "{PY} --log {log:q} join --out {OUT:q} --mosaic {output.mosaic:q} --summary {output.summary:q}"


def qtl2_parts(wildcards):
    return paths.qtl2_whole_sources(OUT, panel_chromosome_safes(), wildcards.kind)


# R holds the whole object: 8 bytes x strains x (8 founders or 36 pairs) x markers,
# plus R itself (qtl2_rds.job_mem_mb)
def qtl2_mem_mb(wildcards, attempt):
    markers = sum(mapped_counts().values())
    return qtl2_rds.job_mem_mb(wildcards.kind, len(prepared_panel().strains), markers, attempt)


rule qtl2_rds:
    input: qtl2_parts
    output: paths.qtl2_file(OUT, "{kind}")
    log: log_of("qtl2", "{kind}")
    wildcard_constraints: kind="|".join(paths.QTL2_KINDS)
    resources: mem_mb=qtl2_mem_mb, runtime=60
    shell:
        "{PY} --log {log:q} qtl2 --out {OUT:q} --kind {wildcards.kind:q} --dest {output:q}"


def qtl2_chromosome_parts(wildcards):
    return paths.qtl2_parts(OUT, [wildcards.chr], wildcards.kind)


# one chromosome's object, so R holds only that chromosome
def qtl2_chromosome_mem_mb(wildcards, attempt):
    markers = mapped_counts()[wildcards.chr]
    return qtl2_rds.job_mem_mb(wildcards.kind, len(prepared_panel().strains), markers, attempt)


rule qtl2_chromosome_rds:
    input: qtl2_chromosome_parts
    output: paths.qtl2_chromosome_file(OUT, "{kind}", "{chr}")
    log: log_of("qtl2", "{kind}", "chr{chr}")
    wildcard_constraints: kind="|".join(paths.QTL2_VALUES)
    resources: mem_mb=qtl2_chromosome_mem_mb, runtime=30
    shell:
        "{PY} --log {log:q} qtl2 --out {OUT:q} --kind {wildcards.kind:q} --chr {wildcards.chr:q} --dest {output:q}"


_said = set()


def qtl2_targets(kind):
    """The per-chromosome objects of a kind, and the whole-panel one while it
    fits qtl2_whole_max_mb (said once when it does not)."""
    safes = panel_chromosome_safes()
    targets = [paths.qtl2_chromosome_file(OUT, kind, c) for c in safes]
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

# TARVEL's results joined to strain, marker and founder names: per chromosome
# (wildcard chr = the chromosome's safe name) the tables, the npz and the
# binary parts of the R/qtl2 objects; then the panel's mosaic, summary and
# qtl2/*.rds.
#
# config keys read here:
#   genoprobs_csv  (false) also write genoprobs/chr<safe>.csv.gz, the 36 pairs as TARVEL's text
#   qtl2_genoprobs (false) also write qtl2/genoprobs.rds (8 bytes x strains x 36 x markers in R)
# either one also puts the 36 pair values into the npz files.

QTL2_SCRIPT = os.path.join(workflow.basedir, "scripts", "qtl2_rds.R")
MAPS_NAMES = ("pmap", "gmap")


def config_true(key):
    return bool(config.get(key, False))


def panel_chromosome_safes():
    return [c["safe"] for c in prepared_panel()["chromosomes"]]


# a chromosome's parts sit beside its folder of runs, so no strain's folder can clash with them
def collect_outputs():
    outputs = {
        "founderprobs": f"{OUT}/founderprobs/chr{{chr}}.csv.gz",
        "npz": f"{OUT}/npz/chr{{chr}}.npz",
        "mosaic": f"{RUNS}/chr{{chr}}.mosaic.csv",
        "summary": f"{RUNS}/chr{{chr}}.summary.tsv",
        "qtl2_index": temp(f"{RUNS}/chr{{chr}}.qtl2-index.bin"),
        "qtl2_alleleprobs": temp(f"{RUNS}/chr{{chr}}.alleleprobs.f64"),
    }
    if config_true("genoprobs_csv"):
        outputs["genoprobs"] = f"{OUT}/genoprobs/chr{{chr}}.csv.gz"
    if config_true("qtl2_genoprobs"):
        outputs["qtl2_genoprobs"] = temp(f"{RUNS}/chr{{chr}}.genoprobs.f64")
    return outputs


def collect_options(wildcards, output):
    """The collect command's options as separate words, quoted one by one in
    the shell line."""
    options = [word for key, path in output.items() for word in (f"--{key.replace('_', '-')}", path)]
    if config_true("genoprobs_csv") or config_true("qtl2_genoprobs"):
        options.append("--npz-genoprobs")
    return options


def chromosome_markers_safe(safe):
    return next(c["markers"] for c in prepared_panel()["chromosomes"] if c["safe"] == safe)


# one strain's values at a time, so the strains do not count: measured peak
# 58 MB at 8,300 markers x 69 strains (56 MB with 10 strains), 63 MB with
# every opt-in output; the interpreter and numpy plus at most 3 KB per marker
def collect_mem_mb(wildcards, attempt):
    return attempt * (150 + math.ceil(chromosome_markers_safe(wildcards.chr) * 3 / 1024))


rule collect:
    input:
        prepared=PREPARED,
        results=lambda wildcards: chromosome_runs(wildcards.chr),
    output: **collect_outputs()
    params: options=collect_options
    resources: mem_mb=collect_mem_mb, runtime=30
    shell:
        "{PY}.collect chromosome --prepared {input.prepared:q} --runs {RUNS:q} --chr {wildcards.chr:q}"
        " {params.options:q}"


def chromosome_parts(name):
    def of_panel(wildcards):
        return parts.chromosome_parts(RUNS, panel_chromosome_safes(), name)
    return of_panel


rule join:
    input:
        mosaic=chromosome_parts("mosaic.csv"),
        summary=chromosome_parts("summary.tsv"),
    output:
        mosaic=f"{OUT}/mosaic.csv",
        summary=f"{OUT}/summary.tsv",
    shell:
        "{PY}.parts --out {OUT:q} join -- /usr/bin/python3 -m tarvel_panel.collect join"
        " --mosaic {output.mosaic:q} --summary {output.summary:q}"


def qtl2_parts(wildcards):
    return parts.qtl2_parts(RUNS, panel_chromosome_safes(), wildcards.kind)


# R holds the whole object: 8 bytes x strains x (8 founders or 36 pairs) x markers,
# plus about 100 MB for R itself
def qtl2_mem_mb(wildcards, attempt):
    panel = prepared_panel()
    genotypes = {"alleleprobs": 8, "genoprobs": 36}.get(wildcards.kind, 0)
    values = 8 * len(panel["strains"]) * genotypes * sum(c["markers"] for c in panel["chromosomes"])
    return attempt * (150 + math.ceil(1.2 * values / 2**20))


rule qtl2_rds:
    input: qtl2_parts
    output: f"{OUT}/qtl2/{{kind}}.rds"
    wildcard_constraints: kind="alleleprobs|genoprobs|pmap|gmap"
    resources: mem_mb=qtl2_mem_mb, runtime=60
    shell:
        "{PY}.parts --out {OUT:q} {wildcards.kind:q} -- Rscript --vanilla {QTL2_SCRIPT:q} {wildcards.kind:q} {output:q}"
        " && echo 'collect: qtl2/'{wildcards.kind:q}'.rds written' >&2"


def panel_maps():
    """The maps (pmap, gmap) that every marker of the prepared panel has."""
    maps = list(MAPS_NAMES)
    for c in panel_chromosome_safes():
        with open(os.path.join(PREPARED, f"chr{c}", "markers.tsv"), encoding="utf-8") as f:
            header, *rows = [line.rstrip("\n").split("\t") for line in f]
        maps = [m for m in maps if m in header and all(len(r) > header.index(m) and r[header.index(m)] for r in rows)]
    return maps


def collect_targets():
    """What the collect rules leave in OUT, for the all rule."""
    safes = panel_chromosome_safes()
    targets = [f"{OUT}/founderprobs/chr{c}.csv.gz" for c in safes] + [f"{OUT}/npz/chr{c}.npz" for c in safes]
    if config_true("genoprobs_csv"):
        targets += [f"{OUT}/genoprobs/chr{c}.csv.gz" for c in safes]
    targets += [f"{OUT}/mosaic.csv", f"{OUT}/summary.tsv", f"{OUT}/qtl2/alleleprobs.rds"]
    if config_true("qtl2_genoprobs"):
        targets.append(f"{OUT}/qtl2/genoprobs.rds")
    return targets + [f"{OUT}/qtl2/{m}.rds" for m in panel_maps()] + report_tables()

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
#   qtl2_whole_max_mb  the whole-panel R/qtl2 objects only up to this size
#   qtl2_chr_max_mb  a chromosome's object (qtl2/<kind>_<chr>.rds) only up to
#                  this size; past it, neither it nor the whole-panel one
#                  (collect then writes that chromosome's values part empty)
# either of the first two also puts the 36 pair values into the npz files.


# lint: see common.smk
rule collect:
    input:
        prepared=PREPARED,
        results=lambda wildcards: chromosome_runs(wildcards.chr),
    output: **collect_outputs()
    log: log_of("collect", "chr{chr}")
    params: py=PY, out=OUT, options=collect_options
    resources: mem_mb=collect_mem_mb, runtime=30
    shell:
        "{params.py} --log {log:q} collect --out {params.out:q} --chr {wildcards.chr:q} {params.options:q}"


# lint: see common.smk
rule join:
    input:
        mosaic=chromosome_parts(paths.MOSAIC_PART),
        summary=chromosome_parts(paths.SUMMARY_PART),
    output:
        mosaic=paths.mosaic_file(OUT),
        summary=paths.summary_file(OUT),
    log: log_of("join")
    params: py=PY, out=OUT
    shell:
        "{params.py} --log {log:q} join --out {params.out:q} --mosaic {output.mosaic:q} --summary {output.summary:q}"


# lint: see common.smk
rule qtl2_rds:
    input: qtl2_parts
    output: paths.qtl2_file(OUT, "{kind}")
    log: log_of("qtl2", "{kind}")
    wildcard_constraints: kind="|".join(paths.QTL2_KINDS)
    resources: mem_mb=qtl2_mem_mb, runtime=60
    params: py=PY, out=OUT
    shell:
        "{params.py} --log {log:q} qtl2 --out {params.out:q} --kind {wildcards.kind:q} --dest {output:q}"


# lint: see common.smk
rule qtl2_chromosome_rds:
    input: qtl2_chromosome_parts
    output: paths.qtl2_chromosome_file(OUT, "{kind}", "{chr}")
    log: log_of("qtl2", "{kind}", "chr{chr}")
    wildcard_constraints: kind="|".join(paths.QTL2_VALUES)
    resources: mem_mb=qtl2_chromosome_mem_mb, runtime=30
    params: py=PY, out=OUT
    shell:
        "{params.py} --log {log:q} qtl2 --out {params.out:q} --kind {wildcards.kind:q} --chr {wildcards.chr:q} --dest {output:q}"

# Strain QC (`python3 -m tarvel_panel qc`, tarvel_panel/qc/): once every
# chromosome is collected, one job reads the prepared calls beside the npz
# files and writes qc/strains.tsv, het_segments.tsv, flags.tsv and
# similarity.tsv, and draws the QC figure qc/strains.png|svg for the report.
# Off with --config qc=false; every threshold is a qc_* key (docs/qc.md),
# passed as the step's options, so a changed one redoes only QC.


# lint: see common.smk
rule qc:
    input:
        prepared=PREPARED,
        npz=lambda wildcards: [paths.npz_file(OUT, c) for c in prepared_panel().chromosome_safes()],
        reference=qc_reference_inputs,
    output:
        **{t: paths.qc_table(OUT, t) for t in QC_TABLES},
        png=report(paths.qc_figure(OUT, ".png"), caption="../report/qc_figure.rst", category="Quality control",
                   labels={"figure": "strain QC"}),
        svg=paths.qc_figure(OUT, ".svg"),
    log: log_of("qc")
    # a changed threshold changes the options, which redoes QC
    params: py=PY, out=OUT, options=qc_options
    resources: mem_mb=qc_mem_mb, runtime=60
    shell: "{params.py} --log {log:q} qc --out {params.out:q} --figure {params.options:q}"


localrules: qc_page

# lint: see common.smk
rule qc_page:
    input: strains=paths.qc_table(OUT, "strains"), flags=paths.qc_table(OUT, "flags")
    output:
        report(paths.report_page(OUT, "qc"), caption="../report/qc.rst", category="Quality control",
               labels={"table": "strain QC and its flags"})
    log: log_of("report", "qc")
    params: py=PY
    shell: "{params.py} --log {log:q} report-table qc {input.strains:q} {output:q}"

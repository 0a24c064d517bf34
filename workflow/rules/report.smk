# What Snakemake's report shows (snakemake ... --report report.html): the panel
# mosaics (marked in plots.smk), the summary and the settings of the panel as
# HTML tables (report/summary.html, report/settings.html), with captions from
# workflow/report/*.rst. The scripts and licences the page embeds come from
# Debian's packages and workflow/report/assets (tarvel_panel/support/report_assets.py).


localrules: summary_page, settings_page

# lint: see common.smk
rule summary_page:
    input: paths.summary_file(OUT)
    output:
        report(paths.report_page(OUT, "summary"), caption="../report/summary.rst", category="Tables",
               labels={"table": "summary of every strain and chromosome"})
    log: log_of("report", "summary")
    params: py=PY
    shell: "{params.py} --log {log:q} report-table summary {input:q} {output:q}"


# lint: see common.smk
rule settings_page:
    input: CONFIG_JSON
    output:
        report(paths.report_page(OUT, "settings"), caption="../report/settings.rst", category="Tables",
               labels={"table": "settings of the panel"})
    log: log_of("report", "settings")
    params: py=PY
    shell: "{params.py} --log {log:q} report-table settings {input:q} {output:q}"

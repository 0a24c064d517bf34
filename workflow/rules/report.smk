# What Snakemake's report shows (snakemake ... --report report.html): the panel
# mosaics (marked in plots.smk), the summary and the settings of the panel as
# HTML tables (report/summary.html, report/settings.html), with captions from
# workflow/report/*.rst. The scripts and licences the page embeds come from
# Debian's packages and workflow/report/assets (tarvel_panel/support/report_assets.py).
from tarvel_panel.support import report_assets, report_order

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


localrules: summary_page, settings_page

rule summary_page:
    input: paths.summary_file(OUT)
    output:
        report(paths.report_page(OUT, "summary"), caption="../report/summary.rst", category="Tables",
               labels={"table": "summary of every strain and chromosome"})
    log: log_of("report", "summary")
    shell: "{PY} --log {log:q} report-table summary {input:q} {output:q}"


rule settings_page:
    input: CONFIG_JSON
    output:
        report(paths.report_page(OUT, "settings"), caption="../report/settings.rst", category="Tables",
               labels={"table": "settings of the panel"})
    log: log_of("report", "settings")
    shell: "{PY} --log {log:q} report-table settings {input:q} {output:q}"

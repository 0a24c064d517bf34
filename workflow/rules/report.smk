# What Snakemake's report shows (snakemake ... --report report.html): the panel
# mosaics (marked in plots.smk), the summary and the settings of the panel as
# HTML tables (report/summary.html, report/settings.html), with captions from
# workflow/report/*.rst. The scripts and licences the page embeds come from
# Debian's packages and workflow/report/assets (tarvel_panel/report_assets.py).
from tarvel_panel import report_assets

REPORT_PAGES = f"{OUT}/report"

if report_assets.wants_report(sys.argv[1:]):
    try:
        report_assets.serve_local()
    except InputError as e:
        refuse(e)


def report_tables():
    """The report's table pages, for the all rule (through collect_targets)."""
    return [f"{REPORT_PAGES}/summary.html", f"{REPORT_PAGES}/settings.html"]


localrules: summary_page, settings_page

rule summary_page:
    input: f"{OUT}/summary.tsv"
    output:
        report(f"{REPORT_PAGES}/summary.html", caption="../report/summary.rst", category="Tables",
               labels={"table": "summary of every strain and chromosome"})
    shell: "{PY}.report_tables summary {input:q} {output:q}"


rule settings_page:
    input: CONFIG_JSON
    output:
        report(f"{REPORT_PAGES}/settings.html", caption="../report/settings.rst", category="Tables",
               labels={"table": "settings of the panel"})
    shell: "{PY}.report_tables settings {input:q} {output:q}"

"""The order of the report's results. Snakemake (7.21) lists a category's
results by file name: panel_chr1, panel_chr10, panel_chr11, ..., panel_chr2,
..., panel_genome. The report lists the genome's mosaic first, then each
chromosome's in the order chromosomes are shown (chromosome_order), then
any other result by name."""
from tarvel_panel.chromosome_order import chromosome_key

CHROMOSOME = "chromosome "


def result_key(labels, name):
    """The place of a result with these labels (a dict, or None) and file name."""
    figure = str((labels or {}).get("figure", ""))
    if figure == "genome":
        return (0, (), name)
    if figure.startswith(CHROMOSOME):
        return (1, chromosome_key(figure[len(CHROMOSOME):]), name)
    return (2, (), name)


def in_report_order(results):
    """Snakemake's results (category -> subcategory -> list of results), each
    list put in place in the report's order."""
    for subcategories in results.values():
        for listed in subcategories.values():
            listed.sort(key=lambda r: result_key(r.labels, r.name))
    return results


def order_results():
    """Snakemake's report lists its results in the report's order."""
    from snakemake.report import data
    render = data.render_results
    if getattr(render, "in_report_order", False):
        return

    def ordered(results):
        return render(in_report_order(results))
    ordered.in_report_order = True
    data.render_results = ordered

"""Strain QC of a collected panel: is each strain what it should be?

    python3 -m tarvel_panel qc --out OUT [--figure] [--<threshold> VALUE ...]

reads the prepared calls and collect's npz files and writes OUT/qc/strains.tsv,
het_segments.tsv, flags.tsv and similarity.tsv, all or none (docs/qc.md);
with --figure also the QC figure qc/strains.png|svg (as `plot qc` draws it).
"""
import argparse
import os
import sys

from tarvel_panel import paths
from tarvel_panel.errors import run_command
from tarvel_panel.qc import settings as qc_settings
from tarvel_panel.qc.flags import panel_flags
from tarvel_panel.qc.measure import measure_panel
from tarvel_panel.qc.write import TABLES, read_table, write_tables
from tarvel_panel.support import progress


def run_qc(out, settings, figure=False):
    measures = measure_panel(out, settings)
    flags = panel_flags(measures, settings)
    outputs = {t: paths.qc_table(out, t) for t in TABLES}
    write_tables(measures, flags, settings, outputs)
    if figure:
        try:
            draw_figure(out, settings)
        except BaseException:
            for path in outputs.values():
                os.remove(path)
            raise
    flagged = len({f.strain for f in flags})
    progress.say(f"qc: {flagged} of {len(measures.strains)} strains flagged, {len(flags)} flags "
                 f"(qc/flags.tsv{', the figure qc/strains.png' if figure else ''})")
    return measures, flags


def draw_figure(out, settings):
    from tarvel_panel.figures import draw, qc_figure
    _, rows = read_table(paths.qc_table(out, "strains"))
    fig = qc_figure.qc_figure(qc_figure.from_table(rows), (settings.call_rate_min, settings.het_share_max,
                                                           settings.error_rate_max))
    return draw.save(fig, paths.qc_figure(out))


def main(argv=None):
    parser = argparse.ArgumentParser(prog="python3 -m tarvel_panel qc", description=__doc__.split("\n")[0])
    parser.add_argument("--out", required=True, help="the panel's output folder")
    parser.add_argument("--figure", action="store_true", help="also draw the QC figure qc/strains.png|svg")
    qc_settings.add_options(parser)
    args = parser.parse_args(argv)
    return run_command(lambda: run_qc(args.out, qc_settings.from_args(args), args.figure),
                       lambda e: f"{e.filename}: cannot be written ({e.strerror})")


if __name__ == "__main__":
    sys.exit(main())

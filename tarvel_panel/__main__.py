"""The panel's steps, one entry point:

    python3 -m tarvel_panel [--log FILE] STEP [OPTIONS]

where STEP is one of the steps below; `python3 -m tarvel_panel STEP --help`
tells its options. With --log, what the step says on standard error is also
written to FILE (the workflow's log of the job)."""
import importlib
import sys

from tarvel_panel.support import progress


# step: (module, what it does), in the order the data takes
STEPS = {
    "prepare": ("tarvel_panel.panel.prepare", "read the panel's inputs and lay out one TARVEL run per strain"),
    "batch": ("tarvel_panel.run.batch", "run TARVEL on one batch of strains of one chromosome"),
    "collect": ("tarvel_panel.collect.chromosome", "one chromosome's tables, npz and R object parts"),
    "join": ("tarvel_panel.collect.join", "the panel's mosaic.csv and summary.tsv from the chromosomes' parts"),
    "qtl2": ("tarvel_panel.collect.qtl2_rds", "one R/qtl2 object of the panel (qtl2/<kind>.rds)"),
    "drop-runs": ("tarvel_panel.run.drop_runs", "remove a collected chromosome's raw TARVEL results"),
    "qc": ("tarvel_panel.qc.cli", "strain QC: call and error rates, heterozygosity, X against the funnel, look-alikes"),
    "plot": ("tarvel_panel.figures.cli", "founder plots: strain and panel mosaics, probability tracks"),
    "report-table": ("tarvel_panel.support.report_tables", "a table of the panel as a page of the report"),
}


def usage():
    width = max(map(len, STEPS))
    lines = [f"  {name:<{width}}  {what}" for name, (_, what) in STEPS.items()]
    return "usage: python3 -m tarvel_panel [--log FILE] STEP [OPTIONS]\n\nsteps:\n" + "\n".join(lines) + "\n"


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    log = None
    if argv[:1] == ["--log"] and len(argv) > 1:
        log, argv = argv[1], argv[2:]
    progress.whole_lines(log)
    if not argv or argv[0] in ("-h", "--help"):
        sys.stdout.write(usage())
        return 0 if argv else 2
    if argv[0] not in STEPS:
        sys.stderr.write(f"error: no step {argv[0]!r}\n{usage()}")
        return 2
    module = importlib.import_module(STEPS[argv[0]][0])
    return module.main(argv[1:])


if __name__ == "__main__":
    sys.exit(main())

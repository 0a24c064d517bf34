"""Founder plots from TARVEL's results, as PNG and SVG.

    python3 -m tarvel_panel.plot strain --out OUT [--strain NAME ...] [--dest DIR]
    python3 -m tarvel_panel.plot strain FOUNDERS STRAIN FUNNEL -cm POS [-x [-s M|F]] -o PREFIX
    python3 -m tarvel_panel.plot panel --out OUT [--chr C ... | --genome] [-o PREFIX]
    python3 -m tarvel_panel.plot paint --out OUT --chr C [-o FILE]
    python3 -m tarvel_panel.plot track --out OUT --strain NAME --chr C -o PREFIX
    python3 -m tarvel_panel.plot track FOUNDERS STRAIN FUNNEL -cm POS -o PREFIX

OUT is the panel workflow's output folder; the second forms take one TARVEL
run (its results file, by default STRAIN.prob, and its four input files).
"""
import argparse
import os
import sys
from dataclasses import replace
from typing import Dict, List, Sequence

from .errors import InputError, run_command
from .painting import DEFAULT_THRESHOLD, copy_segments, paint, paint_markers
from . import plot_inputs, plots


class Parser(argparse.ArgumentParser):
    def error(self, message):
        self.print_usage(sys.stderr)
        print(f"error: {message}", file=sys.stderr)
        sys.exit(1)


def _common(p: argparse.ArgumentParser, height_default: str) -> None:
    p.add_argument("--width", type=float, default=10.0, help="inches (default 10)")
    p.add_argument("--height", type=float, help=f"inches (default {height_default})")
    p.add_argument("--dpi", type=float, default=100.0, help="PNG pixels per inch (default 100)")
    p.add_argument("--colors", help="NAME=COLOUR,... or eight colours (default: A yellow #F0E442, "
                   "B grey #555555, C pink #F08080, D dark blue #0064C9, E light blue #7FDBFF, "
                   "F green #2ECC40, G red #FF4136, H purple #B10DC9)")
    p.add_argument("--founder-names", help="eight comma-separated names (default: the panel's, "
                   "or A..H for a single TARVEL run)")


def _run_inputs(p: argparse.ArgumentParser) -> None:
    p.add_argument("files", nargs="*", metavar="FILE",
                   help="FOUNDERS STRAIN FUNNEL of one TARVEL run (instead of --out)")
    where = p.add_mutually_exclusive_group()
    where.add_argument("-cm", dest="cm", metavar="POS", help="marker positions in cM")
    where.add_argument("-bp", dest="bp", metavar="POS", help="marker positions in bp")
    p.add_argument("--results", help="TARVEL's results file (default STRAIN.prob)")
    p.add_argument("-x", action="store_true", help="the run was on the X chromosome")
    p.add_argument("-s", dest="sex", default="M", help="sex of an X run as given to TARVEL (default M)")
    p.add_argument("--name", help="strain name shown (default: the strain file's name)")
    p.add_argument("--no-call-check", dest="call_check", action="store_false",
                   help="draw a run's results even where they contradict many of its calls")
    p.add_argument("--out", help="the workflow's output folder")


def _painting_options(p: argparse.ArgumentParser) -> None:
    p.add_argument("--threshold", type=float,
                   help="a top pair below this is drawn faded and hatched (default 0.5)")
    p.add_argument("--painting", metavar="DIR",
                   help="read the paintings chr<chr>.csv made by `paint` from DIR instead of genoprobs")


def parser() -> argparse.ArgumentParser:
    top = Parser(prog="python3 -m tarvel_panel.plot", description=__doc__.split("\n")[0])
    sub = top.add_subparsers(dest="plot", required=True, parser_class=Parser)

    s = sub.add_parser("strain", help="one strain's chromosomes painted by founder")
    _run_inputs(s)
    s.add_argument("--strain", action="append", help="strain name (repeatable; default every strain)")
    s.add_argument("--dest", help="folder for <safe name>.png|svg (default OUT/plots/strains)")
    s.add_argument("--chr", dest="chrom", default="", help="chromosome name shown for one run")
    s.add_argument("-o", dest="output", help="output PREFIX (PREFIX.png, PREFIX.svg)")
    _painting_options(s)
    _common(s, "by chromosome count")

    pn = sub.add_parser("panel", help="every strain's painting for one chromosome or the genome")
    pn.add_argument("--out", required=True, help="the workflow's output folder")
    pn.add_argument("--chr", dest="chroms", action="append",
                    help="chromosome (repeatable; default every chromosome, one plot each)")
    pn.add_argument("--genome", action="store_true", help="one plot of every chromosome side by side")
    pn.add_argument("--sort", choices=("cross", "name"), default="cross",
                    help="strain order: as in the cross (default) or by name")
    pn.add_argument("-o", dest="output", help="output PREFIX (default OUT/plots/panel_chr<chr>)")
    _painting_options(pn)
    _common(pn, "by strain count")

    pt = sub.add_parser("paint", help="the painting of one chromosome for every strain, as CSV")
    pt.add_argument("--out", required=True, help="the workflow's output folder")
    pt.add_argument("--chr", dest="chrom", required=True, help="chromosome")
    pt.add_argument("-o", dest="output", help="CSV file (default OUT/plots/painting/chr<chr>.csv)")
    pt.add_argument("--threshold", type=float, default=DEFAULT_THRESHOLD,
                    help="a top pair below this is marked low (default 0.5)")

    t = sub.add_parser("track", help="one strain's probabilities along one chromosome")
    _run_inputs(t)
    t.add_argument("--strain", help="strain name (with --out)")
    t.add_argument("--chr", dest="chrom", default="", help="chromosome (with --out; shown for one run)")
    t.add_argument("-o", dest="output", required=True, help="output PREFIX (PREFIX.png, PREFIX.svg)")
    _common(t, "7")
    return top


def prefix(path: str) -> str:
    root, ext = os.path.splitext(path)
    return root if ext.lower() in (".png", ".svg") else path


def display_unit(unit: str):
    """Base pairs are shown as Mbp; other units as they are."""
    return (1e-6, "Mbp") if unit == "bp" else (1.0, unit)


def style(args, names: Sequence[str]):
    if args.founder_names:
        names = [n.strip() for n in args.founder_names.split(",")]
        if len(names) != 8 or not all(names):
            raise InputError("--founder-names", f"{len(names)} names, 8 expected")
    colors = plots.parse_colors(args.colors, names) if args.colors else list(plots.DEFAULT_COLORS)
    for what, value in (("--width", args.width), ("--height", args.height or 1), ("--dpi", args.dpi)):
        if not value > 0 or value * (1 if what == "--dpi" else args.dpi) > 20000:
            raise InputError(what, f"{value:g} is not a sensible size")
    return list(names), colors


def one_run(args) -> plot_inputs.ChromProbs:
    if args.out:
        raise InputError("--out", "give either --out or a run's three files, not both")
    if len(args.files) != 3 or not (args.cm or args.bp):
        raise InputError("command line", "one TARVEL run needs FOUNDERS STRAIN FUNNEL and -cm or -bp POS")
    founders, strain, funnel = args.files
    return plot_inputs.read_run(founders, strain, funnel, args.cm or args.bp, args.results,
                                is_x=args.x, male=args.sex[:1] in ("m", "M"), chrom=args.chrom,
                                call_check=args.call_check)


def run_label(args) -> str:
    return args.name or os.path.basename(args.files[1])


def painted_chrom(chrom: str, positions, probs, threshold, scale) -> plots.Painted:
    return scaled(chrom, paint(positions, probs, threshold), scale)


def paint_out_chrom(panel, chrom: str, strains: Sequence[str], threshold: float
                    ) -> Dict[str, list]:
    """Segments of one chromosome of every strain asked for, read from
    genoprobs in one pass that keeps only the painting."""
    path = panel.genoprobs(chrom)
    print(f"reading {path}", file=sys.stderr)
    positions: Dict[str, List[float]] = {s: [] for s in strains}
    marks: Dict[str, list] = {s: [] for s in strains}
    for _, strain, pos, values in plot_inputs.genoprobs_rows(path, strains):
        positions[strain].append(pos)
        marks[strain].append(paint_markers([values], threshold)[0])
    for s in strains:
        if not positions[s]:
            raise InputError(path, f"no rows of strain {s!r}")
    return {s: copy_segments(positions[s], marks[s], 1) + copy_segments(positions[s], marks[s], 2)
            for s in strains}


def scaled(chrom: str, segments, scale: float) -> plots.Painted:
    segs = [replace(g, start=g.start * scale, end=g.end * scale) for g in segments]
    return plots.Painted(chrom, min(g.start for g in segs), max(g.end for g in segs), segs)


def out_paintings(args, panel, chrom: str, strains: Sequence[str], scale: float
                  ) -> Dict[str, plots.Painted]:
    """One chromosome painted for `strains`: from the workflow's painting
    (--painting DIR) or from genoprobs. Sets args.threshold to the one used."""
    if args.painting:
        path = os.path.join(args.painting, f"chr{chrom}.csv")
        found, threshold = plot_inputs.read_painting(path, strains)
        if args.threshold is not None and args.threshold != threshold:
            raise InputError(path, f"painted with threshold {threshold:g}, not {args.threshold:g}")
        args.threshold = threshold
    else:
        if args.threshold is None:
            args.threshold = DEFAULT_THRESHOLD
        found = paint_out_chrom(panel, chrom, strains, args.threshold)
    return {s: scaled(chrom, found[s], scale) for s in strains}


def written(paths):
    print("wrote " + ", ".join(paths), file=sys.stderr)


def strain_command(args) -> None:
    if not args.out:
        run = one_run(args)
        names, colors = style(args, plot_inputs.DEFAULT_NAMES)
        args.threshold = DEFAULT_THRESHOLD if args.threshold is None else args.threshold
        if not args.output:
            raise InputError("command line", "-o PREFIX is needed for one TARVEL run")
        scale, unit = display_unit("bp" if args.bp else "cM")
        chrom = [painted_chrom(args.chrom, run.positions, run.probs, args.threshold, scale)]
        fig = plots.strain_mosaic(run_label(args), chrom, names, colors, unit, args.threshold,
                                  args.width, args.height, args.dpi)
        written(plots.save(fig, prefix(args.output)))
        return
    if args.files or args.cm or args.bp:
        raise InputError("--out", "give either --out or a run's three files, not both")
    panel = plot_inputs.read_out_panel(args.out)
    names, colors = style(args, panel.founders)
    chosen = [panel.strain(n) for n in args.strain] if args.strain else panel.strains
    if args.output and len(chosen) != 1:
        raise InputError("-o", "one output prefix for several strains: use --dest DIR")
    scale, unit = display_unit(panel.pos_unit)
    by_chrom = [out_paintings(args, panel, c, [s.name for s in chosen], scale)
                for c in panel.chromosomes]
    dest = args.dest or os.path.join(args.out, "plots", "strains")
    for s in chosen:
        fig = plots.strain_mosaic(s.name, [p[s.name] for p in by_chrom], names, colors, unit,
                                  args.threshold, args.width, args.height, args.dpi)
        written(plots.save(fig, prefix(args.output) if args.output else os.path.join(dest, s.safe)))


def panel_command(args) -> None:
    panel = plot_inputs.read_out_panel(args.out)
    names, colors = style(args, panel.founders)
    chroms = args.chroms or panel.chromosomes
    for c in chroms:
        panel.genoprobs(c)  # an unknown name is refused before any work
    strains = [s.name for s in panel.strains]
    if args.sort == "name":
        strains.sort()
    scale, unit = display_unit(panel.pos_unit)
    groups = [chroms] if args.genome else [[c] for c in chroms]
    if args.output and len(groups) != 1:
        raise InputError("-o", "one output prefix for several plots: give one --chr or --genome")
    for group in groups:
        painted = [out_paintings(args, panel, c, strains, scale) for c in group]
        fig = plots.panel_mosaic(strains, group, [[p[s] for p in painted] for s in strains],
                                 names, colors, unit, args.threshold, args.width, args.height,
                                 args.dpi)
        name = "panel_genome" if args.genome else f"panel_chr{group[0]}"
        written(plots.save(fig, prefix(args.output) if args.output
                           else os.path.join(args.out, "plots", name)))


def paint_command(args) -> None:
    panel = plot_inputs.read_out_panel(args.out)
    strains = [s.name for s in panel.strains]
    painted = paint_out_chrom(panel, args.chrom, strains, args.threshold)
    path = args.output or os.path.join(args.out, "plots", "painting", f"chr{args.chrom}.csv")
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    plot_inputs.write_painting(path, args.chrom, painted, args.threshold)
    written([path])


def track_command(args) -> None:
    if args.out:
        if args.files or args.cm or args.bp:
            raise InputError("--out", "give either --out or a run's three files, not both")
        if not args.strain or not args.chrom:
            raise InputError("command line", "--out needs --strain NAME and --chr CHR")
        panel = plot_inputs.read_out_panel(args.out)
        names, colors = style(args, panel.founders)
        strain = panel.strain(args.strain).name
        run = plot_inputs.read_genoprobs(panel.genoprobs(args.chrom), args.chrom, [strain])[strain]
        scale, unit = display_unit(panel.pos_unit)
    else:
        run = one_run(args)
        names, colors = style(args, plot_inputs.DEFAULT_NAMES)
        strain = run_label(args)
        scale, unit = display_unit("bp" if args.bp else "cM")
    positions = [p * scale for p in run.positions]
    fig = plots.probability_track(strain, args.chrom, positions, run.probs, names, colors,
                                  unit, args.width, args.height or 7.0, args.dpi)
    written(plots.save(fig, prefix(args.output)))


def main(argv=None) -> int:
    args = parser().parse_args(argv)
    commands = {"strain": strain_command, "panel": panel_command, "paint": paint_command,
                "track": track_command}
    return run_command(lambda: commands[args.plot](args))


if __name__ == "__main__":
    sys.exit(main())

"""Founder plots from TARVEL's results, as PNG and SVG.

    python3 -m tarvel_panel plot all --out OUT [--jobs N]
    python3 -m tarvel_panel plot strain --out OUT [--strain NAME ...] [--dest DIR]
    python3 -m tarvel_panel plot strain FOUNDERS STRAIN FUNNEL -cm POS [-x [-s M|F]] -o PREFIX
    python3 -m tarvel_panel plot panel --out OUT [--chr C ... | --genome] [-o PREFIX]
    python3 -m tarvel_panel plot track --out OUT --strain NAME --chr C -o PREFIX
    python3 -m tarvel_panel plot track FOUNDERS STRAIN FUNNEL -cm POS -o PREFIX
    python3 -m tarvel_panel plot qc --out OUT [-o PREFIX]

OUT is the panel workflow's output folder (the plots read its npz/chr<c>.npz
files, the QC figure its qc/strains.tsv); the second forms take one TARVEL
run (its results file, by default STRAIN.prob, and its four input files).
"""
import argparse
import multiprocessing
import os
import sys
from dataclasses import dataclass
from typing import Iterable, List, Sequence

import numpy as np

from tarvel_panel import paths
from tarvel_panel.errors import InputError, run_command
from tarvel_panel.figures import sources
from tarvel_panel.run import tarvel_files
from tarvel_panel.figures import draw
from tarvel_panel.figures import qc_figure
from tarvel_panel.qc.settings import Settings
from tarvel_panel.qc.write import read_table
from tarvel_panel.figures.painting import DEFAULT_THRESHOLD, Segments, paint, paint_chromosome


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


def _threshold(p: argparse.ArgumentParser) -> None:
    p.add_argument("--threshold", type=float, default=DEFAULT_THRESHOLD,
                   help="a top pair below this is drawn faded and hatched (default 0.5)")


def parser() -> argparse.ArgumentParser:
    top = Parser(prog="python3 -m tarvel_panel plot", description=__doc__.split("\n")[0])
    sub = top.add_subparsers(dest="plot", required=True, parser_class=Parser)

    a = sub.add_parser("all", help="every strain's mosaic, every chromosome's panel mosaic and the genome's")
    a.add_argument("--out", required=True, help="the workflow's output folder")
    a.add_argument("--dest", help="folder of the plots (default OUT/plots)")
    a.add_argument("--jobs", type=int, default=1, help="processes drawing at once (default 1)")
    _threshold(a)
    _common(a, "by row count")

    s = sub.add_parser("strain", help="one strain's chromosomes painted by founder")
    _run_inputs(s)
    s.add_argument("--strain", action="append", help="strain name (repeatable; default every strain)")
    s.add_argument("--dest", help="folder for <safe name>.png|svg (default OUT/plots/strains)")
    s.add_argument("--chr", dest="chrom", default="", help="chromosome name shown for one run")
    s.add_argument("-o", dest="output", help="output PREFIX (PREFIX.png, PREFIX.svg)")
    _threshold(s)
    _common(s, "by chromosome count")

    pn = sub.add_parser("panel", help="every strain's painting for one chromosome or the genome")
    pn.add_argument("--out", required=True, help="the workflow's output folder")
    pn.add_argument("--chr", dest="chroms", action="append",
                    help="chromosome (repeatable; default every chromosome, one plot each)")
    pn.add_argument("--genome", action="store_true", help="one plot of every chromosome side by side")
    pn.add_argument("--sort", choices=("cross", "name"), default="cross",
                    help="strain order: as in the cross (default) or by name")
    pn.add_argument("-o", dest="output", help="output PREFIX (default OUT/plots/panel_chr<chr>)")
    _threshold(pn)
    _common(pn, "by strain count")

    t = sub.add_parser("track", help="one strain's probabilities along one chromosome")
    _run_inputs(t)
    t.add_argument("--strain", help="strain name (with --out)")
    t.add_argument("--chr", dest="chrom", default="", help="chromosome (with --out; shown for one run)")
    t.add_argument("-o", dest="output", required=True, help="output PREFIX (PREFIX.png, PREFIX.svg)")
    _common(t, "7")

    q = sub.add_parser("qc", help="per strain its call rate, heterozygosity and error candidates, flagged ones marked")
    q.add_argument("--out", required=True, help="the workflow's output folder (with qc/strains.tsv)")
    q.add_argument("-o", dest="output", help="output PREFIX (default OUT/qc/strains)")
    for name in ("call_rate_min", "het_share_max", "error_rate_max"):
        q.add_argument(f"--{name.replace('_', '-')}", type=float, default=getattr(Settings, name),
                       help=f"the threshold drawn (default {getattr(Settings, name)})")
    q.add_argument("--width", type=float, default=10.0, help="inches (default 10)")
    q.add_argument("--dpi", type=float, default=100.0, help="PNG pixels per inch (default 100)")
    return top


def prefix(path: str) -> str:
    root, ext = os.path.splitext(path)
    return root if ext.lower() in (".png", ".svg") else path


def display_unit(unit: str):
    """Base pairs are shown as Mbp; other units as they are."""
    return (1e-6, "Mbp") if unit == "bp" else (1.0, unit)


@dataclass
class Style:
    names: List[str]
    colors: List[str]
    unit: str
    threshold: float
    width: float
    height: float
    dpi: float


def style(args, names: Sequence[str], unit: str) -> Style:
    if args.founder_names:
        names = [n.strip() for n in args.founder_names.split(",")]
        if len(names) != 8 or not all(names):
            raise InputError("--founder-names", f"{len(names)} names, 8 expected")
    colors = draw.parse_colors(args.colors, names) if args.colors else list(draw.DEFAULT_COLORS)
    for what, value in (("--width", args.width), ("--height", args.height or 1), ("--dpi", args.dpi)):
        if not value > 0 or value * (1 if what == "--dpi" else args.dpi) > 20000:
            raise InputError(what, f"{value:g} is not a sensible size")
    threshold = getattr(args, "threshold", DEFAULT_THRESHOLD)
    if not 0 <= threshold <= 1:
        raise InputError("--threshold", f"{threshold:g} is not a probability")
    return Style(list(names), colors, unit, threshold, args.width, args.height, args.dpi)


def written(paths):
    print("wrote " + ", ".join(paths), file=sys.stderr)


# --- the workflow's output folder -------------------------------------------------

@dataclass
class ChromPainting:
    """One chromosome painted for every strain of the panel (rows in its order)."""
    name: str
    safe: str
    start: float
    end: float
    segments: Segments

    def of(self, strain: int) -> draw.Painted:
        return draw.Painted(self.name, self.start, self.end, self.segments.of_row(strain))


def paint_panel(panel, chroms, threshold: float) -> List[ChromPainting]:
    """Every strain painted on `chroms`, from their npz files; positions in
    the unit shown."""
    scale, _ = display_unit(panel.pos_unit)
    painted = []
    for c in chroms:
        data = sources.read_npz(panel, c, ["top_pair", "top_prob"])
        pos = data["pos"] * scale
        painted.append(ChromPainting(c.name, c.safe, pos[0], pos[-1],
                                     paint_chromosome(pos, data["top_pair"], data["top_prob"], threshold)))
    return painted


class Progress:
    """Counts the figures written by every drawing process, with a line now and then."""

    def __init__(self, total: int, lines: int = 10):
        self.total, self.step = total, max(1, total // lines)
        self.done = multiprocessing.get_context("fork").Value("i", 0)

    def figure(self) -> None:
        with self.done.get_lock():
            self.done.value += 1
            n = self.done.value
        if n % self.step == 0 or n == self.total:
            print(f"plots: {n} of {self.total} figures", file=sys.stderr, flush=True)


def draw_strains(chosen, paintings: Sequence[ChromPainting], st: Style, done) -> None:
    """chosen: (row in the panel, name, output prefix) of every strain mosaic
    to draw (any iterable: taken one at a time)."""
    mosaic = None
    for row, name, path in chosen:
        if mosaic is None:
            mosaic = draw.StrainMosaic([p.of(row) for p in paintings], st.names, st.colors,
                                       st.unit, st.threshold, st.width, st.height, st.dpi)
        done(draw.save(mosaic.draw(name, [p.of(row) for p in paintings]), path))


def draw_panels(strains: Sequence[str], rows: Sequence[int], paintings: Iterable[ChromPainting],
                st: Style, dest: str, done) -> None:
    """One panel mosaic per chromosome into dest/panel_chr<safe>; strains[i]
    is row rows[i]; `paintings` is taken one at a time."""
    mosaic = None
    for p in paintings:
        if mosaic is None:
            mosaic = draw.PanelMosaic(strains, [1.0], st.names, st.colors, st.unit, st.threshold,
                                      st.width, st.height, st.dpi)
        fig = mosaic.draw([p.name], [[p.of(r)] for r in rows])
        done(draw.save(fig, os.path.join(dest, f"panel_chr{p.safe}")))


def draw_genome(strains: Sequence[str], rows: Sequence[int], paintings: Sequence[ChromPainting],
                st: Style, path: str) -> List[str]:
    """Every chromosome side by side, one row per strain, into path.png|svg."""
    painted = [[p.of(r) for p in paintings] for r in rows]
    fig = draw.panel_mosaic(strains, [p.name for p in paintings], painted, st.names, st.colors,
                             st.unit, st.threshold, st.width, st.height, st.dpi)
    return draw.save(fig, path)


def in_processes(jobs: int, work) -> None:
    """work(k, n) for k in 0..n-1, in n forked processes (here when n is 1)."""
    if jobs <= 1:
        return work(0, 1)
    fork = multiprocessing.get_context("fork")
    workers = [fork.Process(target=work, args=(k, jobs)) for k in range(jobs)]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    failed = [w.exitcode for w in workers if w.exitcode]
    if failed:
        raise RuntimeError(f"{len(failed)} of {jobs} drawing processes failed (status {failed[0]})")


def all_command(args) -> None:
    panel = sources.read_out_panel(args.out)
    st = style(args, panel.founders, display_unit(panel.pos_unit)[1])
    if args.jobs < 1:
        raise InputError("--jobs", f"{args.jobs} processes: give 1 or more")
    paintings = paint_panel(panel, panel.chromosomes, st.threshold)
    dest = args.dest or os.path.join(args.out, "plots")
    strains = [(i, s.name, os.path.join(dest, "strains", s.safe)) for i, s in enumerate(panel.strains)]
    names = [s.name for s in panel.strains]
    progress = Progress(len(strains) + len(paintings) + 1)
    print(f"plots: {len(strains)} strain mosaics, {len(paintings)} chromosome panel mosaics and the genome's,"
          f" PNG and SVG, into {dest}", file=sys.stderr, flush=True)

    # the figures go to whichever drawing process is free, the longest first
    # (the genome, then the chromosomes' panels, then the strains), so that
    # the processes end together
    genome, panels, singles = (Taken(items) for items in (["genome"], paintings, strains))

    def work(k, n):
        for _ in genome:
            draw_genome(names, range(len(strains)), paintings, st, os.path.join(dest, "panel_genome"))
            progress.figure()
        draw_panels(names, range(len(strains)), panels, st, dest, lambda _: progress.figure())
        draw_strains(singles, paintings, st, lambda _: progress.figure())
    in_processes(min(args.jobs, len(strains) + len(paintings)), work)


class Taken:
    """Iterating gives the items not yet taken by any drawing process (forked
    after this is made), each to one only."""

    def __init__(self, items: Sequence):
        self.items = items
        self.next = multiprocessing.get_context("fork").Value("i", 0)

    def __iter__(self):
        while True:
            with self.next.get_lock():
                i = self.next.value
                self.next.value = i + 1
            if i >= len(self.items):
                return
            yield self.items[i]


def strain_command(args) -> None:
    if not args.out:
        run = one_run(args)
        if not args.output:
            raise InputError("command line", "-o PREFIX is needed for one TARVEL run")
        scale, unit = display_unit("bp" if args.bp else "cM")
        st = style(args, tarvel_files.DEFAULT_NAMES, unit)
        pos = run.positions * scale
        chrom = draw.Painted(args.chrom, pos[0], pos[-1], paint(pos, run.probs, st.threshold))
        written(draw.save(draw.strain_mosaic(run_label(args), [chrom], st.names, st.colors, unit,
                                               st.threshold, st.width, st.height, st.dpi),
                           prefix(args.output)))
        return
    if args.files or args.cm or args.bp:
        raise InputError("--out", "give either --out or a run's three files, not both")
    panel = sources.read_out_panel(args.out)
    st = style(args, panel.founders, display_unit(panel.pos_unit)[1])
    chosen = [panel.strain(n) for n in args.strain] if args.strain else panel.strains
    if args.output and len(chosen) != 1:
        raise InputError("-o", "one output prefix for several strains: use --dest DIR")
    dest = args.dest or os.path.join(args.out, "plots", "strains")
    rows = [(panel.strains.index(s), s.name, prefix(args.output) if args.output else os.path.join(dest, s.safe))
            for s in chosen]
    draw_strains(rows, paint_panel(panel, panel.chromosomes, st.threshold), st, written)


def panel_command(args) -> None:
    panel = sources.read_out_panel(args.out)
    st = style(args, panel.founders, display_unit(panel.pos_unit)[1])
    chroms = [panel.chromosome(c) for c in args.chroms] if args.chroms else panel.chromosomes
    if args.output and len(chroms) != 1 and not args.genome:
        raise InputError("-o", "one output prefix for several plots: give one --chr or --genome")
    rows = list(range(len(panel.strains)))
    if args.sort == "name":
        rows.sort(key=lambda i: panel.strains[i].name)
    strains = [panel.strains[i].name for i in rows]
    paintings = paint_panel(panel, chroms, st.threshold)
    if args.genome:
        written(draw_genome(strains, rows, paintings, st, prefix(args.output) if args.output
                            else os.path.join(args.out, "plots", "panel_genome")))
    elif args.output:
        fig = draw.panel_mosaic(strains, [paintings[0].name], [[paintings[0].of(r)] for r in rows],
                                 st.names, st.colors, st.unit, st.threshold, st.width, st.height, st.dpi)
        written(draw.save(fig, prefix(args.output)))
    else:
        draw_panels(strains, rows, paintings, st, os.path.join(args.out, "plots"), written)


# --- one TARVEL run ------------------------------------------------------------------

def one_run(args) -> tarvel_files.ChromProbs:
    if args.out:
        raise InputError("--out", "give either --out or a run's three files, not both")
    if len(args.files) != 3 or not (args.cm or args.bp):
        raise InputError("command line", "one TARVEL run needs FOUNDERS STRAIN FUNNEL and -cm or -bp POS")
    founders, strain, funnel = args.files
    return tarvel_files.read_run(founders, strain, funnel, args.cm or args.bp, args.results,
                                is_x=args.x, male=args.sex[:1] in ("m", "M"), chrom=args.chrom,
                                call_check=args.call_check)


def run_label(args) -> str:
    return args.name or os.path.basename(args.files[1])


def track_command(args) -> None:
    if args.out:
        if args.files or args.cm or args.bp:
            raise InputError("--out", "give either --out or a run's three files, not both")
        if not args.strain or not args.chrom:
            raise InputError("command line", "--out needs --strain NAME and --chr CHR")
        panel = sources.read_out_panel(args.out)
        scale, unit = display_unit(panel.pos_unit)
        st = style(args, panel.founders, unit)
        strain = panel.strain(args.strain)
        chrom = panel.chromosome(args.chrom)
        data = sources.read_npz(panel, chrom, ["genoprobs"], missing_hint=": the track needs the "
                                    "36 pair values, which the panel was collected without")
        probs = data["genoprobs"][panel.strains.index(strain)].T
        label, chrom_name, pos = strain.name, chrom.name, data["pos"] * scale
    else:
        run = one_run(args)
        scale, unit = display_unit("bp" if args.bp else "cM")
        st = style(args, tarvel_files.DEFAULT_NAMES, unit)
        label, chrom_name, pos, probs = run_label(args), args.chrom, run.positions * scale, run.probs
    fig = draw.probability_track(label, chrom_name, pos, np.asarray(probs, dtype=np.float64), st.names,
                                  st.colors, unit, st.width, st.height or 7.0, st.dpi)
    written(draw.save(fig, prefix(args.output)))


def qc_command(args) -> None:
    for what, value in (("--width", args.width), ("--dpi", args.dpi)):
        if not 0 < value <= 1000:
            raise InputError(what, f"{value:g} is not a sensible size")
    _, rows = read_table(paths.qc_table(args.out, "strains"))
    fig = qc_figure.qc_figure(qc_figure.from_table(rows), (args.call_rate_min, args.het_share_max,
                                                           args.error_rate_max), args.width, dpi=args.dpi)
    written(draw.save(fig, prefix(args.output) if args.output else paths.qc_figure(args.out)))


def main(argv=None) -> int:
    args = parser().parse_args(argv)
    commands = {"all": all_command, "strain": strain_command, "panel": panel_command,
                "track": track_command, "qc": qc_command}
    return run_command(lambda: commands[args.plot](args))


if __name__ == "__main__":
    sys.exit(main())

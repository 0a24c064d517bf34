"""The three founder plots, drawn with matplotlib (Agg, no display needed):
a strain's mosaic, a panel's mosaic, and one strain's probabilities along one
chromosome. Every figure has exactly the size asked for; `save` writes it as
PNG and SVG. The mosaics' bars are a few collections per axes, built from
arrays, and a mosaic's figure is laid out once to draw strain after strain
(StrainMosaic) or chromosome after chromosome (PanelMosaic).

Layout margins are fixed in inches, not fitted after drawing, so the drawing
area of a figure is known in advance and its pixels can be located. Labels
are measured with a renderer before they are placed: a panel mosaic's rows
get the largest font they hold (every k-th label where even the smallest
would touch), and a genome-wide mosaic's chromosome names and position ticks
are shortened, thinned or left out where they would run into their
neighbours'. A panel mosaic grows with its strains, each row at least
ROW_FLOOR inches high.
"""
import math
from dataclasses import dataclass
from typing import List, Optional, Sequence

import numpy as np
import matplotlib
matplotlib.use("Agg")
matplotlib.rcParams["text.parse_math"] = False  # names from the inputs are drawn as written: a $ starts no formula
# the SVG's element ids from a fixed salt, so that the same figure gives the same bytes
matplotlib.rcParams["svg.hashsalt"] = "tarvel"
from matplotlib import colors as mcolors  # noqa: E402
from matplotlib.backends.backend_agg import FigureCanvasAgg, RendererAgg  # noqa: E402
from matplotlib.collections import PolyCollection  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.font_manager import FontProperties  # noqa: E402
from matplotlib.patches import Patch  # noqa: E402
from matplotlib.path import Path  # noqa: E402

from tarvel_panel.atomic import AtomicFile  # noqa: E402
from tarvel_panel.errors import InputError  # noqa: E402
from tarvel_panel.pairs import FOUNDERS, NPAIRS, pair_names  # noqa: E402
from tarvel_panel.collect.derive import founder_probs  # noqa: E402
from tarvel_panel.figures.painting import Segments, boundaries, top_pair_changes  # noqa: E402

# the founders' usual colours in plots of eight-founder panels, A..H
DEFAULT_COLORS = ["#F0E442", "#555555", "#F08080", "#0064C9",
                  "#7FDBFF", "#2ECC40", "#FF4136", "#B10DC9"]
LOW_HATCH = "////"
LOW_FADE = 0.55          # share of white mixed into a low-confidence colour
LOW_EDGE = "#666666"     # colour of the hatch
OUTLINE = "#333333"
FONT = 9
# titles sit right above their axes (matplotlib would otherwise look for ticks to avoid at every draw)
TITLE_Y = 1.0
BAR_HEIGHT, BAR_GAP = 0.36, 0.03     # of one copy's bar, and between the two, in rows
# a figure with more segments than this keeps them as images in the SVG
RASTER_SEGMENTS = 50_000
# a panel mosaic's rows: ROW inches each up to ROWS / ROW strains, thinner for
# more strains so that the figure grows more slowly, but never below ROW_FLOOR
# (10 pt: a strain's name in 9 pt and two bars of 5 pixels at 100 dpi)
ROW, ROWS, ROW_FLOOR = 0.32, 32.0, 0.14
MIN_FONT = 6.0
LABEL_GAP = 0.45          # least space between two labels side by side, in their font's size
COLUMN_GAP = 0.06         # inches between the chromosomes of a genome-wide mosaic
MAX_TICKS = 8
MAX_PIXELS = 2 ** 16      # Agg draws images narrower and lower than this
# zlib level of the PNGs: level 6 (PIL's default) took a sixth of the plot
# step's time for files a quarter smaller
PNG_LEVEL = 1


@dataclass
class Painted:
    """One chromosome of one strain, painted: its segments and the stretch it spans."""
    chrom: str
    start: float
    end: float
    segments: Segments


def parse_colors(text: str, names: Sequence[str]) -> List[str]:
    """`A=#F0E442,B=...` (some founders, by name) or a list of eight colours."""
    chosen = list(DEFAULT_COLORS)
    items = [t.strip() for t in text.split(",") if t.strip()]
    if items and all("=" in t for t in items):
        for item in items:
            name, color = (s.strip() for s in item.split("=", 1))
            if name not in names:
                raise InputError("--colors", f"no founder {name!r} (founders: {', '.join(names)})")
            chosen[list(names).index(name)] = color
    elif len(items) == FOUNDERS and not any("=" in t for t in items):
        chosen = items
    else:
        raise InputError("--colors", "give NAME=COLOUR pairs or eight colours, comma-separated")
    for color in chosen:
        if not mcolors.is_color_like(color):
            raise InputError("--colors", f"{color!r} is not a colour")
    return chosen


def faded(color: str) -> tuple:
    r, g, b = mcolors.to_rgb(color)
    return tuple(c + (1 - c) * LOW_FADE for c in (r, g, b))


def _margins(fig: Figure, left: float, right: float, top: float, bottom: float, **kw) -> None:
    """Fixed margins in inches (the figure is not refitted after drawing)."""
    w, h = fig.get_size_inches()
    fig.subplots_adjust(left=min(left / w, 0.45), right=max(1 - right / w, 0.55),
                        top=max(1 - top / h, 0.55), bottom=min(bottom / h, 0.45), **kw)


class Measure:
    """Sizes of text in pixels at a figure's dpi, as the figure will draw it."""

    def __init__(self, dpi: float):
        self.renderer = RendererAgg(1, 1, dpi)
        self.dpi = dpi

    def size(self, text: str, points: float):
        """(width, height) of one line of text."""
        w, h, _ = self.renderer.get_text_width_height_descent(text, FontProperties(size=points), ismath=False)
        return w, h

    def width(self, text: str, points: float) -> float:
        return self.size(text, points)[0]

    def gap(self, points: float) -> float:
        return LABEL_GAP * points * self.dpi / 72


def _label_inches(labels: Sequence[str], measure: Measure) -> float:
    """Room left of the axes for row labels of FONT points."""
    return 0.3 + max((measure.width(s, FONT) for s in labels), default=0) / measure.dpi


def _legend_inches(names: Sequence[str], measure: Measure, threshold: float = 0.5) -> float:
    """Room right of the axes for the founders' legend (at least 1.5 inches)."""
    texts = [*names, f"top pair < {threshold:g}"]
    return max(1.5, 0.65 + max(measure.width(t, FONT - 1) for t in texts) / measure.dpi)


def row_inches(rows: int) -> float:
    """Height of one row of a panel mosaic of `rows` strains."""
    return min(ROW, max(ROW_FLOOR, ROWS / max(rows, 1)))


def fit_row_labels(ax, labels: Sequence[str], measure: Measure) -> None:
    """Row labels in the largest font (FONT down to MIN_FONT) whose lines
    keep apart; every k-th label where even the smallest would touch."""
    row_px = ax.get_position().height * ax.figure.bbox.height / max(len(labels), 1)
    glyphs = "".join(sorted(set("".join(labels)))) or "A"
    size = FONT
    while size > MIN_FONT and measure.size(glyphs, size)[1] + measure.gap(size) / 3 > row_px:
        size -= 0.5
    step = max(1, math.ceil((measure.size(glyphs, size)[1] + measure.gap(size) / 3) / max(row_px, 1e-9)))
    rows = range(0, len(labels), step)
    ax.set_yticks(list(rows))
    ax.set_yticklabels([labels[i] for i in rows], fontsize=size)


def column_rooms(axes, gap: float) -> List[tuple]:
    """(left, right) pixels each column's labels may take: its own width and
    half the space to its neighbours, less half of `gap` on either side."""
    width = axes[0].figure.bbox.width
    spans = [(ax.get_position().x0 * width, ax.get_position().x1 * width) for ax in axes]
    rooms = []
    for j, (x0, x1) in enumerate(spans):
        before = (spans[j - 1][1] + x0) / 2 if j else x0 - COLUMN_GAP * axes[0].figure.dpi / 2
        after = (x1 + spans[j + 1][0]) / 2 if j + 1 < len(spans) else x1 + COLUMN_GAP * axes[0].figure.dpi / 2
        rooms.append((before + gap / 2, after - gap / 2))
    return rooms


def _tick_extents(ax, ticks, labels, measure: Measure, size: float):
    """(left, right) pixels of each tick label; the first is set off from a
    tick at the column's start so that it begins there."""
    start = ax.get_xlim()[0]
    extents = []
    for k, (t, label) in enumerate(zip(ticks, labels)):
        x, w = ax.transData.transform((t, 0))[0], measure.width(label, size)
        extents.append((x, x + w) if k == 0 and t == start else (x - w / 2, x + w / 2))
    return extents


def _spaced(extents, gap: float) -> bool:
    return all(extents[k + 1][0] - extents[k][1] >= gap for k in range(len(extents) - 1))


def tick_steps(lo: float, hi: float) -> List[float]:
    """Round steps (1, 2, 2.5, 5 times a power of ten) from the one giving
    about MAX_TICKS ticks between lo and hi up to the whole span."""
    span = hi - lo
    if not span > 0:
        return []
    least = span / MAX_TICKS
    first = math.floor(math.log10(least))
    return [m * 10.0 ** e for e in range(first, first + 3 + int(math.log10(MAX_TICKS)))
            for m in (1, 2, 2.5, 5) if least <= m * 10.0 ** e <= span]


def fit_ticks(ax, room, measure: Measure, size: float = FONT) -> None:
    """The closest round position ticks (about MAX_TICKS at most) whose
    labels lie in the column's room and keep apart; the start alone where no
    two do, none where not even that fits."""
    lo, hi = ax.get_xlim()
    gap = measure.gap(size)
    chosen = []
    for step in tick_steps(lo, hi):
        ticks = [k * step for k in range(math.ceil(lo / step - 1e-9), math.floor(hi / step + 1e-9) + 1)]
        labels = [f"{t:g}" for t in ticks]
        extents = _tick_extents(ax, ticks, labels, measure, size)
        inside = [k for k, (a, b) in enumerate(extents) if room[0] <= a and b <= room[1]]
        if len(inside) > 1 and _spaced([extents[k] for k in inside], gap):
            chosen = [(ticks[k], labels[k]) for k in inside]
            break
    if not chosen:
        (a, b), = _tick_extents(ax, [lo], [f"{lo:g}"], measure, size)
        chosen = [(lo, f"{lo:g}")] if room[0] <= a and b <= room[1] else []
    ax.set_xticks([t for t, _ in chosen], [label for _, label in chosen], fontsize=size)
    for k, tick in enumerate(ax.xaxis.get_major_ticks(len(chosen))):
        tick.label1.set_horizontalalignment("left" if k == 0 and chosen[0][0] == lo else "center")


def column_labels(names: Sequence[str], rooms, measure: Measure, width: float,
                  size: float = FONT) -> List[str]:
    """Each column's title: `chr NAME` where every one fits its room, else the
    bare names, thinned from the left where they would overlap or leave the
    figure, `width` pixels wide ("" for a column left without)."""
    for shown in ([f"chr {n}" for n in names], [str(n) for n in names]):
        widths = [measure.width(s, size) for s in shown]
        if all(w <= b - a for w, (a, b) in zip(widths, rooms)):
            return shown
    titles, last = [], -math.inf
    gap = measure.gap(size)
    for name, w, (a, b) in zip(shown, widths, rooms):
        centre = (a + b) / 2
        if centre - w / 2 >= max(last + gap, 0) and centre + w / 2 <= width:
            titles.append(name)
            last = centre + w / 2
        else:
            titles.append("")
    return titles


def _boxes(x0, x1, y0, y1) -> np.ndarray:
    """Corners [n, 4, 2] of rectangles, in the order matplotlib's bars have them."""
    return np.stack([np.stack(c, axis=-1) for c in ((x0, y0), (x0, y1), (x1, y1), (x1, y0))], axis=1)


BOX_CODES = np.array([Path.MOVETO] + [Path.LINETO] * 3 + [Path.CLOSEPOLY], dtype=Path.code_type)


def _outlines(boxes: np.ndarray):
    """Boxes [n, 4, 2] as the vertices and codes of one compound path."""
    verts = np.concatenate([boxes, boxes[:, :1]], axis=1).reshape(-1, 2)
    return verts, np.tile(BOX_CODES, len(boxes))


class MosaicBars:
    """The painted bars of one axes as four collections: the confident
    segments, the low-confidence ones (faded), one hatch over all of those
    (hatching them one by one takes Agg half a millisecond each) and the
    outline of every row's chromosome. The segments are one compound path
    per colour, not one path each: a renderer's cost is per path, in the
    SVG above all (one element each). The outlines stay one path per row:
    where rows are thinner than their lines, a path's own lines would not
    darken each other as two paths' do. Painting new rows replaces their
    contents, so one axes can show strain after strain."""

    def __init__(self, ax, colors: Sequence[str]):
        self.colors = mcolors.to_rgba_array(colors)
        self.faded = mcolors.to_rgba_array([faded(c) for c in colors])
        empty = np.zeros((0, 4, 2))
        self.sure = PolyCollection(empty, edgecolors="none", linewidths=0)
        self.low = PolyCollection(empty, edgecolors="none", linewidths=0)
        self.hatch = PolyCollection(empty, facecolors="none", edgecolors=LOW_EDGE, linewidths=0, hatch=LOW_HATCH)
        self.frames = PolyCollection(empty, facecolors="none", edgecolors=OUTLINE, linewidths=0.5)
        for collection in (self.sure, self.low, self.hatch, self.frames):
            ax.add_collection(collection, autolim=False)
        # Agg snaps a path of boxes to whole pixels only while it is short
        # (1,024 vertices): these are long, and are to look as one box each did
        for collection in (self.sure, self.low):
            collection.set_snap(True)

    @staticmethod
    def _fill(collection, boxes, founder, palette) -> None:
        """One path per founder present, in its colour."""
        present = np.unique(founder)
        paths = [_outlines(boxes[founder == f]) for f in present]
        collection.set_verts_and_codes([v for v, _ in paths], [c for _, c in paths])
        collection.set_facecolor(palette[present])

    @staticmethod
    def _single(collection, boxes) -> None:
        """All the boxes as one path."""
        verts, codes = _outlines(boxes)
        collection.set_verts_and_codes([verts] if len(boxes) else [], [codes] if len(boxes) else [])

    def paint(self, rows: Sequence[Painted], rasterized: Optional[bool] = None) -> int:
        """Row i (counted downwards) shows rows[i]: copy 1 above copy 2.
        Kept as an image in the SVG where `rasterized` (default: more than
        RASTER_SEGMENTS segments). Returns the number of segments."""
        segs = [r.segments for r in rows]
        row = np.concatenate([np.full(len(s), i) for i, s in enumerate(segs)])
        copy, founder, low, start, end = (np.concatenate([getattr(s, f) for s in segs])
                                          for f in ("copy", "founder", "low", "start", "end"))
        top = row + np.where(copy == 1, -BAR_GAP / 2 - BAR_HEIGHT, BAR_GAP / 2)
        boxes = _boxes(start, end, top, top + BAR_HEIGHT)
        for collection, chosen, palette in ((self.sure, ~low, self.colors), (self.low, low, self.faded)):
            self._fill(collection, boxes[chosen], founder[chosen], palette)
        self._single(self.hatch, boxes[low])
        for collection in (self.sure, self.low, self.hatch):
            collection.set_rasterized(len(boxes) > RASTER_SEGMENTS if rasterized is None else rasterized)
        top = np.arange(len(rows)) - BAR_GAP / 2 - BAR_HEIGHT
        self.frames.set_verts(_boxes(np.array([r.start for r in rows]), np.array([r.end for r in rows]),
                                     top, top + 2 * BAR_HEIGHT + BAR_GAP))
        return len(boxes)


def legend_handles(names: Sequence[str], colors: Sequence[str], threshold: float):
    handles = [Patch(facecolor=c, edgecolor=OUTLINE, linewidth=0.5, label=n)
               for n, c in zip(names, colors)]
    handles.append(Patch(facecolor=faded("#999999"), edgecolor=LOW_EDGE, hatch=LOW_HATCH,
                         linewidth=0, label=f"top pair < {threshold:g}"))
    return handles


def _legend(ax, names, colors, threshold, x: float) -> None:
    ax.legend(handles=legend_handles(names, colors, threshold), loc="upper left",
              bbox_to_anchor=(x, 1.0), fontsize=FONT - 1, frameon=False, title="founder",
              title_fontsize=FONT - 1)


def _mosaic_axes(ax, rows: int, span) -> None:
    """An axes of `rows` bars, the first at the top, without row labels."""
    ax.set_xlim(*span)
    ax.set_ylim(rows - 0.5, -0.5)
    ax.set_yticks([])
    for side in ("top", "right", "left"):
        ax.spines[side].set_visible(False)
    ax.tick_params(axis="y", length=0)


class StrainMosaic:
    """One strain's mosaic: every chromosome a bar to scale, its two copies
    painted. The figure is laid out once from `chromosomes` (any strain's
    painting: every strain spans the same markers) and draws strain after strain."""

    def __init__(self, chromosomes: Sequence[Painted], names, colors, unit: str, threshold: float,
                 width: float, height: Optional[float] = None, dpi: float = 100):
        labels = [c.chrom for c in chromosomes]
        height = height or max(2.6, 1.2 + 0.42 * len(labels))
        self.fig = Figure(figsize=(width, height), dpi=dpi)
        measure = Measure(dpi)
        _margins(self.fig, left=_label_inches(labels, measure) + 0.35,
                 right=_legend_inches(names, measure, threshold), top=0.45, bottom=0.5)
        ax = self.fig.add_subplot()
        self.bars = MosaicBars(ax, colors)
        _mosaic_axes(ax, len(labels), (min(0.0, min(c.start for c in chromosomes)),
                                  max(c.end for c in chromosomes) * 1.01))
        fit_row_labels(ax, labels, measure)
        fit_ticks(ax, column_rooms([ax], measure.gap(FONT))[0], measure)
        ax.set_ylabel("chromosome", fontsize=FONT)
        self.measure, self.unit, self.ax = measure, unit, ax
        self.note = ax.set_title("", fontsize=FONT - 1, loc="right", y=TITLE_Y)
        self.title = ax.set_title("", fontsize=FONT + 2, loc="left", y=TITLE_Y)
        _legend(ax, names, colors, threshold, 1.01)

    def draw(self, strain: str, chromosomes: Sequence[Painted]) -> Figure:
        """The note on the copies goes above the bars, or below them where
        the strain's name leaves no room for it."""
        self.title.set_text(strain)
        note = "copy 1 above copy 2"
        room = self.ax.get_position().width * self.fig.bbox.width - self.measure.gap(FONT)
        above = self.measure.width(strain, FONT + 2) + self.measure.width(note, FONT - 1) <= room
        self.note.set_text(note if above else "")
        self.ax.set_xlabel(f"position ({self.unit})" + ("" if above else f"; {note}"), fontsize=FONT)
        self.bars.paint(chromosomes)
        return self.fig


def strain_mosaic(strain: str, chromosomes: Sequence[Painted], names, colors, unit: str,
                  threshold: float, width: float, height: Optional[float] = None,
                  dpi: float = 100) -> Figure:
    return StrainMosaic(chromosomes, names, colors, unit, threshold, width, height, dpi) \
        .draw(strain, chromosomes)


def panel_height(strains: int) -> float:
    """A panel mosaic's default height in inches."""
    return max(2.6, 1.3 + strains * row_inches(strains))


class PanelMosaic:
    """Every strain a row; one column per chromosome, `widths` their relative
    widths. A figure of one column draws chromosome after chromosome."""

    def __init__(self, strains: Sequence[str], widths: Sequence[float], names, colors, unit: str,
                 threshold: float, width: float, height: Optional[float] = None, dpi: float = 100):
        height = height or panel_height(len(strains))
        if height * dpi >= MAX_PIXELS:
            raise InputError("--height", f"{len(strains)} strains make a figure {height * dpi:.0f} pixels "
                             f"high, more than an image can hold ({MAX_PIXELS - 1}): give --height or a lower --dpi")
        self.fig = Figure(figsize=(width, height), dpi=dpi)
        self.measure = Measure(dpi)
        left, right = _label_inches(strains, self.measure), _legend_inches(names, self.measure, threshold)
        area = max(width * 0.1, width - left - right)
        column = max(area - COLUMN_GAP * (len(widths) - 1), area / 2) / len(widths)
        _margins(self.fig, left=left, right=right, top=0.55, bottom=0.5, wspace=COLUMN_GAP / column)
        # the row labels are the first column's ticks only: ticks are costly
        self.axes = self.fig.subplots(1, len(widths), squeeze=False,
                                      gridspec_kw={"width_ratios": list(widths)})[0]
        self.bars = [MosaicBars(ax, colors) for ax in self.axes]
        for ax in self.axes:
            _mosaic_axes(ax, len(strains), (0, 1))
        fit_row_labels(self.axes[0], strains, self.measure)
        self.rooms = column_rooms(self.axes, self.measure.gap(FONT))
        self.titles = [ax.set_title("", fontsize=FONT, y=TITLE_Y) for ax in self.axes]
        self.unit = unit
        self.xlabel = self.fig.supxlabel(f"position ({unit})", fontsize=FONT, y=0.1 / height)
        _legend(self.axes[-1], names, colors, threshold, 1.02)

    def draw(self, chromosomes: Sequence[str], painted: Sequence[Sequence[Painted]]) -> Figure:
        """painted[i][j] is strain i on chromosome j."""
        ends = [max(p[j].end for p in painted) for j in range(len(chromosomes))]
        starts = [min(0.0, min(p[j].start for p in painted)) for j in range(len(chromosomes))]
        titles = column_labels(chromosomes, self.rooms, self.measure, self.fig.bbox.width)
        rasterized = sum(len(p[j].segments) for p in painted for j in range(len(chromosomes))) > RASTER_SEGMENTS
        for j, ax in enumerate(self.axes):
            ax.set_xlim(starts[j], ends[j] * 1.01 if ends[j] > starts[j] else starts[j] + 1)
            self.titles[j].set_text(titles[j])
            fit_ticks(ax, self.rooms[j], self.measure)
            self.bars[j].paint([p[j] for p in painted], rasterized)
        if len(self.axes) > 1 and min(len(ax.get_xticks()) for ax in self.axes) < 2:
            self.chromosome_ticks(titles)
        return self.fig

    def chromosome_ticks(self, labels: Sequence[str]) -> None:
        """Where some column is too narrow for two position ticks (a genome
        of many chromosomes): each column's axis says which chromosome it is
        instead, a tick at either end and its name at its middle."""
        for ax, label, title in zip(self.axes, labels, self.titles):
            lo, hi = ax.get_xlim()
            ax.set_xticks([(lo + hi) / 2], [label], fontsize=FONT)
            ax.set_xticks([lo, hi], minor=True)
            ax.tick_params(axis="x", which="major", length=0)
            ax.tick_params(axis="x", which="minor", length=3.5)
            title.set_text("")
        self.xlabel.set_text(f"chromosome (each as wide as it is long, in {self.unit})")


def panel_widths(painted: Sequence[Sequence[Painted]]) -> List[float]:
    """Each chromosome's column width: its length, from 0 or its first marker."""
    return [max(p[j].end for p in painted) - min(0.0, min(p[j].start for p in painted)) or 1
            for j in range(len(painted[0]))]


def panel_mosaic(strains: Sequence[str], chromosomes: Sequence[str],
                 painted: Sequence[Sequence[Painted]], names, colors, unit: str,
                 threshold: float, width: float, height: Optional[float] = None,
                 dpi: float = 100) -> Figure:
    """painted[i][j] is strain i on chromosome j."""
    return PanelMosaic(strains, panel_widths(painted), names, colors, unit, threshold, width,
                       height, dpi).draw(chromosomes, painted)


def _pair_labels(ax, names, fig) -> None:
    """The 36 pair names, every k-th one where rows are too thin for all."""
    row_pt = ax.get_position().height * fig.get_size_inches()[1] * 72 / NPAIRS
    size = max(5.0, min(FONT - 2, row_pt / 1.2))
    step = math.ceil(1.2 * size / row_pt - 1e-9)
    rows = list(range(0, NPAIRS, step))
    ax.set_yticks([k + 0.5 for k in rows])
    ax.set_yticklabels([pair_names(names)[k] for k in rows], fontsize=size)


def probability_track(strain: str, chrom: str, positions, probs, names, colors, unit: str,
                      width: float, height: float, dpi: float = 100) -> Figure:
    """Founder probabilities stacked along the chromosome, the 36 pair
    values [markers, 36] as a heat map below, a line wherever the most
    probable pair changes."""
    positions, probs = np.asarray(positions, dtype=float), np.asarray(probs, dtype=float)
    fig = Figure(figsize=(width, height), dpi=dpi)
    _margins(fig, left=0.75, right=_legend_inches(names, Measure(dpi)), top=0.45, bottom=0.5, hspace=0.08)
    top, heat = fig.subplots(2, 1, sharex=True, gridspec_kw={"height_ratios": [1, 2]})
    top.stackplot(positions, founder_probs(np.asarray(probs, dtype=np.float64)).T, colors=colors, labels=names, linewidth=0)
    top.set_ylim(0, 1)
    top.set_ylabel("founder", fontsize=FONT)
    top.set_title(f"{strain}, chromosome {chrom}" if chrom else strain, fontsize=FONT + 2, loc="left")
    top.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=FONT - 1, frameon=False)
    mesh = heat.pcolormesh(boundaries(positions), range(NPAIRS + 1), probs.T, cmap="viridis",
                           vmin=0, vmax=max(1.0, probs.max()), shading="flat", rasterized=True)
    heat.set_ylim(NPAIRS, 0)
    _pair_labels(heat, names, fig)
    heat.set_ylabel("founder pair", fontsize=FONT)
    heat.set_xlabel(f"position ({unit})", fontsize=FONT)
    heat.set_xlim(positions[0], positions[-1] if positions[-1] > positions[0] else positions[0] + 1)
    for x in top_pair_changes(positions, probs):
        top.axvline(x, color="black", linewidth=0.6, alpha=0.7)
        heat.axvline(x, color="white", linewidth=0.6, alpha=0.7)
    box = heat.get_position()
    cax = fig.add_axes([box.x1 + 0.15 / width, box.y0, 0.12 / width, box.height * 0.8])
    bar = fig.colorbar(mesh, cax=cax)
    bar.set_label("pair probability", fontsize=FONT - 1)
    bar.ax.tick_params(labelsize=FONT - 2)
    for ax in (top, heat):
        ax.tick_params(labelsize=FONT - 1)
    return fig


def save(fig: Figure, prefix: str) -> List[str]:
    """Write PREFIX.png and PREFIX.svg; both appear only once both are complete."""
    paths = [f"{prefix}.png", f"{prefix}.svg"]
    # the figure's own Agg canvas keeps its renderer from one PNG to the next,
    # and with it the sizes of texts already measured (a figure drawn for
    # strain after strain measures its labels once)
    if not isinstance(fig.canvas, FigureCanvasAgg):
        FigureCanvasAgg(fig)
    with AtomicFile(paths[0], binary=True) as png, AtomicFile(paths[1], binary=True) as svg:
        fig.savefig(png, format="png", dpi=fig.dpi, pil_kwargs={"compress_level": PNG_LEVEL})
        fig.savefig(svg, format="svg", dpi=fig.dpi, metadata={"Date": None})
    return paths

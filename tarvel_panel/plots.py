"""The three founder plots, drawn with matplotlib (Agg, no display needed):
a strain's mosaic, a panel's mosaic, and one strain's probabilities along one
chromosome. Every figure has exactly the size asked for; `save` writes it as
PNG and SVG. The mosaics' bars are a few collections per axes, built from
arrays, and a mosaic's figure is laid out once to draw strain after strain
(StrainMosaic) or chromosome after chromosome (PanelMosaic).

Layout margins are fixed in inches, not fitted after drawing, so the drawing
area of a figure is known in advance and its pixels can be located.
"""
import math
from dataclasses import dataclass
from typing import List, Optional, Sequence

import numpy as np
import matplotlib
matplotlib.use("Agg")
matplotlib.rcParams["text.parse_math"] = False  # names from the inputs are drawn as written: a $ starts no formula
from matplotlib import colors as mcolors  # noqa: E402
from matplotlib.collections import PolyCollection  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.patches import Patch  # noqa: E402
from matplotlib.ticker import MaxNLocator  # noqa: E402

from .atomic import AtomicFile  # noqa: E402
from .errors import InputError  # noqa: E402
from .happy import FOUNDERS, NPAIRS, pair_names  # noqa: E402
from .painting import Segments, boundaries, founder_probs, top_pair_changes  # noqa: E402

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
# an axes with more segments than this keeps them as one image in the SVG
RASTER_SEGMENTS = 50_000


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


def _label_inches(labels: Sequence[str]) -> float:
    return 0.25 + 0.075 * max((len(s) for s in labels), default=1)


def _boxes(x0, x1, y0, y1) -> np.ndarray:
    """Corners [n, 4, 2] of rectangles, in the order matplotlib's bars have them."""
    return np.stack([np.stack(c, axis=-1) for c in ((x0, y0), (x0, y1), (x1, y1), (x1, y0))], axis=1)


class MosaicBars:
    """The painted bars of one axes as three collections: the confident
    segments, the low-confidence ones (faded, hatched) and the outline of every
    row's chromosome. Painting new rows replaces their contents, so one axes
    can show strain after strain."""

    def __init__(self, ax, colors: Sequence[str]):
        self.colors = mcolors.to_rgba_array(colors)
        self.faded = mcolors.to_rgba_array([faded(c) for c in colors])
        empty = np.zeros((0, 4, 2))
        self.sure = PolyCollection(empty, edgecolors="none", linewidths=0)
        self.low = PolyCollection(empty, edgecolors=LOW_EDGE, linewidths=0, hatch=LOW_HATCH)
        self.frames = PolyCollection(empty, facecolors="none", edgecolors=OUTLINE, linewidths=0.5)
        for collection in (self.sure, self.low, self.frames):
            ax.add_collection(collection, autolim=False)

    def paint(self, rows: Sequence[Painted]) -> None:
        """Row i (counted downwards) shows rows[i]: copy 1 above copy 2."""
        segs = [r.segments for r in rows]
        row = np.concatenate([np.full(len(s), i) for i, s in enumerate(segs)])
        copy, founder, low, start, end = (np.concatenate([getattr(s, f) for s in segs])
                                          for f in ("copy", "founder", "low", "start", "end"))
        top = row + np.where(copy == 1, -BAR_GAP / 2 - BAR_HEIGHT, BAR_GAP / 2)
        boxes = _boxes(start, end, top, top + BAR_HEIGHT)
        for collection, chosen, palette in ((self.sure, ~low, self.colors), (self.low, low, self.faded)):
            collection.set_verts(boxes[chosen])
            collection.set_facecolor(palette[founder[chosen]])
            collection.set_rasterized(len(boxes) > RASTER_SEGMENTS)
        top = np.arange(len(rows)) - BAR_GAP / 2 - BAR_HEIGHT
        self.frames.set_verts(_boxes(np.array([r.start for r in rows]), np.array([r.end for r in rows]),
                                     top, top + 2 * BAR_HEIGHT + BAR_GAP))


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


def _mosaic_axes(ax, row_labels: Sequence[str], span) -> None:
    ax.set_xlim(*span)
    ax.set_ylim(len(row_labels) - 0.5, -0.5)
    ax.set_yticks(range(len(row_labels)))
    ax.set_yticklabels(row_labels, fontsize=FONT)
    ax.tick_params(axis="x", labelsize=FONT)
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
        _margins(self.fig, left=_label_inches(labels) + 0.35, right=1.5, top=0.45, bottom=0.5)
        ax = self.fig.add_subplot()
        self.bars = MosaicBars(ax, colors)
        _mosaic_axes(ax, labels, (min(0.0, min(c.start for c in chromosomes)),
                                  max(c.end for c in chromosomes) * 1.01))
        ax.set_ylabel("chromosome", fontsize=FONT)
        ax.set_title("copy 1 above copy 2", fontsize=FONT - 1, loc="right", y=TITLE_Y)
        ax.set_xlabel(f"position ({unit})", fontsize=FONT)
        self.title = ax.set_title("", fontsize=FONT + 2, loc="left", y=TITLE_Y)
        _legend(ax, names, colors, threshold, 1.01)

    def draw(self, strain: str, chromosomes: Sequence[Painted]) -> Figure:
        self.title.set_text(strain)
        self.bars.paint(chromosomes)
        return self.fig


def strain_mosaic(strain: str, chromosomes: Sequence[Painted], names, colors, unit: str,
                  threshold: float, width: float, height: Optional[float] = None,
                  dpi: float = 100) -> Figure:
    return StrainMosaic(chromosomes, names, colors, unit, threshold, width, height, dpi) \
        .draw(strain, chromosomes)


class PanelMosaic:
    """Every strain a row; one column per chromosome, `widths` their relative
    widths. A figure of one column draws chromosome after chromosome."""

    def __init__(self, strains: Sequence[str], widths: Sequence[float], names, colors, unit: str,
                 threshold: float, width: float, height: Optional[float] = None, dpi: float = 100):
        height = height or max(2.6, 1.3 + 0.32 * len(strains))
        self.fig = Figure(figsize=(width, height), dpi=dpi)
        _margins(self.fig, left=_label_inches(strains), right=1.5, top=0.55, bottom=0.5, wspace=0.04)
        self.axes = self.fig.subplots(1, len(widths), sharey=True, squeeze=False,
                                      gridspec_kw={"width_ratios": list(widths)})[0]
        self.bars = [MosaicBars(ax, colors) for ax in self.axes]
        for ax in self.axes:
            _mosaic_axes(ax, strains, (0, 1))
        self.titles = [ax.set_title("", fontsize=FONT, y=TITLE_Y) for ax in self.axes]
        self.fig.supxlabel(f"position ({unit})", fontsize=FONT, y=0.1 / height)
        _legend(self.axes[-1], names, colors, threshold, 1.02)

    def draw(self, chromosomes: Sequence[str], painted: Sequence[Sequence[Painted]]) -> Figure:
        """painted[i][j] is strain i on chromosome j."""
        ends = [max(p[j].end for p in painted) for j in range(len(chromosomes))]
        starts = [min(0.0, min(p[j].start for p in painted)) for j in range(len(chromosomes))]
        for j, ax in enumerate(self.axes):
            ax.set_xlim(starts[j], ends[j] * 1.01)
            self.titles[j].set_text(f"chr {chromosomes[j]}")
            ax.xaxis.set_major_locator(MaxNLocator(nbins=max(2, int(8 * (ends[j] - starts[j]) / sum(ends)))))
            self.bars[j].paint([p[j] for p in painted])
        return self.fig


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
    _margins(fig, left=0.75, right=1.5, top=0.45, bottom=0.5, hspace=0.08)
    top, heat = fig.subplots(2, 1, sharex=True, gridspec_kw={"height_ratios": [1, 2]})
    top.stackplot(positions, founder_probs(probs).T, colors=colors, labels=names, linewidth=0)
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
    with AtomicFile(paths[0], binary=True) as png, AtomicFile(paths[1], binary=True) as svg:
        fig.savefig(png, format="png", dpi=fig.dpi)
        fig.savefig(svg, format="svg", dpi=fig.dpi, metadata={"Date": None})
    return paths

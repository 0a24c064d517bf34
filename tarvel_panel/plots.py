"""The three founder plots, drawn with matplotlib (Agg, no display needed):
a strain's mosaic, a panel's mosaic, and one strain's probabilities along one
chromosome. Every function returns a Figure of exactly the size asked for;
`save` writes it as PNG and SVG.

Layout margins are fixed in inches, not fitted after drawing, so the drawing
area of a figure is known in advance and its pixels can be located.
"""
import math
import os
from dataclasses import dataclass
from typing import List, Optional, Sequence

import matplotlib
matplotlib.use("Agg")
from matplotlib import colors as mcolors  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402
from matplotlib.patches import Patch, Rectangle  # noqa: E402
from matplotlib.ticker import MaxNLocator  # noqa: E402

from .errors import InputError  # noqa: E402
from .painting import (FOUNDERS, PAIRS, Segment, boundaries, founder_probs,  # noqa: E402
                       pair_founders, top_pair_changes)

# the founders' usual colours in plots of eight-founder panels, A..H
DEFAULT_COLORS = ["#F0E442", "#555555", "#F08080", "#0064C9",
                  "#7FDBFF", "#2ECC40", "#FF4136", "#B10DC9"]
LOW_HATCH = "////"
LOW_FADE = 0.55          # share of white mixed into a low-confidence colour
OUTLINE = "#333333"
FONT = 9


@dataclass
class Painted:
    """One chromosome of one strain, painted."""
    chrom: str
    start: float
    end: float
    segments: List[Segment]


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


def draw_copies(ax, painted: Painted, row: float, colors: Sequence[str]) -> None:
    """Two thin bars at `row`: copy 1 above copy 2 (the y axis points down)."""
    height, gap = 0.36, 0.03
    tops = {1: row - gap / 2 - height, 2: row + gap / 2}
    for copy in (1, 2):
        for low in (False, True):
            segs = [s for s in painted.segments if s.copy == copy and s.low == low]
            if not segs:
                continue
            face = [faded(colors[s.founder]) if low else colors[s.founder] for s in segs]
            ax.broken_barh([(s.start, s.end - s.start) for s in segs], (tops[copy], height),
                           facecolors=face, edgecolor="#666666" if low else "none",
                           linewidth=0, hatch=LOW_HATCH if low else None)
    ax.add_patch(Rectangle((painted.start, tops[1]), painted.end - painted.start,
                           2 * height + gap, fill=False, edgecolor=OUTLINE, linewidth=0.5))


def legend_handles(names: Sequence[str], colors: Sequence[str], threshold: float):
    handles = [Patch(facecolor=c, edgecolor=OUTLINE, linewidth=0.5, label=n)
               for n, c in zip(names, colors)]
    handles.append(Patch(facecolor=faded("#999999"), edgecolor="#666666", hatch=LOW_HATCH,
                         linewidth=0, label=f"top pair < {threshold:g}"))
    return handles


def _mosaic_axes(ax, rows: Sequence[Sequence[Painted]], row_labels, colors, span) -> None:
    for i, row in enumerate(rows):
        for painted in row:
            draw_copies(ax, painted, i, colors)
    ax.set_xlim(*span)
    ax.set_ylim(len(rows) - 0.5, -0.5)
    ax.set_yticks(range(len(rows)))
    ax.set_yticklabels(row_labels, fontsize=FONT)
    ax.tick_params(axis="x", labelsize=FONT)
    for side in ("top", "right", "left"):
        ax.spines[side].set_visible(False)
    ax.tick_params(axis="y", length=0)


def strain_mosaic(strain: str, chromosomes: Sequence[Painted], names, colors, unit: str,
                  threshold: float, width: float, height: Optional[float] = None,
                  dpi: float = 100) -> Figure:
    """One strain, every chromosome a bar to scale, its two copies painted."""
    height = height or max(2.6, 1.2 + 0.42 * len(chromosomes))
    fig = Figure(figsize=(width, height), dpi=dpi)
    _margins(fig, left=_label_inches([c.chrom for c in chromosomes]) + 0.35, right=1.5,
             top=0.45, bottom=0.5)
    ax = fig.add_subplot()
    longest = max(c.end for c in chromosomes)
    _mosaic_axes(ax, [[c] for c in chromosomes], [c.chrom for c in chromosomes], colors,
                 (min(0.0, min(c.start for c in chromosomes)), longest * 1.01))
    ax.set_ylabel("chromosome", fontsize=FONT)
    ax.set_title("copy 1 above copy 2", fontsize=FONT - 1, loc="right")
    ax.set_xlabel(f"position ({unit})", fontsize=FONT)
    ax.set_title(strain, fontsize=FONT + 2, loc="left")
    ax.legend(handles=legend_handles(names, colors, threshold), loc="upper left",
              bbox_to_anchor=(1.01, 1.0), fontsize=FONT - 1, frameon=False, title="founder",
              title_fontsize=FONT - 1)
    return fig


def panel_mosaic(strains: Sequence[str], chromosomes: Sequence[str],
                 painted: Sequence[Sequence[Painted]], names, colors, unit: str,
                 threshold: float, width: float, height: Optional[float] = None,
                 dpi: float = 100) -> Figure:
    """Every strain a row; one column per chromosome, widths to scale.

    painted[i][j] is strain i on chromosome j.
    """
    height = height or max(2.6, 1.3 + 0.32 * len(strains))
    fig = Figure(figsize=(width, height), dpi=dpi)
    ends = [max(p[j].end for p in painted) for j in range(len(chromosomes))]
    starts = [min(0.0, min(p[j].start for p in painted)) for j in range(len(chromosomes))]
    _margins(fig, left=_label_inches(strains), right=1.5, top=0.55, bottom=0.5, wspace=0.04)
    axes = fig.subplots(1, len(chromosomes), sharey=True, squeeze=False,
                        gridspec_kw={"width_ratios": [e - s or 1 for s, e in zip(starts, ends)]})[0]
    for j, ax in enumerate(axes):
        _mosaic_axes(ax, [[p[j]] for p in painted], strains, colors, (starts[j], ends[j] * 1.01))
        ax.set_title(f"chr {chromosomes[j]}", fontsize=FONT)
        ax.xaxis.set_major_locator(MaxNLocator(nbins=max(2, int(8 * (ends[j] - starts[j]) / sum(ends)))))
    fig.supxlabel(f"position ({unit})", fontsize=FONT, y=0.1 / height)
    axes[-1].legend(handles=legend_handles(names, colors, threshold), loc="upper left",
                    bbox_to_anchor=(1.02, 1.0), fontsize=FONT - 1, frameon=False,
                    title="founder", title_fontsize=FONT - 1)
    return fig


def pair_names(names: Sequence[str]) -> List[str]:
    sep = "" if all(len(n) == 1 for n in names) else "_"
    return [names[a] + sep + names[b] for a, b in (pair_founders(k) for k in range(PAIRS))]


def _pair_labels(ax, names, fig) -> None:
    """The 36 pair names, every k-th one where rows are too thin for all."""
    row_pt = ax.get_position().height * fig.get_size_inches()[1] * 72 / PAIRS
    size = max(5.0, min(FONT - 2, row_pt / 1.2))
    step = math.ceil(1.2 * size / row_pt - 1e-9)
    rows = list(range(0, PAIRS, step))
    ax.set_yticks([k + 0.5 for k in rows])
    ax.set_yticklabels([pair_names(names)[k] for k in rows], fontsize=size)


def probability_track(strain: str, chrom: str, positions: Sequence[float],
                      probs: Sequence[Sequence[float]], names, colors, unit: str,
                      width: float, height: float, dpi: float = 100) -> Figure:
    """Founder probabilities stacked along the chromosome, the 36 pair
    values as a heat map below, a line wherever the most probable pair changes."""
    fig = Figure(figsize=(width, height), dpi=dpi)
    _margins(fig, left=0.75, right=1.5, top=0.45, bottom=0.5, hspace=0.08)
    top, heat = fig.subplots(2, 1, sharex=True, gridspec_kw={"height_ratios": [1, 2]})
    shares = list(zip(*(founder_probs(v) for v in probs)))
    top.stackplot(positions, shares, colors=colors, labels=names, linewidth=0)
    top.set_ylim(0, 1)
    top.set_ylabel("founder", fontsize=FONT)
    top.set_title(f"{strain}, chromosome {chrom}" if chrom else strain, fontsize=FONT + 2, loc="left")
    top.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), fontsize=FONT - 1, frameon=False)
    columns = list(zip(*probs))
    vmax = max(1.0, max(max(c) for c in columns))
    mesh = heat.pcolormesh(boundaries(positions), range(PAIRS + 1), columns, cmap="viridis",
                           vmin=0, vmax=vmax, shading="flat", rasterized=True)
    heat.set_ylim(PAIRS, 0)
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
    """Write PREFIX.png and PREFIX.svg, each under a temporary name first."""
    folder = os.path.dirname(prefix) or "."
    os.makedirs(folder, exist_ok=True)
    done, temps = [], []
    try:
        for ext in ("png", "svg"):
            final = f"{prefix}.{ext}"
            temp = os.path.join(folder, f".{os.path.basename(final)}.{os.getpid()}.tmp")
            temps.append(temp)
            fig.savefig(temp, format=ext, dpi=fig.dpi,
                        metadata={"Date": None} if ext == "svg" else None)
            done.append((temp, final))
        for temp, final in done:
            os.replace(temp, final)
    finally:
        for temp in temps:
            if os.path.exists(temp):
                os.remove(temp)
    return [final for _, final in done]

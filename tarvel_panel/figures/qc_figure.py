"""The QC figure: per strain (in the panel's order) its call rate, the share
of its genome with a heterozygous most probable pair and its share of
genotyping-error candidates, each with its threshold dashed; flagged strains
stand out in red, named where there is room."""
from dataclasses import dataclass
from typing import List, Sequence

import numpy as np
from matplotlib.figure import Figure

from tarvel_panel.figures.draw import FONT

FLAGGED, CLEAN = "#D62728", "#4C72B0"
# strains named along the axis, all of them up to this many, else only flagged ones
NAMED = 80


@dataclass
class StrainFigures:
    names: List[str]
    call_rate: np.ndarray
    het_share: np.ndarray
    error_rate: np.ndarray
    flags: List[str]


def from_table(rows) -> StrainFigures:
    """From the rows (dicts) of qc/strains.tsv."""
    def column(name):
        return np.array([float(r[name]) if r[name] not in ("", "NA") else np.nan for r in rows])
    return StrainFigures([r["strain"] for r in rows], column("call_rate"), column("het_share"),
                         column("error_rate"), [r["flags"] for r in rows])


def qc_figure(data: StrainFigures, thresholds: Sequence[float], width=10.0, height=None, dpi=100.0) -> Figure:
    """thresholds: call rate minimum, heterozygous share maximum, error rate maximum."""
    n = len(data.names)
    flagged = np.array([bool(f) for f in data.flags], bool)
    named = list(range(n)) if n <= NAMED else np.flatnonzero(flagged)[:NAMED].tolist()
    longest = max((len(data.names[i]) for i in named), default=0)
    label_inches = 0.5 + min(longest, 40) * 0.075
    height = height or 5.5 + label_inches
    fig = Figure(figsize=(width, height), dpi=dpi)
    bottom = min(0.5, label_inches / height)
    fig.subplots_adjust(left=0.09, right=0.98, top=1 - 0.45 / height, bottom=bottom, hspace=0.12)
    axes = fig.subplots(3, 1, sharex=True)
    x = np.arange(n)
    panels = (("call rate", data.call_rate, thresholds[0]),
              ("heterozygous\nshare of genome", data.het_share, thresholds[1]),
              ("error candidates\n(share of checked calls)", data.error_rate, thresholds[2]))
    size = max(4.0, min(30.0, 3000.0 / max(n, 1)))
    for ax, (label, values, limit) in zip(axes, panels):
        ax.scatter(x[~flagged], values[~flagged], s=size, color=CLEAN, linewidths=0, label="not flagged")
        ax.scatter(x[flagged], values[flagged], s=size * 1.6, color=FLAGGED, marker="D", linewidths=0,
                   label="flagged")
        ax.axhline(limit, color="#555555", linestyle="--", linewidth=0.8)
        ax.set_ylabel(label, fontsize=FONT)
        ax.tick_params(labelsize=FONT - 1)
        ax.grid(axis="y", color="#dddddd", linewidth=0.5)
        ax.set_axisbelow(True)
        if ax is not axes[0]:       # shares of the genome and of calls, from 0
            top = max(np.nanmax(values, initial=0.0), limit) * 1.12 or 1.0
            ax.set_ylim(-0.04 * top, top)
    why = " (qc/flags.tsv tells why)" if flagged.any() else ""
    axes[0].set_title(f"strain QC: {n} strains, {int(flagged.sum())} flagged{why}", fontsize=FONT + 2, loc="left")
    axes[0].legend(loc="lower right", bbox_to_anchor=(1.0, 1.0), fontsize=FONT - 1, frameon=False, ncol=2,
                   borderaxespad=0.1)
    axes[-1].set_xlim(-0.5, max(n - 0.5, 0.5))
    axes[-1].set_xticks(named)
    axes[-1].set_xticklabels([data.names[i] for i in named], rotation=90, fontsize=max(5.0, FONT - n / 40))
    for tick, i in zip(axes[-1].get_xticklabels(), named):
        if flagged[i]:
            tick.set_color(FLAGGED)
    axes[-1].set_xlabel("strain" if n <= NAMED else "strain (flagged ones named)", fontsize=FONT)
    return fig

"""What the collect step derives from one strain's pair values along a
chromosome (a float64 array [markers, 36] in the HAPPY layout): the most
probable pair per marker, per-founder probabilities, the heterozygous sum,
runs of the same top pair and the summary figures. The engine writes the
first three itself when no output needs the pairs (its founder values,
native/engine/founder_values.h, summed in the same order as here).

Sums run in the order a plain Python loop over the markers and pairs takes,
so the six-digit texts made from them do not move with the vectorising."""
import numpy as np

from tarvel_panel.pairs import FOUNDERS, HETEROZYGOUS, PAIRS
from tarvel_panel.run.values_file import FOUNDER_VALUES


CONFIDENT = 0.9


def top_pairs(values):
    """(index of the most probable pair per marker, its value); ties go to the
    first pair in layout order."""
    tops = np.argmax(values, axis=1)
    return tops, values[np.arange(len(values)), tops]


def founder_probs(values):
    """[markers, 8]: P(aa) + 1/2 sum over b != a of P(ab), summed pair by pair
    in layout order."""
    probs = np.zeros((len(values), FOUNDERS))
    for k, (a, b) in enumerate(PAIRS):
        if a == b:
            probs[:, a - 1] += values[:, k]
        else:
            half = values[:, k] / 2
            probs[:, a - 1] += half
            probs[:, b - 1] += half
    return probs


def het_sums(values):
    """The heterozygous pairs' values summed per marker, in layout order."""
    het = np.zeros(len(values))
    for k in HETEROZYGOUS:
        het += values[:, k]
    return het


def strain_values(values):
    """(founder probabilities [markers, 8], top pair, its value, heterozygous
    sum, the pair values or None) of a values file's lines: pair values, or
    the engine's founder values."""
    if values.shape[1] == FOUNDER_VALUES:
        return values[:, :FOUNDERS], values[:, 8].astype(np.intp), values[:, 9], values[:, 10], None
    tops, top_probs = top_pairs(values)
    return founder_probs(values), tops, top_probs, het_sums(values), values


def runs(tops, top_probs):
    """[(first, last, pair, mean probability)] of consecutive markers with the
    same top pair (first and last are marker indexes)."""
    starts = np.flatnonzero(np.diff(tops)) + 1
    bounds = [0] + starts.tolist() + [len(tops)]
    probs = top_probs.tolist()
    return [(first, end - 1, int(tops[first]), sum(probs[first:end]) / (end - first))
            for first, end in zip(bounds[:-1], bounds[1:]) if end > first]


def summary(tops, top_probs, het):
    """(confident markers, mean heterozygous mass, switches of the top pair);
    `het`: the heterozygous sum per marker."""
    n = len(tops)
    confident = int(np.count_nonzero(top_probs > CONFIDENT))
    mean_het = sum(het.tolist()) / n if n else 0.0
    switches = int(np.count_nonzero(np.diff(tops)))
    return confident, mean_het, switches

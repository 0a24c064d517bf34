"""What the collect step derives from one strain's pair values along a
chromosome (a float64 array [markers, 36] in the HAPPY layout): the most
probable pair per marker, per-founder probabilities, runs of the same top pair
and the summary figures.

Sums run in the order a plain Python loop over the markers and pairs takes,
so the six-digit texts made from them do not move with the vectorising."""
import numpy as np

from tarvel_panel.pairs import FOUNDERS, HETEROZYGOUS, PAIRS


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


def runs(tops, top_probs):
    """[(first, last, pair, mean probability)] of consecutive markers with the
    same top pair (first and last are marker indexes)."""
    starts = np.flatnonzero(np.diff(tops)) + 1
    bounds = [0] + starts.tolist() + [len(tops)]
    probs = top_probs.tolist()
    return [(first, end - 1, int(tops[first]), sum(probs[first:end]) / (end - first))
            for first, end in zip(bounds[:-1], bounds[1:]) if end > first]


def het_mass(values):
    """[markers]: each marker's heterozygous mass, summed pair by pair in
    layout order (a marker's value does not depend on its neighbours, so
    blocks of markers give the same values as the whole)."""
    het = np.zeros(len(values))
    for k in HETEROZYGOUS:
        het += values[:, k]
    return het


def summary(tops, top_probs, het):
    """(confident markers, mean heterozygous mass, switches of the top pair),
    from a chromosome's top pairs and het_mass."""
    n = len(tops)
    confident = int(np.count_nonzero(top_probs > CONFIDENT))
    mean_het = sum(het.tolist()) / n if n else 0.0
    switches = int(np.count_nonzero(np.diff(tops)))
    return confident, mean_het, switches

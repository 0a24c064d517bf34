"""The X chromosome against the funnel. A funnel lists the founders with the
dam of each cross first: 1x2, 3x4, 5x6, 7x8, then the daughter of 1x2 by the
son of 3x4 and the daughter of 5x6 by the son of 7x8, then a daughter by a
son of those two. A son passes on only his mother's X, so the founders at
places 4 (the sire of 3x4), 8 (the sire of 7x8) and 7 (whose X reaches only
the daughters of 7x8, while that cross gives the son) pass no X to the
strain, and TARVEL gives them none. A strain whose X is confidently one of
theirs has a wrong funnel.

TARVEL cannot say so itself, so the X is painted here once more, with every
founder allowed: a haploid model along the X whose states are the eight
founders, equally likely at the start and switching at a few crossovers per
Morgan, scoring the homozygous calls (heterozygous calls, no-calls and
markers with an untyped founder say nothing). A span where a barred founder
has a posterior probability of at least `min_prob` over at least
`min_markers` scored markers is flagged."""
from dataclasses import dataclass

import numpy as np

from tarvel_panel.panel.model import NO_CALL

# funnel places (from 1, in the funnel file's order) whose founder passes no X
BARRED_PLACES = (4, 7, 8)
# calls that disagree with the founder the model paints: genotyping errors and
# the odd wrong founder allele
CALL_ERROR = 0.01
# expected founder switches per Morgan along an inbred strain's X; a prior,
# scarcely felt where the calls tell the founders apart
SWITCHES_PER_MORGAN = 3.0
# centimorgans per megabase, for a panel without a genetic map
CM_PER_MBP = 0.5


def barred_founders(funnel):
    """Founder numbers 1..8 that cannot pass their X, for a funnel of founder numbers."""
    return [funnel[place - 1] for place in BARRED_PLACES]


def centimorgans(coord, unit):
    scale = {"cM": 1.0, "Mbp": CM_PER_MBP, "bp": CM_PER_MBP / 1e6}.get(unit, 1.0)
    return np.asarray(coord, dtype=np.float64) * scale


def scored(calls, founders):
    """bool [n, markers]: homozygous calls where every founder is typed."""
    typed = ~(founders == NO_CALL).any(axis=1)
    return ((calls == 0) | (calls == 2)) & typed[None, :]


def founder_posteriors(calls, founders, cm, error=CALL_ERROR, rate=SWITCHES_PER_MORGAN):
    """float32 [n, markers, 8]: the probability that each founder gave the X
    at each marker, from the homozygous calls [n, markers] of n strains."""
    n, m = calls.shape
    informative = scored(calls, founders)
    allele2 = (founders == 1)  # [m, 8]: the founder carries allele 1, so a homozygous call would be 2
    switch = 1.0 - np.exp(-rate * np.diff(cm, prepend=cm[:1]).clip(min=0) / 100.0)

    def emission(t):
        agree = allele2[t][None, :] == (calls[:, t] == 2)[:, None]
        e = np.where(agree, 1.0 - error, error)
        return np.where(informative[:, t][:, None], e, 1.0)

    def move(v, r):
        return (1.0 - r - r / 7.0) * v + (r / 7.0) * v.sum(axis=1, keepdims=True)

    forward = np.empty((m, n, 8), np.float32)
    f = np.full((n, 8), 1.0 / 8)
    for t in range(m):
        f = emission(t) * (f if t == 0 else move(f, switch[t]))
        f /= f.sum(axis=1, keepdims=True)
        forward[t] = f
    posterior = np.empty((n, m, 8), np.float32)
    b = np.ones((n, 8))
    for t in range(m - 1, -1, -1):
        p = forward[t] * b
        posterior[:, t] = p / p.sum(axis=1, keepdims=True)
        if t:
            b = move(emission(t) * b, switch[t])
            b /= b.sum(axis=1, keepdims=True)
    return posterior


@dataclass
class BarredSpan:
    strain: int
    founder: int        # founder number 1..8
    place: int          # its funnel place 1..8
    first: int          # marker indexes, inclusive
    last: int
    markers: int        # scored markers in the span
    mean_prob: float


def barred_spans(first_strain, funnels, calls, founders, cm, min_prob, min_markers):
    """Spans of a block of strains' X that a barred founder confidently gave."""
    posterior = founder_posteriors(calls, founders, cm)
    informative = scored(calls, founders)
    spans = []
    for row, funnel in enumerate(funnels):
        for place in BARRED_PLACES:
            founder = funnel[place - 1]
            prob = posterior[row, :, founder - 1]
            for first, last in _true_runs(prob >= min_prob):
                markers = int(np.count_nonzero(informative[row, first:last + 1]))
                if markers >= min_markers:
                    spans.append(BarredSpan(first_strain + row, founder, place, first, last, markers,
                                            float(prob[first:last + 1].mean())))
    return spans


def _true_runs(mask):
    """(first, last) of every run of True."""
    edges = np.diff(np.concatenate([[0], mask.astype(np.int8), [0]]))
    return list(zip(np.flatnonzero(edges == 1).tolist(), (np.flatnonzero(edges == -1) - 1).tolist()))

"""Founder pairs in TARVEL's HAPPY layout, and what the collect step derives
from one strain's values along a chromosome: runs of the most probable pair,
per-founder probabilities and the summary figures."""

# (higher, lower) founder numbers in the layout's order: (1,1), (2,1), (2,2), (3,1), ...
PAIRS = [(a, b) for a in range(1, 9) for b in range(1, a + 1)]
HETEROZYGOUS = [k for k, (a, b) in enumerate(PAIRS) if a != b]
CONFIDENT = 0.9


def pair_names(founders):
    """Column names of the 36 pairs, the lower founder number's name first;
    joined with "_" unless every founder name is one character."""
    joiner = "" if all(len(f) == 1 for f in founders) else "_"
    return [founders[b - 1] + joiner + founders[a - 1] for a, b in PAIRS]


def top_pair(values):
    """Index of the most probable pair; ties go to the first in layout order."""
    best = 0
    for k in range(1, len(values)):
        if values[k] > values[best]:
            best = k
    return best


def founder_probs(values):
    """P(aa) + 1/2 sum over b != a of P(ab), for founders 1..8."""
    probs = [0.0] * 8
    for (a, b), v in zip(PAIRS, values):
        if a == b:
            probs[a - 1] += v
        else:
            probs[a - 1] += v / 2
            probs[b - 1] += v / 2
    return probs


def runs(tops, values_per_marker):
    """[(first, last, pair, mean probability)] of consecutive markers with the
    same top pair (first and last are marker indexes)."""
    result = []
    start = 0
    for i in range(1, len(tops) + 1):
        if i == len(tops) or tops[i] != tops[start]:
            pair = tops[start]
            mean = sum(values_per_marker[j][pair] for j in range(start, i)) / (i - start)
            result.append((start, i - 1, pair, mean))
            start = i
    return result


def summary(tops, values_per_marker):
    """(confident markers, mean heterozygous mass, switches of the top pair)."""
    n = len(tops)
    confident = sum(1 for t, v in zip(tops, values_per_marker) if v[t] > CONFIDENT)
    het = sum(sum(v[k] for k in HETEROZYGOUS) for v in values_per_marker) / n if n else 0.0
    switches = sum(1 for i in range(1, n) if tops[i] != tops[i - 1])
    return confident, het, switches

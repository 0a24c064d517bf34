"""Founder pairs in TARVEL's HAPPY layout: the 36 unordered pairs of the
eight founders in the order of a results line, (1,1), (2,1), (2,2), (3,1),
(3,2), (3,3), ..., (8,8). Every step that names, sums or paints pairs takes
the order from here."""


FOUNDERS = 8
# (higher, lower) founder numbers 1..8, in the layout's order
PAIRS = [(a, b) for a in range(1, FOUNDERS + 1) for b in range(1, a + 1)]
NPAIRS = len(PAIRS)
HETEROZYGOUS = [k for k, (a, b) in enumerate(PAIRS) if a != b]


def pair_index(a, b):
    """Layout index of the pair of founders a and b (numbered 1..8, either order)."""
    high, low = max(a, b), min(a, b)
    return high * (high - 1) // 2 + low - 1


def pair_names(founders):
    """Names of the 36 pairs, the lower founder number's name first (AA, AB,
    BB, AC, ...); joined with "_" unless every founder name is one character."""
    joiner = "" if all(len(f) == 1 for f in founders) else "_"
    return [founders[b - 1] + joiner + founders[a - 1] for a, b in PAIRS]


def same_named_pairs(founders):
    """(name, first pair, second pair) of the first two pairs (founder
    numbers, as in PAIRS) whose names are one, e.g. A_B_C for the pairs
    (A, B_C) and (A_B, C); None when every pair has a name of its own."""
    seen = {}
    for pair, name in zip(PAIRS, pair_names(founders)):
        if name in seen:
            return name, seen[name], pair
        seen[name] = pair
    return None


def _pair_founders():
    import numpy as np
    return np.array([(low - 1, high - 1) for high, low in PAIRS], dtype=np.int8)


def _allele_weights():
    import numpy as np
    weights = np.zeros((NPAIRS, FOUNDERS))
    for k, (a, b) in enumerate(PAIRS):
        weights[k, a - 1] += 0.5
        weights[k, b - 1] += 0.5
    return weights


# numpy tables, made on first use (a step that only names pairs, or an R
# object's job, starts without numpy):
#   PAIR_FOUNDERS  the founders (lower, higher) of every pair, numbered 0..7
#   ALLELE_WEIGHTS founder probability = pair values @ ALLELE_WEIGHTS: P(aa) + 1/2 sum_b P(ab)
_TABLES = {"PAIR_FOUNDERS": _pair_founders, "ALLELE_WEIGHTS": _allele_weights}


def __getattr__(name):
    if name in _TABLES:
        value = globals()[name] = _TABLES[name]()
        return value
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")

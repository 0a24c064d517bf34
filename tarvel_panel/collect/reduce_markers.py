"""Fewer markers for mapping: the largest set of a chromosome's markers (by
total weight; every marker weighs 1 unless weights are given) in which no
two neighbouring kept markers are less than `min_distance` apart.

Found by dynamic programming from the chromosome's end: best[i] is the
largest weight of a set that starts at marker i, w[i] plus the best of the
markers at least min_distance beyond i (a suffix of the markers, since the
positions do not go backwards). Of the sets of the largest weight the one
kept is the first in marker order: the earliest possible first marker, then
the earliest possible second, and so on (so with unit weights on a map with
no two markers closer than min_distance, every marker). O(M log M).
"""
import bisect

import numpy as np

from tarvel_panel.errors import InputError


KEY = "reduce_markers_cm"
SLACK = 1e-9


def far_enough(a, b, min_distance):
    """Whether position b is at least min_distance beyond position a."""
    return b - a >= min_distance - SLACK


def reduce_markers(positions, min_distance, weights=None):
    """Indices (ascending) of the markers kept; positions must not decrease,
    weights must be positive. min_distance <= 0 keeps every marker."""
    pos = [float(p) for p in positions]
    m = len(pos)
    if min_distance <= 0 or m == 0:
        return list(range(m))
    w = [1] * m if weights is None else list(weights)
    # best[i]: the largest weight of a set starting at i; ahead[i]: the first
    # marker of the best set among markers i.. (the earliest on a tie)
    best = [0] * m
    ahead_weight = [0] * (m + 1)
    ahead = [-1] * (m + 1)
    follow = [-1] * m
    for i in range(m - 1, -1, -1):
        # the first marker far enough beyond i (the sum may round either way)
        j = bisect.bisect_left(pos, pos[i] + min_distance - SLACK, lo=i + 1)
        while j > i + 1 and far_enough(pos[i], pos[j - 1], min_distance):
            j -= 1
        while j < m and not far_enough(pos[i], pos[j], min_distance):
            j += 1
        best[i] = w[i] + ahead_weight[j]
        follow[i] = ahead[j]
        if best[i] >= ahead_weight[i + 1]:
            ahead_weight[i], ahead[i] = best[i], i
        else:
            ahead_weight[i], ahead[i] = ahead_weight[i + 1], ahead[i + 1]
    kept, i = [], ahead[0]
    while i != -1:
        kept.append(i)
        i = follow[i]
    return kept


def kept_markers(markers, min_cm, where):
    """The indices of a prepared chromosome's markers (panel/prepared.py
    Markers) kept at min_cm apart on its genetic map; every index when
    min_cm is 0. `where` names the chromosome in a refusal."""
    if not min_cm:
        return np.arange(len(markers))
    gmap = markers.maps.get("gmap")
    if gmap is None:
        raise InputError(KEY, f"needs the markers' genetic map (cM), which {where} lacks "
                              "(a cross with a gmap file, or a VCF panel with genetic_map)")
    steps = np.diff(np.asarray(gmap, dtype=float))
    if (steps < 0).any():
        back = int(np.argmax(steps < 0)) + 1
        raise InputError(KEY, f"the genetic map of {where} goes back at marker {markers.names[back]} "
                              f"({float(gmap[back])!r} cM after {float(gmap[back - 1])!r})")
    return reduce_markers(gmap, min_cm)


def mapped_counts(panel, min_cm):
    """{chromosome's safe name: markers kept for mapping} of a prepared panel."""
    counts = {}
    for c in panel.chromosomes:
        markers = panel.markers(c["safe"]) if min_cm else None
        counts[c["safe"]] = len(kept_markers(markers, min_cm, f"chromosome {c['name']}")) if min_cm else c["markers"]
    return counts

"""Painting a chromosome by founder: the most probable founder pair at every
marker, split into the founders of the two chromosome copies, and the runs of
markers that look the same on one copy.

A whole chromosome of a panel is painted at once, every strain a row of the
arrays; founders here are numbered 0..7, pairs by their index in the HAPPY
layout (tarvel_panel/pairs.py); the top pair and founder sums are the
collect step's own (collect/derive.py).
"""
from dataclasses import dataclass

import numpy as np

from tarvel_panel.collect.derive import top_pairs
from tarvel_panel.pairs import PAIR_FOUNDERS


DEFAULT_THRESHOLD = 0.5
# copy 1 gets the lower founder of the pair (pairs.PAIR_FOUNDERS), copy 2 the higher


@dataclass
class Segments:
    """Runs of markers painted alike on one copy, as parallel arrays ordered by
    row, then copy, then position. `first` and `last` are marker indices
    (inclusive); `start` and `end` the positions a run stands for."""
    row: np.ndarray
    copy: np.ndarray        # 1 or 2
    founder: np.ndarray     # 0..7
    low: np.ndarray         # the top pair's probability is below the threshold
    start: np.ndarray
    end: np.ndarray
    first: np.ndarray
    last: np.ndarray

    def __len__(self):
        return len(self.row)

    def take(self, index) -> "Segments":
        return Segments(*(getattr(self, f)[index] for f in self.__dataclass_fields__))

    def of_row(self, row: int) -> "Segments":
        lo, hi = np.searchsorted(self.row, [row, row + 1])
        return self.take(slice(lo, hi))


def boundaries(positions) -> np.ndarray:
    """Edges of the stretch each marker stands for.

    A change between two markers is placed halfway between them: where it
    really lies is unknown, and halfway favours neither side. The first and
    last marker stand at the chromosome's ends, since nothing is known beyond
    them.
    """
    pos = np.asarray(positions, dtype=np.float64)
    return np.concatenate([pos[:1], (pos[:-1] + pos[1:]) / 2, pos[-1:]])


def _runs(key: np.ndarray):
    """(row, first, last) of every run of equal values along the rows of `key`."""
    rows, cols = key.shape
    change = np.ones(key.shape, dtype=bool)
    change[:, 1:] = key[:, 1:] != key[:, :-1]
    row, first = np.nonzero(change)
    starts = row * cols + first
    last = np.append(starts[1:], rows * cols) - 1 - row * cols
    return row, first, last


def paint_chromosome(positions, top_pair, top_prob, threshold=DEFAULT_THRESHOLD) -> Segments:
    """Segments of every row (strain) of one chromosome from the HAPPY index
    of each marker's most probable pair [rows, markers] and its probability."""
    top_pair = np.atleast_2d(top_pair)
    edges = boundaries(positions)
    low = np.atleast_2d(top_prob) < threshold
    parts = []
    for copy in (1, 2):
        founder = PAIR_FOUNDERS[top_pair, copy - 1]
        row, first, last = _runs(founder * 2 + low)
        parts.append((row, np.full(len(row), copy, dtype=np.int8), founder[row, first],
                      low[row, first], edges[first], edges[last + 1], first, last))
    joined = [np.concatenate(p) for p in zip(*parts)]
    order = np.lexsort((joined[1], joined[0]))      # stable: positions stay in order
    return Segments(*joined).take(order)


def paint(positions, probs, threshold=DEFAULT_THRESHOLD) -> Segments:
    """Segments of one run: 36 pair values per marker [markers, 36]."""
    top, top_prob = top_pairs(np.asarray(probs, dtype=np.float64))
    return paint_chromosome(positions, top[None], top_prob[None], threshold)


def top_pair_changes(positions, probs) -> np.ndarray:
    """Positions (halfway between markers) where the most probable pair changes."""
    top, _ = top_pairs(np.asarray(probs, dtype=np.float64))
    return boundaries(positions)[1:-1][top[1:] != top[:-1]]

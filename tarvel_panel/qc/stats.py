"""Per strain and chromosome: how many calls there are and how many are
heterozygous, how much of the chromosome's length has a heterozygous most
probable pair, and each heterozygous segment (a run of markers with the same
heterozygous top pair). Every function takes a block of strains, one row each."""
from dataclasses import dataclass

import numpy as np

from tarvel_panel.pairs import HETEROZYGOUS, NPAIRS
from tarvel_panel.panel.model import NO_CALL

IS_HETEROZYGOUS = np.zeros(NPAIRS, bool)
IS_HETEROZYGOUS[HETEROZYGOUS] = True


def call_counts(calls, usable):
    """(usable markers, called markers [n], heterozygous calls [n]); a marker
    where prepare masked every strain's call is not usable."""
    kept = calls[:, usable]
    called = np.count_nonzero(kept != NO_CALL, axis=1)
    return int(np.count_nonzero(usable)), called, np.count_nonzero(kept == 1, axis=1)


def het_length(top_pair, weights):
    """[n]: length of the chromosome whose top pair is heterozygous."""
    return (IS_HETEROZYGOUS[top_pair] * weights).sum(axis=1)


def runs(values):
    """(row, first, last) of every run of equal values along the rows."""
    change = np.ones(values.shape, bool)
    change[:, 1:] = values[:, 1:] != values[:, :-1]
    row, first = np.nonzero(change)
    cols = values.shape[1]
    starts = row * cols + first
    last = np.append(starts[1:], values.size) - 1 - row * cols
    return row, first, last


@dataclass
class HetSegment:
    strain: int
    chrom: str
    first: int          # marker indexes, inclusive
    last: int
    pair: int
    length: float
    mean_prob: float


def het_segments(first_strain, chrom, row, first, last, top_pair, top_prob, edges):
    """Every run of one heterozygous top pair in a block of strains (row,
    first, last: the runs of its top pairs)."""
    pair = top_pair[row, first]
    het = IS_HETEROZYGOUS[pair]
    cumulative = np.concatenate([np.zeros((len(top_prob), 1)), np.cumsum(top_prob, axis=1, dtype=np.float64)], axis=1)
    return [HetSegment(first_strain + int(r), chrom, int(a), int(b), int(p), float(edges[b + 1] - edges[a]),
                       float((cumulative[r, b + 1] - cumulative[r, a]) / (b - a + 1)))
            for r, a, b, p in zip(row[het], first[het], last[het], pair[het])]

"""Genotyping-error candidates: markers where a strain's call contradicts the
founders of its most probable pair, and clusters of them.

A marker is checked where the strain has a call, both founders of the top
pair are typed and the top pair is confident (its probability at least
`min_prob`); the call the pair predicts is the count of allele 1 in its two
founders. Lone candidates are what a genotyping error rate leaves; several
close together along the checked markers point to something else: a
deletion, a probe mapped to the wrong place, a wrong founder or a mixed
sample in that stretch."""
from dataclasses import dataclass

import numpy as np

from tarvel_panel.figures.painting import PAIR_FOUNDERS
from tarvel_panel.panel.model import NO_CALL


def predicted_calls(top_pair, founders):
    """[n, markers]: the call the top pair predicts, NO_CALL where one of its
    founders is untyped."""
    marker = np.arange(founders.shape[0])
    a = founders[marker, PAIR_FOUNDERS[top_pair, 0]]
    b = founders[marker, PAIR_FOUNDERS[top_pair, 1]]
    typed = (a != NO_CALL) & (b != NO_CALL)
    return np.where(typed, a + b, NO_CALL).astype(np.uint8)


def contradictions(calls, top_pair, top_prob, founders, min_prob):
    """(checked, candidate): bool [n, markers] each."""
    predicted = predicted_calls(top_pair, founders)
    checked = (calls != NO_CALL) & (predicted != NO_CALL) & (top_prob >= min_prob)
    return checked, checked & (calls != predicted)


@dataclass
class Cluster:
    strain: int
    chrom: str
    first: int          # marker indexes of its first and last candidate
    last: int
    candidates: int
    checked: int        # checked markers from its first to its last candidate


def clusters(strain, chrom, row_checked, row_candidate, min_candidates, max_gap):
    """The clusters of one strain's chromosome: candidates at most `max_gap`
    checked markers apart, at least `min_candidates` of them."""
    checked_at = np.flatnonzero(row_checked)
    rank = np.flatnonzero(row_candidate[checked_at])    # candidates counted along the checked markers
    if len(rank) < min_candidates:
        return []
    breaks = np.flatnonzero(np.diff(rank) > max_gap)
    starts, ends = np.concatenate([[0], breaks + 1]), np.concatenate([breaks, [len(rank) - 1]])
    return [Cluster(strain, chrom, int(checked_at[rank[s]]), int(checked_at[rank[e]]), int(e - s + 1),
                    int(rank[e] - rank[s] + 1))
            for s, e in zip(starts, ends) if e - s + 1 >= min_candidates]

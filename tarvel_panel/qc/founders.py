"""Each founder's share of a strain's genome: its founder probabilities
(collect's alleleprobs) summed over the length each marker stands for, as a
share of all eight founders' sums; a founder below `absent_share` is taken
as absent from the whole genome."""
import numpy as np


def founder_lengths(alleleprobs, weights):
    """[n, 8]: each founder's expected length on one chromosome."""
    return np.einsum("nfm,m->nf", alleleprobs, weights, dtype=np.float64)


def founder_shares(lengths):
    """[n, 8] shares of the genome from the founders' lengths summed over the
    chromosomes (a two-copy X's values need not add up to one per marker)."""
    total = lengths.sum(axis=1, keepdims=True)
    return np.divide(lengths, total, out=np.zeros_like(lengths), where=total > 0)


def absent_founders(shares, absent_share):
    """For each strain, the founders (0..7) whose share is below `absent_share`."""
    return [np.flatnonzero(row < absent_share).tolist() for row in shares]

"""Whether a strain looks like a mixture of two strains of the panel (a
contaminated sample). A mixed sample's call shows every allele either
strain carries, so
  - a source's homozygous calls never oppose the sample's homozygous calls
    (beyond genotyping errors), and
  - where the sample's call is heterozygous, its two sources carry
    different alleles.
The calls are sampled on a grid of evenly spaced points along the genome,
which is enough for shares and keeps every strain's sample in memory."""
import numpy as np

from tarvel_panel.panel.model import NO_CALL

GRID_POINTS = 20_000


class GenomeGrid:
    """Every strain's calls at grid points, chromosome after chromosome."""

    def __init__(self, strains, lengths, points=GRID_POINTS):
        total = sum(lengths)
        self.counts = [max(1, round(points * n / total)) if total > 0 else 1 for n in lengths]
        self.calls = np.full((strains, sum(self.counts)), NO_CALL, np.uint8)
        self.offsets = np.concatenate([[0], np.cumsum(self.counts)])

    def markers(self, chromosome, edges):
        """Marker index of each of the chromosome's grid points (`chromosome`
        is its place in the panel's order)."""
        n = self.counts[chromosome]
        at = edges[0] + (np.arange(n) + 0.5) * (edges[-1] - edges[0]) / n
        return np.clip(np.searchsorted(edges, at, side="right") - 1, 0, len(edges) - 2)

    def add(self, chromosome, index, first, calls):
        lo = self.offsets[chromosome]
        self.calls[first:first + len(calls), lo:lo + len(index)] = calls[:, index]


def containment(calls, sample):
    """[strains]: the share of the points where both have a call at which a
    strain's call holds no allele the sample's lacks."""
    mine = calls[sample]
    both = (calls != NO_CALL) & (mine != NO_CALL)
    opposed = ((calls == 0) & (mine == 2)) | ((calls == 2) & (mine == 0))
    inside = (both & ~opposed).sum(axis=1)
    return inside / np.maximum(both.sum(axis=1), 1)


def explained(calls, sample, source):
    """[strains]: the share of the sample's heterozygous calls at which the
    source and each strain carry both alleles between them."""
    mine, a = calls[sample], calls[source]
    het = (mine == 1) & (a != NO_CALL) & (calls != NO_CALL)
    both = (a == 1) | (calls == 1) | ((a == 0) & (calls == 2)) | ((a == 2) & (calls == 0))
    return (het & both).sum(axis=1) / np.maximum(het.sum(axis=1), 1)


def mixture_sources(calls, sample, look_alike, min_share):
    """(first, second, containment of each, share of heterozygous calls the
    two explain) of the two strains that best explain `sample` as their
    mixture, when each is contained in it and together they explain its
    heterozygous calls, every share at least `min_share`; None otherwise.
    look_alike: bool [strains], strains too like the sample to be a source
    (itself, its duplicates, samples of its strain)."""
    inside = containment(calls, sample)
    candidates = np.flatnonzero((inside >= min_share) & ~look_alike)
    best = None
    for a in candidates.tolist():
        shares = explained(calls, sample, a)[candidates]
        k = int(np.argmax(np.where(candidates == a, -1.0, shares)))
        b = int(candidates[k])
        if b != a and shares[k] >= min_share and (best is None or shares[k] > best[4]):
            best = (a, b, float(inside[a]), float(inside[b]), float(shares[k]))
    if best is None:
        return None
    a, b = sorted(best[:2])
    return a, b, float(inside[a]), float(inside[b]), best[4]

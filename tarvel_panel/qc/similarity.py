"""How much of the genome two strains share: for every pair of strains the
length where their most probable founder pairs are the same, as a share of
the genome.

Along a chromosome a strain's top pair changes only at its few switches, so
the strains are swept once along it: each strain stands in the group of its
current top pair, and when it switches it leaves the group, crediting every
strain still in it with the stretch they spent in it together. The work
grows with the switches times the strains, not with the markers times the
pairs of strains."""
import numpy as np


class Agreement:
    """Lengths of agreement of every pair of `strains` strains, summed over
    the chromosomes added."""

    def __init__(self, strains):
        self.shared = np.zeros((strains, strains))

    def add_chromosome(self, switches, edges):
        """switches: per strain (first markers of its runs [k], their top pairs
        [k]), the first run starting at marker 0; edges: the chromosome's
        marker boundaries (calls.boundaries)."""
        strains = len(switches)
        start, end = float(edges[0]), float(edges[-1])
        group = np.array([pairs[0] for _, pairs in switches], dtype=np.int16)
        entered = np.full(strains, start)
        events = _events(switches, edges)
        for at, strain, pair in zip(*events):
            members = np.flatnonzero(group == group[strain])
            members = members[members != strain]
            self.shared[strain, members] += at - np.maximum(entered[strain], entered[members])
            group[strain], entered[strain] = pair, at
        for pair in np.unique(group):
            members = np.flatnonzero(group == pair)
            overlap = end - np.maximum.outer(entered[members], entered[members])
            self.shared[np.ix_(members, members)] += np.triu(overlap, 1)

    def shares(self, genome_length):
        """[strains, strains] symmetric, the diagonal 1."""
        both = self.shared + self.shared.T
        shares = both / genome_length if genome_length > 0 else np.zeros_like(both)
        np.fill_diagonal(shares, 1.0)
        return shares


def _events(switches, edges):
    """(position, strain, new top pair) of every switch after a first run,
    in order of position (a switch between two markers lies halfway)."""
    at, strain, pair = [], [], []
    for s, (firsts, pairs) in enumerate(switches):
        at.append(edges[firsts[1:]])
        strain.append(np.full(len(firsts) - 1, s))
        pair.append(pairs[1:])
    at, strain, pair = (np.concatenate(a) for a in (at, strain, pair))
    order = np.argsort(at, kind="stable")
    return at[order], strain[order], pair[order]


def strain_switches(row, first, last, top_pair):
    """Per strain of a block, (first markers of its runs, their top pairs),
    from stats.runs of the block's top pairs."""
    bounds = np.searchsorted(row, np.arange(top_pair.shape[0] + 1))
    return [(first[a:b], top_pair[r, first[a:b]].astype(np.int16))
            for r, (a, b) in enumerate(zip(bounds[:-1], bounds[1:]))]


def nearest(shares, exclude=None):
    """Per strain, the other strain it shares most with and that share;
    (-1, nan) for a panel of one strain."""
    masked = shares.copy()
    np.fill_diagonal(masked, -np.inf)
    if exclude is not None:
        masked[exclude] = -np.inf
    if masked.shape[0] < 2:
        return np.full(masked.shape[0], -1), np.full(masked.shape[0], np.nan)
    best = masked.argmax(axis=1)
    return best, masked[np.arange(len(best)), best]


def replicate_groups(strains):
    """Rows of the strains grouped by their `strain_of` (samples of one
    strain); strains without one stand alone."""
    groups = {}
    for i, entry in enumerate(strains):
        of = entry.get("strain_of")
        if of not in (None, ""):
            groups.setdefault(str(of), []).append(i)
    return groups


def same_strain(strains):
    """bool [strains, strains]: the two rows are samples of one strain."""
    same = np.zeros((len(strains), len(strains)), bool)
    for rows in replicate_groups(strains).values():
        same[np.ix_(rows, rows)] = True
    np.fill_diagonal(same, False)
    return same

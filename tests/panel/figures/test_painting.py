"""Painting a chromosome from the most probable pair at every marker."""
import numpy as np
import pytest

from tarvel_panel.collect.derive import founder_probs
from tarvel_panel.figures.painting import paint, paint_chromosome, top_pair_changes
from tarvel_panel.pairs import PAIR_FOUNDERS
from tarvel_panel.pairs import pair_index


A, B, C, D, H = 0, 1, 2, 3, 7


def values(*pairs, p=0.9):
    """One marker per (a, b): that pair gets p, the other 35 pairs the rest evenly."""
    v = np.full((len(pairs), 36), (1 - p) / 35)
    for m, (a, b) in enumerate(pairs):
        v[m, pair_index(a + 1, b + 1)] = p
    return v


def runs(segs, copy):
    return [(int(f), bool(lo), float(s), float(e), int(i), int(j))
            for c, f, lo, s, e, i, j in zip(segs.copy, segs.founder, segs.low, segs.start, segs.end,
                                            segs.first, segs.last) if c == copy]


def test_copy_1_gets_the_lower_founder_and_changes_lie_halfway_between_markers():
    assert [tuple(PAIR_FOUNDERS[k]) for k in (0, 1, 2, 3, 35)] == [(A, A), (A, B), (B, B), (A, C), (H, H)]
    positions = [0.0, 1.0, 2.0, 3.0, 7.0]
    segs = paint(positions, values((B, B), (D, A), (A, D), (D, A), (B, B)))
    assert runs(segs, 1) == [(B, False, 0.0, 0.5, 0, 0), (A, False, 0.5, 5.0, 1, 3), (B, False, 5.0, 7.0, 4, 4)]
    assert runs(segs, 2) == [(B, False, 0.0, 0.5, 0, 0), (D, False, 0.5, 5.0, 1, 3), (B, False, 5.0, 7.0, 4, 4)]
    assert list(top_pair_changes(positions, values((A, A), (A, A), (H, H), (H, D), (H, D)))) == [1.5, 2.5]


def test_a_low_confidence_stretch_is_its_own_segment_of_the_same_founder():
    positions = [10.0, 12.0, 14.0, 16.0]
    probs = np.concatenate([values((C, C)), values((C, C), p=0.4), values((C, C), p=0.49999),
                            values((C, C), p=0.5)])
    assert runs(paint(positions, probs), 1) == [(C, False, 10.0, 11.0, 0, 0), (C, True, 11.0, 15.0, 1, 2),
                                                (C, False, 15.0, 16.0, 3, 3)]
    assert not paint(positions, probs, threshold=0.3).low.any()


def test_a_tie_goes_to_the_first_pair_in_happy_order():
    tie = np.zeros((1, 36))
    tie[0, pair_index(2, 3)] = tie[0, pair_index(1, 4)] = 0.5   # BC (index 4) before AD (6)
    segs = paint([1.0], tie)
    assert (runs(segs, 1)[0][:2], runs(segs, 2)[0][:2]) == ((B, False), (C, False))


def test_a_panel_painted_at_once_paints_every_strain_as_alone():
    rng = np.random.default_rng(7)
    positions = np.cumsum(rng.uniform(0.1, 1.0, 60))
    top = rng.choice([0, 2, 9, 14, 35], size=(4, 60), p=[0.9, 0.04, 0.03, 0.02, 0.01])
    top[2] = top[1, ::-1]            # a strain ending as the next one starts must not merge with it
    prob = rng.uniform(0.3, 1.0, size=(4, 60))
    panel = paint_chromosome(positions, top, prob, 0.5)
    assert np.all(np.diff(panel.row) >= 0)
    for strain in range(4):
        alone = paint_chromosome(positions, top[strain], prob[strain], 0.5)
        mine = panel.of_row(strain)
        for field in ("copy", "founder", "low", "start", "end", "first", "last"):
            assert np.array_equal(getattr(mine, field), getattr(alone, field)), field
        for copy in (1, 2):   # the runs of a copy tile the chromosome, marker after marker
            first, last = mine.first[mine.copy == copy], mine.last[mine.copy == copy]
            assert first[0] == 0 and last[-1] == 59 and np.array_equal(first[1:], last[:-1] + 1)


def test_founder_shares_split_heterozygous_pairs_in_half():
    v = np.zeros((1, 36))
    v[0, pair_index(1, 1)], v[0, pair_index(1, 4)], v[0, pair_index(4, 8)] = 0.5, 0.3, 0.2
    share = founder_probs(v)[0]
    assert share[A] == pytest.approx(0.65) and share[D] == pytest.approx(0.25)
    assert share[H] == pytest.approx(0.1) and share.sum() == pytest.approx(1.0)

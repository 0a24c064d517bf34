"""Painting a chromosome from the 36 pair values per marker (HAPPY order)."""
import pytest

from tarvel_panel.painting import (Segment, founder_probs, pair_founders, pair_index, paint,
                                   top_pair_changes)

A, B, C, D, H = 0, 1, 2, 3, 7


def values(a, b, p=0.9):
    """Pair (a, b) gets p, the rest spread evenly over the other 35 pairs."""
    v = [(1 - p) / 35] * 36
    v[pair_index(a, b)] = p
    return v


def test_pairs_follow_the_happy_order():
    assert [pair_founders(k) for k in range(4)] == [(A, A), (A, B), (B, B), (A, C)]
    assert pair_founders(35) == (H, H)
    assert all(pair_index(*pair_founders(k)) == k for k in range(36))
    assert pair_index(C, A) == pair_index(A, C) == 3


def test_heterozygous_stretch_puts_the_lower_founder_on_copy_1():
    positions = [0.0, 1.0, 2.0, 3.0, 4.0]
    probs = [values(B, B), values(D, A), values(A, D), values(D, A), values(B, B)]
    segs = paint(positions, probs)
    copy1 = [(s.founder, s.start, s.end) for s in segs if s.copy == 1]
    copy2 = [(s.founder, s.start, s.end) for s in segs if s.copy == 2]
    assert copy1 == [(B, 0.0, 0.5), (A, 0.5, 3.5), (B, 3.5, 4.0)]
    assert copy2 == [(B, 0.0, 0.5), (D, 0.5, 3.5), (B, 3.5, 4.0)]


def test_low_confidence_stretch_is_its_own_segment_of_the_same_founder():
    positions = [10.0, 12.0, 14.0, 16.0]
    probs = [values(C, C), values(C, C, 0.4), values(C, C, 0.49999), values(C, C, 0.5)]
    segs = [s for s in paint(positions, probs) if s.copy == 1]
    assert segs == [Segment(1, C, False, 10.0, 11.0, 0, 0),
                    Segment(1, C, True, 11.0, 15.0, 1, 2),
                    Segment(1, C, False, 15.0, 16.0, 3, 3)]
    assert all(not s.low for s in paint(positions, probs, threshold=0.3))


def test_a_switch_at_one_marker_lies_halfway_to_its_neighbours():
    positions = [0.0, 2.0, 6.0, 7.0]
    probs = [values(A, A), values(A, A), values(H, H), values(H, H)]
    segs = paint(positions, probs)
    assert [(s.copy, s.founder, s.start, s.end, s.first, s.last) for s in segs] == [
        (1, A, 0.0, 4.0, 0, 1), (1, H, 4.0, 7.0, 2, 3),
        (2, A, 0.0, 4.0, 0, 1), (2, H, 4.0, 7.0, 2, 3)]
    assert top_pair_changes(positions, probs) == [4.0]


def test_ties_go_to_the_first_pair_in_happy_order():
    tie = [0.0] * 36
    tie[pair_index(B, C)] = tie[pair_index(A, D)] = 0.5   # BC (index 4) before AD (6)
    segs = paint([1.0], [tie])
    assert [(s.copy, s.founder, s.low) for s in segs] == [(1, B, False), (2, C, False)]


def test_founder_shares_split_heterozygous_pairs_in_half():
    v = [0.0] * 36
    v[pair_index(A, A)], v[pair_index(A, D)], v[pair_index(D, H)] = 0.5, 0.3, 0.2
    share = founder_probs(v)
    assert share[A] == pytest.approx(0.65) and share[D] == pytest.approx(0.25)
    assert share[H] == pytest.approx(0.1) and sum(share) == pytest.approx(1.0)

"""Fewer markers for mapping: the kept set is the largest (by weight) with
kept neighbours at least the distance apart, checked against every subset of
small random maps, and of several such sets the first in marker order."""
import itertools
import random
from types import SimpleNamespace

import pytest

from tarvel_panel.collect.reduce_markers import far_enough, kept_markers, reduce_markers
from tarvel_panel.errors import InputError


def allowed(pos, subset, d):
    return all(far_enough(pos[a], pos[b], d) for a, b in zip(subset, subset[1:]))


def brute_force(pos, d, weights):
    """The heaviest allowed subset, the smallest in index order on a tie."""
    best = None
    for r in range(len(pos) + 1):
        for subset in itertools.combinations(range(len(pos)), r):
            if allowed(pos, subset, d):
                key = (-sum(weights[i] for i in subset), list(subset))
                best = key if best is None or key < best else best
    return best[1]


def random_map(rng, m):
    """Sorted positions with repeats and near neighbours, as real maps have."""
    pos = sorted(round(rng.uniform(0, 3), rng.choice([0, 1, 2])) for _ in range(m))
    return pos


@pytest.mark.parametrize("seed", range(6))
def test_kept_markers_are_the_largest_set_found_by_trying_every_subset(seed):
    rng = random.Random(seed)
    for _ in range(40):
        m = rng.randint(0, 11)
        pos = random_map(rng, m)
        d = rng.choice([0.1, 0.25, 0.5, 1.0, 1.7])
        ones = [1] * m
        assert reduce_markers(pos, d) == brute_force(pos, d, ones), (pos, d)
        weights = [rng.randint(1, 4) for _ in range(m)]
        assert reduce_markers(pos, d, weights) == brute_force(pos, d, weights), (pos, d, weights)


def test_ties_keep_the_first_set_and_spaced_maps_keep_everything():
    # {0, 2} and {1, 2} both fit; the one starting first is kept
    assert reduce_markers([0.0, 0.3, 1.0], 1.0) == [0, 2]
    # exactly the distance apart is far enough, even where sums round
    assert reduce_markers([0.1, 0.2, 0.3, 0.4], 0.1) == [0, 1, 2, 3]
    assert reduce_markers([5.0, 5.0, 5.0], 0.5) == [0]
    assert reduce_markers([0.0, 1.0, 2.0], 0) == [0, 1, 2]
    # a heavy marker outweighs two light ones around it
    assert reduce_markers([0.0, 0.5, 1.0], 0.6, weights=[1, 3, 1]) == [1]


def test_a_chromosome_without_a_usable_genetic_map_is_refused_naming_the_key():
    no_cm = SimpleNamespace(names=["a", "b"], maps={"pmap": [1.0, 2.0]}, __len__=lambda self: 2)
    with pytest.raises(InputError) as e:
        kept_markers(no_cm, 0.5, "chromosome 3")
    assert str(e.value).startswith("reduce_markers_cm: ") and "chromosome 3" in str(e.value)
    back = SimpleNamespace(names=["a", "b", "c"], maps={"gmap": [1.0, 2.0, 1.5]})
    with pytest.raises(InputError, match=r"reduce_markers_cm: the genetic map of chromosome X goes back at marker c"):
        kept_markers(back, 0.5, "chromosome X")

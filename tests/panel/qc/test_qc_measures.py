"""Strain QC's computations on small hand-made arrays: the sweep of shared
genome against comparing every pair marker by marker, error candidates and
their clusters, heterozygous segments, mixtures, a reference's founder order,
and the readers of the prepared calls and of npz rows."""
import numpy as np
import pytest

from tarvel_panel.collect.npz import NpzRows, NpzWriter, load_npz
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import pair_index
from tarvel_panel.panel.model import NO_CALL
from tarvel_panel.panel.prepared import read_founder_alleles, read_strain_calls
from tarvel_panel.qc import error_candidates, mixture, stats
from tarvel_panel.qc.calls import boundaries
from tarvel_panel.qc.reference import _pair_map
from tarvel_panel.qc.similarity import Agreement, strain_switches

N = NO_CALL
AA, BB, CC, AB = pair_index(1, 1), pair_index(2, 2), pair_index(3, 3), pair_index(1, 2)


def shared_by_markers(tops, edges):
    """Length where two strains' top pairs agree, marker by marker."""
    w = np.diff(edges)
    return np.array([[w[a == b].sum() for b in tops] for a in tops])


@pytest.mark.parametrize("seed", range(4))
def test_the_sweep_gives_every_pair_the_length_they_agree_on(seed):
    rng = np.random.default_rng(seed)
    strains, markers = 7, 60
    # few pairs and long runs, with a strain that never switches and two alike
    tops = np.repeat(rng.integers(0, 3, (strains, 12)), 5, axis=1)
    tops[:, rng.integers(0, markers, 9)] = rng.integers(0, 3, (strains, 9))
    tops[0] = AA
    tops[5] = tops[4]
    coord = np.cumsum(rng.uniform(0.1, 2.0, markers))
    edges = boundaries(coord)
    agreement = Agreement(strains)
    # in two blocks of strains, as the pass reads them
    switches = strain_switches(*stats.runs(tops[:3]), tops[:3]) + strain_switches(*stats.runs(tops[3:]), tops[3:])
    agreement.add_chromosome(switches, edges)
    agreement.add_chromosome(switches, edges)       # a second chromosome like the first
    expected = shared_by_markers(tops, edges) / (edges[-1] - edges[0])
    shares = agreement.shares(2 * (edges[-1] - edges[0]))
    np.fill_diagonal(expected, 1.0)
    assert np.allclose(shares, expected) and shares[4, 5] == pytest.approx(1.0)


def test_error_candidates_are_confident_contradicting_calls_with_typed_founders():
    founders = np.array([[0, 1, 0, 0, 0, 0, 0, 0],
                         [0, 1, 0, 0, 0, 0, 0, 0],
                         [N, 1, 0, 0, 0, 0, 0, 0],
                         [0, 1, 1, 0, 0, 0, 0, 0],
                         [0, 1, 0, 0, 0, 0, 0, 0]], np.uint8)
    top = np.array([[AA, AB, AA, CC, BB]])
    prob = np.array([[0.99, 0.95, 0.99, 0.99, 0.5]], np.float32)
    calls = np.array([[2, 1, 2, 0, 0]], np.uint8)
    assert error_candidates.predicted_calls(top, founders).tolist() == [[0, 1, N, 2, 2]]
    checked, candidate = error_candidates.contradictions(calls, top, prob, founders, 0.9)
    # the untyped founder's marker and the unsure last one are not checked
    assert checked.tolist() == [[True, True, False, True, False]]
    assert candidate.tolist() == [[True, False, False, True, False]]


def test_clusters_are_runs_of_close_candidates_along_the_checked_markers():
    checked = np.ones(40, bool)
    checked[10:20] = False              # unchecked markers do not count in the gap
    candidate = np.zeros(40, bool)
    candidate[[5, 8, 22, 24]] = True    # 8 and 22 are 4 checked markers apart
    candidate[[33, 38]] = True
    found = error_candidates.clusters(3, "1", checked, candidate, min_candidates=4, max_gap=4)
    assert [(c.first, c.last, c.candidates, c.checked) for c in found] == [(5, 24, 4, 10)]
    assert error_candidates.clusters(3, "1", checked, candidate, 4, 3) == []
    pairs = [(c.first, c.last) for c in error_candidates.clusters(3, "1", checked, candidate, 2, 3)]
    assert pairs == [(5, 8), (22, 24)]
    pairs = [(c.first, c.last) for c in error_candidates.clusters(3, "1", checked, candidate, 2, 5)]
    assert pairs == [(5, 24), (33, 38)]


def test_heterozygous_segments_are_runs_of_one_heterozygous_pair():
    top = np.array([[AA, AB, AB, pair_index(1, 3), AA], [BB, BB, BB, BB, AB]])
    prob = np.array([[1, 0.8, 0.6, 0.9, 1], [1, 1, 1, 1, 0.7]], np.float32)
    edges = boundaries([0.0, 1.0, 2.0, 4.0, 8.0])
    segments = stats.het_segments(10, "2", *stats.runs(top), top, prob, edges)
    assert [(s.strain, s.first, s.last, s.pair, s.length) for s in segments] == \
        [(10, 1, 2, AB, 2.5), (10, 3, 3, pair_index(1, 3), 3.0), (11, 4, 4, AB, 2.0)]
    assert segments[0].mean_prob == pytest.approx(0.7)
    assert stats.het_length(top, np.diff(edges)).tolist() == [5.5, 2.0]


def test_a_mixture_is_explained_by_its_two_sources_and_not_by_a_look_alike():
    rng = np.random.default_rng(1)
    a, b, c = (rng.choice([0, 2], 400) for _ in range(3))
    mixed = np.where(a == b, a, 1)
    copy = mixed.copy()
    calls = np.stack([a, b, c, mixed, copy]).astype(np.uint8)
    look_alike = np.array([False, False, False, True, True])
    found = mixture.mixture_sources(calls, 3, look_alike, 0.97)
    assert found[:2] == (0, 1) and min(found[2:]) == 1.0
    assert mixture.containment(calls, 3)[2] < 0.9
    # an inbred strain is no mixture, whatever look-alikes it has
    assert mixture.mixture_sources(calls, 2, np.array([False, False, True, False, False]), 0.97) is None


def test_a_reference_listing_the_founders_in_another_order_maps_its_pairs():
    class Panel:
        def __init__(self, founders):
            self.founders, self.path = founders, "ref/prepared/panel.json"
    here = Panel(list("ABCDEFGH"))
    mapped = _pair_map(Panel(list("HGFEDCBA")), here)
    assert mapped[pair_index(1, 1)] == pair_index(8, 8) and mapped[pair_index(1, 2)] == pair_index(8, 7)
    assert sorted(mapped.tolist()) == list(range(36))
    with pytest.raises(InputError, match="not this panel's"):
        _pair_map(Panel(list("ABCDEFGZ")), here)


def test_prepared_calls_are_read_back_and_damaged_ones_named(tmp_path):
    calls, founders = tmp_path / "strain.txt", tmp_path / "founders.txt"
    calls.write_text("0\n1\nN\n2\n")
    founders.write_text("0 1 -1 0 0 0 0 1\n0 1 -1 0 0 0 0 1\n1 1 1 1 1 1 1 1\n0 0 0 0 0 0 0 0\n")
    assert read_strain_calls(calls, 4).tolist() == [0, 1, N, 2]
    assert read_founder_alleles(founders, 4)[0].tolist() == [0, 1, N, 0, 0, 0, 0, 1]
    with pytest.raises(InputError, match="for 5 markers"):
        read_strain_calls(calls, 5)
    calls.write_text("0\n1\nx\n2\n")
    with pytest.raises(InputError) as e:
        read_strain_calls(calls, 4)
    assert str(e.value).startswith(f"{calls}:3:")
    founders.write_text("0 1 -1 0 0 0 0 1\n0 1 0 0 0 0 1\n")
    with pytest.raises(InputError, match=r"founders.txt:2: not a founder line"):
        read_founder_alleles(founders, 2)


def test_npz_rows_read_back_what_the_writer_spooled_in_blocks_of_any_size(tmp_path):
    path = tmp_path / "chr1.npz"
    rng = np.random.default_rng(0)
    rows = rng.random((5, 8, 3)).astype(np.float32)
    tops = rng.integers(0, 36, (5, 3)).astype(np.uint8)
    with NpzWriter(path, 5, {"alleleprobs": (np.float32, (8, 3)), "top_pair": (np.uint8, (3,))},
                   {"pos": np.arange(3.0)}, stored=("alleleprobs",)) as npz:
        for r, t in zip(rows, tops):
            npz.add(alleleprobs=r, top_pair=t)
    with NpzRows(path, ["alleleprobs", "top_pair"]) as npz:
        parts = [npz.read(2), npz.read(3)]
        with pytest.raises(EOFError):
            npz.read(1)
    assert np.array_equal(np.concatenate([p["alleleprobs"] for p in parts]), load_npz(path)["alleleprobs"])
    assert np.array_equal(np.concatenate([p["top_pair"] for p in parts]), tops)

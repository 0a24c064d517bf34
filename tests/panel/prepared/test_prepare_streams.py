"""Prepare and the prepared-panel reader on panels too large to hold as text:
strain files written from a few strains' calls at a time, markers written
and read a block at a time, and the maps every marker has found without
reading markers.tsv into lists (the Snakefile asks while it builds jobs)."""
import filecmp
import math

import numpy as np
import pytest

from tarvel_panel.panel import prepare, prepared
from tarvel_panel.panel.model import NO_CALL, Chromosome, Markers, Panel, Strain, held
from tarvel_panel.panel.prepare import Options, write_prepared
from tarvel_panel.panel.prepared import Markers as PreparedMarkers, maps_given

STRAINS = 11        # not a multiple of the strains taken at a time below
MARKERS = 37


def panel(pmap=True, gmap=True):
    rng = np.random.default_rng(2)
    pos = np.cumsum(rng.random(MARKERS)) + 1.0
    nan = np.full(MARKERS, math.nan)
    markers = Markers([f"m{i}" for i in range(MARKERS)], pos, pos / 2 if pmap else nan, pos if gmap else nan)
    founders = rng.choice(np.array([0, 1, NO_CALL], np.uint8), size=(MARKERS, 8), p=[0.45, 0.45, 0.1])
    strains = rng.choice(np.array([0, 1, 2, NO_CALL], np.uint8), size=(MARKERS, STRAINS))
    taken = []

    def strain_calls(columns=None):
        taken.append(None if columns is None else list(columns))
        return held(strains)(columns)
    chrom = Chromosome("1", False, markers, held(founders), strain_calls)
    return Panel(founders=list("ABCDEFGH"), strains=[Strain(f"S{k}", tuple(range(1, 9))) for k in range(STRAINS)],
                 chromosomes=[chrom]), strains, founders, taken


def test_strain_files_come_from_a_few_strains_at_a_time(tmp_path, monkeypatch):
    whole, strains, founders, _ = panel()
    write_prepared(whole, Options(20, 0.001, "mask"), str(tmp_path / "one_take"))
    monkeypatch.setattr(prepare, "STRAINS_AT_ONCE", 4)
    monkeypatch.setattr(prepare, "LINES_AT_ONCE", 5)
    blocks, _, _, taken = panel()
    write_prepared(blocks, Options(20, 0.001, "mask"), str(tmp_path / "blocks"))
    assert taken == [[0, 1, 2, 3], [4, 5, 6, 7], [8, 9, 10]]   # never every strain at once
    same = filecmp.dircmp(tmp_path / "one_take", tmp_path / "blocks")
    assert not same.diff_files and not same.left_only and not same.right_only
    for k in (0, 5, 10):   # and each file holds its own strain's calls, N where a founder is untyped
        text = (tmp_path / "blocks" / "chr1" / f"S{k}" / "strain.txt").read_text().split("\n")[:-1]
        expected = np.where((founders == NO_CALL).any(axis=1), NO_CALL, strains[:, k])
        assert text == [{0: "0", 1: "1", 2: "2", NO_CALL: "N"}[c] for c in expected.tolist()]
    lines = (tmp_path / "blocks" / "chr1" / "markers.tsv").read_text().splitlines()
    assert len(lines) == MARKERS + 1 and lines[1].startswith("m0\t")


def test_strain_text_is_one_call_and_a_line_end_per_marker():
    calls = np.array([0, 1, 2, NO_CALL, 2], np.uint8)
    assert prepare.strain_text(calls) == b"0\n1\n2\nN\n2\n"
    assert prepare.strain_text(calls, np.array([0, 1, 0, 0, 1], bool)) == b"0\nN\n2\nN\nN\n"
    assert calls.tolist() == [0, 1, 2, NO_CALL, 2]   # masking leaves the source's calls alone


@pytest.mark.parametrize("pmap, gmap", [(True, True), (True, False), (False, True), (False, False)])
def test_maps_found_by_search_are_the_maps_the_reader_reads(tmp_path, monkeypatch, pmap, gmap):
    whole, *_ = panel(pmap, gmap)
    write_prepared(whole, Options(20, 0.001, "keep"), str(tmp_path / "p"))
    path = tmp_path / "p" / "chr1" / "markers.tsv"
    monkeypatch.setattr(prepared, "SEARCHED_BYTES", 3)       # a tab pair split across blocks
    monkeypatch.setattr(prepared, "TEXT_AT_ONCE", 50)
    read = PreparedMarkers(str(path))
    assert maps_given(str(path)) == list(read.maps) == [m for m, on in (("pmap", pmap), ("gmap", gmap)) if on]
    assert read.names == [f"m{i}" for i in range(MARKERS)] and len(read.pos) == MARKERS


def test_maps_where_one_marker_lacks_one(tmp_path, monkeypatch):
    path = tmp_path / "markers.tsv"
    rows = ["m1\t1.0\t0.5\t1.0", "m2\t2.0\t\t2.0", "m3\t3.0\t1.5\t"]
    for kept, lacking in (([0], ()), ([0, 1], ("pmap",)), ([0, 2], ("gmap",)), ([0, 1, 2], ("pmap", "gmap"))):
        path.write_text("marker\tpos\tpmap\tgmap\n" + "".join(rows[i] + "\n" for i in kept))
        for searched in (1 << 24, *range(1, 45)):   # the one empty field at every place of a block's end
            monkeypatch.setattr(prepared, "SEARCHED_BYTES", searched)
            assert maps_given(str(path)) == [m for m in ("pmap", "gmap") if m not in lacking], searched
        assert maps_given(str(path)) == list(PreparedMarkers(str(path)).maps)
    # a table in another layout (an older prepare) is read rather than searched
    path.write_text("marker\tpos\tgmap\nm1\t1.0\t1.0\n")
    assert maps_given(str(path)) == ["gmap"]

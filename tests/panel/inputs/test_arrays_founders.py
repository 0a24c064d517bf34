"""Founder alleles from founder samples (a consensus of replicates) and from
founder tables, and strain calls coded against them."""
import numpy as np
import pytest
from conftest import REPO

from tarvel_panel.inputs.arrays import founders
from tarvel_panel.inputs.arrays.alleles import ALLELES, coded, packed
from tarvel_panel.inputs.sources import load_panel
from tarvel_panel.panel.model import NO_CALL as N

ARRAYS = REPO / "examples" / "panel" / "arrays"


def calls(rows):
    """Packed calls from rows of two-letter calls ("AG", "--")."""
    first = np.array([[ALLELES.index(c[0]) for c in row] for row in rows], np.uint8)
    second = np.array([[ALLELES.index(c[1]) for c in row] for row in rows], np.uint8)
    return packed(first, second)


# eight founders; founder 1 has two samples (columns 0, 1), the others one each (2..8)
COLUMNS = [[0, 1]] + [[i] for i in range(2, 9)]
SAMPLES = [
    # f1 twice   f2    f3    f4    f5    f6    f7    f8
    ["GG", "GG", "AA", "GG", "AA", "GG", "GG", "AA", "AA"],   # both samples agree; A is allele 0
    ["GG", "--", "AA", "GG", "AA", "GG", "GG", "AA", "AA"],   # one sample not called: the other's call
    ["GG", "AA", "AA", "GG", "AA", "GG", "GG", "AA", "AA"],   # the samples disagree: untyped
    ["GG", "AG", "AA", "GG", "AA", "AG", "GG", "AA", "AA"],   # a heterozygous call: untyped
    ["TT", "TT", "TT", "TT", "TT", "--", "TT", "TT", "TT"],   # one allele
    ["TT", "TT", "CC", "GG", "TT", "TT", "TT", "TT", "TT"],   # three alleles
    ["CC", "CC", "TT", "CC", "TT", "CC", "--", "TT", "TT"],   # C before T
]


def test_consensus_of_founder_samples():
    found = founders.from_samples(calls(SAMPLES), COLUMNS)
    assert found.codes.tolist()[:4] == [[1, 0, 1, 0, 1, 1, 0, 0], [1, 0, 1, 0, 1, 1, 0, 0],
                                        [N, 0, 1, 0, 1, 1, 0, 0], [N, 0, 1, 0, N, 1, 0, 0]]
    assert found.codes[6].tolist() == [0, 1, 0, 1, 0, N, 1, 1]
    assert found.reason.tolist() == [founders.KEPT] * 4 + [founders.AGREE, founders.MORE_ALLELES, founders.KEPT]
    assert [ALLELES[a] + ALLELES[b] for a, b in zip(found.zero[[0, 6]], found.one[[0, 6]])] == ["AG", "CT"]
    assert found.disagree.tolist() == [0, 0, 1, 1, 0, 0, 0]


def test_strain_calls_against_the_two_founder_alleles():
    strains = calls([["AA", "AG", "GA", "GG", "--", "AT", "TT"]])
    codes, foreign = coded(strains, np.array([1], np.uint8), np.array([3], np.uint8))
    assert codes.tolist() == [[0, 1, 1, 2, N, N, N]] and foreign.tolist() == [0, 0, 0, 0, 0, 1, 1]


def test_founder_tables(tmp_path):
    (tmp_path / "geno.csv").write_text("# founders\nmarker,H,G,F,E,D,C,B,A\n"
                                       "m1,A,A,B,B,A,-,H,B\nm2,A,A,A,A,A,A,A,A\nm4,A,B,A,B,A,B,A,B\n")
    (tmp_path / "codes.csv").write_text("marker,chr,A,B\nm1,1,T,C\nm2,1,A,G\nm3,1,A,G\n")
    found = founders.from_tables(tmp_path / "geno.csv", tmp_path / "codes.csv", ["m1", "m2", "m3", "m4"],
                                 list("ABCDEFGH"))
    assert found.codes[0].tolist() == [1, N, N, 0, 1, 1, 0, 0]   # columns by founder name, in any order
    assert (ALLELES[found.zero[0]], ALLELES[found.one[0]]) == ("T", "C")   # A is allele 0, whatever the order
    assert found.reason.tolist() == [founders.KEPT, founders.AGREE, founders.NOT_IN_GENOTYPES,
                                     founders.NO_ALLELE_CODES]


@pytest.mark.parametrize("chosen, rows", [
    ("SIM03/Tv", ["SIM03/Tv (SIM03_1)", "SIM03/Tv (SIM03_2)"]),      # a strain: all its samples
    ("SIM03_2,SIM01/Tv", ["SIM01/Tv", "SIM03/Tv (SIM03_2)"]),        # a sample, in the table's order
    ("SIM03/Tv (SIM03_1)", ["SIM03/Tv (SIM03_1)"])])                 # a row's own name
def test_strains_chosen_by_strain_sample_or_row(chosen, rows):
    panel = load_panel({"finalreports": [str(ARRAYS / r) for r in ("report_1.txt", "report_2.txt.gz", "report_3.zip")],
                        "array_annotation": str(ARRAYS / "annotation.csv"), "sample_table": str(ARRAYS / "samples.csv"),
                        "strains": chosen, "chromosomes": "2"})
    assert [s.name for s in panel.strains] == rows and [c.name for c in panel.chromosomes] == ["2"]
    assert panel.chromosomes[0].strain_geno.shape == (270, len(rows))

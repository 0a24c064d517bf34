"""What counts as a line of TARVEL's: the lines TARVEL writes for simulated
strains pass, on autosomes and on the X as one copy and as two (whose values
reach 2 and whose lines add up to anything from nearly 0 to 2), read from its
six-digit text or from the engine's values; lines another model, a scaled
copy or a program writing ones would give are refused at their line."""
import subprocess

import numpy as np
import pytest

from test_engine import SIMULATE
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import HETEROZYGOUS, PAIRS
from tarvel_panel.run.results import read_results
from tarvel_panel.run.values_file import TWO_COPY_X_MAX, check_values, read_values, write_values

MARKERS = 300


def tarvel_values(tmp_path, tarvel, generation, x=False, sex="M", seed=1):
    """TARVEL's results of one simulated strain, read back from its text."""
    out = tmp_path / f"g{generation}{sex}{x}"
    command = [SIMULATE, "--out", out, "--seed", seed, "--generation", generation, "--markers", MARKERS,
               "--length", 80] + (["--x", "--sex", sex] if x else [])
    subprocess.run([str(c) for c in command], check=True, capture_output=True)
    run = [tarvel, "founders.txt", "strain.txt", "funnel.txt", generation, "-cm", "positions.txt"]
    subprocess.run([str(c) for c in run + (["-x", "-s", sex] if x else [])], cwd=out, check=True, capture_output=True)
    return read_results(out / "strain.txt.prob", MARKERS, max_value=TWO_COPY_X_MAX)


def refusal(values, two_copy):
    with pytest.raises(InputError) as refused:
        check_values(values, "v", two_copy)
    return refused.value


def test_tarvels_lines_pass_and_other_lines_are_refused_where_they_go_wrong(tmp_path, tarvel):
    for generation in (3, 20):
        autosome = tarvel_values(tmp_path, tarvel, generation)
        male = tarvel_values(tmp_path, tarvel, generation, x=True)
        check_values(autosome, "v")
        check_values(male, "v")
        for values in (autosome, male):
            scaled = values.copy()
            scaled[17] *= 0.999
            assert refusal(scaled, False).line == 18
            assert refusal(scaled * 0 + 1, False).message == "its 36 values add up to 36, not 1"
    for generation in (3, 4, 5):
        female = tarvel_values(tmp_path, tarvel, generation, x=True, sex="F", seed=generation)
        check_values(female, "v", two_copy_x=True)
        sums = female.sum(axis=1)
        if generation < 5:
            assert sums.min() < 0.01 and sums.max() > 1.99   # a two-copy line's sum says nothing
        assert refusal(female, False).line is not None
        # the part of the table a line stands for is at most 1: a little more on one line shows
        share = female[:, [k for k, (a, b) in enumerate(PAIRS) if a == b]].sum(axis=1) + \
            female[:, HETEROZYGOUS].sum(axis=1) / 2
        line = int(np.argmax(share))
        pair = next(k for k in HETEROZYGOUS if female[line, k] < 1.8)
        more = female.copy()
        more[line, pair] += 0.1
        assert share[line] > 0.99 and (refusal(more, True).line, refusal(more, True).message[-11:]) == \
            (line + 1, "more than 1")
        assert refusal(np.ones_like(female), True).message == \
            "its homozygous values and half its others add up to 22, more than 1"
        assert "outside 0..2" in refusal(np.where(female > 0.5, 2.5, female), True).message


def test_a_values_file_reads_back_exactly_what_was_written(tmp_path, tarvel):
    values = tarvel_values(tmp_path, tarvel, 20) + 1e-12   # not six-digit numbers any more
    values /= values.sum(axis=1, keepdims=True)
    write_values(tmp_path / "v.values", values)
    assert np.array_equal(read_values(tmp_path / "v.values", MARKERS), values)
    with pytest.raises(InputError, match="300 markers, the chromosome has 301"):
        read_values(tmp_path / "v.values", MARKERS + 1)
    assert [p.name for p in tmp_path.iterdir() if p.name.startswith(".")] == []

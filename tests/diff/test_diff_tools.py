"""The differential test's own parts: that a difference in any output is
reported, and that the input edits make the inputs their cases claim."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cases  # noqa: E402
import compare  # noqa: E402
import inputs  # noqa: E402

SAME = compare.Outcome(0, b"a\nb\n", b"0|0.5,\n")


def test_identical_runs_have_no_difference():
    assert compare.differences(SAME, compare.Outcome(0, b"a\nb\n", b"0|0.5,\n")) == []


def test_each_output_is_compared():
    d = compare.differences(SAME, compare.Outcome(1, b"a\nc\n", None))
    assert len(d) == 3
    assert "line 2" in d[1] and "reference only" in d[2]
    d = compare.differences(SAME, compare.Outcome(0, b"a\nb\n", b"0|0.500001,\n"))
    assert d == ["results file differs at line 1: reference b'0|0.5,', candidate b'0|0.500001,'"]


def test_only_listed_stdout_lines_may_differ(monkeypatch):
    monkeypatch.setattr(compare, "STDOUT_MAY_DIFFER", [(b"b", b"c")])
    assert compare.differences(SAME, compare.Outcome(0, b"a\nc\n", b"0|0.5,\n")) == []
    d = compare.differences(SAME, compare.Outcome(0, b"x\nc\n", b"0|0.5,\n"))
    assert d == ["standard output differs at line 1: reference b'a', candidate b'x'"]
    # the list reaches neither the exit status nor the results file
    monkeypatch.setattr(compare, "STDOUT_MAY_DIFFER", [(b"0|0.5,", b"0|0.6,")])
    d = compare.differences(SAME, compare.Outcome(1, b"a\nb\n", b"0|0.6,\n"))
    assert len(d) == 2 and "exit status" in d[0] and "results file" in d[1]


def test_bp_positions_are_a_megabase_per_centimorgan():
    assert [inputs.cm_to_bp(x) for x in ("0.0000", "1.2345", "99.9999")] == \
        ["0", "1234500", "99999900"]


def _positions(tmp_path, edit):
    (tmp_path / "positions.txt").write_text("".join("%d.5\n" % i for i in range(10)))
    (tmp_path / "bp.txt").write_text("".join("%d500000\n" % i for i in range(10)))
    inputs.EDITS[edit](str(tmp_path))
    return [float(x) for x in (tmp_path / "positions.txt").read_text().split()]


def test_position_edits(tmp_path):
    p = _positions(tmp_path, "equal")
    assert p == sorted(p) and len(set(p)) < len(p)
    p = _positions(tmp_path, "unsorted")
    assert p != sorted(p) and sorted(p) == [i + 0.5 for i in range(10)]


def test_cases_are_named_once_and_the_full_form_is_large():
    names = [c.name for c in cases.all_cases(False)]
    assert len(names) == len(set(names)) >= 200
    short = cases.all_cases(True)
    assert all(c.expect is not None for c in short if c.name.startswith("refused"))
    assert cases.random_cases(5)[4].args == cases.random_cases(5)[4].args

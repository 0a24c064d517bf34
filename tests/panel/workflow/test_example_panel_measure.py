"""The founder_missing measurement: its decoding of TARVEL's results and its mask."""
import sys
from pathlib import Path

REPO = Path(__file__).resolve().parents[3]
sys.path.insert(0, str(REPO / "tools/panel"))
import measure_founder_missing as m  # noqa: E402


def test_top_pair_is_read_in_happy_order(tmp_path):
    prob = tmp_path / "s.prob"
    values = [0.0] * 36
    values[4] = 0.7   # (3,2)
    values[35] = 0.3  # (8,8)
    second = [0.0] * 36
    second[35] = 1.0
    prob.write_text("0|" + "".join(f"{v:g}," for v in values) + "\n"
                    "1|" + "".join(f"{v:g}," for v in second) + "\n")
    truth = tmp_path / "truth.txt"
    truth.write_text("2 3\n8 1\n")
    assert m.top_pairs(prob) == [frozenset({2, 3}), frozenset({8})]
    assert m.share_right(prob, truth) == 0.5


def test_mask_sets_N_only_where_a_founder_is_untyped():
    founders = ["0 1 0 1 0 1 0 1", "0 1 -1 1 0 1 0 1", "-0 1 0 1 0 1 0 1"]
    assert m.masked_calls(founders, ["2", "0", "N"]) == ["2", "N", "N"]


def test_masking_changes_nothing_without_missing_founders(tmp_path):
    args = type("Args", (), {"markers": 300, "generation": 20,
                             "tarvel": REPO / "build/TARVEL",
                             "simulate": REPO / "build/tools/simulate/tarvel_simulate"})
    keep, mask = m.measure_one(args, tmp_path, 0.0, "autosome", 3)
    assert keep == mask > 0.9

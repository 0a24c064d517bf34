"""The workflow's steps on their own: pair naming and the derived tables,
safe names, subsets and what prepare hands to TARVEL."""
import json

import numpy as np
import pytest
from crosses import run_prepare, write_cross

from tarvel_panel import pairs as happy
from tarvel_panel.collect import derive as mosaic
from tarvel_panel.inputs.sources import name_list
from tarvel_panel.panel.safe_names import safe_names


def test_pairs_are_named_in_the_happy_order():
    names = happy.pair_names(list("ABCDEFGH"))
    assert names[:7] == ["AA", "AB", "BB", "AC", "BC", "CC", "AD"] and names[-2:] == ["GH", "HH"]
    long = happy.pair_names(["A_J", "C57", "129", "NOD", "NZO", "CAST", "PWK", "WSB"])
    assert long[1] == "A_J_C57" and len(set(long)) == 36


def test_top_pair_runs_and_summary():
    def at(**pairs):  # 36 values from {"k<index>": value}
        values = [0.0] * 36
        for key, v in pairs.items():
            values[int(key[1:])] = v
        return values
    # ties go to the first pair in layout order (k3 before k10)
    markers = np.array([at(k0=1.0), at(k0=0.6, k1=0.4), at(k3=0.5, k10=0.5), at(k3=0.95), at(k0=0.92)])
    tops, top_probs = mosaic.top_pairs(markers)
    assert tops.tolist() == [0, 0, 3, 3, 0]
    assert mosaic.runs(tops, top_probs) == [(0, 1, 0, 0.8), (2, 3, 3, pytest.approx(0.725)), (4, 4, 0, 0.92)]
    confident, het, switches = mosaic.summary(tops, top_probs, mosaic.het_sums(markers))
    assert (confident, switches) == (3, 2) and het == pytest.approx((0.4 + 0.5 + 0.5 + 0.95) / 5)
    assert mosaic.founder_probs(np.array([at(k0=0.5, k1=0.5)]))[0, :2].tolist() == [0.75, 0.25]


def test_safe_names_are_distinct_and_path_safe():
    names = ["CC001/Unc", "CC001_Unc", "cc001/unc", "..", "a b"]
    safe = safe_names(names)
    assert safe[:2] == ["CC001_Unc", "CC001_Unc-2"] and len({s.lower() for s in safe}) == len(names)
    assert all("/" not in s and not s.startswith(".") and " " not in s for s in safe)
    # a name an argument parser would take for an option, and names too long for a file name
    long = ["x" * 300 + "a", "x" * 300 + "b"]
    safe = safe_names(["--help"] + long)
    assert safe[0] == "_--help" and len(set(safe)) == 3 and all(len(s) <= 100 for s in safe)


def test_subsets_from_the_command_line_or_a_list():
    assert name_list("19,X") == ["19", "X"] and name_list(19) == ["19"]
    assert name_list(["1", 2]) == ["1", "2"] and name_list("") is None and name_list(None) is None


def prepared_jobs(tmp_path, **config):
    dest = tmp_path / "out" / "prepared"
    dest.parent.mkdir(parents=True)
    done = run_prepare(write_cross(tmp_path / "cross"), dest, **config)
    assert done.returncode == 0, done.stderr
    return dest


def job(dest, chrom, safe):
    return json.loads((dest / f"chr{chrom}" / safe / "job.json").read_text())


def test_x_runs_as_one_copy_from_generation_six_and_by_sex_before(tmp_path):
    inbred = prepared_jobs(tmp_path / "g20", generation=20)
    young = prepared_jobs(tmp_path / "g5", generation=5)
    for safe in ("S1_a", "S2_b", "S3"):
        assert (job(inbred, "X", safe)["x"], job(inbred, "X", safe)["sex"]) == (True, "M")
        assert job(inbred, "1", safe)["x"] is False
    # covar: S1/a female, S2/b male, S3 female
    assert [job(young, "X", s)["sex"] for s in ("S1_a", "S2_b", "S3")] == ["F", "M", "F"]


def test_founder_missing_mask_sets_calls_to_n_where_a_founder_is_untyped(tmp_path):
    # founders are untyped at m2 (second marker of chromosome 1) and x2
    masked = prepared_jobs(tmp_path / "mask", founder_missing="mask")
    kept = prepared_jobs(tmp_path / "keep", founder_missing="keep")
    assert (kept / "chr1" / "founders.txt").read_text().splitlines()[1] == "1 1 0 0 -1 0 0 1"
    assert (kept / "chr1" / "S2_b" / "strain.txt").read_text().split() == ["2", "2", "0", "0"]
    assert (masked / "chr1" / "S2_b" / "strain.txt").read_text().split() == ["2", "N", "0", "0"]
    assert (masked / "chrX" / "S2_b" / "strain.txt").read_text().split() == ["1", "N", "0"]
    stats = json.loads((masked / "panel.json").read_text())["site_stats"]
    assert stats["1"]["founder_untyped_markers"] == 1

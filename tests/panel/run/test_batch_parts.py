"""How a batch is put to the engine: its strains in order of #Generation and
sex (the engine's groups stay whole where they can) cut into consecutive
parts of nearly one size, each strain's line naming its prepared files, its
options as TARVEL takes them and its values file; an output folder whose name
a job list cannot carry is refused naming the config key."""
import json

import pytest

from tarvel_panel import paths
from tarvel_panel.errors import InputError
from tarvel_panel.run.batch import Batch, engine_parts, job_line

# (generation, sex on the X) per strain, in panel order
STRAINS = [(20, "M"), (4, "F"), (20, "M"), (4, "M"), (4, "F"), (20, "M"), (5, "F")]


def prepared(out, keep_runs=False):
    strains = [{"name": f"S{i}/x", "safe": f"S{i}_x", "generation": g, "sex": "female" if sex == "F" else "male"}
               for i, (g, sex) in enumerate(STRAINS)]
    chrom = {"name": "X", "safe": "X", "is_x": True, "markers": 3}
    (out / "prepared").mkdir(parents=True)
    (out / "prepared" / "panel.json").write_text(json.dumps(
        {"founders": list("ABCDEFGH"), "pos_unit": "cM", "strains": strains, "chromosomes": [chrom]}))
    for s, (g, sex) in zip(strains, STRAINS):
        job = out / "prepared" / "chrX" / s["safe"]
        job.mkdir(parents=True)
        (job / "job.json").write_text(json.dumps({"strain": s["name"], "chromosome": "X", "generation": g, "x": True,
                                                  "sex": sex, "error_rate": 0.001, "positions": "-cm",
                                                  "markers": 3}))
    return Batch(str(out), "X", 0, 0, text=keep_runs)


@pytest.mark.parametrize("threads, sizes", [(1, [7]), (2, [4, 3]), (3, [3, 2, 2]), (9, [1] * 7)])
def test_parts_follow_generation_and_sex_and_share_the_strains(tmp_path, threads, sizes):
    batch = prepared(tmp_path)
    parts = engine_parts(batch, batch.strains, threads)
    assert [len(p) for p in parts] == sizes
    order = [s for part in parts for s, _ in part]
    assert order == ["S1_x", "S4_x", "S3_x", "S6_x", "S0_x", "S2_x", "S5_x"]
    # a strain already done stays out
    assert [s for part in engine_parts(batch, ["S5_x", "S1_x"], 2) for s, _ in part] == ["S1_x", "S5_x"]


def test_a_line_gives_the_engine_what_tarvel_would_be_given(tmp_path):
    batch = prepared(tmp_path, keep_runs=True)
    ((strain, job),), = engine_parts(batch, ["S1_x"], 1)
    run = tmp_path / "runs" / "chrX" / "S1_x"
    job_dir = tmp_path / "prepared" / "chrX" / "S1_x"
    assert job_line(batch, strain, job).split("\t") == [
        str(job_dir / "strain.txt"), str(job_dir / "funnel.txt"), "4", "f", "0.001", str(run / "strain.values"),
        str(run / "strain.txt.prob") + "\n"]
    assert paths.values_file(batch.runs, "X", strain) == str(run / "strain.values")
    batch.text = False
    assert job_line(batch, "S0_x", engine_parts(batch, ["S0_x"], 1)[0][0][1]).split("\t")[3:] == \
        ["m", "0.001", str(tmp_path / "runs" / "chrX" / "S0_x" / "strain.values") + "\n"]


def test_an_output_folder_a_job_list_cannot_carry_is_refused(tmp_path):
    out = tmp_path / "a\tb"
    batch = prepared(out)
    with pytest.raises(InputError) as refused:
        job_line(batch, "S0_x", engine_parts(batch, ["S0_x"], 1)[0][0][1])
    assert refused.value.path == "config out" and "holds a tab or a line end" in refused.value.message

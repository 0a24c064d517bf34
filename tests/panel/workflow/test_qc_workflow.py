"""Strain QC end to end on a simulated panel whose faults are known
(tools/simulate/qc_cases.py): a wrong funnel on the X, a strain at
#Generation 8, a strain copied under another name, a mixed sample and 100
clean strains, through the workflow; samples of one strain, a reference, and
refusals. The measured figures are printed (pytest -s shows them)."""
import csv
import json
import shutil
import subprocess

import pytest

from conftest import REPO, run_workflow

CASES = REPO / "tools" / "simulate" / "qc_cases.py"


def qc_tool(*args):
    done = subprocess.run(["/usr/bin/python3", str(CASES), *map(str, args)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout


def run_qc(out, *options):
    return subprocess.run(["/usr/bin/python3", "-m", "tarvel_panel", "qc", "--out", str(out), "--het-share-max", "0.2",
                           *map(str, options)],
                          cwd=REPO, capture_output=True, text=True)


def read_tsv(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f, delimiter="\t"))


@pytest.fixture(scope="module")
def cases(tmp_path_factory, tarvel):
    work = tmp_path_factory.mktemp("qc_cases")
    qc_tool("make", "--out", work / "cross", "--clean", 100, "--seed", 3)
    # a genome of 260 cM: an inbred strain's heterozygous share varies more than on a mouse's
    run_workflow(work, f"cross={work / 'cross' / 'panel.yaml'}", "out=out", "plots=false", "generation_column=ngen",
                 "qc_het_share_max=0.2")
    return work


@pytest.fixture(scope="module")
def strains(cases):
    return {r["strain"]: r for r in read_tsv(cases / "out" / "qc" / "strains.tsv")}


@pytest.fixture(scope="module")
def flags(cases):
    return read_tsv(cases / "out" / "qc" / "flags.tsv")


@pytest.fixture(scope="module")
def score(cases):
    result = json.loads(qc_tool("score", "--cases", cases / "cross", "--qc", cases / "out" / "qc"))
    print("\nqc cases:", json.dumps({k: v for k, v in result.items() if k != "clean_flags"}, indent=1))
    return result


def flags_of(flags, strain, flag):
    return [f for f in flags if f["strain"] == strain and f["flag"] == flag]


def test_each_fault_made_on_purpose_is_flagged_and_told(cases, strains, flags):
    made = json.loads((cases / "cross" / "cases.json").read_text())
    x = flags_of(flags, "XFUN/Tv", "x_funnel")
    assert x and all(f["where"].startswith("chr X, markers ") for f in x)
    assert f"founder {made['x_funnel']['founder']}'s" in x[0]["why"] and "place 4" in x[0]["why"]
    assert {f["why"].split(" with ")[1].split(" ")[0] for f in flags_of(flags, "DUPB/Tv", "duplicate")} == {"DUPA/Tv"}
    assert "duplicate" in strains["DUPA/Tv"]["flags"].split(",")
    mixed = flags_of(flags, "MIX/Tv", "mixed")
    assert len(mixed) == 1 and "MIXA/Tv" in mixed[0]["why"] and "MIXB/Tv" in mixed[0]["why"]
    for source in ("MIXA/Tv", "MIXB/Tv"):
        assert "mixed" not in strains[source]["flags"]


def test_a_generation_8_strains_segments_match_its_truth(score):
    het = score["het_segments"]
    assert het["het_markers"] > 20, "the simulated strain kept too little heterozygosity to measure"
    assert het["recall"] >= 0.85 and het["precision"] >= 0.85
    assert het["true_segments_found"] >= 0.8


def test_clean_strains_are_seldom_flagged(score):
    assert score["clean_strains"] == 100 and score["false_flag_rate"] <= 0.05, score["clean_flags"]


def test_the_tables_agree_with_one_another(cases, strains, flags):
    qc = cases / "out" / "qc"
    segments = read_tsv(qc / "het_segments.tsv")
    for name, row in strains.items():
        told = [f["flag"] for f in flags if f["strain"] == name]
        assert row["flags"] == ",".join(dict.fromkeys(told))
        assert int(row["het_segments"]) == sum(s["strain"] == name for s in segments)
        shares = [float(v) for k, v in row.items() if k.startswith("share_")]
        assert len(shares) == 8 and sum(shares) == pytest.approx(1, abs=1e-4)
        assert 0.95 < float(row["call_rate"]) <= 1
    pairs = {(r["strain1"], r["strain2"]): r for r in read_tsv(qc / "similarity.tsv")}
    dup = pairs.get(("DUPA/Tv", "DUPB/Tv")) or pairs[("DUPB/Tv", "DUPA/Tv")]
    assert float(dup["share"]) >= 0.95 and dup["flag"] == "duplicate"
    assert all(float(r["share"]) >= 0.5 for r in pairs.values())


@pytest.fixture
def copied(cases, tmp_path):
    out = tmp_path / "out"
    shutil.copytree(cases / "out", out, ignore=shutil.ignore_patterns("runs", "logs", "founderprobs", "qtl2"))
    return out


def edit_panel(out, change):
    path = out / "prepared" / "panel.json"
    panel = json.loads(path.read_text())
    change({s["name"]: s for s in panel["strains"]})
    path.write_text(json.dumps(panel))


def test_samples_of_one_strain_are_compared_as_replicates(copied):
    def samples(by_name):
        by_name["DUPA/Tv"]["strain_of"] = by_name["DUPB/Tv"]["strain_of"] = "DUP"
        by_name["XFUN/Tv"]["strain_of"] = by_name["SIM001/Tv"]["strain_of"] = "ODD"
    edit_panel(copied, samples)
    done = run_qc(copied)
    assert done.returncode == 0, done.stderr
    flags = read_tsv(copied / "qc" / "flags.tsv")
    assert not flags_of(flags, "DUPA/Tv", "duplicate") and not flags_of(flags, "DUPA/Tv", "replicates_disagree")
    assert flags_of(flags, "XFUN/Tv", "replicates_disagree") and flags_of(flags, "SIM001/Tv", "replicates_disagree")
    pairs = {frozenset((r["strain1"], r["strain2"])): r for r in read_tsv(copied / "qc" / "similarity.tsv")}
    assert pairs[frozenset(("XFUN/Tv", "SIM001/Tv"))]["same_strain"] == "yes"


def test_a_reference_finds_the_strains_whose_namesake_differs(cases, copied):
    def swapped(by_name):
        by_name["SIM001/Tv"]["name"], by_name["SIM002/Tv"]["name"] = "SIM002/Tv", "SIM001/Tv"
    edit_panel(copied, swapped)
    done = run_qc(cases / "out", "--reference", copied)
    try:
        assert done.returncode == 0, done.stderr
        rows = {r["strain"]: r for r in read_tsv(cases / "out" / "qc" / "strains.tsv")}
        disagree = {r for r, row in rows.items() if "reference_disagrees" in row["flags"]}
        assert disagree == {"SIM001/Tv", "SIM002/Tv"}
        assert float(rows["SIM003/Tv"]["reference_share"]) == 1.0
    finally:
        assert run_qc(cases / "out").returncode == 0


def test_a_panel_not_collected_or_a_bad_threshold_is_one_line_and_writes_nothing(copied):
    (copied / "npz" / "chr2.npz").unlink()
    shutil.rmtree(copied / "qc")
    for options, message in (([], "npz/chr2.npz: cannot read"), (["--x-min-prob", "1.5"], "qc_x_min_prob: 1.5")):
        done = run_qc(copied, *options)
        assert done.returncode == 1 and message in done.stderr
        assert len(done.stderr.strip().splitlines()) == 1, done.stderr
        assert not (copied / "qc").exists() or not list((copied / "qc").iterdir())

"""The workflow on the example panel given as array files (examples/panel/arrays,
written by tools/simulate/panel_to_arrays.py) against the same panel read as
an R/qtl2 cross.

The reports hold the cross's calls as alleles, at the cross's positions, with
the founders as two samples each (disagreeing only where the cross's founder
is untyped) and one strain genotyped twice. The array route drops markers
whose typed founders carry one allele, so a chromosome where it keeps every
marker of the cross must give the cross's probabilities value for value, for
both samples of the replicated strain; on another the dropped markers must be
exactly ones whose typed founders agree in the cross."""
import csv
import filecmp
import gzip
import json
import subprocess
from collections import defaultdict

import pytest

from conftest import REPO, run_workflow
from tarvel_panel.panel import prepare

ARRAYS = REPO / "examples" / "panel" / "arrays"
REPORTS = ",".join(str(ARRAYS / r) for r in ("report_1.txt", "report_2.txt.gz", "report_3.zip"))


def array_config(**changes):
    return {"finalreports": REPORTS, "array_annotation": str(ARRAYS / "annotation.csv"),
            "sample_table": str(ARRAYS / "samples.csv"), **changes}


@pytest.fixture(scope="module")
def arrays_run(tmp_path_factory, tarvel):
    workdir = tmp_path_factory.mktemp("arrays_run")
    run_workflow(workdir, *[f"{k}={v}" for k, v in array_config(out=workdir / "out", plots="false").items()])
    return workdir / "out"


def panel_json(out):
    return json.loads((out / "prepared" / "panel.json").read_text())


def probabilities(out, chrom):
    """strain -> its founderprobs rows (without the strain)."""
    rows = defaultdict(list)
    with gzip.open(out / "founderprobs" / f"chr{chrom}.csv.gz", "rt") as f:
        for row in list(csv.reader(f))[1:]:
            rows[row[0]].append(row[1:])
    return rows


def prepared(out, chrom, name):
    with open(out / "prepared" / f"chr{chrom}" / name) as f:
        return [line.split() for line in f]


def test_same_probabilities_as_the_cross(arrays_run, example_run):
    panel, cross = panel_json(arrays_run), panel_json(example_run)
    strain_of = {s["name"]: s["strain_of"] for s in panel["strains"]}
    assert sorted(s for s, of in strain_of.items() if of == "SIM03/Tv") == ["SIM03/Tv (SIM03_1)", "SIM03/Tv (SIM03_2)"]
    cross_markers = {c["name"]: c["markers"] for c in cross["chromosomes"]}
    in_full = []
    for chrom, st in panel["site_stats"].items():
        if st["markers_kept"] == cross_markers[chrom]:
            in_full.append(chrom)
            ours, theirs = probabilities(arrays_run, chrom), probabilities(example_run, chrom)
            assert len(ours) == 9 and all(rows == theirs[strain_of[s]] for s, rows in ours.items()), chrom
        else:
            kept = {row[0] for row in prepared(arrays_run, chrom, "markers.tsv")}
            markers = prepared(example_run, chrom, "markers.tsv")[1:]
            dropped = [i for i, row in enumerate(markers) if row[0] not in kept]
            assert len(dropped) == st["dropped_founders_agree"] == cross_markers[chrom] - st["markers_kept"]
            founders = prepared(example_run, chrom, "founders.txt")
            assert all(len(set(founders[i]) - {"-1"}) == 1 for i in dropped)
    assert in_full, "no chromosome kept all its markers: nothing compared value for value"
    assert panel["samples_left_out"] == ["H2O"] and "samples_left_out" not in cross
    assert sum(s["foreign_calls"] for s in panel["strains"]) > 0 and "strain_of" not in cross["strains"][0]
    with open(arrays_run / "summary.tsv") as f:
        summary = list(csv.DictReader(f, delimiter="\t"))
    assert len(summary) == 9 * 3 and all(r["markers"] == r["markers_kept"] for r in summary)
    assert {r["chr"]: r["dropped_not_unique"] for r in summary} == {"1": "3", "2": "0", "X": "0"}


def test_founder_tables_give_the_founder_samples_calls(tmp_path, capsys):
    """The founder genotype and allele-code tables hold the cross's founder
    calls; the founder samples' consensus must come to the same."""
    dests = {}
    for way, keys in {"samples": {}, "tables": {"founder_genotypes": str(ARRAYS / "founder_geno.csv"),
                                                 "allele_codes": str(ARRAYS / "allele_codes.csv")}}.items():
        (tmp_path / f"{way}.json").write_text(json.dumps(array_config(**keys)))
        dests[way] = tmp_path / way
        assert prepare.main(["--config", str(tmp_path / f"{way}.json"), "--dest", str(dests[way])]) == 0
    assert "the sample table's founder samples are not used" in capsys.readouterr().err
    compared = filecmp.dircmp(dests["samples"], dests["tables"])
    assert compared.diff_files == ["panel.json"] and not compared.left_only and not compared.right_only
    for chrom, sub in compared.subdirs.items():
        assert not sub.diff_files and all(not s.diff_files for s in sub.subdirs.values()), chrom


def test_example_files_are_the_simulators_output(tmp_path):
    """The shipped example is panel_to_arrays.py's output for the shipped cross
    (rerun the tool when the cross changes)."""
    subprocess.run(["/usr/bin/python3", str(REPO / "tools/simulate/panel_to_arrays.py"),
                    str(REPO / "examples/panel/panel.yaml"), str(tmp_path)], check=True, capture_output=True)
    for path in ARRAYS.iterdir():
        assert (tmp_path / path.name).read_bytes() == path.read_bytes(), path.name

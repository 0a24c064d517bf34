"""The workflow end to end: on the example panel every output is there,
labelled, and holds TARVEL's own values; bad input reaches the user as one
message. Batches, reruns and failing runs: test_workflow_batches.py."""
import csv
import gzip
import json
import shutil
import subprocess

import pytest

from conftest import REPO, run_workflow

EXAMPLE = REPO / "examples" / "panel"


def read_csv(path, delimiter=","):
    opener = gzip.open if str(path).endswith(".gz") else open
    with opener(path, "rt", newline="") as f:
        return list(csv.DictReader(f, delimiter=delimiter))


@pytest.fixture(scope="module")
def example_run(tmp_path_factory, tarvel):
    """The example panel with the 36 pairs written as CSV too."""
    workdir = tmp_path_factory.mktemp("labelled_run")
    run_workflow(workdir, f"cross={EXAMPLE / 'panel.yaml'}", "out=out", "plots=false", "genoprobs_csv=true")
    return workdir / "out"


@pytest.fixture(scope="module")
def panel(example_run):
    return json.loads((example_run / "prepared" / "panel.json").read_text())


def test_every_output_is_present_and_labelled(example_run, panel):
    strains = [s["name"] for s in panel["strains"]]
    assert "SIM01/Tv" in strains and [c["name"] for c in panel["chromosomes"]] == ["1", "2", "X"]
    for chrom in panel["chromosomes"]:
        geno = read_csv(example_run / "genoprobs" / f"chr{chrom['name']}.csv.gz")
        founders = read_csv(example_run / "founderprobs" / f"chr{chrom['name']}.csv.gz")
        assert list(geno[0])[:10] == ["strain", "marker", "chr", "pos", "AA", "AB", "BB", "AC", "BC", "CC"]
        assert len(geno[0]) == 40 and list(geno[0])[-1] == "HH"
        assert list(founders[0]) == ["strain", "marker", "chr", "pos"] + list("ABCDEFGH")
        assert [r["strain"] for r in geno] == [s for s in strains for _ in range(chrom["markers"])]
        markers = ["\t".join(line.split("\t")[:2]) for line in
                   (example_run / "prepared" / f"chr{chrom['name']}" / "markers.tsv").read_text().splitlines()[1:]]
        assert [f"{r['marker']}\t{r['pos']}" for r in geno[:chrom["markers"]]] == markers
        for row in founders:  # autosomes and the male-model X alike
            assert abs(sum(float(row[f]) for f in "ABCDEFGH") - 1) < 1e-4
        if not chrom["is_x"]:
            for row in geno:
                assert abs(sum(float(v) for v in list(row.values())[4:]) - 1) < 1e-4


def hand_run(tarvel, prepared, chrom, strain, tmp_path, extra):
    job = prepared / f"chr{chrom}" / strain["safe"]
    strain_file = tmp_path / "strain.txt"
    shutil.copy(job / "strain.txt", strain_file)
    subprocess.run([str(tarvel), str(prepared / f"chr{chrom}" / "founders.txt"), str(strain_file), str(job / "funnel.txt"),
                    str(strain["generation"]), "-cm", str(prepared / f"chr{chrom}" / "positions.txt")] + extra,
                   check=True, capture_output=True)
    return [line.split("|")[1].rstrip(",\n").split(",") for line in open(f"{strain_file}.prob")]


@pytest.mark.parametrize("chrom,extra", [("2", []), ("X", ["-x", "-s", "M"])])
def test_values_are_tarvels_own_results(example_run, panel, tarvel, tmp_path, chrom, extra):
    strain = panel["strains"][2]
    rows = [r for r in read_csv(example_run / "genoprobs" / f"chr{chrom}.csv.gz") if r["strain"] == strain["name"]]
    by_hand = hand_run(tarvel, example_run / "prepared", chrom, strain, tmp_path, extra)
    assert [list(r.values())[4:] for r in rows] == by_hand


def test_mosaic_and_summary_cover_every_strain_and_chromosome(example_run, panel):
    mosaic = read_csv(example_run / "mosaic.csv")
    summary = read_csv(example_run / "summary.tsv", "\t")
    assert len(summary) == len(panel["strains"]) * len(panel["chromosomes"])
    for chrom in panel["chromosomes"]:
        geno = read_csv(example_run / "genoprobs" / f"chr{chrom['name']}.csv.gz")
        for strain in panel["strains"]:
            runs = [r for r in mosaic if r["strain"] == strain["name"] and r["chr"] == chrom["name"]]
            assert sum(int(r["markers"]) for r in runs) == chrom["markers"]
            rows = [r for r in geno if r["strain"] == strain["name"]]
            tops = [max(list(r)[4:], key=lambda p: float(r[p])) for r in rows]
            assert [r["pair"] for r in runs] == [p for i, p in enumerate(tops) if i == 0 or tops[i - 1] != p]
            line = next(r for r in summary if r["strain"] == strain["name"] and r["chr"] == chrom["name"])
            assert int(line["markers"]) == chrom["markers"] and int(line["switches"]) == len(runs) - 1
            assert float(line["tarvel_seconds"]) > 0


def test_bad_cross_reaches_the_user_as_one_line(tmp_path):
    shutil.copytree(EXAMPLE, tmp_path / "cross")
    geno = tmp_path / "cross" / "geno.csv"
    lines = geno.read_text().splitlines()
    lines[4] = lines[4].replace(",A", ",Z", 1)
    geno.write_text("\n".join(lines) + "\n")
    done = run_workflow(tmp_path, "cross=cross/panel.yaml", "out=out", check=False)
    assert done.returncode != 0
    assert [l for l in done.stderr.splitlines() if l.startswith("error:")] == [
        f"error: cross/geno.csv:5: unknown genotype code 'Z' in column '{lines[1].split(',')[1]}' of the "
        "strain genotypes (known: -, A, B, H, NA)"]
    assert not (tmp_path / "out" / "prepared").exists()

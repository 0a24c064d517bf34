"""The workflow on the example panel given as VCF files (examples/panel/vcf,
written by tools/panel/panel_to_vcf.py) against the same panel read as an
R/qtl2 cross.

The VCF files hold every marker of the cross at its physical position, and the
genetic map has one point per marker with the marker's gmap cM, so every site
gets exactly the cross's position. Two things still differ by design: the VCF
path drops sites where the typed founders all agree, and would turn a
heterozygous founder call into an untyped one (the cross has none). So a
chromosome where every site is kept must give the cross's probabilities value
for value; on one with dropped sites, the dropped ones must be exactly markers
whose typed founders agree in the cross.
"""
import csv
import gzip
import json
import subprocess

import pytest

from conftest import REPO, run_workflow

VCF = REPO / "examples" / "panel" / "vcf"


def vcf_config(out, **changes):
    """`key=value` items: the example as VCF with the changes."""
    config = {"founders_vcf": VCF / "founders.vcf.gz", "founders": "AJ,B6,S129,NOD,NZO,CAST,PWK,WSB",
              "strains_vcf": VCF / "strains.vcf", "strain_table": VCF / "strain_table.tsv",
              "out": out, "plots": "false", **changes}
    return [f"{k}={v}" for k, v in config.items()]


@pytest.fixture(scope="module")
def vcf_run(tmp_path_factory, tarvel):
    workdir = tmp_path_factory.mktemp("vcf_run")
    run_workflow(workdir, *vcf_config(workdir / "out", genetic_map=VCF / "genetic_map.csv"))
    return workdir / "out"


def text(path):
    with gzip.open(path, "rt") as f:
        return f.read()


def prepared(out, chrom, name):
    with open(out / "prepared" / f"chr{chrom}" / name) as f:
        return [line.split() for line in f]


def test_same_probabilities_as_the_cross(vcf_run, example_run):
    stats = json.loads((vcf_run / "prepared" / "panel.json").read_text())["site_stats"]
    in_full = []
    for chrom, st in stats.items():
        if st["sites_kept"] == st["sites_read"]:
            in_full.append(chrom)
            assert text(vcf_run / "founderprobs" / f"chr{chrom}.csv.gz") == \
                text(example_run / "founderprobs" / f"chr{chrom}.csv.gz"), chrom
        else:
            kept = {row[0] for row in prepared(vcf_run, chrom, "markers.tsv")}
            cross = prepared(example_run, chrom, "markers.tsv")[1:]
            dropped = [i for i, row in enumerate(cross) if row[0] not in kept]
            assert len(dropped) == st["dropped_founders_agree"] == st["sites_read"] - st["sites_kept"]
            founders = prepared(example_run, chrom, "founders.txt")
            assert all(len(set(founders[i]) - {"-1"}) == 1 for i in dropped)
    assert in_full, "no chromosome kept all its sites: nothing compared value for value"
    with open(vcf_run / "summary.tsv") as f:
        summary = list(csv.DictReader(f, delimiter="\t"))
    assert summary and all(r["markers"] == str(stats[r["chr"]]["sites_kept"]) for r in summary)


def test_without_a_map_runs_on_base_pairs(tmp_path):
    out = tmp_path / "out"
    run_workflow(tmp_path, *vcf_config(out, chromosomes="2", strains="SIM03/Tv",
                                       strains_vcf=VCF / "strains.vcf.gz", genoprobs_csv="true"))
    assert json.loads((out / "prepared" / "panel.json").read_text())["pos_unit"] == "bp"
    with open(VCF / "strains.vcf") as f:
        bp = {cols[2]: float(cols[1]) for cols in (line.split("\t") for line in f)
              if cols[0] == "chr2"}
    with gzip.open(out / "genoprobs" / "chr2.csv.gz", "rt") as f:
        rows = list(csv.reader(f))[1:]
    assert {r[0] for r in rows} == {"SIM03/Tv"} and len(rows) == len(bp)
    for r in rows:
        assert float(r[3]) == bp[r[1]]
        assert sum(float(v) for v in r[4:]) == pytest.approx(1, abs=1e-4)


def test_bad_input_stops_with_one_message(tmp_path):
    out = tmp_path / "out"
    done = run_workflow(tmp_path, *vcf_config(out, founders="AJ,B6,S129,NOD,NZO,CAST,PWK,WSB_EiJ"),
                        check=False)
    assert done.returncode == 1
    assert "founder 'WSB_EiJ' is not a sample in the file" in done.stdout + done.stderr
    assert not any((out / d).exists() for d in ("prepared", "genoprobs", "summary.tsv"))


def test_example_files_are_the_cross_as_it_is_now(tmp_path):
    """The shipped VCF example is panel_to_vcf.py's output for the shipped cross
    (rerun the tool when the cross changes)."""
    subprocess.run(["/usr/bin/python3", str(REPO / "tools/panel/panel_to_vcf.py"),
                    str(REPO / "examples/panel/panel.yaml"), str(tmp_path)], check=True,
                   capture_output=True)
    for name in ("founders.vcf.gz", "strains.vcf.gz", "strains.vcf", "strain_table.tsv",
                 "genetic_map.csv"):
        read = gzip.open if name.endswith(".gz") else open
        with read(tmp_path / name, "rt") as new, read(VCF / name, "rt") as shipped:
            assert new.read() == shipped.read(), name

"""Hostile chromosome names: a chromosome named like a shell command and one
holding "/", as VCF contigs and in an R/qtl2 cross's maps, run end to end;
every path uses the safe name, no command in a name runs, and the outputs
carry the real names."""
import csv
import gzip
import json
import re
import shutil

import pytest

from conftest import REPO, run_workflow

EXAMPLE = REPO / "examples" / "panel"
VCF = EXAMPLE / "vcf"
RENAMED = {"1": "1/a", "2": "2&touch$IFS@PWNED&"}
# strains an argument parser would take for an option, or too long for a file name
STRAINS = {"SIM01/Tv": "--help", "SIM02/Tv": "CC" + "x" * 300}


def renamed_line(line):
    """A VCF line with contigs chr1 and chr2 renamed."""
    header = re.match(r"##contig=<ID=chr(\w+),", line)
    if header and header.group(1) in RENAMED:
        return line.replace(f"ID=chr{header.group(1)},", f"ID={RENAMED[header.group(1)]},")
    if line.startswith("#"):
        return line
    chrom, rest = line.split("\t", 1)
    return f"{RENAMED.get(chrom[3:], chrom)}\t{rest}"


def renamed_map(source, dest, column):
    """A map CSV with chromosomes 1 and 2 renamed in its `column` (0-based)."""
    def renamed(line):
        fields = line.split(",")
        if len(fields) > column and fields[column] in RENAMED:
            fields[column] = RENAMED[fields[column]]
        return ",".join(fields)
    dest.write_text("".join(renamed(line) + "\n" for line in source.read_text().splitlines()))


def hostile_vcf(work):
    with gzip.open(VCF / "founders.vcf.gz", "rt") as f:
        (work / "founders.vcf").write_text("".join(renamed_line(line) for line in f))
    with open(VCF / "strains.vcf") as f:
        (work / "strains.vcf").write_text("".join(renamed_line(line) for line in f))
    renamed_map(VCF / "genetic_map.csv", work / "genetic_map.csv", 0)
    return ["founders_vcf=founders.vcf", "strains_vcf=strains.vcf", "genetic_map=genetic_map.csv",
            "founders=AJ,B6,S129,NOD,NZO,CAST,PWK,WSB", f"strain_table={VCF / 'strain_table.tsv'}"]


def hostile_cross(work):
    shutil.copytree(EXAMPLE, work / "cross", ignore=shutil.ignore_patterns("vcf", "*.png", "*.zip"))
    for name in ("gmap.csv", "pmap.csv"):
        renamed_map(EXAMPLE / name, work / "cross" / name, 1)
    for name in ("geno.csv", "cross_info.csv", "covar.csv"):
        text = (EXAMPLE / name).read_text()
        for old, new in STRAINS.items():
            text = text.replace(old, new)
        (work / "cross" / name).write_text(text)
    return ["cross=cross/panel.yaml"]


@pytest.fixture(scope="module", params=[hostile_vcf, hostile_cross], ids=["vcf", "cross"])
def hostile_run(request, tmp_path_factory, tarvel):
    work = tmp_path_factory.mktemp("hostile")
    run_workflow(work, *request.param(work), "out=out", f"plots={request.param is hostile_cross}")
    return work


def test_no_command_in_a_name_runs_and_paths_use_safe_names(hostile_run):
    assert not [p for root in (hostile_run, REPO) for p in root.rglob("*@PWNED*")]
    panel = json.loads((hostile_run / "out" / "prepared" / "panel.json").read_text())
    assert [(c["name"], c["safe"]) for c in panel["chromosomes"]] == \
        [("1/a", "1_a"), ("2&touch$IFS@PWNED&", "2_touch_IFS_PWNED_"), ("X", "X")]
    names = {p.name for p in (hostile_run / "out" / "founderprobs").iterdir()}
    assert names == {"chr1_a.csv.gz", "chr2_touch_IFS_PWNED_.csv.gz", "chrX.csv.gz"}


def test_outputs_carry_the_real_names(hostile_run):
    out = hostile_run / "out"
    with gzip.open(out / "founderprobs" / "chr2_touch_IFS_PWNED_.csv.gz", "rt", newline="") as f:
        assert {row["chr"] for row in csv.DictReader(f)} == {"2&touch$IFS@PWNED&"}
    with open(out / "mosaic.csv", newline="") as f:
        assert {row["chr"] for row in csv.DictReader(f)} == set(RENAMED.values()) | {"X"}
    with open(out / "summary.tsv", newline="") as f:
        assert {row["chr"] for row in csv.DictReader(f, delimiter="\t")} == set(RENAMED.values()) | {"X"}


def test_strains_named_like_options_or_too_long_reach_every_output(hostile_run):
    out = hostile_run / "out"
    if not (out / "plots").exists():
        pytest.skip("the VCF panel keeps its strain names")
    with open(out / "summary.tsv", newline="") as f:
        assert set(STRAINS.values()) <= {row["strain"] for row in csv.DictReader(f, delimiter="\t")}
    drawn = {p.name for p in (out / "plots" / "strains").iterdir()}
    assert "_--help.png" in drawn and all(len(name) < 120 for name in drawn) and len(drawn) == 16


# names that meet the panel's own files or each other's file names
MEETING_CHROMOSOMES = {"2": "1.mosaic.csv"}
MEETING_STRAINS = {"SIM01/Tv": "markers.tsv", "SIM02/Tv": "SIM03_Tv", "SIM04/Tv": "sim03/tv"}


def rows_named(path, delimiter, strains, chromosomes):
    """The rows of a joined table with its strains and chromosomes renamed, the timings left out."""
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f, delimiter=delimiter))
    for row in rows:
        row.pop("tarvel_seconds", None)
        row["strain"], row["chr"] = strains.get(row["strain"], row["strain"]), chromosomes.get(row["chr"], row["chr"])
    return sorted(tuple(row.items()) for row in rows)


def test_names_meeting_the_panels_own_files_get_the_results_of_their_strains(tmp_path, example_run):
    shutil.copytree(EXAMPLE, tmp_path / "cross", ignore=shutil.ignore_patterns("vcf", "*.png", "*.zip"))
    for name in ("gmap.csv", "pmap.csv"):
        lines = (EXAMPLE / name).read_text().splitlines()
        (tmp_path / "cross" / name).write_text("".join(
            ",".join(MEETING_CHROMOSOMES.get(f, f) if k == 1 else f for k, f in enumerate(line.split(","))) + "\n"
            for line in lines))
    for name in ("geno.csv", "cross_info.csv", "covar.csv"):
        text = (EXAMPLE / name).read_text()
        for old, new in MEETING_STRAINS.items():
            text = text.replace(old, new)
        (tmp_path / "cross" / name).write_text(text)
    run_workflow(tmp_path, "cross=cross/panel.yaml", "out=out", "plots=false")
    for table, delimiter in (("summary.tsv", "\t"), ("mosaic.csv", ",")):
        assert rows_named(tmp_path / "out" / table, delimiter, {}, {}) == \
            rows_named(example_run / table, delimiter, MEETING_STRAINS, MEETING_CHROMOSOMES)

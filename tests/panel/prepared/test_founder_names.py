"""Founder names (config founder_names): the example cross run with the
Collaborative Cross names shows them in every table and figure, with the same
values as under the letters, while the R/qtl2 objects keep the letters as
alleles and carry the names beside them; the VCF route reads funnels by name
or letter; a bad list of names stops prepare in one line."""
import csv
import gzip
import json
import re
import subprocess

import numpy as np
import pytest
from conftest import REPO, run_workflow


EXAMPLE = REPO / "examples" / "panel"
CC = ["AJ", "B6", "129", "NOD", "NZO", "CAST", "PWK", "WSB"]
LETTERS = list("ABCDEFGH")


@pytest.fixture(scope="module")
def cc_run(tmp_path_factory, tarvel):
    workdir = tmp_path_factory.mktemp("cc_run")
    run_workflow(workdir, f"cross={EXAMPLE / 'panel.yaml'}", f"out={workdir / 'out'}", "qtl2_genoprobs=true",
                 "founder_names=" + ",".join(CC))
    return workdir / "out"


def founderprobs(out):
    with gzip.open(out / "founderprobs" / "chr1.csv.gz", "rt") as f:
        header, *rows = list(csv.reader(f))
    return header, rows


def svg_texts(path):
    """The texts of a matplotlib SVG, in drawing order (each is written as a comment)."""
    return re.findall(r"<!-- (.*?) -->", path.read_text())


def test_the_names_head_every_table_and_legend_with_the_values_of_the_letters(cc_run, example_run):
    header, rows = founderprobs(cc_run)
    letters_header, letters_rows = founderprobs(example_run)
    assert header[4:] == CC and letters_header[4:] == LETTERS and rows == letters_rows
    with open(cc_run / "mosaic.csv") as f:
        pairs = {row["pair"] for row in csv.DictReader(f)}
    assert pairs and all(len(p.split("_")) == 2 and set(p.split("_")) <= set(CC) for p in pairs)
    npz = np.load(cc_run / "npz" / "chrX.npz", allow_pickle=False)
    assert list(npz["founders"]) == CC and list(npz["alleles"]) == LETTERS
    for svg in (cc_run / "plots" / "panel_chr1.svg", cc_run / "plots" / "strains" / "SIM01_Tv.svg"):
        texts = svg_texts(svg)
        start = texts.index(CC[0])
        assert texts[start:start + 8] == CC and not set(LETTERS) & set(texts), svg


R_FACTS = r"""
for (kind in c("alleleprobs", "genoprobs")) {
    x <- readRDS(file.path(commandArgs(TRUE)[1], "qtl2", paste0(kind, ".rds")))
    names <- attr(x, "founder_names")
    cat(kind, paste(attr(x, "alleles"), collapse = ","), paste(names(names), collapse = ","),
        paste(names, collapse = ","), paste(dimnames(x[["1"]])[[2]], collapse = ","), "\n", sep = "\t")
}
"""


def test_the_rds_objects_keep_the_letters_as_alleles_and_the_names_beside_them(cc_run):
    done = subprocess.run(["Rscript", "--vanilla", "-e", R_FACTS, str(cc_run)], capture_output=True, text=True,
                          check=True)
    facts = {line.split("\t")[0]: line.split("\t")[1:5] for line in done.stdout.splitlines()}
    letter_pairs = [LETTERS[b] + LETTERS[a] for a in range(8) for b in range(a + 1)]
    for kind, genotypes in (("alleleprobs", LETTERS), ("genoprobs", letter_pairs)):
        assert facts[kind] == [",".join(LETTERS), ",".join(LETTERS), ",".join(CC), ",".join(genotypes)]


def test_a_vcf_funnel_reads_by_name_or_by_letter(tmp_path):
    from tarvel_panel.inputs.sources import load_panel
    vcf = EXAMPLE / "vcf"
    config = {"founders_vcf": str(vcf / "founders.vcf.gz"), "founders": "AJ,B6,S129,NOD,NZO,CAST,PWK,WSB",
              "strains_vcf": str(vcf / "strains.vcf"), "strain_table": str(vcf / "strain_table.tsv"), "chromosomes": "2"}
    plain, by_letter = load_panel(config), load_panel(dict(config, founder_names=CC))
    by_name = tmp_path / "strain_table.tsv"   # funnels such as 129,PWK,NZO,AJ,...
    by_name.write_text("".join(["strain\tfunnel\n"] + [f"{s.name}\t{','.join(CC[n - 1] for n in s.funnel)}\n"
                                                      for s in plain.strains]))
    named = load_panel(dict(config, founder_names=CC, strain_table=str(by_name)))
    assert (by_letter.founders, by_letter.alleles, plain.founders, plain.alleles) == (CC, LETTERS, LETTERS, LETTERS)
    assert [s.funnel for s in by_letter.strains] == [s.funnel for s in named.strains] == \
        [s.funnel for s in plain.strains]


@pytest.mark.parametrize("value,fault", [
    ("AJ,B6,129", "3 given: 'AJ', 'B6', '129'"),
    ("AJ,B6,129,NOD,NZO,CAST,PWK,AJ", "'AJ' comes twice"),
    ("AJ,B6,,NOD,NZO,CAST,PWK,WSB", "name 3 is empty"),
    (["AJ", "B6", "129", "NOD", "NZO", "CAST", "PWK", "WSB\nX"], "'WSB\\nX' holds a control character"),
])
def test_bad_founder_names_stop_prepare_in_one_line(tmp_path, value, fault):
    config = tmp_path / "config.json"
    config.write_text(json.dumps({"cross": str(EXAMPLE / "panel.yaml"), "founder_names": value}))
    done = subprocess.run(["/usr/bin/python3", "-m", "tarvel_panel", "prepare", "--config", str(config),
                           "--dest", str(tmp_path / "prepared")], capture_output=True, text=True, cwd=REPO)
    assert done.returncode == 1 and not (tmp_path / "prepared").exists()
    assert done.stderr == "error: config founder_names: must be eight distinct non-empty names, comma-separated " \
                          f"or a list; {fault}\n"


def test_a_name_with_dollars_is_drawn_as_written(cc_run, tmp_path):
    names = CC[:2] + [r"$\foo$"] + CC[3:]
    done = subprocess.run(["/usr/bin/python3", "-m", "tarvel_panel.plot", "panel", "--out", str(cc_run), "--chr", "1",
                           "--founder-names", ",".join(names), "-o", str(tmp_path / "p")],
                          capture_output=True, text=True, cwd=REPO)
    assert done.returncode == 0, done.stderr
    assert r"$\foo$" in svg_texts(tmp_path / "p.svg")

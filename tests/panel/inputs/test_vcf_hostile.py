"""Hostile VCF inputs made from the example panel's VCF files: a file that
cannot be read, lacks calls or lacks a chromosome is refused naming the file
(and line or site), never read as a smaller panel."""
import gzip

import pysam
import pytest
from conftest import REPO

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.vcf.read import read_vcf_panel
from tarvel_panel.panel.model import site_notes


VCF = REPO / "examples" / "panel" / "vcf"
FOUNDERS = "AJ,B6,S129,NOD,NZO,CAST,PWK,WSB"


def plain(name):
    data = (VCF / name).read_bytes()
    return (gzip.decompress(data) if name.endswith(".gz") else data).decode()


def without_chromosome(text, chrom):
    return "".join(l for l in text.splitlines(True) if not l.startswith(chrom + "\t"))


def config(**files):
    c = {"founders_vcf": VCF / "founders.vcf.gz", "strains_vcf": VCF / "strains.vcf", "founders": FOUNDERS,
         "strain_table": VCF / "strain_table.tsv", "genetic_map": VCF / "genetic_map.csv"}
    c.update(files)
    return {k: str(v) for k, v in c.items()}


def refused(conf, path, fragment):
    with pytest.raises(InputError) as e:
        read_vcf_panel(conf)
    assert (e.value.path, fragment in e.value.message) == (str(path), True), e.value
    return e.value


@pytest.mark.parametrize("role, source", [("founders", "founders.vcf.gz"), ("strains", "strains.vcf")])
def test_a_file_without_gt_is_refused_at_its_first_site(tmp_path, role, source):
    path = tmp_path / "nogt.vcf"
    path.write_text(plain(source).replace("\tGT\t", "\tDP\t"))
    refused(config(**{f"{role}_vcf": path}), path,
            f"site chr1:3314859 has no GT field (FORMAT: DP): the {role}' genotypes cannot be read")


def _bgzf_without_end(text, path):
    raw = str(path) + ".txt"
    with open(raw, "w") as f:
        f.write(text)
    pysam.tabix_compress(raw, str(path), force=True)
    path.write_bytes(path.read_bytes()[:-28])   # the empty end block


def _duplicate_sample(text, path):
    lines = text.splitlines(True)
    i = next(n for n, l in enumerate(lines) if l.startswith("#CHROM"))
    lines[i] = lines[i].replace("SIM08/Tv", "SIM02/Tv")
    path.write_text("".join(lines))


GARBAGE = bytes(range(256)) * 16
UNREADABLE = {
    "binary garbage": (lambda text, path: path.write_bytes(GARBAGE), "not a VCF/BCF file (binary data"),
    "corrupt gzip": (lambda text, path: path.write_bytes(gzip.compress(text.encode())[:20] + GARBAGE),
                     "not a readable gzip/bgzip file"),
    "truncated gzip": (lambda text, path: path.write_bytes(gzip.compress(text.encode())[:6000]),
                       "truncated gzip file"),
    "bgzip without its end block": (_bgzf_without_end, "truncated file (no BGZF end-of-file block)"),
    "plain VCF cut in a line": (lambda text, path: path.write_text(text[:-60]), "the last line does not end"),
    "empty file": (lambda text, path: path.write_text(""), "empty file"),
    "duplicate sample names": (_duplicate_sample, "sample 'SIM02/Tv' appears twice in the #CHROM header line"),
}
LINES = {"duplicate sample names": 7}   # the #CHROM line


@pytest.mark.parametrize("case", UNREADABLE)
def test_unreadable_strains_file_is_refused(tmp_path, case):
    make, fragment = UNREADABLE[case]
    path = tmp_path / "strains.vcf.gz"
    make(plain("strains.vcf"), path)
    assert refused(config(strains_vcf=path), path, fragment).line == LINES.get(case)


def _cut(tmp_path, source, chrom, index=False):
    path = tmp_path / f"cut_{source.split('.')[0]}.vcf"
    path.write_text(without_chromosome(plain(source), chrom))
    if index:
        return pysam.tabix_index(str(path), preset="vcf", force=True)
    return path


def test_a_chromosome_one_file_lacks_is_refused(tmp_path):
    founders = _cut(tmp_path, "founders.vcf.gz", "chrX")
    # the strains file has X (read through its index, or scanned)
    for strains in (VCF / "strains.vcf.gz", VCF / "strains.vcf"):
        refused(config(founders_vcf=founders, strains_vcf=strains), founders,
                f"chromosome X has no site in the file, but it has sites in {strains}")
    # both lack X, the genetic map has it
    strains = _cut(tmp_path, "strains.vcf", "chrX")
    refused(config(founders_vcf=founders, strains_vcf=strains), founders,
            "chromosome X has no site in the file, but the genetic map")
    # ... unless the chromosomes are chosen
    panel = read_vcf_panel(dict(config(founders_vcf=founders, strains_vcf=strains), chromosomes="1,2"))
    assert [c.name for c in panel.chromosomes] == ["1", "2"]
    refused(dict(config(), x_chr="chrY"), "config x_chr", "chromosome chrY is not in")


def test_byte_order_mark_before_the_strain_table_header(tmp_path):
    table = tmp_path / "table.tsv"
    table.write_bytes(b"\xef\xbb\xbf" + (VCF / "strain_table.tsv").read_bytes())
    panel = read_vcf_panel(config(strain_table=table, chromosomes="2"))
    assert [s.name for s in panel.strains] == [f"SIM0{i}/Tv" for i in range(1, 9)]


def test_a_header_contig_without_sites_is_named(tmp_path):
    # a plain file cut at a chromosome boundary, with nothing else naming X
    founders, strains = (_cut(tmp_path, source, "chrX") for source in ("founders.vcf.gz", "strains.vcf"))
    panel = read_vcf_panel(config(founders_vcf=founders, strains_vcf=strains, genetic_map=""))
    assert [c.name for c in panel.chromosomes] == ["1", "2"]
    assert site_notes(panel)[-1] == "left out, no marker typed in strains and founders: chromosome X (the X chromosome)"

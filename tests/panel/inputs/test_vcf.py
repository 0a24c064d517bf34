"""Reading a panel from VCF/BCF: which sites are kept, how calls are coded, and
the message every bad input gets."""
import gzip

import pysam
import pytest

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.vcf.read import read_vcf_panel
from tarvel_panel.panel.model import NO_CALL as N


FOUNDERS = [f"F{i}" for i in range(1, 9)]
# The founders' columns are in another order than the founder order.
COLUMNS = ["F3", "F1", "F2", "F4", "F5", "F6", "F7", "F8", "S1", "S2"]
HEADER = """##fileformat=VCFv4.2
##contig=<ID=chr19,length=1000000>
##contig=<ID=chrX,length=1000000>
##FILTER=<ID=q10,Description="low quality">
##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">
##FORMAT=<ID=GQ,Number=1,Type=Integer,Description="Genotype quality">
#CHROM	POS	ID	REF	ALT	QUAL	FILTER	INFO	FORMAT	"""
# per site: position, id, ref, alt, filter, then calls in COLUMNS order
SITES = [
    ("chr19", 100, "rs1", "A", "G", "PASS", "1/1 0/0 0/1 ./. 1/1 0/0 0|0 1|1 0/1 1/1"),
    ("chr19", 150, ".", "A", "G,T", "PASS", "1/1 0/0 0/0 0/0 2/2 0/0 0/0 0/0 0/0 1/1"),
    ("chr19", 200, ".", "AT", "A", "PASS", "1/1 0/0 0/0 0/0 1/1 0/0 0/0 0/0 0/0 1/1"),
    ("chr19", 250, ".", "A", "G", "q10", "1/1 0/0 0/0 0/0 1/1 0/0 0/0 0/0 0/0 1/1"),
    ("chr19", 300, ".", "C", "T", ".", "0/1 0/0 0/0 ./. 0/0 0/0 0/0 0/0 0/0 0/0"),
    ("chr19", 400, ".", "C", "T", ".", "1/1 0/0 0/0 0/0 1/1 0/0 0/0 0/0 ./. 1/1"),
    ("chr19", 400, ".", "C", "A", ".", "1/1 0/0 0/0 0/0 1/1 0/0 0/0 0/0 0/0 1/1"),
    ("chr19", 500, ".", "G", "<DEL>", ".", "1/1 0/0 0/0 0/0 1/1 0/0 0/0 0/0 0/0 1/1"),
    ("chr19", 600, ".", "T", "G", "PASS",
     "1/1:30 0/0:5 0/0:30 0/0:30 1/1:30 0/0:30 0/0:30 0/0:30 1/1:5 1/1:30"),
    ("chrX", 100, ".", "G", "C", ".", "1 0 0 0 1 1 0 0 1 0"),
]


def vcf_text(sites, columns=slice(None)):
    lines = [HEADER + "\t".join(COLUMNS[columns])]
    for chrom, pos, id_, ref, alt, filt, calls in sites:
        fmt = "GT:GQ" if ":" in calls else "GT"
        lines.append("\t".join([chrom, str(pos), id_, ref, alt, ".", filt, ".", fmt]
                                + calls.split()[columns]))
    return "\n".join(lines) + "\n"


@pytest.fixture
def files(tmp_path):
    (tmp_path / "all.vcf").write_text(vcf_text(SITES))
    (tmp_path / "table.tsv").write_text("strain\tfunnel\tsex\nS1\tBECADHFG\tmale\n"
                                        "S2\t2,5,3,1,4,8,6,7\t\n")
    (tmp_path / "map.csv").write_text("chr,pos_bp,cM\nchr19,100,1.0\n19,700,7.0\nX,50,2\n")
    return tmp_path


def config(d, **extra):
    # strains_vcf defaults to the founders' file
    c = {"founders_vcf": str(d / "all.vcf"), "founders": ",".join(FOUNDERS),
         "strain_table": str(d / "table.tsv")}
    c.update(extra)
    return c


def test_sites_kept_and_coded(files):
    panel = read_vcf_panel(config(files, genetic_map=str(files / "map.csv")))
    chr19, chrx = panel.chromosomes
    assert (chr19.name, chr19.is_x, chrx.name, chrx.is_x) == ("19", False, "X", True)
    assert chr19.markers.names == ["rs1", "19:400", "19:600"]
    assert chr19.markers.pos.tolist() == [1.0, 4.0, 6.0]
    # rs1: F1 is 0/0, F2 heterozygous, F3 1/1 (first column), F4 missing
    assert chr19.founder_geno[0].tolist() == [0, N, 1, N, 1, 0, 0, 1]
    assert chr19.strain_geno[:2].tolist() == [[1, 2], [N, 2]]   # strains S1, S2
    assert chrx.founder_geno.tolist() == [[0, 0, 1, 0, 1, 1, 0, 0]] and chrx.strain_geno[:, 0].tolist() == [2]
    assert panel.site_stats["19"] == {
        "sites_read": 9, "sites_kept": 3, "dropped_not_snp": 3, "dropped_filter": 1,
        "dropped_duplicate": 1, "dropped_founders_agree": 1, "dropped_no_strain_site": 0}
    assert panel.pos_unit == "cM"
    assert [s.funnel for s in panel.strains] == [(2, 5, 3, 1, 4, 8, 6, 7)] * 2
    assert [s.sex for s in panel.strains] == ["male", None]


def test_min_gq_makes_low_quality_calls_missing(files):
    chr19 = read_vcf_panel(config(files, min_gq=20)).chromosomes[0]
    assert chr19.founder_geno[-1][:2].tolist() == [N, 0]
    assert chr19.strain_geno[-1].tolist() == [N, 2]
    assert chr19.markers.pos[-1] == 600.0


def test_separate_bcf_and_indexed_files_give_the_same_panel(files):
    both = read_vcf_panel(config(files, chromosomes="19"))
    # founders as BCF (scanned), strains as an indexed VCF (fetched) that lacks one
    # site and filters another ...
    # (without the symbolic allele, whose record pysam's BCF writer leaves unreadable)
    (files / "f.vcf").write_text(vcf_text([s for s in SITES if s[1] != 500], slice(0, 8)))
    src = pysam.VariantFile(str(files / "f.vcf"))
    with pysam.VariantFile(str(files / "f.bcf"), "wb", header=src.header) as out:
        for rec in src:
            out.write(rec)
    strain_sites = [s[:5] + ("q10" if s[1] == 400 else s[5], s[6])
                    for s in SITES if s[1] != 600]
    # ... and names the contig "19" where the founders' file has "chr19"
    (files / "s.vcf").write_text(vcf_text(strain_sites, slice(8, 10)).replace("chr19", "19"))
    pysam.tabix_index(str(files / "s.vcf"), preset="vcf")
    split = read_vcf_panel(config(files, founders_vcf=str(files / "f.bcf"),
                                  strains_vcf=str(files / "s.vcf.gz"), chromosomes="19"))
    assert split.chromosomes[0].markers.names == ["rs1"]
    assert split.chromosomes[0].founder_geno.tolist() == both.chromosomes[0].founder_geno[:1].tolist()
    stats = split.site_stats["19"]
    assert (stats["dropped_filter"], stats["dropped_no_strain_site"]) == (2, 1)


def test_chromosomes_asked_for_with_or_without_chr(files):
    from tarvel_panel.inputs.sources import load_panel
    for asked in ("19", "chr19"):
        panel = load_panel(config(files, chromosomes=asked))
        assert [c.name for c in panel.chromosomes] == ["19"]


def bad(d, path_name, fragment, **extra):
    with pytest.raises(InputError) as e:
        read_vcf_panel(config(d, **extra))
    assert e.value.path.endswith(path_name) and fragment in str(e.value)
    return e.value


def test_bad_samples_and_tables(files):
    bad(files, "all.vcf", "'F9' is not a sample", founders=",".join(FOUNDERS[:7] + ["F9"]))
    (files / "t2.tsv").write_text("strain\tfunnel\nS1\tBECADHFG\nS3\tABCDEFGH\n")
    bad(files, "all.vcf", "strain 'S3' is not a sample", strain_table=str(files / "t2.tsv"))
    for row, fragment in (("BECADHFA\tF", "is not the eight founders"),
                          ("BECADHF\tM", "is not the eight founders"),
                          ("1,2,3,4,5,6,7,9\tF", "is not the eight founders"),
                          ("BECADHFG\tboth", "is not female/male")):
        (files / "t3.tsv").write_text(f"strain\tfunnel\tsex\nS1\tBECADHFG\tF\nS2\t{row}\n")
        assert bad(files, "t3.tsv", fragment, strain_table=str(files / "t3.tsv")).line == 3
    bad(files, "config founders", "eight distinct non-empty names", founders="F1,F2,F3,F4,F5,F6,F7,F1")


def test_bad_regions_and_maps(files):
    (files / "multi.vcf").write_text(vcf_text([s for s in SITES if s[1] in (150, 200, 500)]))
    multi = str(files / "multi.vcf")
    bad(files, "multi.vcf", "chromosome 19: no biallelic SNP", founders_vcf=multi,
        strains_vcf=multi)
    bad(files, "all.vcf", "chromosome 7 has no site", chromosomes="19,7")
    (files / "gap.csv").write_text("chr,pos_bp,cM\n19,100,1\n")
    bad(files, "gap.csv", "no map points for chromosome X", genetic_map=str(files / "gap.csv"))
    (files / "down.csv").write_text("chr,pos_bp,cM\n19,100,1\n19,90,2\n")
    assert bad(files, "down.csv", "not above", genetic_map=str(files / "down.csv")).line == 3


def test_truncated_and_non_vcf_files(files):
    pysam.tabix_index(str(files / "all.vcf"), preset="vcf", keep_original=True)
    whole = (files / "all.vcf.gz").read_bytes()
    (files / "cut.vcf.gz").write_bytes(whole[: len(whole) // 2])
    bad(files, "cut.vcf.gz", "truncated", founders_vcf=str(files / "cut.vcf.gz"))
    with gzip.open(files / "plain.gz", "wt") as f:
        f.write((files / "all.vcf").read_text())
    bad(files, "plain.gz", "compressed with gzip, not bgzip", founders_vcf=str(files / "plain.gz"))
    (files / "cut.vcf").write_text((files / "all.vcf").read_text()[:-10])
    bad(files, "cut.vcf", "truncated: the last line does not end", strains_vcf=str(files / "cut.vcf"))
    (files / "notes.vcf").write_text("strain\tfunnel\nS1\tBECADHFG\n")
    bad(files, "notes.vcf", "not a VCF/BCF file", founders_vcf=str(files / "notes.vcf"))
    bad(files, "missing.vcf", "no such file", strains_vcf=str(files / "missing.vcf"))

"""How the VCF reader holds a panel of many sites: calls read from each
record's text where its GT fields are plain, the same calls as pysam's parse
of every sample; calls at two bits a call; a chromosome whose records come
back after another's."""
import numpy as np
import pysam
import pytest

from tarvel_panel.inputs.vcf import read as vcf_read
from tarvel_panel.inputs.vcf.read import founder_code, read_vcf_panel, strain_code
from tarvel_panel.panel.model import NO_CALL, PACK_ROWS, pack_calls, unpack_calls
import tarvel_panel.panel.model as model

FOUNDERS = [f"F{i}" for i in range(1, 9)]
STRAINS = [f"S{i}" for i in range(1, 7)]
HEADER = ("##fileformat=VCFv4.2\n##contig=<ID=chr1,length=100000>\n##contig=<ID=chr2,length=100000>\n"
          '##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">\n'
          '##FORMAT=<ID=GQ,Number=1,Type=Integer,Description="Genotype quality">\n'
          "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\t")
# every form of GT a sample can carry at a biallelic site, plain or odd
GT_FORMS = ["0/0", "1/1", "0/1", "1/0", "0|0", "1|1", "0|1", "1|0", "0", "1", ".", "./.", ".|.",
            "./0", "0/.", "1/.", ".|1", "0/0/1", "1/1/1"]


def write_vcf(path, rows, samples):
    """rows: (chrom, pos, FORMAT, sample fields)"""
    lines = [HEADER + "\t".join(samples)]
    for chrom, pos, fmt, fields in rows:
        lines.append("\t".join([chrom, str(pos), f"m{chrom}_{pos}", "A", "G", ".", "PASS", ".", fmt] + fields))
    path.write_text("\n".join(lines) + "\n")


def draw_rows(rng, chrom, count, fmt="GT", start=100):
    rows = []
    for k in range(count):
        founders = ["0/0", "1/1"] + [str(rng.choice(GT_FORMS)) for _ in range(6)]
        strains = [str(rng.choice(GT_FORMS)) for _ in STRAINS]
        fields = founders + strains
        if fmt == "GT:GQ":
            fields = [f"{g}:{rng.integers(0, 40)}" for g in fields]
        rows.append((chrom, start + 10 * k, fmt, fields))
    return rows


def table(d):
    (d / "table.tsv").write_text("strain\tfunnel\n" + "".join(f"{s}\tABCDEFGH\n" for s in STRAINS))
    return str(d / "table.tsv")


def parsed_by_pysam(path, min_gq=None):
    """Per chromosome, founder and strain codes of each record as pysam parses every sample."""
    codes = {}
    with pysam.VariantFile(str(path)) as vf:
        for rec in vf:
            f = [founder_code(rec.samples[s], min_gq) for s in FOUNDERS]
            s = [strain_code(rec.samples[s], min_gq) for s in STRAINS]
            codes.setdefault(rec.chrom[3:], {})[f"m{rec.chrom}_{rec.pos}"] = (f, s)
    return codes


def as_bytes(codes):
    return [NO_CALL if c is None else c for c in codes]


@pytest.mark.parametrize("fmt, min_gq", [("GT", None), ("GT:GQ", None), ("GT:GQ", 20)])
def test_calls_from_the_record_text_are_pysams(tmp_path, fmt, min_gq):
    rng = np.random.default_rng(3)
    path = tmp_path / "panel.vcf"
    write_vcf(path, draw_rows(rng, "chr1", 300, fmt), FOUNDERS + STRAINS)
    config = {"founders_vcf": str(path), "founders": ",".join(FOUNDERS), "strain_table": table(tmp_path)}
    if min_gq is not None:
        config["min_gq"] = min_gq
    chrom = read_vcf_panel(config).chromosomes[0]
    expected = parsed_by_pysam(path, min_gq)["1"]
    assert len(chrom.markers) > 100
    for i, name in enumerate(chrom.markers.names):
        founders, strains = expected[name]
        assert chrom.founder_geno[i].tolist() == as_bytes(founders), name
        assert chrom.strain_geno[i].tolist() == as_bytes(strains), name


def test_strain_calls_are_held_at_two_bits_and_taken_by_columns(tmp_path):
    rng = np.random.default_rng(5)
    path = tmp_path / "panel.vcf"
    write_vcf(path, draw_rows(rng, "chr1", 200), FOUNDERS + STRAINS)
    chrom = read_vcf_panel({"founders_vcf": str(path), "founders": ",".join(FOUNDERS),
                            "strain_table": table(tmp_path)}).chromosomes[0]
    held = chrom.strain_calls.args[0]
    assert held.dtype == np.uint8 and held.shape == (len(chrom.markers), 2)   # six strains, four a byte
    every = chrom.strain_geno
    assert every.dtype == np.uint8 and every.shape == (len(chrom.markers), len(STRAINS))
    assert np.array_equal(chrom.strain_columns([4, 1]), every[:, [4, 1]])
    assert chrom.founder_geno.dtype == np.uint8


def test_a_chromosome_that_comes_back_keeps_every_call(tmp_path):
    """An unindexed file scanned whole: chromosome 1, then 2, then 1 again."""
    rng = np.random.default_rng(7)
    first, second, again = draw_rows(rng, "chr1", 40), draw_rows(rng, "chr2", 30), \
        draw_rows(rng, "chr1", 40, start=1000)
    path = tmp_path / "panel.vcf"
    write_vcf(path, first + second + again, FOUNDERS + STRAINS)
    config = {"founders_vcf": str(path), "founders": ",".join(FOUNDERS), "strain_table": table(tmp_path)}
    panel = read_vcf_panel(config)
    expected = parsed_by_pysam(path)
    assert [c.name for c in panel.chromosomes] == ["1", "2"]
    one = panel.chromosomes[0].markers.pos
    assert one.min() < 1000 <= one.max()   # sites of both stretches kept
    for chrom in panel.chromosomes:
        for i, name in enumerate(chrom.markers.names):
            assert chrom.strain_geno[i].tolist() == as_bytes(expected[chrom.name][name][1]), name
    # the same with strains in a file of their own, read after the founders'
    write_vcf(tmp_path / "founders.vcf", [r[:3] + (r[3][:8],) for r in first + second + again], FOUNDERS)
    write_vcf(tmp_path / "strains.vcf", [r[:3] + (r[3][8:],) for r in first + second + again], STRAINS)
    split = read_vcf_panel(dict(config, founders_vcf=str(tmp_path / "founders.vcf"),
                                strains_vcf=str(tmp_path / "strains.vcf")))
    for a, b in zip(panel.chromosomes, split.chromosomes):
        assert a.markers.names == b.markers.names and np.array_equal(a.strain_geno, b.strain_geno)


def test_two_bit_packing_round_trips_across_row_blocks(monkeypatch):
    monkeypatch.setattr(model, "PACK_ROWS", 7)
    rng = np.random.default_rng(1)
    for width in (1, 3, 4, 9):
        calls = rng.choice(np.array([0, 1, 2, NO_CALL], np.uint8), size=(23, width))
        packed = pack_calls(calls)
        assert packed.dtype == np.uint8 and packed.shape == (23, -(-width // 4))
        assert np.array_equal(unpack_calls(packed, np.arange(23), np.arange(width)), calls)
        assert np.array_equal(unpack_calls(packed, np.array([22, 0]), np.array([width - 1])),
                              calls[[22, 0]][:, [width - 1]])
    assert PACK_ROWS > 7   # the module's own bound was left as it was


def test_sites_are_held_in_flat_buffers():
    """No per-site objects beyond the marker names: the structure that keeps
    a chromosome of a million sites near a hundred megabytes."""
    sites = vcf_read._ChromSites(strains=5)
    sites.add(100, "A", "G", "m1", bytes([0, 1, 0, 1, 0, 1, 0, NO_CALL]))
    sites.add(200, "C", "T", "m2", bytes([1, 0, 1, 0, 1, 0, 1, 0]))
    sites.set_calls(1, bytes([0, 1, 2, NO_CALL, 2]))
    sites.pack()
    assert sites.staged is None and sites.packed.shape == (2, 2)
    assert (sites.site(200), sites.site(150)) == (1, None)
    assert unpack_calls(sites.packed, np.arange(2), np.arange(5)).tolist() == \
        [[NO_CALL] * 5, [0, 1, 2, NO_CALL, 2]]
    sites.add(300, "G", "A", "m3", bytes(8))      # a record after the pack reopens the calls
    assert sites.packed is None and len(sites.staged) == 15

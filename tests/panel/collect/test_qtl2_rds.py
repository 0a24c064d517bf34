"""qtl2/*.rds of the example panel, read back by R itself (Debian's R, no
R/qtl2): the objects' class, attributes, dims and dimnames are those of
R/qtl2's calc_genoprob objects and maps, the per-chromosome objects joined
are the whole one, and their values are TARVEL's own for a strain run here
by hand, on every marker or on those kept for mapping."""
import gzip
import json
import shutil
import subprocess

import numpy as np
import pytest
from conftest import REPO, run_workflow
from rjoin import JOIN

from tarvel_panel.collect.reduce_markers import reduce_markers


EXAMPLE = REPO / "examples" / "panel"

# one line per fact, fields split by tabs
DESCRIBE = r"""
x <- readRDS(commandArgs(TRUE)[1])
say <- function(...) cat(paste(c(...), collapse = "\t"), "\n", sep = "")
say("class", class(x))
say("names", names(x))
for (a in c("crosstype", "alleles", "alleleprobs")) say(a, as.character(attr(x, a)))
say("is_x_chr", names(attr(x, "is_x_chr")), attr(x, "is_x_chr"))
for (c in names(x)) {
    say("dim", c, dim(x[[c]]), names(x[[c]])[1:2])
    for (axis in seq_along(dimnames(x[[c]]))) say("dimnames", c, axis, dimnames(x[[c]])[[axis]])
}
"""
# a strain's values on a chromosome: one line per marker
VALUES = r"""
args <- commandArgs(TRUE)
x <- readRDS(args[1])[[args[2]]]
if (is.null(dim(x))) cat(paste(names(x), sprintf("%.17g", x), sep = "\t"), sep = "\n") else
    write.table(t(x[args[3], , ]), quote = FALSE, sep = "\t", col.names = FALSE, row.names = FALSE, dec = ".")
"""


def r_lines(script, *args):
    done = subprocess.run(["Rscript", "--vanilla", "-e", script, *map(str, args)],
                          capture_output=True, text=True, check=True)
    return [line.split("\t") for line in done.stdout.splitlines()]


def describe(path):
    facts = {}
    for fields in r_lines(DESCRIBE, path):
        key = fields[0] if fields[0] not in ("dim", "dimnames") else tuple(fields[:2 if fields[0] == "dim" else 3])
        facts[key] = fields[len(key) if isinstance(key, tuple) else 1:]
    return facts


def hand_run(tarvel, prepared, chrom, strain, tmp_path):
    """TARVEL's pair values [markers, 36] for one prepared strain, run here."""
    chr_dir = prepared / f"chr{chrom}"
    job_dir = chr_dir / strain["safe"]
    job = json.loads((job_dir / "job.json").read_text())
    strain_file = tmp_path / f"{chrom}.strain.txt"
    shutil.copy(job_dir / "strain.txt", strain_file)
    command = [str(tarvel), str(chr_dir / "founders.txt"), str(strain_file), str(job_dir / "funnel.txt"),
               str(job["generation"]), job["positions"], str(chr_dir / "positions.txt"), "-e", str(job["error_rate"])]
    subprocess.run(command + (["-x", "-s", job["sex"]] if job["x"] else []), check=True, capture_output=True)
    return np.array([[float(v) for v in line.split("|")[1].rstrip(",\n").split(",")]
                     for line in open(f"{strain_file}.prob")])


def founder_probs(pairs):
    """P(a) = P(aa) + 1/2 sum_b P(ab), pairs in the HAPPY order."""
    probs = np.zeros((len(pairs), 8))
    k = 0
    for a in range(8):
        for b in range(a + 1):
            probs[:, a] += pairs[:, k] / 2
            probs[:, b] += pairs[:, k] / 2
            k += 1
    return probs


@pytest.fixture(scope="module")
def panel(example_run):
    return json.loads((example_run / "prepared" / "panel.json").read_text())


def markers_of(prepared, chrom):
    """The prepared chromosome's marker names and genetic map."""
    rows = [line.split("\t") for line in (prepared / f"chr{chrom}" / "markers.tsv").read_text().splitlines()]
    gmap = rows[0].index("gmap")
    return [row[0] for row in rows[1:]], [float(row[gmap]) for row in rows[1:]]


@pytest.fixture(scope="module")
def pairs_run(tmp_path_factory, tarvel):
    """OUT of a two-chromosome run with the 36-pair outputs asked for, on
    markers 1 cM apart, too large (by its setting) for whole-panel objects;
    snakemake's standard error in OUT/../stderr.txt."""
    workdir = tmp_path_factory.mktemp("pairs_run")
    done = run_workflow(workdir, f"cross={EXAMPLE / 'panel.yaml'}", f"out={workdir / 'out'}", "plots=false",
                        "chromosomes=2,X", "strains=SIM02/Tv,SIM05/Tv", "qtl2_genoprobs=true", "genoprobs_csv=true",
                        "reduce_markers_cm=1", "qtl2_whole_max_mb=0.01")
    (workdir / "stderr.txt").write_text(done.stderr)
    return workdir / "out"


def test_alleleprobs_is_a_calc_genoprob_object(example_run, panel):
    facts = describe(example_run / "qtl2" / "alleleprobs.rds")
    chroms = [c["name"] for c in panel["chromosomes"]]
    assert facts["class"] == ["calc_genoprob", "list"] and facts["names"] == chroms
    assert facts["crosstype"] == ["risib8"] and facts["alleles"] == list("ABCDEFGH")
    assert facts["alleleprobs"] == ["TRUE"] and facts["is_x_chr"] == chroms + ["FALSE", "FALSE", "TRUE"]
    for chrom in panel["chromosomes"]:
        c = chrom["name"]
        markers = [line.split("\t")[0] for line in
                   (example_run / "prepared" / f"chr{c}" / "markers.tsv").read_text().splitlines()[1:]]
        assert facts[("dim", c)] == [str(len(panel["strains"])), "8", str(chrom["markers"])]
        assert facts[("dimnames", c, "1")] == [s["name"] for s in panel["strains"]]
        assert facts[("dimnames", c, "2")] == list("ABCDEFGH") and facts[("dimnames", c, "3")] == markers
    # the 36-pair outputs are asked for, not made by default
    assert not (example_run / "qtl2" / "genoprobs.rds").exists() and not (example_run / "genoprobs").exists()
    # the chromosomes' own objects, joined as R/qtl2's cbind does, are the whole one
    files = [example_run / "qtl2" / f"alleleprobs_{c['safe']}.rds" for c in panel["chromosomes"]]
    joined = r_lines(JOIN, example_run / "qtl2" / "alleleprobs.rds", *files)
    assert joined[0] == ["TRUE TRUE "] and not list((example_run / "qtl2").glob("genoprobs_*"))


@pytest.mark.parametrize("chrom", ["2", "X"])
def test_probabilities_are_tarvels_for_a_strain_run_by_hand(example_run, pairs_run, panel, tarvel, tmp_path, chrom):
    strain = panel["strains"][4]
    pairs = hand_run(tarvel, example_run / "prepared", chrom, strain, tmp_path)
    alleles = np.array(r_lines(VALUES, example_run / "qtl2" / "alleleprobs.rds", chrom, strain["name"]), dtype=float)
    # the objects hold the model's full values, the hand run its six-digit text
    # (each value within 5e-6 of itself, so a sum of them too)
    assert np.allclose(alleles, founder_probs(pairs), rtol=5e-6, atol=1e-12)
    if chrom == "X":  # run as one copy: only the homozygous pairs hold probability
        assert np.allclose(alleles, pairs[:, [a * (a + 3) // 2 for a in range(8)]], rtol=5e-6, atol=1e-12)
    # per chromosome only, on the markers kept 1 cM apart
    rds = pairs_run / "qtl2" / f"genoprobs_{chrom}.rds"
    facts = describe(rds)
    assert facts["alleleprobs"] == ["FALSE"] and facts[("dimnames", chrom, "2")][:4] == ["AA", "AB", "BB", "AC"]
    assert facts[("dimnames", chrom, "2")][-1] == "HH" and facts[("dim", chrom)][:2] == ["2", "36"]
    names, gmap = markers_of(pairs_run / "prepared", chrom)
    kept = reduce_markers(gmap, 1.0)
    assert 0 < len(kept) < len(names) and facts[("dimnames", chrom, "3")] == [names[i] for i in kept]
    stored = np.array(r_lines(VALUES, rds, chrom, strain["name"]), dtype=float)
    assert np.allclose(stored, pairs[kept], rtol=5e-6, atol=1e-12)
    with gzip.open(pairs_run / "genoprobs" / f"chr{chrom}.csv.gz", "rt") as f:
        rows = [line.split(",") for line in f.read().splitlines()[1:] if line.startswith(strain["name"] + ",")]
    assert [r[1] for r in rows] == [names[i] for i in kept]
    assert np.allclose(np.array([r[4:] for r in rows], dtype=float), pairs[kept], rtol=1e-6, atol=1e-12)
    gmap_rds = [(marker, float(pos)) for marker, pos in r_lines(VALUES, pairs_run / "qtl2" / "gmap.rds", chrom)]
    assert gmap_rds == [(names[i], gmap[i]) for i in kept]
    assert len(np.load(pairs_run / "npz" / f"chr{chrom}.npz")["markers"]) == len(names)


def test_whole_panel_objects_above_their_size_are_said_and_left_out(pairs_run):
    assert sorted(p.name for p in (pairs_run / "qtl2").iterdir()) == \
        ["alleleprobs_2.rds", "alleleprobs_X.rds", "genoprobs_2.rds", "genoprobs_X.rds", "gmap.rds", "pmap.rds"]
    said = [line for line in (pairs_run.parent / "stderr.txt").read_text().splitlines() if "qtl2_whole_max_mb" in line]
    assert len(said) == 2 and said[0].startswith("qtl2: the whole-panel alleleprobs object would take 1 MB, more than "
                                                 "qtl2_whole_max_mb=0.01: written per chromosome only")


def test_maps_are_the_crosss_own(example_run, panel):
    for kind, unit_file in (("pmap", "pmap.csv"), ("gmap", "gmap.csv")):
        rds = example_run / "qtl2" / f"{kind}.rds"
        facts = describe(rds)
        assert facts["class"] == ["list"] and facts["is_x_chr"] == ["1", "2", "X", "FALSE", "FALSE", "TRUE"]
        rows = [line.split(",") for line in (EXAMPLE / unit_file).read_text().splitlines()[2:]]
        for chrom in ("1", "X"):
            expected = [(marker, float(pos)) for marker, c, pos in rows if c == chrom]
            stored = [(marker, float(pos)) for marker, pos in r_lines(VALUES, rds, chrom)]
            assert stored == expected


@pytest.mark.parametrize("positions", ["gmap", "pmap"])
def test_panels_carry_both_maps_whatever_runs(positions):
    """Both maps reach the prepared markers from a cross and from VCF files
    (the example's VCF positions are the cross's pmap in bp, its genetic map
    the cross's gmap)."""
    from tarvel_panel.inputs.sources import load_panel
    maps = {kind: {row.split(",")[0]: float(row.split(",")[2])
                   for row in (EXAMPLE / f"{kind}.csv").read_text().splitlines()[2:]} for kind in ("pmap", "gmap")}
    vcf = {"founders_vcf": EXAMPLE / "vcf" / "founders.vcf.gz", "strains_vcf": EXAMPLE / "vcf" / "strains.vcf",
           "founders": "AJ,B6,S129,NOD,NZO,CAST,PWK,WSB", "strain_table": EXAMPLE / "vcf" / "strain_table.tsv"}
    panels = [load_panel({"cross": EXAMPLE / "panel.yaml", "positions": positions}),
              load_panel(dict(vcf, genetic_map=EXAMPLE / "vcf" / "genetic_map.csv"))]
    for panel in panels:
        names = [name for c in panel.chromosomes for name in c.markers.names]
        pmap, gmap = (np.concatenate([getattr(c.markers, kind) for c in panel.chromosomes]) for kind in ("pmap", "gmap"))
        assert pmap.tolist() == [maps["pmap"][name] for name in names]
        assert gmap.tolist() == pytest.approx([maps["gmap"][name] for name in names], abs=1e-9)
    assert all(np.isnan(c.markers.gmap).all() for c in load_panel(vcf).chromosomes)


@pytest.mark.workflow
def test_fewer_markers_on_a_panel_without_a_genetic_map_stop_before_any_run(tmp_path):
    vcf = EXAMPLE / "vcf"
    done = run_workflow(tmp_path, f"founders_vcf={vcf / 'founders.vcf.gz'}", f"strains_vcf={vcf / 'strains.vcf'}",
                        "founders=AJ,B6,S129,NOD,NZO,CAST,PWK,WSB", f"strain_table={vcf / 'strain_table.tsv'}",
                        f"out={tmp_path / 'out'}", "reduce_markers_cm=0.5", check=False)
    errors = [line for line in done.stderr.splitlines() if line.startswith("error")]
    assert done.returncode == 1 and errors == [
        "error: reduce_markers_cm: needs the markers' genetic map (cM), which chromosome 1 lacks "
        "(a cross with a gmap file, or a VCF panel with genetic_map)"]
    assert not (tmp_path / "out" / "runs").exists() or not list((tmp_path / "out" / "runs").rglob("*.prob"))


@pytest.mark.workflow
def test_a_chromosome_object_over_its_size_is_left_out_with_the_whole_one(tmp_path):
    # two strains: chromosome 1 takes 8 x 2 x 8 x 300 bytes (0.037 MB), chromosome 2 0.033 MB
    done = run_workflow(tmp_path, f"cross={EXAMPLE / 'panel.yaml'}", f"out={tmp_path / 'out'}", "plots=false",
                        "qc=false", "chromosomes=1,2", "strains=SIM02/Tv,SIM05/Tv", "qtl2_chr_max_mb=0.035")
    out = tmp_path / "out"
    assert sorted(p.name for p in (out / "qtl2").iterdir()) == ["alleleprobs_2.rds", "gmap.rds", "pmap.rds"]
    said = [line for line in done.stderr.splitlines() if "qtl2_chr_max_mb" in line]
    assert said == ["qtl2: the alleleprobs object of chromosome 1 would take 1 MB, more than qtl2_chr_max_mb=0.035: "
                    "not written, nor the whole-panel qtl2/alleleprobs.rds (npz/ and the tables hold every marker; "
                    "reduce_markers_cm writes the objects on fewer markers)"]
    # planned so: no R job was started for it, and its tables hold every marker
    assert sorted(p.relative_to(out / "logs" / "qtl2").as_posix() for p in (out / "logs" / "qtl2").rglob("*.log")) \
        == ["alleleprobs/chr2.log", "gmap.log", "pmap.log"]
    with gzip.open(out / "founderprobs" / "chr1.csv.gz", "rt") as f:
        assert len(f.read().splitlines()) == 1 + 2 * 300

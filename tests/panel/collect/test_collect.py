"""The collect step on a small hand-made chromosome: the tables, the npz and
the opt-in genoprobs carry the strains' values under their real names, the
runs and summary follow the most probable pair, and a step that cannot write
leaves nothing behind."""
import csv
import gzip
import json
import os
import resource
import signal
import subprocess
import sys

import numpy as np
import pytest
from conftest import REPO

from tarvel_panel.collect import chromosome as collect
from tarvel_panel.collect.npz import load_npz


FOUNDERS = list("ABCDEFGH")
PAIRS = [FOUNDERS[b] + FOUNDERS[a] for a in range(8) for b in range(a + 1)]  # AA, AB, BB, AC, ...
STRAINS = [{"name": 'Odd "one", x', "safe": "Odd_one_x"}, {"name": "CC002/Unc", "safe": "CC002_Unc"}]
CHROM = {"name": "2&touch$IFS@x", "safe": "c2", "is_x": False, "markers": 5}
MARKERS = ["m1", "m,2", "m3", "m4", "m5"]


def marker_values(**pairs):
    values = [0.0] * 36
    for name, v in pairs.items():
        values[PAIRS.index(name)] = v
    return values


# first strain: AA, AA, a tie of AC and AE (AC is first in layout order), AC, AA
FIRST = [marker_values(AA=1.0), marker_values(AA=0.6, AB=0.4), marker_values(AC=0.5, AE=0.5),
         marker_values(AC=0.95, CC=0.05), marker_values(AA=0.92, BH=0.08)]


@pytest.fixture
def chromosome(tmp_path):
    """A prepared chromosome and its results: (prepared, runs, {strain: value texts})."""
    prepared, runs = tmp_path / "prepared", tmp_path / "runs"
    (prepared / "chrc2").mkdir(parents=True)
    (prepared / "panel.json").write_text(json.dumps({"founders": FOUNDERS, "pos_unit": "cM", "strains": STRAINS, "chromosomes": [CHROM]}))
    (prepared / "chrc2" / "markers.tsv").write_text("marker\tpos\tpmap\tgmap\n" + "".join(
        f"{m}\t{i * 0.5!r}\t{i + 3.0!r}\t{i * 0.5!r}\n" for i, m in enumerate(MARKERS)))
    rng = np.random.default_rng(4)
    second = rng.dirichlet(np.full(36, 0.2), size=5)
    texts = {}
    for strain, rows in zip(STRAINS, (FIRST, second)):
        job = runs / "chrc2" / strain["safe"]
        job.mkdir(parents=True)
        texts[strain["name"]] = [",".join(f"{v:.6g}" for v in row) for row in rows]
        (job / "strain.txt.prob").write_text("".join(f"{i}|{t},\n" for i, t in enumerate(texts[strain["name"]])))
        (job / "seconds.txt").write_text("0.25\n")
    return prepared, runs, texts


def run_collect(prepared, runs, out, *extra):
    names = ["founderprobs", "mosaic", "summary", "npz"]
    args = ["--out", str(prepared.parent), "--chr", "c2"]
    for name in names:
        args += [f"--{name}", str(out / name)]
    return collect.main(args + list(extra))


def read_table(path, delimiter=","):
    opener = gzip.open if path.read_bytes()[:2] == b"\x1f\x8b" else open
    with opener(path, "rt", newline="") as f:
        return list(csv.DictReader(f, delimiter=delimiter))


def test_tables_and_npz_carry_the_values_under_real_names(chromosome, tmp_path):
    prepared, runs, texts = chromosome
    out = tmp_path / "out"
    assert run_collect(prepared, runs, out) == 0
    founders = read_table(out / "founderprobs")
    assert [(r["strain"], r["marker"], r["chr"]) for r in founders] == \
        [(s["name"], m, CHROM["name"]) for s in STRAINS for m in MARKERS]
    npz = load_npz(out / "npz")
    assert (npz["chromosome"], npz["is_x"]) == (CHROM["name"], False)
    assert list(npz["strains"]) == [s["name"] for s in STRAINS] and list(npz["markers"]) == MARKERS
    assert list(npz["founders"]) == FOUNDERS and npz["pos"].tolist() == [0.0, 0.5, 1.0, 1.5, 2.0]
    assert "genoprobs" not in npz and npz["alleleprobs"].dtype == np.float32
    for s, strain in enumerate(STRAINS):
        values = np.array([[float(v) for v in t.split(",")] for t in texts[strain["name"]]])
        # a founder's probability: its homozygous pair and half of every pair it is in
        expected = np.array([[sum(row[k] * (pair.count(f) / 2) for k, pair in enumerate(PAIRS)) for f in FOUNDERS]
                             for row in values])
        written = np.array([[float(r[f]) for f in FOUNDERS] for r in founders if r["strain"] == strain["name"]])
        assert np.allclose(written, expected, rtol=1e-5, atol=1e-7)
        assert np.allclose(npz["alleleprobs"][s].T, written, rtol=1e-5, atol=1e-7)
        assert np.allclose(npz["top_prob"][s], values.max(axis=1))
    assert npz["top_pair"][0].tolist() == [PAIRS.index(p) for p in ("AA", "AA", "AC", "AC", "AA")]


def test_runs_and_summary_follow_the_top_pair(chromosome, tmp_path):
    prepared, runs, _ = chromosome
    out = tmp_path / "out"
    assert run_collect(prepared, runs, out) == 0
    mosaic = [r for r in read_table(out / "mosaic") if r["strain"] == STRAINS[0]["name"]]
    assert [(r["first_marker"], r["last_marker"], r["first_pos"], r["markers"], r["pair"], r["mean_prob"])
            for r in mosaic] == [("m1", "m,2", "0.0", "2", "AA", "0.8"), ("m3", "m4", "1.0", "2", "AC", "0.725"),
                                 ("m5", "m5", "2.0", "1", "AA", "0.92")]
    summary = read_table(out / "summary", "\t")[0]
    assert (summary["chr"], summary["confident"], summary["switches"], summary["tarvel_seconds"]) == \
        (CHROM["name"], "3", "2", "0.25")
    assert float(summary["het_mass"]) == pytest.approx((0.4 + 0.5 + 0.5 + 0.95 + 0.08) / 5)


def test_pair_values_on_request_are_tarvels_text(chromosome, tmp_path):
    prepared, runs, texts = chromosome
    out = tmp_path / "out"
    assert run_collect(prepared, runs, out, "--genoprobs", str(out / "genoprobs"), "--npz-genoprobs") == 0
    rows = read_table(out / "genoprobs")
    assert list(rows[0])[4:] == PAIRS
    for s, strain in enumerate(STRAINS):
        mine = [r for r in rows if r["strain"] == strain["name"]]
        assert [",".join(list(r.values())[4:]) for r in mine] == texts[strain["name"]]
        values = np.array([[float(v) for v in t.split(",")] for t in texts[strain["name"]]])
        assert np.allclose(load_npz(out / "npz")["genoprobs"][s].T, values)


def test_bad_results_and_a_full_disk_leave_nothing_behind(chromosome, tmp_path):
    prepared, runs, _ = chromosome
    names = ["--genoprobs", "g.csv.gz", "--qtl2-index", "i.bin", "--qtl2-alleleprobs", "a.f64"]

    def collect_in(out, limit=None):
        out.mkdir()
        command = [sys.executable, "-m", "tarvel_panel", "collect", "--out", str(prepared.parent),
                   "--chr", "c2", "--founderprobs", "f.csv.gz", "--mosaic", "m.csv",
                   "--summary", "s.tsv", "--npz", "n.npz"] + names

        def small_files():  # a disk that takes `limit` bytes per file
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        done = subprocess.run(command, cwd=out, capture_output=True, text=True, env={"PYTHONPATH": str(REPO), "PYTHONDONTWRITEBYTECODE": "1"},
                              preexec_fn=small_files if limit else None)
        return done, sorted(os.listdir(out))

    for limit in (200, 1000):  # the first file written, and the last
        done, left = collect_in(tmp_path / f"full{limit}", limit)
        assert done.returncode == 1 and left == [], done.stderr
        assert len(done.stderr.splitlines()) == 1 and done.stderr.startswith("error: ") \
            and "File too large" in done.stderr and any(n in done.stderr for n in ("f.csv.gz", "n.npz", "g.csv.gz"))
    bad = runs / "chrc2" / STRAINS[1]["safe"] / "strain.txt.prob"
    lines = bad.read_text().splitlines(True)
    bad.write_text("".join(lines[:3] + [lines[3].replace(",", ",x", 1)] + lines[4:]))
    done, left = collect_in(tmp_path / "bad")
    assert done.returncode == 1 and left == []
    assert done.stderr == f"error: {bad}:4: not a line of TARVEL's results (index|36 probabilities,)\n"


def test_fewer_markers_for_mapping_in_the_tables_and_r_parts_only(chromosome, tmp_path):
    prepared, runs, texts = chromosome
    out = tmp_path / "out"
    qtl2 = ["--qtl2-index", str(out / "index"), "--qtl2-alleleprobs", str(out / "alleles"),
            "--qtl2-genoprobs", str(out / "pairs")]
    # the genetic map is 0, 0.5, ..., 2 cM: 1 cM apart keeps m1, m3 and m5
    assert run_collect(prepared, runs, out, "--genoprobs", str(out / "genoprobs"), "--reduce-markers-cm", "1",
                       *qtl2) == 0
    kept = [0, 2, 4]
    for table in ("founderprobs", "genoprobs"):
        assert [r["marker"] for r in read_table(out / table)] == [MARKERS[i] for i in kept] * len(STRAINS)
    pairs = [",".join(list(r.values())[4:]) for r in read_table(out / "genoprobs")]
    assert pairs == [texts[s["name"]][i] for s in STRAINS for i in kept]
    assert list(load_npz(out / "npz")["markers"]) == MARKERS
    assert {r["markers"] for r in read_table(out / "summary", "\t")} == {"5"}
    script = REPO / "workflow" / "scripts" / "qtl2_rds.R"
    subprocess.run(["Rscript", "--vanilla", script, "gmap", out / "gmap.rds", out / "index"], check=True)
    subprocess.run(["Rscript", "--vanilla", script, "alleleprobs", out / "a.rds", out / "index", out / "alleles"], check=True)
    said = subprocess.run(["Rscript", "--vanilla", "-e", "g <- readRDS(commandArgs(TRUE)[1])[[1]]; a <- readRDS(commandArgs(TRUE)[2])[[1]];"
                           "cat(names(g), g, dim(a), a[2, , 2], sep = '\\n')", out / "gmap.rds", out / "a.rds"],
                          capture_output=True, text=True, check=True).stdout.split()
    assert said[:6] == ["m1", "m3", "m5", "0", "1", "2"] and said[6:9] == ["2", "8", "3"]
    # the second strain's founder values at its third marker, as in the table
    row = [r for r in read_table(out / "founderprobs") if r["strain"] == STRAINS[1]["name"]][1]
    assert np.allclose([float(v) for v in said[9:]], [float(row[f]) for f in FOUNDERS], rtol=1e-5)


def test_fewer_markers_without_a_genetic_map_is_refused_in_one_line(chromosome, tmp_path):
    prepared, runs, _ = chromosome
    table = prepared / "chrc2" / "markers.tsv"
    table.write_text("\n".join("\t".join(line.split("\t")[:3]) for line in table.read_text().splitlines()) + "\n")
    out = tmp_path / "out"
    out.mkdir()
    done = subprocess.run([sys.executable, "-m", "tarvel_panel", "collect", "--out", str(prepared.parent), "--chr", "c2",
                           "--founderprobs", "f", "--mosaic", "m", "--summary", "s", "--npz", "n",
                           "--reduce-markers-cm", "0.5"], cwd=out, capture_output=True, text=True,
                          env={"PYTHONPATH": str(REPO)})
    assert done.returncode == 1 and os.listdir(out) == []
    assert done.stderr == (f"error: reduce_markers_cm: needs the markers' genetic map (cM), which chromosome "
                           f"{CHROM['name']} lacks (a cross with a gmap file, or a VCF panel with genetic_map)\n")

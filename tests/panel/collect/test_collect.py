"""The collect step on a small hand-made chromosome: the tables, the npz and
the opt-in genoprobs carry the strains' values under their real names, the
runs and summary follow the most probable pair, a values file that is not a
strain's values is refused naming it, and a step that cannot write or is
stopped leaves nothing behind, its rerun everything."""
import csv
import gzip
import json
import os
import resource
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from conftest import REPO

from tarvel_panel.collect import chromosome as collect
from tarvel_panel.collect.npz import load_npz
from tarvel_panel.run.values_file import write_values


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
    """A prepared chromosome and its strains' values files: (prepared, runs, {strain: values})."""
    prepared, runs = tmp_path / "prepared", tmp_path / "runs"
    (prepared / "chrc2").mkdir(parents=True)
    (prepared / "panel.json").write_text(json.dumps({"founders": FOUNDERS, "pos_unit": "cM", "strains": STRAINS, "chromosomes": [CHROM]}))
    (prepared / "chrc2" / "markers.tsv").write_text("marker\tpos\tpmap\tgmap\n" + "".join(
        f"{m}\t{i * 0.5!r}\t{i + 3.0!r}\t{i * 0.5!r}\n" for i, m in enumerate(MARKERS)))
    rng = np.random.default_rng(4)
    second = rng.dirichlet(np.full(36, 0.2), size=5)
    values = {}
    for strain, rows in zip(STRAINS, (FIRST, second)):
        job = runs / "chrc2" / strain["safe"]
        job.mkdir(parents=True)
        values[strain["name"]] = np.array(rows, dtype=float)
        write_values(job / "strain.values", values[strain["name"]])
        (job / "seconds.txt").write_text("0.25\n")
    return prepared, runs, values


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
    prepared, runs, pair_values = chromosome
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
        values = pair_values[strain["name"]]
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


def test_pair_values_on_request_are_the_strains_values(chromosome, tmp_path):
    prepared, runs, pair_values = chromosome
    out = tmp_path / "out"
    assert run_collect(prepared, runs, out, "--genoprobs", str(out / "genoprobs"), "--npz-genoprobs") == 0
    rows = read_table(out / "genoprobs")
    assert list(rows[0])[4:] == PAIRS
    for s, strain in enumerate(STRAINS):
        mine = [r for r in rows if r["strain"] == strain["name"]]
        assert [r["marker"] for r in mine] == MARKERS
        written = np.array([[float(v) for v in list(r.values())[4:]] for r in mine])
        # six significant digits, a zero as "0"
        assert np.allclose(written, pair_values[strain["name"]], rtol=5e-6, atol=0)
        assert all(text == "0" for r, row in zip(mine, written) for text, x in zip(list(r.values())[4:], row) if x == 0)
        assert np.allclose(load_npz(out / "npz")["genoprobs"][s].T, pair_values[strain["name"]])


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


def damage(path, kind):
    data = bytearray(path.read_bytes())
    if kind == "cut short":
        del data[-8:]
    elif kind == "text":
        data = bytearray(b"".join(b"%d|1,%s\n" % (i, b"0," * 35) for i in range(5)))
    elif kind == "markers":
        data[16] = 4
    elif kind == "adds up to 2":
        data[24 + 8 * 36 * 3:24 + 8 * 36 * 3 + 8] = np.float64(1.0).tobytes()   # marker 4 gets AA = 1 as well
    elif kind == "nan":
        data[24 + 8 * 36:24 + 8 * 37] = np.float64("nan").tobytes()
    path.write_bytes(bytes(data))


@pytest.mark.parametrize("kind, said", [
    ("cut short", "179 values where 5 markers need 180 (a damaged or unfinished file)"),
    ("text", "not a values file (no TARVPROB mark)"),
    ("markers", "4 markers, the chromosome has 5"),
    ("adds up to 2", "line 4: its 36 values add up to 2, not 1"),
    ("nan", "line 2: a value outside 0..1 (nan)")])
def test_a_damaged_values_file_is_refused_naming_it(chromosome, tmp_path, capsys, kind, said):
    prepared, runs, _ = chromosome
    bad = runs / "chrc2" / STRAINS[0]["safe"] / "strain.values"
    damage(bad, kind)
    out = tmp_path / "out"
    assert run_collect(prepared, runs, out) == 1
    where, _, message = said.rpartition(": ")
    expected = f"{bad}:{where.split()[1]}: {message}" if where else f"{bad}: {message}"
    assert capsys.readouterr().err == f"error: {expected}\n"
    assert not out.exists() or list(out.iterdir()) == []


@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGINT])
def test_a_stopped_collect_leaves_nothing_that_looks_complete_and_a_rerun_repairs_it(chromosome, tmp_path, signum):
    """Stopped while it waits for the second strain's values (a pipe nobody writes)."""
    prepared, runs, _ = chromosome
    values = runs / "chrc2" / STRAINS[1]["safe"] / "strain.values"
    kept = values.read_bytes()
    values.unlink()
    os.mkfifo(values)
    out = tmp_path / "out"
    out.mkdir()
    command = [sys.executable, "-m", "tarvel_panel", "collect", "--out", str(prepared.parent), "--chr", "c2",
               "--founderprobs", "f.csv.gz", "--mosaic", "m.csv", "--summary", "s.tsv", "--npz", "n.npz",
               "--genoprobs", "g.csv.gz", "--qtl2-index", "i.bin", "--qtl2-alleleprobs", "a.f64"]
    job = subprocess.Popen(command, cwd=out, stderr=subprocess.PIPE, text=True,
                           env={"PYTHONPATH": str(REPO), "PYTHONDONTWRITEBYTECODE": "1"})
    deadline = time.monotonic() + 30
    while len(list(out.iterdir())) < 6:   # every output begun
        assert time.monotonic() < deadline and job.poll() is None, job.stderr.read() if job.poll() else "slow"
        time.sleep(0.05)
    job.send_signal(signum)
    assert job.wait(timeout=30) == 128 + signum
    assert list(out.iterdir()) == []
    values.unlink()
    values.write_bytes(kept)
    again = tmp_path / "again"
    assert run_collect(prepared, runs, again) == 0
    assert run_collect(prepared, runs, out) == 0
    assert sorted(os.listdir(out)) == sorted(os.listdir(again)) == ["founderprobs", "mosaic", "npz", "summary"]
    for name in ("founderprobs", "mosaic", "summary", "npz"):
        assert (out / name).read_bytes() == (again / name).read_bytes()

def test_fewer_markers_for_mapping_in_the_tables_and_r_parts_only(chromosome, tmp_path):
    prepared, runs, values = chromosome
    out = tmp_path / "out"
    qtl2 = ["--qtl2-index", str(out / "index"), "--qtl2-alleleprobs", str(out / "alleles"),
            "--qtl2-genoprobs", str(out / "pairs")]
    # the genetic map is 0, 0.5, ..., 2 cM: 1 cM apart keeps m1, m3 and m5
    assert run_collect(prepared, runs, out, "--genoprobs", str(out / "genoprobs"), "--reduce-markers-cm", "1",
                       *qtl2) == 0
    kept = [0, 2, 4]
    for table in ("founderprobs", "genoprobs"):
        assert [r["marker"] for r in read_table(out / table)] == [MARKERS[i] for i in kept] * len(STRAINS)
    pairs = [[float(v) for v in list(r.values())[4:]] for r in read_table(out / "genoprobs")]
    assert np.allclose(pairs, [values[s["name"]][i] for s in STRAINS for i in kept], rtol=1e-5, atol=1e-6)
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

"""The shipped example panel: reproducible from its command, and a faithful
simulation (strain calls follow the founders named by the truth)."""
import csv
import json
import subprocess
import zipfile
from pathlib import Path

import yaml

REPO = Path(__file__).resolve().parents[3]
PANEL = REPO / "examples/panel"
SIMULATE = REPO / "build/tools/simulate/tarvel_simulate"
MAKE_PANEL = [str(REPO / "tools/simulate/make_panel.py"), "--seed", "1"]


def table(name):
    lines = [l for l in (PANEL / name).read_text().splitlines() if not l.startswith("#")]
    return list(csv.reader(lines))


def test_the_shipped_command_remakes_the_panel_byte_for_byte(tmp_path):
    subprocess.run(["/usr/bin/python3", *MAKE_PANEL, "--out", str(tmp_path / "p")],
                   check=True, capture_output=True)
    for made in sorted((tmp_path / "p").iterdir()):
        assert made.read_bytes() == (PANEL / made.name).read_bytes(), made.name


def test_control_file_variants_agree():
    ctrl = yaml.safe_load((PANEL / "panel.yaml").read_text())
    assert json.loads((PANEL / "panel.json").read_text()) == ctrl
    with zipfile.ZipFile(PANEL / "panel.zip") as z:
        for name in z.namelist():
            assert z.read(name) == (PANEL / name).read_bytes(), name
        assert {"panel.yaml", ctrl["geno"], ctrl["founder_geno"], ctrl["gmap"],
                ctrl["cross_info"]["file"]} <= set(z.namelist())


def test_maps_funnels_and_sexes_are_well_formed():
    for name in ("gmap.csv", "pmap.csv"):
        rows = table(name)[1:]
        for chrom in ("1", "2", "X"):
            pos = [float(r[2]) for r in rows if r[1] == chrom]
            assert 200 <= len(pos) <= 400 and all(a < b for a, b in zip(pos, pos[1:]))
    assert all(len(r[2].split(".")[1]) == 6 for r in table("pmap.csv")[1:])
    assert all(sorted(map(int, r[1:])) == list(range(1, 9)) for r in table("cross_info.csv")[1:])
    assert {r[1] for r in table("covar.csv")[1:]} == {"female", "male"}


def test_strain_calls_follow_the_true_founders():
    founders = {r[0]: r[1:] for r in table("founder_geno.csv")[1:]}
    geno = table("geno.csv")
    strains = geno[0][1:]
    calls = {(s, r[0]): c for r in geno[1:] for s, c in zip(strains, r[1:])}
    male = {r[0] for r in table("covar.csv")[1:] if r[1] == "male"}
    checked = wrong = 0
    for t in csv.DictReader((PANEL / "truth.csv").open()):
        if t["chr"] == "X" and t["strain"] in male:
            assert t["copy1"] == t["copy2"]
        alleles = [founders[t["marker"]]["ABCDEFGH".index(t[k])] for k in ("copy1", "copy2")]
        call = calls[(t["strain"], t["marker"])]
        if "-" in alleles or call == "-":
            continue
        expected = {"AA": "A", "BB": "B"}.get("".join(sorted(alleles)), "H")
        checked += 1
        wrong += call != expected
    assert checked > 0.95 * len(calls) and wrong < 0.005 * checked  # error rate 0.002


def test_simulator_refuses_a_founder_file_that_does_not_fit(tmp_path):
    (tmp_path / "pos.txt").write_text("1.0\n2.0\n3.0\n")
    (tmp_path / "short.txt").write_text("0 1 0 1 0 1 0 1\n0 0 0 0 1 1 1 1\n")
    (tmp_path / "seven.txt").write_text("0 1 0 1 0 1 0 1\n0 0 0 1 1 1 1\n0 0 0 0 1 1 1 1\n")
    for name, message in (("short.txt", "has 2 markers, the positions 3"),
                          ("seven.txt", ":2: needs 8 founder genotypes, has 7")):
        out = tmp_path / ("out_" + name)
        r = subprocess.run([str(SIMULATE), "--out", str(out), "--positions",
                            str(tmp_path / "pos.txt"), "--founders", str(tmp_path / name)],
                           capture_output=True, text=True)
        assert r.returncode == 1 and message in r.stderr and str(tmp_path / name) in r.stderr
        assert not out.exists()


def test_strains_bred_from_one_founder_file_share_its_genotypes(tmp_path):
    first = tmp_path / "first"
    subprocess.run([str(SIMULATE), "--out", str(first), "--markers", "200",
                    "--founder-missing", "0.05"], check=True, capture_output=True)
    second = tmp_path / "second"
    subprocess.run([str(SIMULATE), "--out", str(second), "--seed", "7",
                    "--positions", str(first / "positions.txt"),
                    "--founders", str(first / "founders.txt")], check=True, capture_output=True)
    assert (second / "founders.txt").read_bytes() == (first / "founders.txt").read_bytes()
    assert (second / "truth.txt").read_bytes() != (first / "truth.txt").read_bytes()

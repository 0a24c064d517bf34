"""The R/qtl2 objects one chromosome at a time, from hand-made parts: joined
in base R the way R/qtl2's cbind joins calc_genoprob objects they are the
whole-panel object; collect's parts hold only the markers kept for mapping;
an R stopped mid-save leaves no file that looks complete, and a rerun
writes it."""
import json
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from conftest import REPO

from rjoin import JOIN

from tarvel_panel import paths
from tarvel_panel.collect import qtl2_parts, qtl2_rds


ALLELES = list("ABCDEFGH")
FOUNDERS = ["AJ", "B6", "S129", "NOD", "NZO", "CAST", "PWK", "WSB"]


def write_panel(out, chromosomes, strains, rng, genotypes=8):
    """A panel.json and each chromosome's parts: {safe: markers}."""
    (out / "prepared").mkdir(parents=True)
    (out / "runs").mkdir()
    entries = [{"name": name, "safe": safe, "is_x": name == "X", "markers": m} for name, safe, m in chromosomes]
    (out / "prepared" / "panel.json").write_text(json.dumps({
        "founders": FOUNDERS, "alleles": ALLELES, "pos_unit": "cM", "chromosomes": entries,
        "strains": [{"name": f"CC{i:03d}/Unc", "safe": f"CC{i:03d}_Unc"} for i in range(strains)]}))
    for name, safe, m in chromosomes:
        markers = [f"{name}_m{i}" for i in range(m)]
        with open(paths.chromosome_part(out, safe, paths.QTL2_INDEX_PART), "wb") as f:
            qtl2_parts.write_index(f, name, name == "X", [f"CC{i:03d}/Unc" for i in range(strains)],
                                   [i % 3 == 0 for i in range(strains)], ALLELES, FOUNDERS, markers,
                                   {"pmap": np.arange(m) * 0.1 + 3, "gmap": np.arange(m) * 0.05})
        values = rng.dirichlet(np.ones(genotypes), size=(strains, m))
        with open(paths.qtl2_values_part(out, safe, "alleleprobs"), "wb") as f:
            for block in values:
                qtl2_parts.write_values(f, block)


def qtl2(out, *args, kind="alleleprobs", **popen):
    command = [sys.executable, "-m", "tarvel_panel", "qtl2", "--out", str(out), "--kind", kind, *args]
    return subprocess.Popen(command, env=dict(os.environ, PYTHONPATH=str(REPO)), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True, **popen)


def finished(process):
    said, errors = process.communicate()
    return process.returncode, errors


def test_the_chromosomes_objects_joined_are_the_whole_panels(tmp_path):
    out = tmp_path / "out"
    chromosomes = [("1", "1", 7), ("2&b", "2_b", 5), ("X", "X", 4)]
    write_panel(out, chromosomes, 6, np.random.default_rng(1))
    whole = paths.qtl2_file(out, "alleleprobs")
    files = []
    for _, safe, _ in chromosomes:
        files.append(paths.qtl2_chromosome_file(out, "alleleprobs", safe))
        assert finished(qtl2(out, "--chr", safe, "--dest", files[-1]))[0] == 0
    # the whole object is joined from the chromosomes' own, byte for byte
    # what R makes of every chromosome's parts at once
    assert finished(qtl2(out, "--dest", whole)) == (0, "collect: qtl2/alleleprobs.rds written\n")
    from_parts = tmp_path / "from_parts.rds"
    subprocess.run(["Rscript", "--vanilla", qtl2_rds.SCRIPT, "alleleprobs", str(from_parts),
                    *paths.qtl2_parts(out, [safe for _, safe, _ in chromosomes], "alleleprobs")], check=True)
    assert from_parts.read_bytes() == open(whole, "rb").read()
    said = subprocess.run(["Rscript", "--vanilla", "-e", JOIN, whole, *files], capture_output=True, text=True, check=True)
    lines = said.stdout.splitlines()
    assert lines[0] == "TRUE TRUE "
    # each a one-chromosome calc_genoprob object, with just these attributes
    attributes = "alleleprobs alleles class crosstype founder_names is_female is_x_chr names"
    assert lines[1:4] == [f"{name} {attributes} " for name, _, _ in chromosomes]
    assert lines[4].split() == ["TRUE", "FALSE", "FALSE"] * 2 + [f"CC{i:03d}/Unc" for i in range(6)]
    # the maps are of the whole panel only; an unknown chromosome is one line
    code, errors = finished(qtl2(out, "--chr", "1", "--dest", str(tmp_path / "p.rds"), kind="pmap"))
    assert (code, errors) == (1, "error: --chr: a pmap is written for the whole panel only\n")
    code, errors = finished(qtl2(out, "--chr", "9", "--dest", str(tmp_path / "9.rds")))
    assert code == 1 and errors.count("\n") == 1 and "no chromosome with the file name chr9" in errors


def test_the_whole_object_is_left_out_above_its_size_in_one_line():
    fits = qtl2_rds.whole_too_large("alleleprobs", 1000, 60_000, 4096)
    assert fits is None and qtl2_rds.whole_too_large("gmap", 10**6, 10**6, 1) is None
    line = qtl2_rds.whole_too_large("genoprobs", 1000, 60_000, 4096)
    assert line == ("qtl2: the whole-panel genoprobs object would take 16,480 MB, more than qtl2_whole_max_mb=4096: "
                    "written per chromosome only (qtl2/genoprobs_<chr>.rds)")
    # a job asks for what R holds: more markers, more memory; a retry, twice
    small, large = (qtl2_rds.job_mem_mb("alleleprobs", 69, m) for m in (1000, 100_000))
    assert small < large and large >= 8 * 69 * 8 * 100_000 / 2**20
    assert qtl2_rds.job_mem_mb("alleleprobs", 69, 1000, attempt=2) == 2 * small


def wait_for_temporary(dest, process):
    """R's pid once its temporary file holds some bytes, R stopped there."""
    folder, name = os.path.split(dest)
    while process.poll() is None:
        for entry in os.listdir(folder):
            if entry.startswith(f".{name}.tmp-") and os.path.getsize(os.path.join(folder, entry)):
                pid = int(entry.rsplit("-", 1)[1])
                os.kill(pid, signal.SIGSTOP)
                return pid
        time.sleep(0.0005)
    pytest.fail(f"R ended before writing: {process.communicate()}")


@pytest.mark.parametrize("target, signum", [("R", signal.SIGTERM), ("command", signal.SIGTERM),
                                            ("both", signal.SIGINT), ("both", signal.SIGKILL)])
def test_a_stopped_save_leaves_nothing_complete_and_a_rerun_writes_it(tmp_path, target, signum):
    out = tmp_path / "out"
    write_panel(out, [("1", "1", 50_000)], 20, np.random.default_rng(2))  # 64 MB to save
    dest = paths.qtl2_chromosome_file(out, "alleleprobs", "1")
    os.makedirs(os.path.dirname(dest))
    process = qtl2(out, "--chr", "1", "--dest", dest)
    pid = wait_for_temporary(dest, process)
    assert not os.path.exists(dest)
    if target in ("command", "both"):
        process.send_signal(signum)
    if target in ("R", "both"):
        os.kill(pid, signum)
    os.kill(pid, signal.SIGCONT)
    code, errors = finished(process)
    assert code != 0 and not os.path.exists(dest)
    left = sorted(os.listdir(os.path.dirname(dest)))
    # R killed: its temporary file stays until the rerun
    assert left == ([f".alleleprobs_1.rds.tmp-{pid}"] if signum == signal.SIGKILL else [])
    assert finished(qtl2(out, "--chr", "1", "--dest", dest)) == (0, "collect: qtl2/alleleprobs_1.rds written\n")
    assert os.listdir(os.path.dirname(dest)) == ["alleleprobs_1.rds"]
    dims = subprocess.run(["Rscript", "--vanilla", "-e", "cat(dim(readRDS(commandArgs(TRUE))[['1']]))", dest],
                          capture_output=True, text=True, check=True).stdout
    assert dims == "20 8 50000"

"""The config and the output folder: a config the schema refuses, a missing
TARVEL, a locked or read-only output folder each stop the run in one line
before anything is written; the output folder, not the working directory,
decides what a changed setting redoes."""
import csv
import os
import shutil
import subprocess
import time

import pytest

from conftest import REPO, SNAKEMAKE, run_workflow

EXAMPLE = REPO / "examples" / "panel"
CROSS = f"cross={EXAMPLE / 'panel.yaml'}"


def error_lines(done):
    return [line for line in done.stderr.splitlines() if line.startswith("error:")]


def refused(done, message):
    """The run ended with status 1 and said only `message`."""
    assert done.returncode == 1
    assert done.stderr.strip().splitlines()[-1:] == [f"error: {message}"] and len(error_lines(done)) == 1
    assert "Traceback" not in done.stderr


@pytest.mark.parametrize("item,message", [
    ("chromosome=19", "config chromosome: unknown key (did you mean chromosomes?); the known keys are "),
    ("generation=abc", "config generation: 'abc' is not a whole number"),
    ("generation=200", "config generation: 200 is above the largest allowed value, 100"),
    ("plots=maybe", "config plots: 'maybe' is not true or false"),
    ("positions=bp", "config positions: 'bp' is not one of gmap, pmap"),
    ("batch_size=-1", "config batch_size: -1 is below the least allowed value, 0"),
    ("error_rate=nan", "config error_rate: nan is not a finite number"),
    ("founder_names=A,B_C,A_B,C,D,E,F,G", "config founder_names: the pairs A with B_C and A_B with C would both be"),
])
def test_a_config_the_schema_refuses_stops_before_anything_is_written(tmp_path, item, message):
    done = run_workflow(tmp_path, CROSS, "out=out", item, check=False)
    assert done.returncode == 1 and len(error_lines(done)) == 1 and error_lines(done)[0].startswith(f"error: {message}")
    assert not (tmp_path / "out").exists()
    if item.startswith("chromosome="):
        known = error_lines(done)[0].split("the known keys are ")[1].split(", ")
        assert {"chromosomes", "strains", "founders_vcf", "batch_size", "keep_runs", "qtl2_genoprobs"} <= set(known)


def test_a_missing_build_says_how_to_build_it(tmp_path):
    # a copy of the workflow whose repository has no build
    for part in ("workflow", "config", "tarvel_panel"):
        shutil.copytree(REPO / part, tmp_path / "repo" / part)
    command = [SNAKEMAKE, "--snakefile", str(tmp_path / "repo" / "workflow" / "Snakefile"), "--directory",
               str(tmp_path), "--cores", "1", "--config", CROSS, "out=out"]
    done = subprocess.run(command, capture_output=True, text=True)
    refused(done, f"{tmp_path / 'repo' / 'build' / 'tarvel_engine'}: the panel's engine is not built yet; build it in "
            "the repository first: cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2")
    # the engine alone, without the library that formats TARVEL's numbers
    (tmp_path / "repo" / "build").mkdir()
    shutil.copy(REPO / "build" / "tarvel_engine", tmp_path / "repo" / "build" / "tarvel_engine")
    done = subprocess.run(command, capture_output=True, text=True)
    refused(done, f"{tmp_path / 'repo' / 'build' / 'libtarvel_panel.so'}: the panel's helper library is not built "
            "yet; build it in the repository first: cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && "
            "cmake --build build -j2")
    done = run_workflow(tmp_path, CROSS, "out=out", f"tarvel={tmp_path / 'nowhere'}", check=False)
    refused(done, f"config tarvel: {tmp_path / 'nowhere'} is not an executable file")
    done = run_workflow(tmp_path, CROSS, "out=out", f"engine={tmp_path / 'nowhere'}", check=False)
    refused(done, f"config engine: {tmp_path / 'nowhere'} is not an executable file")
    done = run_workflow(tmp_path, CROSS, "out=out", f"engine={REPO / 'build' / 'tarvel_engine'}",
                        f"tarvel={REPO / 'build' / 'TARVEL'}", check=False)
    refused(done, "config engine: is given with tarvel: give the engine, or a TARVEL program to run once per "
            "strain, not both")
    assert not (tmp_path / "out").exists()


def strains_in(out):
    with open(out / "summary.tsv", newline="") as f:
        return sorted({row["strain"] for row in csv.DictReader(f, delimiter="\t")})


def dry_run(workdir, *config):
    return subprocess.run([SNAKEMAKE, "--snakefile", str(REPO / "workflow" / "Snakefile"), "-n", "--directory",
                           str(workdir), "--cores", "1", "--config", *config], capture_output=True, text=True)


def test_the_output_folder_decides_what_a_changed_setting_redoes(tmp_path):
    out = tmp_path / "out"
    config = [CROSS, f"out={out}", "plots=false", "chromosomes=X"]
    # a dry run before there is an output folder: prepare comes first, nothing is written
    fresh = dry_run(tmp_path / "first", *config, "strains=SIM01/Tv,SIM02/Tv")
    assert fresh.returncode == 0 and "missing output files:\n        prepare" in fresh.stdout + fresh.stderr
    assert not out.exists()
    run_workflow(tmp_path / "first", *config, "strains=SIM01/Tv,SIM02/Tv")
    # elsewhere, without the first run's .snakemake: a changed strain set is redone ...
    changed = run_workflow(tmp_path / "second", *config, "strains=SIM01/Tv")
    assert "rule tarvel:" in changed.stderr and strains_in(out) == ["SIM01/Tv"]
    # ... a dry run from a third place says that a change redoes the panel, and writes nothing ...
    recorded = (out / "config.json").read_text()
    dry = dry_run(tmp_path / "third", *config, "strains=SIM02/Tv")
    assert (f"note: the config differs from {out / 'config.json'} (strains: \"SIM01/Tv\" -> \"SIM02/Tv\"): "
            "a real run prepares the panel again") in dry.stderr
    assert (out / "config.json").read_text() == recorded and not (out / ".panel.lock").exists()
    # ... and the same settings again, or a changed running key, redo nothing
    for extra in ([], ["batch_threads=2"]):
        again = run_workflow(tmp_path / "third", *config, "strains=SIM01/Tv", *extra)
        assert "Nothing to be done" in again.stderr


def test_a_second_run_into_the_same_folder_at_once_is_refused(tmp_path, tarvel):
    slow = tmp_path / "slow_tarvel.sh"
    slow.write_text(f'#!/bin/sh\nsleep 3\nexec "{tarvel}" "$@"\n')
    slow.chmod(0o755)
    out = tmp_path / "out"
    config = [CROSS, f"out={out}", "plots=false", "chromosomes=X", "strains=SIM01/Tv"]
    command = [SNAKEMAKE, "--snakefile", str(REPO / "workflow" / "Snakefile"), "--directory", str(tmp_path / "first"),
               "--cores", "1", "--config", *config, f"tarvel={slow}"]
    first = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 30
    while not (out / ".panel.lock").exists() and time.monotonic() < deadline:
        time.sleep(0.05)
    second = run_workflow(tmp_path / "second", *config, check=False)
    assert first.wait(timeout=60) == 0, first.stderr.read()
    refused(second, f"{out}: another run (process {first.pid} on {os.uname().nodename}) is writing to this "
            f"output folder; wait for it to end, or if it hangs end it (kill {first.pid}), or remove "
            f"{out / '.panel.lock'} if none is running")
    # the lock is gone with its run, and a lock left by a dead process does not count
    assert not (out / ".panel.lock").exists()
    (out / ".panel.lock").write_text(f"{2 ** 22 + 1} {os.uname().nodename} 1\n")
    assert "Nothing to be done" in run_workflow(tmp_path / "second", *config).stderr


@pytest.fixture
def read_only_folder(tmp_path):
    folder = tmp_path / "ro"
    folder.mkdir()
    if os.geteuid() != 0:
        folder.chmod(0o555)
        yield folder
        folder.chmod(0o755)
        return
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=1m", "tmpfs", str(folder)]).returncode != 0:
        pytest.skip("cannot mount a read-only file system here")
    yield folder
    subprocess.run(["umount", str(folder)], check=True)


def test_a_read_only_output_folder_is_one_line(tmp_path, read_only_folder):
    done = run_workflow(tmp_path, CROSS, f"out={read_only_folder / 'out'}", check=False)
    refused(done, f"{read_only_folder / 'out'}: the output folder cannot be written (Read-only file system)"
            if os.geteuid() == 0 else
            f"{read_only_folder / 'out'}: the output folder cannot be written (Permission denied)")


def test_a_setting_written_another_way_redoes_nothing(tmp_path):
    out = tmp_path / "out"
    config = [CROSS, f"out={out}", "plots=false", "chromosomes=X"]
    run_workflow(tmp_path, *config, "strains=SIM01/Tv,SIM02/Tv,SIM01/Tv", "generation=20.0")
    assert strains_in(out) == ["SIM01/Tv", "SIM02/Tv"]
    again = run_workflow(tmp_path, *config, "strains=SIM01/Tv, SIM02/Tv", "generation=20")
    assert "Nothing to be done" in again.stderr and "note: the config differs" not in again.stderr


def test_a_working_directory_holding_other_panel_modules_runs_this_workflows_own(tmp_path):
    decoy = tmp_path / "tarvel_panel"   # e.g. the workflow of one checkout run from inside another
    decoy.mkdir()
    (decoy / "__init__.py").write_text("")
    (decoy / "__main__.py").write_text("import sys\nsys.exit('the working directory\\'s modules ran')\n")
    done = run_workflow(tmp_path, CROSS, "out=out", "plots=false")
    assert "modules ran" not in done.stderr
    assert (tmp_path / "out" / "summary.tsv").exists()

"""Runs in batches: the engine gives the same bytes in one batch as in one job
per strain, and TARVEL's own results text where runs are kept; genoprobs are
TARVEL's text, the tables move only in their last digit from those made of
it; a killed batch leaves only complete values and its rerun finishes the
rest; a TARVEL program given in the config runs per strain and what it
writes counts only when every line adds up as TARVEL's do; raw runs go once
collected unless kept."""
import gzip
import os
import shutil
import signal
import subprocess
import time

import numpy as np
import pytest
from conftest import REPO, SNAKEMAKE, run_workflow

from tarvel_panel.run.values_file import read_values


EXAMPLE = REPO / "examples" / "panel"
COLLECTED = ["founderprobs/chr2.csv.gz", "mosaic.csv"]
STRAINS = [f"SIM0{i}_Tv" for i in range(1, 9)]


def panel_run(workdir, *config):
    return run_workflow(workdir, f"cross={EXAMPLE / 'panel.yaml'}", "out=out", "plots=false", *config)


def tarvel_jobs(done):
    return sum(1 for line in done.stderr.splitlines() if line.startswith("rule tarvel:"))


def run_files(out, name):
    """Every run's file `name` (strain.values, strain.txt.prob) as bytes by its path under runs/."""
    runs = out / "runs"
    return {str(p.relative_to(runs)): p.read_bytes() for p in sorted(runs.glob(f"chr*/*/{name}"))}


def collected(out, name):
    data = (out / name).read_bytes()
    return gzip.decompress(data) if name.endswith(".gz") else data


@pytest.fixture(scope="module")
def one_job_per_run(tmp_path_factory, tarvel):
    workdir = tmp_path_factory.mktemp("per_run")
    done = panel_run(workdir, "batch_size=1", "batch_threads=1", "keep_runs=true", "genoprobs_csv=true")
    return workdir / "out", done


@pytest.fixture(scope="module")
def one_job_per_chromosome(tmp_path_factory, tarvel):
    workdir = tmp_path_factory.mktemp("per_chromosome")
    done = panel_run(workdir, "keep_runs=true", "batch_threads=2", "genoprobs_csv=true")
    return workdir / "out", done


@pytest.fixture(scope="module")
def tarvel_per_strain(tmp_path_factory, tarvel):
    workdir = tmp_path_factory.mktemp("tarvel_per_strain")
    panel_run(workdir, "keep_runs=true", "batch_threads=2", "genoprobs_csv=true", f"tarvel={tarvel}")
    return workdir / "out"


def test_a_batch_writes_the_same_bytes_as_one_run_per_job(one_job_per_run, one_job_per_chromosome):
    (single, single_run), (batched, batched_run) = one_job_per_run, one_job_per_chromosome
    assert (tarvel_jobs(single_run), tarvel_jobs(batched_run)) == (24, 3)
    assert "threads: 2" in batched_run.stderr
    # two engines side by side, four strains each
    logs = batched / "logs" / "tarvel" / "batches" / "chr2"
    assert [sum(line.startswith("done ") for line in (logs / f"0-engine-{k}.log").read_text().splitlines())
            for k in (0, 1)] == [4, 4]
    for name in ("strain.values", "strain.txt.prob", "strain.txt"):
        assert len(run_files(batched, name)) == 24 and run_files(batched, name) == run_files(single, name)
    for name in COLLECTED:
        assert collected(batched, name) == collected(single, name)
    assert not list((batched / "runs" / "batches").glob("chr*/.*"))   # the job lists go with their batch


def csv_rows(out, name):
    return [line.split(",") for line in collected(out, name).decode().splitlines()]


def test_genoprobs_are_tarvels_text_and_the_tables_move_in_their_last_digit_only(one_job_per_chromosome,
                                                                               tarvel_per_strain):
    """The engine's values against those read back from TARVEL's six-digit text."""
    engine, _ = one_job_per_chromosome
    assert run_files(engine, "strain.txt.prob") == run_files(tarvel_per_strain, "strain.txt.prob")
    for chrom in ("1", "2", "X"):
        genoprobs = csv_rows(engine, f"genoprobs/chr{chrom}.csv.gz")
        assert genoprobs == csv_rows(tarvel_per_strain, f"genoprobs/chr{chrom}.csv.gz")
        for strain in STRAINS:
            text = (tarvel_per_strain / "runs" / f"chr{chrom}" / strain / "strain.txt.prob").read_text()
            tarvels = [line.partition("|")[2].rstrip(",").split(",") for line in text.splitlines()]
            assert [row[4:] for row in genoprobs if row[0] == strain.replace("_", "/")] == tarvels
        mine, theirs = csv_rows(engine, f"founderprobs/chr{chrom}.csv.gz"), \
            csv_rows(tarvel_per_strain, f"founderprobs/chr{chrom}.csv.gz")
        assert [row[:4] for row in mine] == [row[:4] for row in theirs]
        differences = np.abs(np.array([row[4:] for row in mine[1:]], float) -
                             np.array([row[4:] for row in theirs[1:]], float))
        assert differences.max() <= 2e-6
    mosaic = [collected(out, "mosaic.csv").decode().splitlines() for out in (engine, tarvel_per_strain)]
    assert [line.rsplit(",", 1)[0] for line in mosaic[0]] == [line.rsplit(",", 1)[0] for line in mosaic[1]]
    assert max(abs(float(a.rsplit(",", 1)[1]) - float(b.rsplit(",", 1)[1]))
               for a, b in zip(mosaic[0][1:], mosaic[1][1:])) <= 2e-6


def test_raw_runs_go_once_collected_and_a_rerun_does_not_ask_for_them(tmp_path, one_job_per_chromosome):
    reference, _ = one_job_per_chromosome
    config = ["chromosomes=2"]
    panel_run(tmp_path, *config)
    out = tmp_path / "out"
    assert not list((out / "runs").glob("chr2/*")) and not (out / "runs" / "batches").exists()
    assert not list((out / "runs").glob("chr2/*/strain.txt.prob"))
    assert collected(out, "founderprobs/chr2.csv.gz") == collected(reference, "founderprobs/chr2.csv.gz")
    shutil.rmtree(tmp_path / ".snakemake")
    again = panel_run(tmp_path, *config)
    assert tarvel_jobs(again) == 0 and "Nothing to be done" in again.stderr


def test_an_interrupted_batch_finishes_what_is_missing(tmp_path, one_job_per_chromosome):
    """As a killed run leaves it: chromosome 2's batch not done, two strains
    without values, one cut short, one without its wall time, temporary files
    beside them and a job list left; its collected files gone."""
    reference, _ = one_job_per_chromosome
    out = tmp_path / "out"
    shutil.copytree(reference, out, ignore=shutil.ignore_patterns("logs"))
    runs = out / "runs" / "chr2"
    (out / "runs" / "batches" / "chr2" / "0.txt").unlink()
    for strain in ("SIM03_Tv", "SIM05_Tv"):
        (runs / strain / "strain.values").unlink()
    cut = runs / "SIM06_Tv" / "strain.values"
    cut.write_bytes(cut.read_bytes()[:-8])
    (runs / "SIM08_Tv" / "seconds.txt").unlink()
    leftovers = [runs / "SIM03_Tv" / ".strain.values.tmp-99999", runs / "SIM03_Tv" / ".strain.txt.prob.tmp-99999",
                 runs / "SIM01_Tv" / ".seconds.txt.tmp-99999", out / "runs" / "batches" / "chr2" / ".0-1.jobs",
                 out / "runs" / "batches" / "chr2" / "..0-0.jobs.tmp-99999"]
    for path in leftovers:
        path.write_text("0|0.5,")
    kept = (runs / "SIM01_Tv" / "strain.values").stat().st_mtime_ns
    for name in COLLECTED:
        (out / name).unlink()
    done = panel_run(tmp_path, "keep_runs=true", "genoprobs_csv=true")
    assert tarvel_jobs(done) == 1 and "4 of 8 strains already done, running 4" in \
        (out / "logs" / "tarvel" / "batches" / "chr2" / "0.log").read_text()
    assert (runs / "SIM01_Tv" / "strain.values").stat().st_mtime_ns == kept
    assert not any(path.exists() for path in leftovers)
    for name in ("strain.values", "strain.txt.prob"):
        assert run_files(out, name) == run_files(reference, name)
    for name in COLLECTED:
        assert collected(out, name) == collected(reference, name)


def batch_job(out, program, chrom="2", threads=2, engine=True):
    return subprocess.Popen(["/usr/bin/python3", "-m", "tarvel_panel", "batch",
                             "--engine" if engine else "--tarvel", str(program), "--out", str(out),
                             "--chr", chrom, "--batch", "0", "--threads", str(threads), "--pairs",
                             "--done", str(out / "runs" / "batches" / f"chr{chrom}" / "0.txt")],
                            cwd=REPO, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)


def wait_for(condition, what):
    deadline = time.monotonic() + 30
    while not condition():
        assert time.monotonic() < deadline, what
        time.sleep(0.05)


def leftovers(out):
    return [p for p in (out / "runs").rglob(".*") if p.is_file()]


@pytest.mark.parametrize("stop", [signal.SIGTERM, signal.SIGINT])
def test_a_killed_engine_batch_leaves_nothing_counted_as_done(tmp_path, one_job_per_chromosome, stop):
    """The engine waits at SIM05/Tv's calls (a pipe nobody writes) when the
    batch is stopped; one engine runs the strains in batch order."""
    reference, _ = one_job_per_chromosome
    out = tmp_path / "out"
    shutil.copytree(reference / "prepared", out / "prepared")
    calls = out / "prepared" / "chr2" / "SIM05_Tv" / "strain.txt"
    kept = calls.read_bytes()
    calls.unlink()
    os.mkfifo(calls)
    engine = REPO / "build" / "tarvel_engine"
    job = batch_job(out, engine, threads=1)
    runs = out / "runs" / "chr2"
    wait_for(lambda: (runs / "SIM04_Tv" / "seconds.txt").exists(), "the strains before the stuck one never ended")
    time.sleep(0.2)
    job.send_signal(stop)
    assert job.wait(timeout=30) == 128 + stop
    assert not (out / "runs" / "batches" / "chr2" / "0.txt").exists() and leftovers(out) == []
    assert sorted(p.parent.name for p in runs.glob("*/strain.values")) == STRAINS[:4]
    for strain in STRAINS[:4]:
        read_values(runs / strain / "strain.values", 270)
    calls.unlink()
    calls.write_bytes(kept)
    job = batch_job(out, engine)
    assert job.wait(timeout=60) == 0, job.stderr.read()
    assert (out / "runs" / "batches" / "chr2" / "0.txt").read_text().split() == STRAINS
    assert run_files(out, "strain.values") == {k: v for k, v in run_files(reference, "strain.values").items()
                                               if k.startswith("chr2/")}


def test_a_strain_the_engine_refuses_fails_its_batch_in_one_line(tmp_path, one_job_per_chromosome):
    reference, _ = one_job_per_chromosome
    out = tmp_path / "out"
    shutil.copytree(reference / "prepared", out / "prepared")
    (out / "prepared" / "chrX" / "SIM07_Tv" / "funnel.txt").write_text("1 1 3 4 5 6 7 8\n")
    job = batch_job(out, REPO / "build" / "tarvel_engine", chrom="X")
    assert job.wait(timeout=60) == 1
    said = job.stderr.read().splitlines()
    errors = [line for line in said if line.startswith("error: ")]
    assert errors == [f"error: {out / 'logs' / 'tarvel' / 'batches' / 'chrX' / '0-engine-1.log'}: the engine "
                      "refused strain SIM07/Tv, chromosome X: Error: the funnel file must list each founder "
                      "number from 1 to 8 exactly once."]
    assert not (out / "runs" / "batches" / "chrX" / "0.txt").exists()
    assert not (out / "runs" / "chrX" / "SIM07_Tv" / "strain.values").exists()
    assert (out / "runs" / "chrX" / "SIM06_Tv" / "strain.values").exists()


def test_a_killed_tarvel_runner_leaves_only_complete_values(tmp_path, one_job_per_chromosome, tarvel):
    reference, _ = one_job_per_chromosome
    out = tmp_path / "out"
    shutil.copytree(reference / "prepared", out / "prepared")
    # TARVEL as usual, but stuck half-way through SIM03/Tv
    fake = tmp_path / "tarvel.sh"
    fake.write_text(f'#!/bin/sh\ncase "$2" in *SIM03_Tv*) echo "0|0.5," > "$2.prob"; exec sleep 60;; esac\n'
                    f'exec "{tarvel}" "$@"\n')
    fake.chmod(0o755)
    stuck = out / "runs" / "chr2" / "SIM03_Tv"
    job = batch_job(out, fake, engine=False)
    wait_for(lambda: list(stuck.glob(".strain.txt.part-*.prob")), "the stuck run never started")
    wait_for(lambda: (out / "runs" / "chr2" / "SIM08_Tv" / "seconds.txt").exists(), "the others never ended")
    job.send_signal(signal.SIGTERM)
    assert job.wait(timeout=30) != 0
    assert list(stuck.iterdir()) == [] and not (out / "runs" / "batches").exists()
    assert len(run_files(out, "strain.values")) == len(run_files(out, "strain.txt.prob")) == 7
    job = batch_job(out, tarvel, engine=False)
    assert job.wait(timeout=60) == 0, job.stderr.read()
    chr2 = {k: v for k, v in run_files(reference, "strain.txt.prob").items() if k.startswith("chr2/")}
    assert run_files(out, "strain.txt.prob") == chr2
    assert (out / "runs" / "batches" / "chr2" / "0.txt").read_text().split() == STRAINS


def test_a_failing_tarvel_fails_its_batch_in_one_line_and_the_others_are_kept(tmp_path, tarvel):
    fake = tmp_path / "tarvel.sh"
    fake.write_text(f'#!/bin/sh\ncase "$2" in *SIM02_Tv*) echo "Computing Alpha"; echo "partial" > "$2.prob";'
                    f' echo "cannot go on: out of memory"; exit 1;; esac\nexec "{tarvel}" "$@"\n')
    fake.chmod(0o755)
    done = run_workflow(tmp_path, f"cross={EXAMPLE / 'panel.yaml'}", "out=out", "plots=false", "chromosomes=X",
                        "strains=SIM01/Tv,SIM02/Tv,SIM03/Tv", f"tarvel={fake}", check=False)
    assert done.returncode != 0
    errors = [line for line in done.stderr.splitlines() if line.startswith("error:")]
    assert len(errors) == 1 and errors[0].endswith(
        "TARVEL failed (status 1) on strain SIM02/Tv, chromosome X: cannot go on: out of memory")
    runs = tmp_path / "out" / "runs" / "chrX"
    assert [p.parent.name for p in sorted(runs.glob("*/strain.values"))] == ["SIM01_Tv", "SIM03_Tv"]
    assert list((runs / "SIM02_Tv").iterdir()) == []


@pytest.fixture(scope="module")
def young_x(tmp_path_factory):
    """The X of SIM06/Tv (female, so run as two copies) and SIM01/Tv (male)
    at #Generation 5, batch done, runs kept."""
    workdir = tmp_path_factory.mktemp("young_x")
    command = [SNAKEMAKE, "--snakefile", str(REPO / "workflow" / "Snakefile"), "--directory", str(workdir),
               "--cores", "2", "out/runs/batches/chrX/0.txt", "--config", f"cross={EXAMPLE / 'panel.yaml'}",
               "out=out", "generation=5", "chromosomes=X", "strains=SIM06/Tv,SIM01/Tv", "keep_runs=true"]
    done = subprocess.run(command, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr[-2000:]
    return workdir / "out", command


def test_a_female_x_with_pair_values_above_one_counts_as_complete(young_x):
    """Before #Generation 6 a female's X runs as two copies, whose pair
    values may reach 2: its batch completes, and a rerun keeps its values."""
    out, command = young_x
    done_file = out / "runs" / "batches" / "chrX" / "0.txt"
    female = out / "runs" / "chrX" / "SIM06_Tv"
    assert max(float(v) for line in (female / "strain.txt.prob").read_text().splitlines()
               for v in line.split("|")[1].split(",")[:-1]) > 1
    # what the engine keeps of them, its founder values, passes the two-copy checks
    assert read_values(female / "strain.values", 230, two_copy_x=True, per_line=None).shape == (230, 11)
    done_file.unlink()
    done = subprocess.run(command, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "2 of 2 strains already done" in (out / "logs" / "tarvel" / "batches" / "chrX" / "0.log").read_text()


# what a TARVEL program writes for the strain it gets wrong, and the batch's verdict
TWISTED = {
    "nothing": (":", "TARVEL ended without writing its results file on strain {strain}, chromosome X"),
    "garbage": ("awk '{print \"not results\"}' \"$2\" > \"$2.prob\"",
                "TARVEL's results file on strain {strain}, chromosome X is refused (line 1: not a line of "
                "TARVEL's results (index|36 probabilities,))"),
    "ones": (f"awk '{{printf \"%d|\", NR - 1; for (k = 0; k < 36; k++) printf \"1,\"; print \"\"}}' "
             f"\"$2\" > \"$2.prob\"", "TARVEL's results file on strain {strain}, chromosome X is refused "
             "(line 1: {ones})"),
}


@pytest.mark.parametrize("twist, strain", [("nothing", "SIM06/Tv"), ("garbage", "SIM01/Tv"), ("ones", "SIM01/Tv"),
                                           ("ones", "SIM06/Tv")])
def test_what_a_tarvel_program_writes_counts_only_when_its_lines_add_up(tmp_path, young_x, tarvel, twist, strain):
    out = tmp_path / "out"
    shutil.copytree(young_x[0] / "prepared", out / "prepared")
    safe = strain.replace("/", "_")
    action, verdict = TWISTED[twist]
    fake = tmp_path / "tarvel.sh"
    fake.write_text(f'#!/bin/sh\nTARVEL="{tarvel}"\ncase "$2" in *{safe}*) {action}; exit 0;; esac\n'
                    f'exec "$TARVEL" "$@"\n')
    fake.chmod(0o755)
    job = batch_job(out, fake, chrom="X", engine=False)
    assert job.wait(timeout=60) == 1
    said = job.stderr.read().splitlines()
    ones = ("its homozygous values and half its others add up to 22, more than 1" if strain == "SIM06/Tv"
            else "its 36 values add up to 36, not 1")
    log = out / "logs" / "tarvel" / "chrX" / f"{safe}.log"
    errors = [line for line in said if line.startswith("error: ")]
    assert errors == [f"error: {log}: " + verdict.format(strain=strain, ones=ones)]
    assert not (out / "runs" / "batches").exists()
    assert not (out / "runs" / "chrX" / safe / "strain.values").exists()

"""TARVEL in batches: a batch gives the same bytes as one run per job, a
killed batch leaves only complete results and its rerun finishes the rest,
results that are not complete never count as done, and raw results go once
collected unless kept."""
import gzip
import shutil
import signal
import subprocess
import time

import pytest
from conftest import REPO, SNAKEMAKE, run_workflow

from tarvel_panel.run.results import read_results


EXAMPLE = REPO / "examples" / "panel"
COLLECTED = ["founderprobs/chr2.csv.gz", "mosaic.csv"]


def panel_run(workdir, *config):
    return run_workflow(workdir, f"cross={EXAMPLE / 'panel.yaml'}", "out=out", "plots=false", *config)


def tarvel_jobs(done):
    return sum(1 for line in done.stderr.splitlines() if line.startswith("rule tarvel:"))


def results(out):
    """Every raw results file's bytes by its path under runs/."""
    runs = out / "runs"
    return {str(p.relative_to(runs)): p.read_bytes() for p in sorted(runs.glob("chr*/*/strain.txt.prob"))}


def collected(out, name):
    data = (out / name).read_bytes()
    return gzip.decompress(data) if name.endswith(".gz") else data


@pytest.fixture(scope="module")
def one_job_per_run(tmp_path_factory, tarvel):
    workdir = tmp_path_factory.mktemp("per_run")
    done = panel_run(workdir, "batch_size=1", "batch_threads=1", "keep_runs=true")
    return workdir / "out", done


@pytest.fixture(scope="module")
def one_job_per_chromosome(tmp_path_factory, tarvel):
    workdir = tmp_path_factory.mktemp("per_chromosome")
    done = panel_run(workdir, "keep_runs=true", "batch_threads=2")
    return workdir / "out", done


def test_a_batch_writes_the_same_bytes_as_one_run_per_job(one_job_per_run, one_job_per_chromosome):
    (single, single_run), (batched, batched_run) = one_job_per_run, one_job_per_chromosome
    assert (tarvel_jobs(single_run), tarvel_jobs(batched_run)) == (24, 3)
    assert "threads: 2" in batched_run.stderr
    assert len(results(batched)) == 24 and results(batched) == results(single)
    for name in COLLECTED:
        assert collected(batched, name) == collected(single, name)


def test_raw_results_go_once_collected_and_a_rerun_does_not_ask_for_them(tmp_path, one_job_per_chromosome):
    reference, _ = one_job_per_chromosome
    config = ["chromosomes=2"]
    panel_run(tmp_path, *config)
    out = tmp_path / "out"
    assert not list((out / "runs").glob("chr2/*/strain.txt.prob")) and not (out / "runs" / "batches").exists()
    assert collected(out, "founderprobs/chr2.csv.gz") == collected(reference, "founderprobs/chr2.csv.gz")
    shutil.rmtree(tmp_path / ".snakemake")
    again = panel_run(tmp_path, *config)
    assert tarvel_jobs(again) == 0 and "Nothing to be done" in again.stderr


def test_an_interrupted_batch_finishes_what_is_missing(tmp_path, one_job_per_chromosome):
    """As a killed run leaves it: chromosome 2's batch not done, three strains
    without results, one with the right line count but unreadable content,
    temporary files beside them; its collected files gone."""
    reference, _ = one_job_per_chromosome
    out = tmp_path / "out"
    shutil.copytree(reference, out, ignore=shutil.ignore_patterns("logs"))
    runs = out / "runs" / "chr2"
    (out / "runs" / "batches" / "chr2" / "0.txt").unlink()
    for strain in ("SIM03_Tv", "SIM05_Tv", "SIM08_Tv"):
        (runs / strain / "strain.txt.prob").unlink()
    broken = runs / "SIM06_Tv" / "strain.txt.prob"
    broken.write_text(broken.read_text().replace("|", "|x", 1))
    leftovers = [runs / "SIM03_Tv" / ".strain.txt.part-99999", runs / "SIM03_Tv" / ".strain.txt.part-99999.prob",
                 runs / "SIM01_Tv" / ".seconds.txt.tmp-99999"]
    for path in leftovers:
        path.write_text("0|0.5,")
    kept = (runs / "SIM01_Tv" / "strain.txt.prob").stat().st_mtime_ns
    for name in COLLECTED:
        (out / name).unlink()
    done = panel_run(tmp_path, "keep_runs=true")
    assert tarvel_jobs(done) == 1 and "4 of 8 strains already done, running 4" in \
        (out / "logs" / "tarvel" / "batches" / "chr2" / "0.log").read_text()
    assert (runs / "SIM01_Tv" / "strain.txt.prob").stat().st_mtime_ns == kept
    assert not any(path.exists() for path in leftovers)
    assert results(out) == results(reference)
    for name in COLLECTED:
        assert collected(out, name) == collected(reference, name)


def runner(out, fake, threads=2):
    return subprocess.Popen(["/usr/bin/python3", "-m", "tarvel_panel", "batch", "--tarvel", str(fake), "--out", str(out),
                             "--chr", "2", "--batch", "0", "--threads", str(threads),
                             "--done", str(out / "runs" / "batches" / "chr2" / "0.txt")],
                            cwd=REPO, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)


def wait_for(condition, what):
    deadline = time.monotonic() + 30
    while not condition():
        assert time.monotonic() < deadline, what
        time.sleep(0.05)


def test_a_killed_runner_leaves_only_complete_results(tmp_path, one_job_per_chromosome, tarvel):
    reference, _ = one_job_per_chromosome
    out = tmp_path / "out"
    shutil.copytree(reference / "prepared", out / "prepared")
    # TARVEL as usual, but stuck half-way through SIM03/Tv
    fake = tmp_path / "tarvel.sh"
    fake.write_text(f'#!/bin/sh\ncase "$2" in *SIM03_Tv*) echo "0|0.5," > "$2.prob"; exec sleep 60;; esac\n'
                    f'exec "{tarvel}" "$@"\n')
    fake.chmod(0o755)
    stuck = out / "runs" / "chr2" / "SIM03_Tv"
    job = runner(out, fake)
    wait_for(lambda: list(stuck.glob(".strain.txt.part-*.prob")), "the stuck run never started")
    wait_for(lambda: (out / "runs" / "chr2" / "SIM08_Tv" / "strain.txt.prob").exists(), "the others never ended")
    job.send_signal(signal.SIGTERM)
    assert job.wait(timeout=30) != 0
    assert list(stuck.iterdir()) == [] and not (out / "runs" / "batches").exists()
    finished = {k: v for k, v in results(out).items() if v}
    assert len(finished) == 7
    for path in (out / "runs").glob("chr2/*/strain.txt.prob"):
        read_results(path, 270)
    job = runner(out, tarvel)
    assert job.wait(timeout=60) == 0, job.stderr.read()
    assert results(out) == {k: v for k, v in results(reference).items() if k.startswith("chr2/")}
    assert (out / "runs" / "batches" / "chr2" / "0.txt").read_text().split() == [f"SIM0{i}_Tv" for i in range(1, 9)]


def test_a_failing_strain_fails_its_batch_in_one_line_and_the_others_are_kept(tmp_path, tarvel):
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
    assert [p.parent.name for p in sorted(runs.glob("*/strain.txt.prob"))] == ["SIM01_Tv", "SIM03_Tv"]
    assert list((runs / "SIM02_Tv").iterdir()) == []


def test_a_female_x_with_pair_values_above_one_counts_as_complete(tmp_path):
    """Before #Generation 6 a female's X runs as two copies, whose pair
    values may reach 2: its batch completes, and a rerun keeps its results."""
    done_file = tmp_path / "out" / "runs" / "batches" / "chrX" / "0.txt"
    command = [SNAKEMAKE, "--snakefile", str(REPO / "workflow" / "Snakefile"), "--directory", str(tmp_path),
               "--cores", "2", "out/runs/batches/chrX/0.txt", "--config", f"cross={EXAMPLE / 'panel.yaml'}", "out=out",
               "generation=5", "chromosomes=X", "strains=SIM06/Tv,SIM01/Tv", "keep_runs=true"]
    for _ in range(2):
        done = subprocess.run(command, capture_output=True, text=True)
        assert done.returncode == 0, done.stderr[-2000:]
        female = (tmp_path / "out" / "runs" / "chrX" / "SIM06_Tv" / "strain.txt.prob").read_text()
        assert max(float(v) for line in female.splitlines() for v in line.split("|")[1].split(",")[:-1]) > 1
        done_file.unlink()
    assert "2 of 2 strains already done" in \
        (tmp_path / "out" / "logs" / "tarvel" / "batches" / "chrX" / "0.log").read_text()

"""What a person following a run reads: with --quiet rules, a short line per
step of the panel whose counts reach n of n and nothing of Snakemake's but
what was asked for, no line of kilobytes (the joined outputs' parts come
from the prepared panel, not the command line, and without --quiet the job
blocks' lists are cut); a changed setting named before anything is replaced."""
import json
import re
import subprocess

import pytest

from conftest import REPO, SNAKEMAKE
from tarvel_panel import paths
from tarvel_panel.collect.tables import MOSAIC_HEADER, SUMMARY_HEADER
from tarvel_panel.panel.prepared import read_prepared

CROSS = f"cross={REPO / 'examples' / 'panel' / 'panel.yaml'}"
LONGEST = 500
# the beginnings of the panel's own lines, one per step
STEPS = ("prepare: ", "runs: ", "collect: ", "qc: ", "plots: ", "panel: ")


def quiet_run(workdir, *config, flags=()):
    command = [SNAKEMAKE, "--snakefile", str(REPO / "workflow" / "Snakefile"), "--directory", str(workdir),
               "--cores", "2", "--quiet", "rules", *flags, "--config", CROSS, *config]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert done.returncode == 0, done.stdout[-3000:]
    return done.stdout.splitlines()


def counts(lines, pattern):
    """(k, n) of every line matching `pattern` (with groups k and n), in order."""
    return [(int(m[1]), int(m[2])) for m in map(re.compile(pattern).match, lines) if m]


@pytest.fixture(scope="module")
def first_run(tmp_path_factory, tarvel):
    work = tmp_path_factory.mktemp("progress")
    # -p as the Slurm profile has it: every job's shell command is shown
    return work, quiet_run(work, "out=out", "batch_size=3", flags=["-p"])


def test_every_step_of_the_panel_says_how_far_it_is(first_run):
    _, lines = first_run
    assert sum(line.startswith("prepare: 8 strains, 3 chromosomes") for line in lines) == 1
    # 8 strains in batches of 3: 3 batches on each of 3 chromosomes, a line
    # from each (two ending at once may both count the other's)
    runs = counts(lines, r"runs: (\d+) of (\d+) batches done, \d+:\d\d elapsed")
    assert len(runs) == 9 and max(runs) == (9, 9) and min(runs)[0] >= 1
    collected = counts(lines, r"collect: chromosome \S+ done \(8 strains, \d+ markers\), (\d) of (\d) chromosomes")
    assert len(collected) == 3 and max(collected) == (3, 3)
    assert "collect: mosaic.csv and summary.tsv joined (3 chromosomes)" in lines
    assert {"collect: qtl2/alleleprobs.rds written", "collect: qtl2/gmap.rds written"} <= set(lines)
    # 8 strain mosaics, 3 chromosome panel mosaics and the genome's
    assert max(counts(lines, r"plots: (\d+) of (\d+) figures")) == (12, 12)
    assert [line for line in lines[-2:] if re.fullmatch(r"panel: done in \d+:\d\d; the results are in out", line)]


def test_a_quiet_run_shows_the_panels_lines_and_no_routine_of_snakemakes(first_run):
    _, lines = first_run
    # -p asks for every job's shell command, which starts with the panel's environment
    commands = [line for line in lines if line.startswith("PYTHONPATH=")]
    assert len(commands) >= 9 + 3
    assert [line for line in lines if not line.startswith(STEPS) and line not in commands] == []


def test_the_log_is_short_and_has_no_job_blocks(first_run):
    _, lines = first_run
    assert max(len(line) for line in lines) <= LONGEST
    assert not [line for line in lines if re.match(r"\s*(input|output|rule \w+|localrule \w+):", line)]
    # most of it the jobs' shell commands (-p), about 400 characters each
    assert sum(len(line) + 1 for line in lines) < 12000


def test_a_changed_setting_is_named_before_anything_is_replaced(first_run):
    work, _ = first_run
    out = work / "out"
    before = (out / "summary.tsv").read_bytes()
    note = ("note: the config differs from out/config.json (generation: 20 -> 12, strains: \"\" -> \"SIM01/Tv\"): "
            "{}, replacing the results in out")
    changed = ["generation=12", "strains=SIM01/Tv"]
    # a dry run says what a real run would replace and replaces nothing
    dry = quiet_run(work, "out=out", "batch_size=3", *changed, flags=["-n"])
    assert note.format("a real run prepares the panel again and redoes what follows") in dry
    assert (out / "summary.tsv").read_bytes() == before
    # the real run says it first, before its first step
    lines = quiet_run(work, "out=out", "batch_size=3", "plots=false", *changed)
    said = note.format("the panel is prepared again and what follows redone")
    assert said in lines and lines.index(said) < min(i for i, line in enumerate(lines) if line.startswith("prepare:"))
    assert (out / "summary.tsv").read_bytes() != before
    # the same settings again, or a changed running key, are no change
    again = quiet_run(work, "out=out", "batch_size=3", "plots=false", "batch_threads=1", *changed)
    assert not [line for line in again if line.startswith("note:")]


def test_joined_outputs_take_their_parts_from_the_prepared_panel_in_its_order(tmp_path):
    (tmp_path / "prepared").mkdir()
    (tmp_path / "prepared" / "panel.json").write_text(json.dumps({
        "founders": list("ABCDEFGH"), "pos_unit": "cM", "strains": [],
        "chromosomes": [{"name": n, "safe": s} for n, s in (("2", "2"), ("1 a", "1_a"), ("X", "X"))]}))
    runs = tmp_path / "runs"
    safes = read_prepared(str(tmp_path)).chromosome_safes()
    assert paths.qtl2_parts(str(tmp_path), safes, "alleleprobs")[:4] == [
        str(runs / "chr2.qtl2-index.bin"), str(runs / "chr2.alleleprobs.f64"),
        str(runs / "chr1_a.qtl2-index.bin"), str(runs / "chr1_a.alleleprobs.f64")]
    assert paths.qtl2_parts(str(tmp_path), safes, "gmap") == [str(runs / f"chr{c}.qtl2-index.bin") for c in ("2", "1_a", "X")]
    for c, text in (("2", "b\n"), ("1_a", "a\n"), ("X", "x\n")):
        (runs / f"chr{c}.mosaic.csv").parent.mkdir(exist_ok=True)
        (runs / f"chr{c}.mosaic.csv").write_text(",".join(MOSAIC_HEADER) + "\n" + text)
        (runs / f"chr{c}.summary.tsv").write_text("\t".join(SUMMARY_HEADER) + "\n")
    joined = subprocess.run(["/usr/bin/python3", "-m", "tarvel_panel", "join", "--out", str(tmp_path),
                             "--mosaic", str(tmp_path / "m.csv"), "--summary", str(tmp_path / "s.tsv")],
                            cwd=REPO, capture_output=True, text=True)
    assert joined.returncode == 0, joined.stderr
    assert (tmp_path / "m.csv").read_text().split("\n")[1:4] == ["b", "a", "x"]
    (tmp_path / "prepared" / "panel.json").unlink()
    failed = subprocess.run(["/usr/bin/python3", "-m", "tarvel_panel", "join", "--out", str(tmp_path),
                             "--mosaic", str(tmp_path / "m2.csv"), "--summary", str(tmp_path / "s2.tsv")],
                            cwd=REPO, capture_output=True, text=True)
    assert failed.returncode == 1 and failed.stdout == "" and failed.stderr.count("\n") == 1
    assert failed.stderr.startswith(f"error: {tmp_path / 'prepared' / 'panel.json'}: cannot read the panel description")
    assert not (tmp_path / "m2.csv").exists()

def test_without_quiet_a_panel_of_many_chromosomes_and_batches_prints_no_line_of_kilobytes(tmp_path, tarvel):
    # 20 chromosomes of 30 markers, 8 strains in batches of one: 160 batches
    layout = ",".join(f"{c}:40:30" for c in [*range(1, 20), "X"])
    made = subprocess.run(["/usr/bin/python3", str(REPO / "tools" / "simulate" / "make_panel.py"), "--seed", "3",
                           "--out", str(tmp_path / "cross"), "--chromosomes", layout],
                          capture_output=True, text=True)
    assert made.returncode == 0, made.stderr
    command = [SNAKEMAKE, "--snakefile", str(REPO / "workflow" / "Snakefile"), "--directory", str(tmp_path),
               "--cores", "2", "--config", f"cross={tmp_path / 'cross' / 'panel.yaml'}", f"out={tmp_path / 'out'}",
               "batch_size=1", "plots=false", "qc=false"]
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    assert done.returncode == 0, done.stdout[-3000:]
    lines = done.stdout.splitlines()
    assert max(map(len, lines)) <= 2000
    # the job blocks are there, the longest lists cut saying how many files they leave out
    cut = [line for line in lines if re.match(r"    (input|output|reason): .*, \.\.\. and \d+ more$", line)]
    assert cut and sum(line.startswith("localrule join:") for line in lines) == 1
    # the complete log has them in full
    (complete,) = (tmp_path / ".snakemake" / "log").iterdir()
    assert max(map(len, complete.read_text().splitlines())) > 2000

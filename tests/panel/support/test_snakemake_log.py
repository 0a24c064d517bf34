"""What a run's terminal shows of Snakemake's own lines: each line whole
even when a job writes at the same moment, no line of kilobytes, and with
--quiet rules the panel's lines and the errors without Snakemake's routine;
the complete log keeps every line in full."""
import fcntl
import logging
import os
import sys

import pytest

from snakemake.logging import ColorizingStreamHandler, Logger
from tarvel_panel.support import progress, snakemake_log


class Pipe:
    """A pipe whose reading end does not wait: read() is what has been
    written to the file descriptor so far."""

    def __init__(self):
        self.r, w = os.pipe()
        fcntl.fcntl(self.r, fcntl.F_SETFL, os.O_NONBLOCK)
        self.writer = os.fdopen(w, "w")

    def read(self):
        try:
            return os.read(self.r, 1 << 20).decode()
        except BlockingIOError:
            return ""

    def close(self):
        self.writer.close()
        os.close(self.r)


@pytest.fixture
def pipe():
    p = Pipe()
    yield p
    p.close()


def test_a_line_reaches_the_terminal_only_whole(pipe, tmp_path):
    log = open(tmp_path / "job.log", "w")
    lines = progress.Lines(pipe.writer, log)
    # print() and logging write a message and its line end apart: another
    # process's line written in between would land inside this one
    lines.write("runs: 3 of 9 batches done")
    assert pipe.read() == ""
    lines.write("\nrest")
    assert pipe.read() == "runs: 3 of 9 batches done\n"
    lines.flush()
    assert pipe.read() == "rest"
    log.close()
    assert (tmp_path / "job.log").read_text() == "runs: 3 of 9 batches done\nrest"


def test_a_run_whose_reader_has_gone_goes_on_saying_its_lines_to_the_log(tmp_path):
    r, w = os.pipe()
    os.close(r)         # `| head` has had its lines
    with open(tmp_path / "job.log", "w") as log, os.fdopen(w, "w") as writer:
        lines = progress.Lines(writer, log)
        lines.write("runs: 1 of 9 batches done\n")
        lines.write("runs: 2 of 9 batches done\n")
    assert (tmp_path / "job.log").read_text() == "runs: 1 of 9 batches done\nruns: 2 of 9 batches done\n"


@pytest.fixture
def snakemake_terminal(pipe, tmp_path, monkeypatch):
    """make(quiet, dry_run): a Snakemake logger writing to `pipe` and to a
    complete log (complete.log), tidied as for a run with those options."""
    monkeypatch.setattr(sys, "stderr", sys.stderr)
    logger = Logger()
    complete = logging.FileHandler(tmp_path / "complete.log")
    level = logger.logger.level

    def make(quiet=(), dry_run=False):
        logger.set_stream_handler(ColorizingStreamHandler(nocolor=True, stream=pipe.writer))
        logger.logger.addHandler(complete)
        logger.set_level(logging.INFO)
        logger.quiet = set(quiet)
        snakemake_log.tidy(logger, dry_run)
        return logger

    yield make
    logger.logger.removeHandler(logger.stream_handler)
    logger.logger.removeHandler(complete)
    logger.logger.setLevel(level)
    complete.close()


def routine_run(logger):
    logger.info("Config file config/config.yaml is extended by additional config specified via the command line.")
    logger.info("Building DAG of jobs...")
    logger.resources_info("Provided cores: 2")
    logger.run_info("Job stats:\njob    count\nall        1")
    logger.info("Select jobs to execute...")
    logger.info("Touching output file out/runs/dropped/chr1.")
    logger.info("Removing temporary output out/runs/batches/chr1/0.txt.")
    logger.info("Nothing to be done (all requested files are present and up to date).")


def test_quiet_rules_leave_the_panels_lines_and_every_error(snakemake_terminal, pipe, tmp_path):
    logger = snakemake_terminal(quiet={"rules"})
    routine_run(logger)
    logger.info("Complete log: .snakemake/log/a.log")
    assert pipe.read() == "Nothing to be done (all requested files are present and up to date).\n"
    logger.job_error(name="tarvel", msg=None, jobid=5, input=["out/prepared"], output=["out/runs/batches/chr1/0.txt"],
                     log=["out/logs/tarvel/batches/chr1/0.log"], conda_env=None, shellcmd="python3 -m tarvel_panel batch",
                     aux={})
    logger.info("Config file my.yaml holds no mapping.")
    logger.warning("Some jobs were not run.")
    logger.info("Shutting down, this might take some time.")
    logger.info("Complete log: .snakemake/log/b.log")
    shown = pipe.read().splitlines()
    assert "Error in rule tarvel:" in shown and "    jobid: 5" in shown
    # after a failure the complete log is worth its line
    assert "Config file my.yaml holds no mapping." in shown
    assert shown[-3:] == ["Some jobs were not run.", "Shutting down, this might take some time.",
                          "Complete log: .snakemake/log/b.log"]
    kept = (tmp_path / "complete.log").read_text()
    assert "Select jobs to execute..." in kept and "Complete log: .snakemake/log/a.log" in kept


def test_without_quiet_or_in_a_dry_run_snakemakes_lines_all_show(snakemake_terminal, pipe):
    for quiet, dry_run in (((), False), ({"rules"}, True)):
        routine_run(snakemake_terminal(quiet, dry_run))
        shown = pipe.read()
        assert "Select jobs to execute...\n" in shown and "Touching output file out/runs/dropped/chr1.\n" in shown
        assert "Job stats:\njob    count\n" in shown


def test_a_job_block_of_thousands_of_files_is_cut_on_the_terminal_only(snakemake_terminal, pipe, tmp_path):
    logger = snakemake_terminal()
    parts = [f"out/runs/chr{c}/{b}.txt" for c in range(20) for b in range(100)]
    logger.job_info(jobid=7, msg=None, name="join", local=True, is_checkpoint=False, is_handover=False,
                    input=parts, output=["out/mosaic.csv"], log=[], benchmark=None, reason="Missing output files",
                    wildcards={}, priority=0, threads=1, resources={})
    shown = pipe.read().splitlines()
    inputs = next(line for line in shown if line.startswith("    input: "))
    assert max(map(len, shown)) <= snakemake_log.LONGEST + 30
    kept = inputs[len("    input: "):].split(", ")
    assert kept[:2] == parts[:2] and kept[-1] == f"... and {len(parts) - (len(kept) - 1):,} more"
    assert "    output: out/mosaic.csv" in shown and "    jobid: 7" in shown
    assert "    input: " + ", ".join(parts) in (tmp_path / "complete.log").read_text().splitlines()


@pytest.mark.parametrize("line,expected", [
    ("    input: a, b", "    input: a, b"),
    ("    input: " + ", ".join(["abcd"] * 10), "    input: abcd, abcd, abcd, ... and 7 more"),
    ("x" * 50, "x" * 30 + " ... and 20 more characters"),
])
def test_a_long_line_keeps_its_start_and_says_how_much_is_left_out(line, expected):
    assert snakemake_log.shorten(line, longest=30) == expected


def test_snakemakes_message_and_its_line_end_go_out_in_one_write(snakemake_terminal, pipe, monkeypatch):
    writes = []
    whole = progress.write_whole
    monkeypatch.setattr(progress, "write_whole", lambda fd, text: writes.append(text) or whole(fd, text))
    logger = snakemake_terminal()
    logger.info("Select jobs to execute...")
    logger.error("Exiting because a job execution failed. Look above for error message")
    assert writes == ["Select jobs to execute...\n",
                      "Exiting because a job execution failed. Look above for error message\n"]
    assert pipe.read() == "".join(writes)

"""Progress lines: the count of batches done from the files a run leaves,
and an estimate of the time left that follows the run's own pace."""
import io
import json
import os

import pytest

from tarvel_panel import paths
from tarvel_panel.panel.prepared import read_prepared
from tarvel_panel.support import progress


PREPARED_AT = 1_000_000.0


def fake_out(tmp_path, strains=10, chromosomes=("1", "X"), started=None):
    """An output folder prepared at PREPARED_AT, with a run's lock when `started`."""
    panel = {"founders": list("ABCDEFGH"), "pos_unit": "cM", "strains": [{"name": f"S{i}", "safe": f"S{i}"} for i in range(strains)],
             "chromosomes": [{"name": c, "safe": c, "markers": 100} for c in chromosomes]}
    panel_file = tmp_path / "prepared" / "panel.json"
    panel_file.parent.mkdir(parents=True)
    panel_file.write_text(json.dumps(panel))
    os.utime(panel_file, (PREPARED_AT, PREPARED_AT))
    if started is not None:
        (tmp_path / ".panel.lock").write_text(f"4242 node1 777 {started:.3f}\n")
    return tmp_path, read_prepared(str(tmp_path))


def touch(path, at):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text("")
    os.utime(path, (at, at))


def done_batch(out, chrom, batch, at):
    touch(out / paths.batch_file("runs", chrom, batch), at)


def test_clock_reads_as_minutes_or_hours():
    assert [progress.clock(s) for s in (0, 9.6, 61, 3599, 3600, 36_000 + 62)] == \
        ["0:00", "0:10", "1:01", "59:59", "1:00:00", "10:01:02"]


def test_time_left_follows_the_pace_of_this_run():
    # nothing done in this run yet: no guess
    assert progress.time_left(30, 0, 0, 10) is None
    # 4 batches in 40 s, 6 to go: 60 s
    assert progress.time_left(40, 4, 4, 10) == pytest.approx(60)
    # batches done before this run count as done, not towards the pace
    assert progress.time_left(40, 4, 8, 10) == pytest.approx(20)
    # all done: nothing left, whatever the pace
    assert progress.time_left(40, 0, 10, 10) == 0


def test_batches_done_count_from_done_files_and_collected_chromosomes(tmp_path):
    out, panel = fake_out(tmp_path, strains=10, started=PREPARED_AT + 10)
    # batch_size 3: 4 batches per chromosome, 8 in all
    done_batch(out, "1", 0, PREPARED_AT + 20)
    done_batch(out, "1", 1, PREPARED_AT + 30)
    done_batch(out, "1", 7, PREPARED_AT + 30)       # another batch size's file: not a batch of this one
    done_batch(out, "X", 0, PREPARED_AT - 5)        # left by an earlier panel: not done
    line = progress.batches_line(str(out), panel, 3, now=PREPARED_AT + 50)
    # 2 done in the 40 s since the start, 6 to go at 20 s each
    assert line == "runs: 2 of 8 batches done, 0:40 elapsed, about 2:00 left"
    # a collected chromosome's done files go, its marker counts for all its batches
    touch(out / paths.dropped_file("runs", "X"), PREPARED_AT + 60)
    assert progress.batches_line(str(out), panel, 3, now=PREPARED_AT + 70).startswith("runs: 6 of 8 batches done")
    for k in (2, 3):
        done_batch(out, "1", k, PREPARED_AT + 80)
    assert progress.batches_line(str(out), panel, 3, now=PREPARED_AT + 90) == \
        "runs: 8 of 8 batches done, 1:20 elapsed"


def test_the_pace_counts_from_the_end_of_prepare_and_without_a_lock_only_counts(tmp_path):
    out, panel = fake_out(tmp_path, strains=4, chromosomes=("1", "2"), started=PREPARED_AT - 100)
    done_batch(out, "1", 0, PREPARED_AT + 10)
    # 110 s since the start, but prepare took 100 of them: one batch in 10 s, one left
    assert progress.batches_line(str(out), panel, 0, now=PREPARED_AT + 10) == \
        "runs: 1 of 2 batches done, 1:50 elapsed, about 0:10 left"
    (out / ".panel.lock").unlink()
    assert progress.batches_line(str(out), panel, 0) == "runs: 1 of 2 batches done"


@pytest.mark.parametrize("total,lines", [(1000, 9), (57, 9), (49, 0), (8, 0)])
def test_a_long_step_says_how_far_it_is_a_tenth_at_a_time(total, lines):
    stream, now = io.StringIO(), [0.0]
    ticker = progress.Ticker("collect: chromosome 1", total, "strains", stream=stream, clock=lambda: now[0])
    for _ in range(total):
        now[0] += 10.0      # ten seconds a strain: long enough to be told
        ticker.step()
    said = stream.getvalue().splitlines()
    assert len(said) == lines
    counts = [int(line.split(": ")[-1].split(" of ")[0].replace(",", "")) for line in said]
    assert counts == sorted(counts) and all(c < total for c in counts)
    assert all(line.endswith(f" of {total:,} strains") for line in said)


def test_a_step_of_many_items_that_is_over_quickly_says_nothing():
    stream = io.StringIO()
    ticker = progress.Ticker("collect: chromosome 1", 1000, "strains", stream=stream, clock=lambda: 0.0)
    for _ in range(1000):
        ticker.step()
    assert stream.getvalue() == ""


def test_on_a_cluster_snakemakes_log_gets_each_count_once_it_changes(tmp_path):
    out, _ = fake_out(tmp_path, strains=4, chromosomes=("1", "2"), started=PREPARED_AT)
    watcher = progress.Watcher(str(out), 0)
    assert watcher.poll(now=PREPARED_AT + 5) == ["runs: 0 of 2 batches done, 0:05 elapsed"]
    assert watcher.poll(now=PREPARED_AT + 6) == []
    done_batch(out, "2", 0, PREPARED_AT + 10)
    assert watcher.poll(now=PREPARED_AT + 12) == ["runs: 1 of 2 batches done, 0:12 elapsed, about 0:12 left"]
    touch(out / "npz" / "chr2.npz", PREPARED_AT + 15)
    assert watcher.poll(now=PREPARED_AT + 16) == ["collect: 1 of 2 chromosomes collected"]
    # before prepare there is nothing to count
    assert progress.Watcher(str(tmp_path / "elsewhere"), 0).poll() == []

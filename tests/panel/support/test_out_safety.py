"""The output folder's guards: no write through a link, no input written
over, nothing of the user's removed where a step empties a folder, dead
processes' temporary files cleared, a refused new folder taken back, and a
lock that names how to clear it."""
import json
import os
import socket
import subprocess
import time

import pytest

from tarvel_panel import paths
from tarvel_panel.atomic import AtomicFile, temporary_name
from tarvel_panel.errors import InputError
from tarvel_panel.support import out_safety, outfolder


# a settings record as a run writes it, and the one a new run wants
RECORD = json.dumps({"cross": "panel.yaml", "generation": 20})
WANTED = json.dumps({"cross": "panel.yaml", "generation": 12})


def dead_pid():
    """The process id of a process that has ended."""
    done = subprocess.Popen(["true"])
    done.wait()
    return done.pid


def write(path, text="x"):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    return path


def workflow_tree(out):
    """An output folder shaped as a run leaves it: one chromosome, one strain."""
    runs = paths.runs_dir(str(out))
    for path in (paths.panel_file(str(out)), paths.markers_file(paths.prepared_dir(str(out)), "1"),
                 os.path.join(paths.job_dir(paths.prepared_dir(str(out)), "1", "S1"), paths.STRAIN),
                 paths.values_file(runs, "1", "S1"), paths.results_file(runs, "1", "S1"),
                 paths.seconds_file(runs, "1", "S1"),
                 os.path.join(paths.plots_dir(str(out)), "panel_genome.png"),
                 os.path.join(paths.plots_dir(str(out)), "strains", "S1.svg"),
                 paths.npz_file(str(out), "1")):
        write(out / os.path.relpath(path, str(out)))
    write(out / "config.json", RECORD)
    return out


def refusal(action):
    with pytest.raises(InputError) as caught:
        action()
    return caught.value


# (the links of whole runs: tests/panel/workflow/test_out_folder.py)
@pytest.mark.parametrize("link", ["config.json", "prepared/chr1", "plots/strains/S1.svg"])
def test_a_link_where_the_workflow_writes_is_refused_by_name(tmp_path, link):
    elsewhere = tmp_path / "elsewhere"
    elsewhere.mkdir()
    out = workflow_tree(tmp_path / "out")
    place = out / link
    if place.is_dir():
        place.rename(tmp_path / "moved")
    else:
        place.parent.mkdir(parents=True, exist_ok=True)
        place.unlink(missing_ok=True)
    place.symlink_to(elsewhere)
    error = refusal(lambda: out_safety.check(str(out), [], WANTED))
    assert error.path == str(place) and str(elsewhere) in error.message


def test_links_the_workflow_never_writes_through_are_accepted(tmp_path):
    real = workflow_tree(tmp_path / "scratch")
    (real / "notes").symlink_to(tmp_path)   # a name of the user's, not one the workflow writes
    linked = tmp_path / "out"
    linked.symlink_to(real)                 # the output folder itself, as on a cluster's scratch
    out_safety.check(str(linked), [], WANTED)


def test_a_link_inside_the_output_folder_pointing_inside_it_is_refused_too(tmp_path):
    out = workflow_tree(tmp_path / "out")
    (out / "qc").symlink_to(out / "npz")
    assert refusal(lambda: out_safety.check_links(str(out))).path == str(out / "qc")


def test_an_input_where_the_workflow_writes_is_refused(tmp_path):
    folder = tmp_path / "cross"
    control = write(folder / "config.json")
    beside = write(folder / "geno.csv")
    # the cross's own folder as the output folder: its own files are no outputs
    out_safety.check_inputs(str(folder), [str(beside)])
    assert refusal(lambda: out_safety.check_inputs(str(folder), [str(beside), str(control)])).path == str(control)
    # an input inside one of the workflow's folders, reached through a link or the folder's own link
    inside = write(tmp_path / "out" / "prepared" / "mine.csv")
    (tmp_path / "link.csv").symlink_to(inside)
    assert refusal(lambda: out_safety.check_inputs(str(tmp_path / "out"), [str(tmp_path / "link.csv")]))
    (tmp_path / "out-link").symlink_to(tmp_path / "out")
    assert refusal(lambda: out_safety.check_inputs(str(tmp_path / "out-link"), [str(inside)])).path == str(inside)
    # a name that merely begins like one of the workflow's folders is not inside it
    out_safety.check_inputs(str(tmp_path / "out"), [str(write(tmp_path / "out" / "prepared-old" / "a"))])


@pytest.mark.parametrize("text", ["[1, 2]", '{"theme": "dark"}', "not json", ""])
def test_a_config_json_that_is_no_settings_record_is_not_written_over(tmp_path, text):
    out = workflow_tree(tmp_path / "out")
    out_safety.check_record(str(out), WANTED)     # an earlier run's record, other settings or not
    (out / "config.json").write_text(text)
    assert refusal(lambda: out_safety.check_record(str(out), WANTED)).path == str(out / "config.json")
    assert (out / "config.json").read_text() == text


@pytest.mark.parametrize("users,named", [
    ("prepared/notes.txt", "prepared/notes.txt"), ("prepared/chr1/S1/deeper/d", "prepared/chr1/S1/deeper"),
    ("plots/strains/table.csv", "plots/strains/table.csv"), ("runs/chr1/S1/old/e", "runs/chr1/S1/old"),
    ("runs/chr1/notes", "runs/chr1/notes"),   # drop-runs removes the chromosome's whole folder
])
def test_a_file_of_the_users_where_a_step_empties_a_folder_is_refused(tmp_path, users, named):
    out = workflow_tree(tmp_path / "out")
    out_safety.check_foreign(str(out))
    write(out / users)
    error = refusal(lambda: out_safety.check_foreign(str(out)))
    assert error.path == str(out / named) and "not written by this workflow" in error.message
    assert (out / users).read_text() == "x"


def test_what_the_workflow_writes_and_its_temporary_files_are_not_the_users(tmp_path):
    out = workflow_tree(tmp_path / "out")
    runs = paths.run_dir(paths.runs_dir(str(out)), "1", "S1")
    write(out / os.path.relpath(runs, str(out)) / f"{paths.PARTIAL_PREFIX}12.prob")
    write(out / "plots" / ".snakemake_timestamp")
    write(out / "plots" / ".panel_chr1.png.tmp-12")
    write(out / "mine" / "anything")          # beside the workflow's folders, never emptied
    out_safety.check_foreign(str(out))


def test_dead_processes_temporary_files_go_and_only_those(tmp_path):
    out = workflow_tree(tmp_path / "out")
    gone, me = dead_pid(), os.getpid()
    dead = [write(out / "qtl2" / f".alleleprobs.rds.tmp-{gone}"), write(out / f".mosaic.csv.tmp-{gone}"),
            write(out / "runs" / "chr1" / "S1" / f"{paths.PARTIAL_PREFIX}{gone}.prob"),
            write(out / "npz" / f".chr1.npz.tmp-{gone}.genoprobs")]
    (out / f".prepared.tmp-{gone}" / "chr1").mkdir(parents=True)
    kept = [write(out / "qtl2" / f".genoprobs.rds.tmp-{me}"),     # a live process's
            write(out / "mine" / f".table.tmp-{gone}"),           # in a folder of the user's
            write(out / f".notes.tmp-{gone}"),                    # not a name the workflow writes
            write(out / "qtl2" / "alleleprobs.rds")]
    assert out_safety.remove_leftovers(str(out)) == 5
    assert not any(p.exists() for p in dead) and not (out / f".prepared.tmp-{gone}").exists()
    assert all(p.exists() for p in kept)
    # on a cluster a file still being written elsewhere is left until it has not changed for a while
    fresh = write(out / "npz" / f".chr1.npz.tmp-{gone}")
    assert out_safety.remove_leftovers(str(out), min_age=out_safety.CLUSTER_AGE) == 0 and fresh.exists()
    os.utime(fresh, (1, 1))
    assert out_safety.remove_leftovers(str(out), min_age=out_safety.CLUSTER_AGE) == 1 and not fresh.exists()


def test_a_new_folder_taken_back_keeps_what_else_is_there(tmp_path):
    out = tmp_path / "new" / "deep"
    made = out_safety.new_folders(str(out))
    assert made == [str(tmp_path / "new"), str(out)]
    # a folder that holds something else stays, and so does one the panel was prepared in
    write(out / "config.json")
    write(out / os.path.relpath(paths.step_log(str(out), "prepare"), str(out)))
    write(tmp_path / "new" / "other")
    out_safety.undo_new(str(out), made)
    assert not out.exists() and (tmp_path / "new" / "other").exists()
    write(out / "prepared" / "panel.json")
    out_safety.undo_new(str(out), made)
    assert (out / "prepared" / "panel.json").exists()
    assert out_safety.new_folders(str(out)) == []


def test_a_live_holders_lock_names_how_to_clear_it_and_is_released_once(tmp_path):
    me = os.getpid()
    (tmp_path / ".panel.lock").write_text(f"{me} {socket.gethostname()} {outfolder._start_time(me)} 1.0\n")
    error = refusal(lambda: outfolder.lock(str(tmp_path)))
    assert f"kill {me}" in error.message and str(tmp_path / ".panel.lock") in error.message
    (tmp_path / ".panel.lock").write_text(f"{dead_pid()} {socket.gethostname()} 1 1.0\n")
    outfolder.lock(str(tmp_path))   # a gone holder's lock is taken over
    assert (tmp_path / ".panel.lock").read_text().split()[0] == str(me)
    outfolder.release()
    assert not (tmp_path / ".panel.lock").exists()


def test_an_ended_holder_not_yet_reaped_holds_no_lock(tmp_path):
    child = os.fork()
    if child == 0:
        os._exit(0)
    try:
        with open(f"/proc/{child}/stat") as f:   # its start time, read while it still runs or after
            start = f.read().rsplit(")", 1)[1].split()[19]
        while open(f"/proc/{child}/stat").read().rsplit(")", 1)[1].split()[0] != "Z":
            time.sleep(0.01)
        (tmp_path / ".panel.lock").write_text(f"{child} {socket.gethostname()} {start} 1.0\n")
        outfolder.lock(str(tmp_path))
        assert (tmp_path / ".panel.lock").read_text().split()[0] == str(os.getpid())
        outfolder.release()
    finally:
        os.waitpid(child, 0)


def test_a_link_at_the_temporary_name_is_removed_not_written_through(tmp_path):
    outside = write(tmp_path / "outside.txt", "mine\n")
    target = tmp_path / "out" / "summary.tsv"
    target.parent.mkdir()
    os.symlink(outside, temporary_name(str(target)))
    with AtomicFile(str(target)) as f:
        f.write("table\n")
    assert target.read_text() == "table\n" and outside.read_text() == "mine\n"
    assert not os.path.lexists(temporary_name(str(target)))

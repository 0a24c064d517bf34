"""Whole runs against what lies in and around the output folder: a planted
link, an input where an output goes, a user's files where a step empties a
folder are each refused before any job, and nothing outside the output folder
(nor of the user's inside it) changes; a refused new folder is taken back, and
dead processes' temporary files go on the next run."""
import shutil
import subprocess

import pytest

from conftest import REPO, run_workflow

EXAMPLE = REPO / "examples" / "panel"
CROSS = f"cross={EXAMPLE / 'panel.yaml'}"
SMALL = ["plots=false", "chromosomes=X", "strains=SIM01/Tv"]


def refused_naming(done, path):
    """The run ended with status 1 and one error line naming `path`."""
    errors = [line for line in done.stderr.splitlines() if line.startswith("error:")]
    assert done.returncode == 1 and len(errors) == 1 and errors[0].startswith(f"error: {path}: "), done.stderr[-2000:]
    assert "Traceback" not in done.stderr and "rule prepare" not in done.stderr


def tree(folder):
    """Every path below `folder` with its contents (a file's bytes, None for a folder)."""
    return {str(p.relative_to(folder)): (p.read_bytes() if p.is_file() else None) for p in sorted(folder.rglob("*"))}


@pytest.mark.parametrize("link", ["qtl2", "npz", "founderprobs", "logs", "runs/chrX/SIM01_Tv"])
def test_a_planted_link_is_refused_and_nothing_is_written_through_it(tmp_path, link):
    outside = tmp_path / "outside"
    outside.mkdir()
    (outside / "strain.txt").write_text("mine\n")
    (outside / ".a.tmp-1").write_text("mine\n")
    before = tree(outside)
    out = tmp_path / "out"
    (out / link).parent.mkdir(parents=True, exist_ok=True)
    (out / link).symlink_to(outside)
    done = run_workflow(tmp_path, CROSS, f"out={out}", *SMALL, check=False)
    refused_naming(done, out / link)
    assert tree(outside) == before and not (out / "config.json").exists()


@pytest.mark.parametrize("users,named", [("plots/2023/a.png", "plots/2023"), ("prepared/n/b.txt", "prepared/n"),
                                         ("runs/chrX/SIM01_Tv/notes.txt", "runs/chrX/SIM01_Tv/notes.txt")])
def test_a_users_files_where_a_step_empties_a_folder_are_kept(tmp_path, users, named):
    out = tmp_path / "out"
    (out / users).parent.mkdir(parents=True)
    (out / users).write_text("mine\n")
    done = run_workflow(tmp_path, CROSS, f"out={out}", "plots=true", "chromosomes=X", "strains=SIM01/Tv",
                        check=False)
    refused_naming(done, out / named)
    assert (out / users).read_text() == "mine\n"


def test_an_input_where_an_output_goes_is_refused_and_kept(tmp_path):
    folder = tmp_path / "cross"
    shutil.copytree(EXAMPLE, folder, ignore=shutil.ignore_patterns("*.zip", "*.png", "arrays", "vcf"))
    control = folder / "config.json"
    (folder / "panel.yaml").rename(control)
    before = tree(folder)
    refused_naming(run_workflow(tmp_path, f"cross={control}", f"out={folder}", *SMALL, check=False), control)
    assert tree(folder) == before
    # the cross's own folder is a fine output folder when no output replaces an input
    (folder / "config.json").rename(folder / "panel.yaml")
    run_workflow(tmp_path, f"cross={folder / 'panel.yaml'}", f"out={folder}", *SMALL)
    assert all(tree(folder)[name] == text for name, text in before.items() if name != "config.json")


def test_a_refused_run_into_a_new_folder_leaves_nothing_behind(tmp_path):
    cross = tmp_path / "cross"
    shutil.copytree(EXAMPLE, cross, ignore=shutil.ignore_patterns("*.zip", "*.png", "arrays", "vcf"))
    control = cross / "panel.yaml"
    control.write_text(control.read_text().replace("geno: geno.csv", "geno: missing.csv"))
    done = run_workflow(tmp_path, f"cross={control}", f"out={tmp_path / 'new' / 'out'}", *SMALL, check=False)
    assert done.returncode == 1 and "missing.csv" in done.stderr
    assert not (tmp_path / "new").exists()


def test_dead_processes_temporary_files_go_on_the_next_run_through_a_linked_folder(tmp_path):
    scratch = tmp_path / "scratch"
    out = tmp_path / "out"
    out.symlink_to(scratch)     # the output folder itself a link: its target is written
    run_workflow(tmp_path, CROSS, f"out={out}", *SMALL)
    ended = subprocess.Popen(["true"])
    ended.wait()
    left = [scratch / "qtl2" / f".alleleprobs.rds.tmp-{ended.pid}", scratch / f".mosaic.csv.tmp-{ended.pid}",
            scratch / "npz" / f".chrX.npz.tmp-{ended.pid}"]
    users = scratch / "mine" / f".draft.tmp-{ended.pid}"
    users.parent.mkdir()
    for path in left + [users]:
        path.write_bytes(b"\0" * 1000)
    assert "Nothing to be done" in run_workflow(tmp_path, CROSS, f"out={out}", *SMALL).stderr
    assert not any(path.exists() for path in left) and users.exists()
    assert (scratch / "qtl2" / "alleleprobs.rds").is_file() and out.is_symlink()

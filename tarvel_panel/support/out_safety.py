"""What a run may touch in its output folder, checked before any job runs.

- The output folder itself may be a symbolic link (a scratch folder linked on
  a cluster): it is taken as the folder it leads to. Inside it, no link may
  stand where the workflow writes (at one of its names, paths.top_level(),
  or anywhere below its folders): a write or a removal through it would land
  elsewhere, so the run is refused naming the link.
- No input file may be one the workflow writes or replaces: the output
  folder may be the cross's own folder, but its config.json, say, must not
  be the control file.
- A config.json there that is no settings record of this workflow is
  someone's own file: refused rather than written over.
- Three folders are emptied and written again as a whole (prepared/ and
  plots/ by Snakemake before their step, a strain's runs/chr<c>/<s>/ once its
  chromosome is collected). What this workflow writes there has a known shape
  (FOREIGN below); anything else there is the user's, and the run is refused
  naming it rather than deleting it.
- Temporary files (.<name>.tmp-<pid>, TARVEL's .strain.txt.part-<pid>) left
  by a killed process are removed once their process is gone, only under the
  workflow's own names and never through a link.
- A new output folder that a run refused before preparing anything is
  removed again, with what the run wrote in it.
"""
import json
import os
import re
import shutil
import time

from tarvel_panel import paths
from tarvel_panel.errors import InputError


OWNED_FILES, OWNED_FOLDERS = paths.top_level()
# the empty file Snakemake leaves in a folder it made as a step's output
TIMESTAMP = ".snakemake_timestamp"
# (the npz writer's spools add a suffix: .chr1.npz.tmp-<pid>.<array>)
TEMPORARY = re.compile(r"\.(?P<name>.+?)\.tmp-(?P<pid>[0-9]+)(\..+)?")
PARTIAL = re.compile(re.escape(paths.PARTIAL_PREFIX) + r"(?P<pid>[0-9]+)(\.prob)?")
# a folder of a cluster run's job may still be written from another machine,
# whose processes cannot be seen from here: its temporary files go only once
# they have not changed for this long
CLUSTER_AGE = 3600


def _entries(folder):
    try:
        with os.scandir(folder) as found:
            return sorted(found, key=lambda e: e.name)
    except (FileNotFoundError, NotADirectoryError):
        return []
    except OSError as e:
        raise InputError(folder, f"cannot be read ({e.strerror})")


def _owned(out):
    """The paths at the workflow's names in `out` that exist (or are links)."""
    return [os.path.join(out, n) for n in OWNED_FILES + OWNED_FOLDERS if os.path.lexists(os.path.join(out, n))]


def check_links(out):
    """Refuses a symbolic link at or below any of the workflow's names in `out`."""
    for path in _owned(out):
        _refuse_link(path)
        if os.path.isdir(path):
            for _ in _walk(path):
                pass


def _refuse_link(path):
    if os.path.islink(path):
        target = os.readlink(path)
        raise InputError(path, f"is a symbolic link (to {target}) where the workflow writes; nothing is written "
                               "through a link in the output folder: remove the link, or give an output folder "
                               "without it")


def _walk(top):
    """(folder, folder names, file names) below `top`, refusing any link on
    the way (nothing is followed)."""
    pending = [top]
    while pending:
        folder = pending.pop()
        folders, files = [], []
        for entry in _entries(folder):
            if entry.is_symlink():
                _refuse_link(entry.path)
            (folders if entry.is_dir(follow_symlinks=False) else files).append(entry.name)
        yield folder, folders, files
        pending.extend(os.path.join(folder, f) for f in reversed(folders))


def check_inputs(out, inputs):
    """Refuses an input file (or folder) that lies where the workflow writes:
    at one of its names in `out`, or inside one of its folders."""
    root = os.path.realpath(out)
    for given in inputs:
        path = os.path.realpath(given)
        for name in OWNED_FILES + OWNED_FOLDERS:
            place = os.path.join(root, name)
            if path == place or (name in OWNED_FOLDERS and path.startswith(place + os.sep)):
                raise InputError(given, f"is an input, and the workflow writes {os.path.join(out, name)} in the "
                                        "output folder: give another output folder, or move the input")


def _temporary(name):
    return bool(TEMPORARY.fullmatch(name) or PARTIAL.fullmatch(name))


def _images(name):
    return name.endswith((".png", ".svg")) or name == TIMESTAMP or _temporary(name)


# What the workflow writes in each folder that it empties as a whole: a
# shape gives, for a folder `depth` levels below the emptied one, which file
# names and which folder names may be there; anything else is the user's.
def _prepared_shape(depth):
    """prepared/: panel.json, and chromosome folders chr<c>/ of the panel's
    files and strain folders holding only files."""
    if depth == 0:
        return (lambda n: n == os.path.basename(paths.panel_file("")) or n == TIMESTAMP or _temporary(n),
                lambda n: n.startswith("chr"))
    if depth == 1:
        return lambda n: True, lambda n: True
    return lambda n: True, lambda n: False


def _plots_shape(depth):
    """plots/: figures, and strains/ of figures."""
    return _images, (lambda n: n == "strains") if depth == 0 else (lambda n: False)


RUN_FILES = (paths.RESULTS, paths.SECONDS, paths.STRAIN)


def _run_shape(depth):
    """runs/chr<c>/<s>/: a strain's results and the files written on the way."""
    return (lambda n: n in RUN_FILES or _temporary(n)), (lambda n: False)


def _foreign(top, shape):
    """The first path below `top` that does not fit `shape`, or None."""
    for folder, folders, files in _walk(top):
        depth = 0 if folder == top else os.path.relpath(folder, top).count(os.sep) + 1
        file_ok, folder_ok = shape(depth)
        for name in files:
            if not file_ok(name):
                return os.path.join(folder, name)
        for name in folders:
            if not folder_ok(name):
                return os.path.join(folder, name)
    return None


def _emptied(out):
    """The folders that a run empties as a whole, each with its shape and the step that empties it."""
    yield paths.prepared_dir(out), _prepared_shape, "the prepare step"
    yield paths.plots_dir(out), _plots_shape, "the plots step"
    runs = paths.runs_dir(out)
    for chromosome in _entries(runs):
        if chromosome.name.startswith("chr") and chromosome.is_dir(follow_symlinks=False):
            for strain in _entries(chromosome.path):
                if strain.is_dir(follow_symlinks=False):
                    yield strain.path, _run_shape, "the step that drops a collected chromosome's runs"


def check_foreign(out):
    """Refuses a file or folder the workflow did not write in a folder it
    empties, naming it, so that nothing of the user's is removed."""
    for folder, shape, step in _emptied(out):
        found = _foreign(folder, shape)
        if found:
            raise InputError(found, f"was not written by this workflow, and {step} empties "
                                    f"{folder}{os.sep}: move it out of the output folder")


def check_record(out, wanted):
    """Refuses a config.json in `out` that is no settings record of this
    workflow (no JSON object sharing a key with the `wanted` record): it is
    someone's own file, which the run would write over."""
    path = paths.config_record(out)
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            recorded = json.loads(f.read())
    except FileNotFoundError:
        return
    except ValueError:
        recorded = None
    except OSError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")
    if not isinstance(recorded, dict) or not set(recorded) & set(json.loads(wanted)):
        raise InputError(path, "is not the settings record this workflow keeps there, and a run would write "
                               "over it: move it out of the output folder")


def check(out, inputs, wanted):
    """Every check of this module, before the run writes anything."""
    check_inputs(out, inputs)
    check_links(out)
    check_record(out, wanted)
    check_foreign(out)


def pid_alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except (PermissionError, OverflowError):
        return True
    return True


def remove_leftovers(out, min_age=0.0):
    """Removes the temporary files (and prepare's temporary folders) in
    `out` whose process is gone and that have not changed for `min_age`
    seconds; returns how many went. Only under the workflow's names, never
    through a link (check_links has refused any)."""
    removed = 0
    now = time.time()

    def dead(path, match):
        if pid_alive(int(match.group("pid"))):
            return False
        try:
            return now - os.lstat(path).st_mtime >= min_age
        except FileNotFoundError:
            return False

    for entry in _entries(out):
        match = TEMPORARY.fullmatch(entry.name)
        if not match or match.group("name") not in OWNED_FILES + OWNED_FOLDERS or not dead(entry.path, match):
            continue
        if entry.is_dir(follow_symlinks=False):
            shutil.rmtree(entry.path, ignore_errors=True)
        else:
            _remove(entry.path)
        removed += 1
    for top in _owned(out):
        if not os.path.isdir(top) or os.path.islink(top):
            continue
        for folder, _, files in _walk(top):
            for name in files:
                match = TEMPORARY.fullmatch(name) or PARTIAL.fullmatch(name)
                path = os.path.join(folder, name)
                if match and dead(path, match):
                    removed += _remove(path)
    return removed


def _remove(path):
    """Removes a file; one that is gone already or cannot be removed (not
    ours to remove, a folder the user made read-only) is left as it is."""
    try:
        os.remove(path)
        return 1
    except OSError:
        return 0


def new_folders(out):
    """The folders that making `out` creates, outermost first (for a link,
    those of the folder it leads to)."""
    made, path = [], os.path.realpath(out)
    while not os.path.lexists(path):
        made.insert(0, path)
        path = os.path.dirname(path)
    return made


def undo_new(out, made):
    """After a run that made the output folder (`made`, from new_folders) and
    ended before anything was prepared: removes what it wrote there (its
    config record and logs) and the folders it made, when nothing else is in
    them."""
    if not made or os.path.exists(paths.prepared_dir(out)):
        return
    _remove(paths.config_record(out))
    logs = os.path.dirname(os.path.dirname(paths.step_log(out, "step")))
    try:
        found = list(_walk(logs)) if not os.path.islink(logs) else []
    except InputError:
        found = []
    for folder, _, files in reversed(found):   # the deepest first
        for name in files:
            _remove(os.path.join(folder, name))
        try:
            os.rmdir(folder)
        except OSError:
            pass
    for folder in reversed(made):
        try:
            os.rmdir(folder)
        except OSError:
            return

"""The output folder decides, whatever the working directory: it records the
config that shaped its panel (OUT/config.json, rewritten at once when the
wanted one differs, so its time tells Snakemake to redo the panel) and holds
a lock while a run writes to it (OUT/.panel.lock with the run's process id,
host, process start and start time; a lock whose process is gone is taken over,
and so is one whose process was asked to stop long ago and hangs with no job
left (support/graceful_stop.py); any other living holder keeps it, however
old: two runs writing at once would mix their results).
A changed config is named, key by key, before anything is replaced."""
import atexit
import json
import os
import signal
import socket
import sys
import time

from tarvel_panel.atomic import AtomicFile
from tarvel_panel.errors import InputError
from tarvel_panel.native import BUILD_HINT


LOCK = ".panel.lock"
# beside the lock while its holder stops: the holder's line, then "-" while
# a job of it runs, or since when none has
STOPPING = ".stopping"
# a holder asked to stop that has had no job this long hangs
HUNG_AFTER = 120.0


def make_folder(out):
    """Makes the output folder; when it is a symbolic link (a scratch folder
    linked on a cluster), the folder it leads to."""
    try:
        os.makedirs(os.path.realpath(out), exist_ok=True)
        probe = os.path.join(out, f".write-test-{os.getpid()}")
        with open(probe, "w"):
            pass
        os.remove(probe)
    except OSError as e:
        raise InputError(out, f"the output folder cannot be written ({e.strerror})")


def record_config(path, text, write=True):
    """Whether the config recorded at `path` differs from `text`; when it
    does and `write` is set, `text` replaces it."""
    try:
        with open(path) as f:
            if f.read() == text:
                return False
    except FileNotFoundError:
        pass
    except OSError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")
    if write:
        try:
            with AtomicFile(path) as f:
                f.write(text)
        except OSError as e:
            raise InputError(path, f"cannot be written ({e.strerror})")
    return True


def changed_keys(path, text):
    """The keys whose values differ between the config recorded at `path` and
    `text` (both JSON objects) as (key, old, new), None for a key one side
    lacks; [] when nothing is recorded there yet."""
    try:
        with open(path) as f:
            recorded = f.read()
    except FileNotFoundError:
        return []
    except OSError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")
    new = json.loads(text)
    try:
        old = json.loads(recorded)
    except ValueError:
        old = None
    if not isinstance(old, dict):
        return [("config.json", "unreadable", "rewritten")]
    return [(k, _shown(old.get(k)), _shown(new.get(k))) for k in sorted(set(old) | set(new)) if old.get(k) != new.get(k)]


def _shown(value, width=40):
    text = "(none)" if value is None else json.dumps(value, ensure_ascii=False)
    return text if len(text) <= width else text[:width - 3] + "..."


def change_note(path, changes, out, dry_run=False):
    """One line naming the changed keys (old -> new) and what they redo."""
    keys = ", ".join(f"{k}: {old} -> {new}" for k, old, new in changes)
    redo = ("a real run prepares the panel again and redoes what follows" if dry_run else
            "the panel is prepared again and what follows redone")
    return f"note: the config differs from {path} ({keys}): {redo}, replacing the results in {out}"


def _start_time(pid):
    """The process's start time (clock ticks since boot), None if it is gone:
    also when it has ended and only waits to be reaped (a zombie, whose
    entry keeps its start time; a run killed under a parent that never
    reaps it would otherwise hold the lock for good)."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    if len(fields) < 20 or fields[0] in ("Z", "X"):
        return None
    return fields[19]


def _holder_alive(text):
    pid, host, start = (text.split() + ["", "", ""])[:3]
    if host != socket.gethostname():
        return True  # another machine's process: it cannot be checked from here
    return pid.isdigit() and _start_time(int(pid)) == start


def _children(pid):
    """The process ids whose parent is `pid`."""
    found = []
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    fields = f.read().rsplit(")", 1)[1].split()
            except OSError:
                continue
            if fields[1] == str(pid) and fields[0] not in ("Z", "X"):
                found.append(int(entry))
    return found


def _hung_since(path, holder, now=None):
    """How long the living holder of the lock at `path`, asked to stop, has
    been without a job, when that is HUNG_AFTER or more and no job process
    of it is left; None otherwise."""
    try:
        with open(path + STOPPING) as f:
            noted, idle_since = f.readline(), f.readline()
        idle_since = float(idle_since)
    except (OSError, ValueError):
        return None  # no stop noted, or a job still running ("-")
    pid = holder.split()[0]
    if noted != holder or _children(int(pid)):
        return None
    waited = (time.time() if now is None else now) - idle_since
    return waited if waited >= HUNG_AFTER else None


def _end_hung(path, holder, waited):
    """Ends a hung holder and clears the locks it held, saying so."""
    pid = int(holder.split()[0])
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    except PermissionError:
        return False
    for _ in range(50):
        if _start_time(pid) is None:
            break
        time.sleep(0.1)
    else:
        return False
    print(f"note: the run holding {path} (process {pid}) was asked to stop and has hung with no job for "
          f"{waited:.0f} s; it was ended and this run takes over", file=sys.stderr, flush=True)
    _clear_snakemake_locks(os.path.dirname(path))
    _remove(path + STOPPING)
    _remove(path)
    return True


def _clear_snakemake_locks(out, workdir="."):
    """Removes the locks Snakemake keeps in .snakemake/locks for a run that
    was ended: those whose output files all lie in `out` (the folder this
    lock was held for, so that run's), and the input lock of the same number."""
    folder = os.path.join(workdir, ".snakemake", "locks")
    inside = os.path.realpath(out) + os.sep
    try:
        names = os.listdir(folder)
    except OSError:
        return
    for name in names:
        number, _, kind = name.partition(".")
        if kind != "output.lock" or not number.isdigit():
            continue
        try:
            with open(os.path.join(folder, name)) as f:
                files = [line.rstrip("\n") for line in f if line.strip()]
        except OSError:
            continue
        if files and all(os.path.realpath(os.path.join(workdir, p)).startswith(inside) for p in files):
            _remove(os.path.join(folder, name))
            _remove(os.path.join(folder, f"{number}.input.lock"))


def lock(out):
    """Takes the output folder's lock for this process until it exits, or
    refuses while another live run holds it."""
    path = os.path.abspath(os.path.join(out, LOCK))  # Snakemake may leave --directory before exit
    # the last field, the time the run started, is what progress lines count from
    me = f"{os.getpid()} {socket.gethostname()} {_start_time(os.getpid())} {time.time():.3f}\n"
    for _ in range(3):
        try:
            fd = os.open(path, os.O_CREAT | os.O_EXCL | os.O_WRONLY, 0o644)
        except FileExistsError:
            try:
                with open(path) as f:
                    holder = f.read()
            except FileNotFoundError:
                continue
            waited = _hung_since(path, holder) if _holder_alive(holder) else None
            if waited is not None and _end_hung(path, holder, waited):
                continue
            if _holder_alive(holder):
                pid, host = (holder.split() + ["?", "?"])[:2]
                raise InputError(out, f"another run (process {pid} on {host}) is writing to this output "
                                 f"folder; wait for it to end, or if it hangs end it (kill {pid}), or remove "
                                 f"{path} if none is running")
            _remove(path)
            continue
        except OSError as e:
            raise InputError(out, f"the output folder cannot be written ({e.strerror})")
        with os.fdopen(fd, "w") as f:
            f.write(me)
        _held.append((path, me))
        atexit.register(release)
        return
    raise InputError(out, f"cannot take the lock {path}")


# the lock this process holds (path, contents)
_held = []


def release():
    """Gives up the lock this process holds, if it still holds it (at exit,
    or before a refusal that ends the process at once)."""
    while _held:
        _release(*_held.pop())


def note_stopping(idle_since=None):
    """Notes beside the lock this process holds that it was asked to stop,
    and whether a job of it still runs (idle_since None) or since when none has."""
    state = "-" if idle_since is None else f"{idle_since:.3f}"
    for path, me in _held:
        try:
            with AtomicFile(path + STOPPING) as f:
                f.write(f"{me}{state}\n")
        except OSError:
            pass


def _release(path, me):
    try:
        with open(path) as f:
            if f.read() != me:
                return
    except OSError:
        return
    _remove(path + STOPPING)
    _remove(path)


def _remove(path):
    try:
        os.remove(path)
    except FileNotFoundError:
        pass


def check_tarvel(path, given):
    """A missing binary in one line, with how to build it."""
    if os.path.isfile(path) and os.access(path, os.X_OK):
        return
    if given:
        raise InputError("config tarvel", f"{path} is not an executable file")
    raise InputError(path, f"TARVEL is not built yet; build it in the repository first: {BUILD_HINT}")


# Snakemake options under which it only looks: no lock taken, nothing written
# (--report reads the output folder and writes its page elsewhere)
_LOOK_ONLY = ("dryrun", "unlock", "list", "list_target_rules", "summary", "detailed_summary",
              "lint", "dag", "rulegraph", "filegraph", "d3dag", "report")


def looks_only(argv):
    """Whether the snakemake command line asks only to look (a dry run,
    --unlock, --summary, ...)."""
    try:
        from snakemake import get_argument_parser
        args, _ = get_argument_parser().parse_known_args(argv)
    except (ImportError, SystemExit):
        return False
    return any(getattr(args, name, False) for name in _LOOK_ONLY)

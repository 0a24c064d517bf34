"""A run stopped with SIGTERM ends instead of hanging, and a run that hangs
after being asked to stop gives the output folder up."""
import os
import socket
import subprocess
import threading
import time

import pytest

from snakemake.scheduler import JobScheduler

from tarvel_panel.support import graceful_stop, outfolder


def scheduler(running=()):
    """A scheduler as Snakemake's handler finds it, with its own class so
    the handler put in place touches no other."""
    cls = type("Scheduler", (JobScheduler,), {})
    assert graceful_stop.install(cls)
    s = object.__new__(cls)
    s._lock, s._open_jobs, s._user_kill, s.running = threading.Lock(), threading.Semaphore(0), None, set(running)
    return s


def test_sigterm_while_the_scheduler_books_a_finished_job_does_not_wait_on_its_own_lock(monkeypatch):
    watched = []
    monkeypatch.setattr(graceful_stop, "watch", watched.append)
    s, returned = scheduler({"a job"}), threading.Event()

    def booking_a_job_when_the_signal_comes():
        with s._lock:   # where Snakemake's main thread is as a job ends
            s.exit_gracefully(15, None)
            returned.set()

    threading.Thread(target=booking_a_job_when_the_signal_comes, daemon=True).start()
    assert returned.wait(5), "the stop waited on the lock its own thread holds"
    assert s._user_kill == "graceful" and s._open_jobs.acquire(blocking=False)
    s.exit_gracefully(15, None)   # a second SIGTERM starts no second watch
    assert watched == [s]


def test_the_watch_ends_a_stopped_run_only_a_while_after_its_last_job(tmp_path):
    outfolder.lock(str(tmp_path))
    stopping = tmp_path / ".panel.lock.stopping"
    s, now, ended, said = scheduler({"R job"}), [0.0], [], []

    def clock():
        now[0] += 1.0
        if now[0] == 10:
            s.running.clear()   # the last job ends at 10 s
        if stopping.exists():
            said.append(stopping.read_text().splitlines()[-1])
        return now[0]

    class Ended(Exception):
        pass

    def end(status):
        ended.append((status, now[0]))
        raise Ended

    class Persistence:
        unlocked = False

        def unlock(self):
            Persistence.unlocked = True

    s.workflow = type("Workflow", (), {"persistence": Persistence()})()
    with pytest.raises(Ended):
        graceful_stop.watch(s, stuck_after=30, every=0, clock=clock, end=end)
    assert ended == [(1, 40.0)] and Persistence.unlocked
    assert said[0] == "-" and float(said[-1]) > 1e9   # a job runs, then: idle since (wall time)
    assert not (tmp_path / ".panel.lock").exists() and not stopping.exists()


def holder_line(pid):
    return f"{pid} {socket.gethostname()} {outfolder._start_time(pid)} 1.0\n"


def test_a_holder_hung_long_after_being_asked_to_stop_is_ended_and_its_locks_taken_over(tmp_path, monkeypatch, capsys):
    out, work = tmp_path / "out", tmp_path / "work"
    locks = work / ".snakemake" / "locks"
    locks.mkdir(parents=True)
    out.mkdir()
    monkeypatch.chdir(work)
    (locks / "0.output.lock").write_text(f"{out}/prepared/panel.json\n{out}/runs/chr1/b0.done\n")
    (locks / "0.input.lock").write_text(f"{tmp_path}/panel.yaml\n{out}/prepared/panel.json\n")
    (locks / "1.output.lock").write_text(f"{tmp_path}/other/result.txt\n")   # another run's, elsewhere
    hung = subprocess.Popen(["sleep", "60"])
    try:
        line = holder_line(hung.pid)
        (out / ".panel.lock").write_text(line)
        (out / ".panel.lock.stopping").write_text(f"{line}{time.time() - 30:.3f}\n")
        with pytest.raises(Exception, match="another run"):
            outfolder.lock(str(out))   # asked to stop only 30 s ago: it may still be ending
        (out / ".panel.lock.stopping").write_text(f"{line}{time.time() - 600:.3f}\n")
        outfolder.lock(str(out))
        assert hung.wait(5) == -9
        assert "was asked to stop and has hung with no job for 600 s" in capsys.readouterr().err
        assert (out / ".panel.lock").read_text().split()[0] == str(os.getpid())
        assert sorted(p.name for p in locks.iterdir()) == ["1.output.lock"]
        outfolder.note_stopping(idle_since=None)
        assert (out / ".panel.lock.stopping").read_text().endswith("\n-\n")
        outfolder.release()
        assert not (out / ".panel.lock").exists() and not (out / ".panel.lock.stopping").exists()
    finally:
        hung.kill()
        hung.wait()


def test_a_stopping_holder_with_a_job_still_running_keeps_its_lock(tmp_path):
    holder = subprocess.Popen(["sh", "-c", "sleep 60 & wait"])
    try:
        deadline = time.time() + 5
        while not outfolder._children(holder.pid) and time.time() < deadline:
            time.sleep(0.01)
        line = holder_line(holder.pid)
        (tmp_path / ".panel.lock").write_text(line)
        (tmp_path / ".panel.lock.stopping").write_text(f"{line}{time.time() - 600:.3f}\n")
        with pytest.raises(Exception, match="another run"):
            outfolder.lock(str(tmp_path))   # its job process is there
        (tmp_path / ".panel.lock.stopping").write_text(f"{line}-\n")
        with pytest.raises(Exception, match="another run"):
            outfolder.lock(str(tmp_path))   # it said a job of it runs (a cluster job is no child)
        assert holder.poll() is None
    finally:
        subprocess.run(["pkill", "-P", str(holder.pid)])
        holder.kill()
        holder.wait()

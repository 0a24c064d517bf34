"""A run stopped with SIGTERM (Slurm's scancel, a shutdown, `kill`) ends
instead of hanging.

Snakemake's SIGTERM handler takes its scheduler's lock. Python runs signal
handlers on the main thread, and the main thread holds that lock itself
while it books a job that has just ended; a SIGTERM arriving then waits for
a lock its own thread holds, for good, and the hung run keeps the output
folder locked. The handler put in its place does what Snakemake's does
(marks the stop, wakes the scheduler) without the lock: the mark is one
attribute the scheduler reads on its next round, and setting it is atomic.

It also notes the stop beside the output folder's lock and starts a watch:
Snakemake lets the running jobs finish and leaves within seconds of the last
one, so a run still there a minute after its last job ended is stuck. The
watch then says so, gives up both locks and ends the process."""
import os
import sys
import threading
import time

from tarvel_panel.support import outfolder

# how long a stopped run may stay after its last job ends before the watch ends it
STUCK_AFTER = 60.0


def install(scheduler_class=None):
    """Puts the lock-free handler in place of Snakemake's (before the
    scheduler is made, that is while the Snakefile is read); a Snakemake
    whose scheduler looks otherwise keeps its own."""
    if scheduler_class is None:
        try:
            from snakemake.scheduler import JobScheduler as scheduler_class
        except ImportError:
            return False
    if not callable(getattr(scheduler_class, "exit_gracefully", None)):
        return False
    scheduler_class.exit_gracefully = exit_gracefully
    return True


def exit_gracefully(scheduler, *signal_args):
    """Snakemake's graceful stop (let the running jobs end, start no more),
    safe to run while the scheduler's lock is held on this thread."""
    first = getattr(scheduler, "_user_kill", None) is None
    scheduler._user_kill = "graceful"
    scheduler._open_jobs.release()
    if first:
        threading.Thread(target=watch, args=(scheduler,), daemon=True, name="stop-watch").start()


def watch(scheduler, stuck_after=STUCK_AFTER, every=1.0, clock=time.monotonic, end=os._exit):
    """Ends the process once no job has run for `stuck_after` seconds, and
    notes beside the lock, each time it changes, whether a job still runs
    or since when none has (what a later run goes by should this watch
    stop too)."""
    idle_since, noted = None, False
    while True:
        now = clock()
        if getattr(scheduler, "running", None):
            if idle_since is not None or not noted:
                outfolder.note_stopping(idle_since=None)
            idle_since = None
        elif idle_since is None:
            idle_since = now
            outfolder.note_stopping(idle_since=time.time())
        elif now - idle_since >= stuck_after:
            break
        noted = True
        time.sleep(every)
    print(f"error: panel: the run was asked to stop and was still there {stuck_after:.0f} s after its "
          f"last job ended; it ends now (run the same command again to go on)", file=sys.stderr, flush=True)
    persistence = getattr(getattr(scheduler, "workflow", None), "persistence", None)
    try:
        if persistence is not None:
            persistence.unlock()
    except OSError:
        pass
    outfolder.release()
    end(1)

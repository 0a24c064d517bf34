"""The one error a user's input can cause: it names the file, the line where
there is one, and what is wrong."""
import signal
import sys
from contextlib import contextmanager


class InputError(Exception):
    def __init__(self, path, message, line=None):
        self.path = str(path)
        self.message = message
        self.line = line
        where = self.path if line is None else f"{self.path}:{line}"
        super().__init__(f"{where}: {message}")


def blame(error, path):
    """Give an OSError that names no file (a full disk fails a write or a
    close with ENOSPC and no file name) the file `path` being written."""
    if isinstance(error, OSError) and error.filename is None and path is not None:
        error.filename = str(path)
    return error


@contextmanager
def writing(path):
    """Writes inside the block that fail without naming a file name `path`."""
    try:
        yield
    except OSError as e:
        raise blame(e, path)


def run_command(action, os_error=None, output=None):
    """Runs a command line's work: an InputError, or an OSError where
    `os_error` says how to describe one, becomes one line on standard error
    and status 1. An OSError naming no file is blamed on `output` (what the
    command writes) when it is given."""
    try:
        action()
    except InputError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        if os_error is None:
            raise
        text = os_error(blame(e, output))
        if e.filename is None and text.startswith("None"):
            # a description that shows the file name, for an error naming none
            text = f"an output file{text[len('None'):]}"
        print(f"error: {text}", file=sys.stderr)
        return 1
    return 0


def exit_on_signals():
    """SIGTERM and SIGINT end the step as an exception does: every file
    being written is taken back (atomic.py), and the status is 128 + the
    signal's number, as a shell reports a stopped program."""
    def stop(signum, frame):
        raise SystemExit(128 + signum)
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, stop)

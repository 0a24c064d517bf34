"""The one error a user's input can cause: it names the file, the line where
there is one, and what is wrong."""
import sys


class InputError(Exception):
    def __init__(self, path, message, line=None):
        self.path = str(path)
        self.message = message
        self.line = line
        where = self.path if line is None else f"{self.path}:{line}"
        super().__init__(f"{where}: {message}")


def run_command(action, os_error=None):
    """Runs a command line's work: an InputError, or an OSError where
    `os_error` says how to describe one, becomes one line on standard error
    and status 1."""
    try:
        action()
    except InputError as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        if os_error is None:
            raise
        print(f"error: {os_error(e)}", file=sys.stderr)
        return 1
    return 0

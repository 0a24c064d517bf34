"""A full disk fails a write without naming a file: the one line a command
prints still names the file being written, and never "None"."""
import pytest

from tarvel_panel.errors import run_command, writing

DESCRIBE = lambda e: f"{e.filename}: {e.strerror}"


def fill_disk(path=None):
    """Write to /dev/full: ENOSPC on the flush, as on a full disk."""
    def action():
        with writing(path) if path else open("/dev/null"):
            with open("/dev/full", "w") as f:
                f.write("x" * 10)
    return action


@pytest.mark.parametrize("path, output, shown", [
    ("out/summary.tsv", None, "out/summary.tsv: No space left on device"),
    (None, "out/prepared", "out/prepared: No space left on device"),
    (None, None, "an output file: No space left on device"),
])
def test_full_disk_names_the_file_being_written(capsys, path, output, shown):
    assert run_command(fill_disk(path), DESCRIBE, output=output) == 1
    assert capsys.readouterr().err == f"error: {shown}\n"

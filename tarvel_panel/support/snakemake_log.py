"""What Snakemake (7.21) itself writes on the terminal of a panel run; set
from the Snakefile, in Snakemake's own process only.

Whole lines: Snakemake's terminal handler writes a message and its line end
in two writes to an unbuffered standard error, so a job's progress line
written between the two lands in the middle of Snakemake's line. Its stream,
and this process's standard error, pass on whole lines only (progress.Lines).

Quiet: with --quiet rules (the documented command: no job blocks), the lines
Snakemake writes on every run whatever happens (jobs selected, temporary
files removed, marker files touched, the table of jobs, the cores given,
the config file extended) are left out as well, so that what the terminal
shows is the panel's own lines, its notes and every error and warning. The
complete log in .snakemake/log keeps them all, and names itself on the
terminal when a run fails. A dry run keeps them: its table of jobs is what
it is for.

Short lines: a job's block lists its input and output files, and why it
runs, one line each, with every file: a join over every chromosome and
batch lists thousands. On the terminal a list line longer than LONGEST
keeps the files that fit and says how many more there are; the complete log
keeps every file.
"""
import logging
import sys

from tarvel_panel.support import progress

# the beginnings of Snakemake's routine lines, as 7.21 writes them
ROUTINE = (
    "Select jobs to execute...",
    "Removing temporary output ",
    "Touching output file ",
    "Write-protecting output file ",
    "Building DAG of jobs...",
    "Using shell: ",
    "Provided cores: ",
    "Provided resources: ",
    "Provided cluster nodes: ",
    "Rules claiming more threads will be scaled down.",
    "Job stats:",
    "Assuming unrestricted shared filesystem usage.",
    "Submitted job ",
    "Submitted group job ",
)
# and the ends of others ("Config file X is extended ...")
ROUTINE_ENDS = ("is extended by additional config specified via the command line.",)
# the longest line of Snakemake's on the terminal
LONGEST = 1000
# how Snakemake ends its run, a line worth reading only when something failed
COMPLETE_LOG = "Complete log: "


class RoutineLines(logging.Filter):
    """Leaves out Snakemake's routine lines. Its errors and warnings
    (Snakemake's plain lines have the level WARNING, its warnings CRITICAL)
    always pass, and once one has, so does the complete log's name."""

    def __init__(self):
        super().__init__()
        self.failed = False

    def filter(self, record):
        if record.levelno >= logging.ERROR:
            self.failed = True
            return True
        text = record.getMessage()
        if not text.strip():
            return False
        if text.startswith(COMPLETE_LOG):
            return self.failed
        return not (text.startswith(ROUTINE) or text.endswith(ROUTINE_ENDS))


def shorten(line, longest=LONGEST):
    """`line` cut to about `longest` characters: a list ("input: a, b, c")
    at a comma, saying how many items are left out; other text where it
    reaches `longest`."""
    if len(line) <= longest:
        return line
    cut = line.rfind(", ", 0, longest)
    if cut > 0:
        return f"{line[:cut]}, ... and {line.count(', ', cut):,} more"
    return f"{line[:longest]} ... and {len(line) - longest:,} more characters"


class ShortLines(logging.Formatter):
    """Snakemake's messages with every line shortened (shorten()). The
    handler writes the record's message as this sets it; the complete log's
    handler makes its own from the record, in full."""

    def format(self, record):
        text = super().format(record)
        if len(text) > LONGEST:
            record.message = "\n".join(shorten(line) for line in record.message.split("\n"))
        return text


def tidy(logger, dry_run):
    """Sets Snakemake's `logger` (snakemake.logging.logger) to whole, short
    lines, and to the panel's lines alone when it is quiet about rules."""
    sys.stderr = progress.Lines(sys.stderr)
    handler = logger.stream_handler
    if handler is None:
        return
    handler.stream = progress.Lines(handler.stream)
    handler.setFormatter(ShortLines())
    if logger.is_quiet_about("rules") and not dry_run:
        handler.addFilter(RoutineLines())

"""The reader of TARVEL's results files in the HAPPY layout: one line per
marker, "index|v1,v2,...,v36," with the index counting from 0. A file counts
only when every line has this shape, every value is a probability and the
line count is the marker count. The two-copy X model's pair values are not
probabilities (a female X at a low #Generation gives values above 1, and its
lines may add up to more than 1): callers reading such a run take
TWO_COPY_X_MAX as the bound.

The panel reads text only where a TARVEL program was given in its config
(the batch converts each results file into a values file, values_file.py)
and for the plots of a single TARVEL run (tarvel_files.py)."""
import math

from tarvel_panel import native
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import NPAIRS
from tarvel_panel.run.values_file import TWO_COPY_X_MAX  # noqa: F401 (the readers of a run take it from here)

# a value may exceed 1 by the rounding of its six significant digits
_ROUNDING = 1e-5


def _read(path):
    try:
        with open(path, "rb") as f:
            return f.read()
    except OSError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")


def read_results(path, markers, max_value=1.0):
    """The pair values of a results file as a float64 array [markers, 36]."""
    return parse_results(_read(path), markers, path, max_value)


def parse_results(data, markers, path, max_value=1.0):
    top = math.inf if max_value is None else max_value + _ROUNDING
    values, bad, lines = native.parse_results(data, markers, top)
    if bad == -1:
        raise InputError(path, f"{lines} lines for {markers} markers")
    if values is None:
        raise InputError(path, f"not a line of TARVEL's results (index|{NPAIRS} probabilities,)", bad)
    return values

"""The reader of TARVEL's results files in the HAPPY layout: one line per
marker, "index|v1,v2,...,v36," with the index counting from 0. A file counts
only when every line has this shape, every value is a probability and the
line count is the marker count. The two-copy X model's pair values are not
probabilities (a female X at a low #Generation gives values above 1, and its
lines may add up to more than 1): callers reading such a run take
TWO_COPY_X_MAX as the bound."""
import warnings

import numpy as np

from .errors import InputError
from .happy import NPAIRS

# the bound of a two-copy X run's pair values and of their sum on a line
TWO_COPY_X_MAX = 2.0
_SPACES = bytes.maketrans(b"|,", b"  ")
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
    top = np.inf if max_value is None else max_value + _ROUNDING
    lines = data.count(b"\n") + (0 if data.endswith(b"\n") or not data else 1)
    if lines != markers:
        raise InputError(path, f"{lines} lines for {markers} markers")
    if data.count(b"|") != markers or data.count(b",") != NPAIRS * markers:
        raise InputError(path, _bad_line(data), _first_bad_line(data, top))
    with warnings.catch_warnings():
        # numpy warns, and stops, at a field that is not a number
        warnings.simplefilter("error")
        try:
            flat = np.fromstring(data.translate(_SPACES), sep=" ")
        except (DeprecationWarning, ValueError):
            flat = None
    if flat is None or flat.size != (NPAIRS + 1) * markers:
        raise InputError(path, _bad_line(data), _first_bad_line(data, top))
    table = flat.reshape(markers, NPAIRS + 1)
    values = table[:, 1:]
    if not np.array_equal(table[:, 0], np.arange(markers)) or not np.all(np.isfinite(values)) \
            or values.min(initial=0.0) < 0.0 or values.max(initial=0.0) > top:
        raise InputError(path, _bad_line(data), _first_bad_line(data, top))
    return values


def _bad_line(data):
    return f"not a line of TARVEL's results (index|{NPAIRS} probabilities,)"


def _first_bad_line(data, top):
    """Number of the first line that is not index|36 probabilities, (1-based)."""
    for number, line in enumerate(data.split(b"\n"), 1):
        index, bar, rest = line.rstrip(b"\r").partition(b"|")
        values = rest.split(b",")
        if values and values[-1] == b"":
            values.pop()
        try:
            ok = bar and index == str(number - 1).encode() and len(values) == NPAIRS and \
                all(0.0 <= float(v) <= top for v in values)
        except ValueError:
            ok = False
        if not ok:
            return number
    return None


def value_texts(path):
    """The 36 values of every line as TARVEL wrote them ("v1,...,v36"), for a
    file read_results has accepted."""
    with open(path, "rb") as f:
        return [line.partition(b"|")[2].rstrip(b"\r\n").rstrip(b",").decode() for line in f]

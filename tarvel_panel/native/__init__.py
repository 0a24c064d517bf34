"""The panel's C++ helpers (tarvel_panel/native/results_text.cpp, built by
CMake as libtarvel_panel.so beside TARVEL), loaded once per process:

    parse_results(data, markers, top) -> (values [markers, 36] or None, bad line, lines)
    format_rows(values [rows, cols], lead, tails) -> the rows' text

The workflow names the library in TARVEL_PANEL_LIBRARY; without it the
repository's build/ is used."""
import ctypes
import os

from tarvel_panel import REPO
from tarvel_panel.errors import InputError


LIBRARY_ENV = "TARVEL_PANEL_LIBRARY"
LIBRARY_NAME = "libtarvel_panel.so"
# what the workflow's jobs run with unless GLIBC_TUNABLES is set: the C
# library asks for 2 MB pages for its large blocks where the kernel gives
# them on request (transparent huge pages "madvise", Debian's default)
MALLOC_TUNABLES = "glibc.malloc.hugetlb=1"
BUILD_HINT = "cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build -j2"
_BUILT = os.path.join(REPO, "build", LIBRARY_NAME)
_PAIRS = 36
_library = None


def library_path():
    return os.environ.get(LIBRARY_ENV) or _BUILT


def library_beside(tarvel):
    """The library built with this TARVEL binary, else the repository's."""
    beside = os.path.join(os.path.dirname(os.path.abspath(tarvel)), LIBRARY_NAME)
    return beside if os.path.isfile(beside) else _BUILT


def check_library(path):
    """A missing library in one line, with how to build it."""
    if not os.path.isfile(path):
        raise InputError(path, f"the panel's helper library is not built yet; build it in the repository "
                         f"first: {BUILD_HINT}")


ENGINE_NAME = "tarvel_engine"


def engine_path(given=""):
    """The engine the panel runs: the one given, else the repository's build."""
    return str(given or os.path.join(REPO, "build", ENGINE_NAME))


def check_engine(path, given):
    """A missing engine in one line: the config key when it was given, else
    how to build it."""
    if os.path.isfile(path) and os.access(path, os.X_OK):
        return
    if given:
        raise InputError("config engine", f"{path} is not an executable file")
    raise InputError(path, f"the panel's engine is not built yet; build it in the repository first: {BUILD_HINT}")


def _load():
    global _library
    if _library is None:
        path = library_path()
        check_library(path)
        try:
            lib = ctypes.CDLL(path)
        except OSError as e:
            raise InputError(path, f"cannot be loaded ({e}); build it again: {BUILD_HINT}")
        double_p, long_p = ctypes.POINTER(ctypes.c_double), ctypes.POINTER(ctypes.c_long)
        lib.tarvel_parse_results.restype = ctypes.c_long
        lib.tarvel_parse_results.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_long, ctypes.c_double,
                                             double_p, long_p]
        lib.tarvel_format_rows_room.restype = ctypes.c_size_t
        lib.tarvel_format_rows_room.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_size_t]
        lib.tarvel_format_rows.restype = ctypes.c_size_t
        lib.tarvel_format_rows.argtypes = [double_p, ctypes.c_long, ctypes.c_long, ctypes.c_char_p,
                                           ctypes.c_size_t, ctypes.c_char_p, long_p, ctypes.c_char_p]
        _library = lib
    return _library


def _doubles(array):
    return array.ctypes.data_as(ctypes.POINTER(ctypes.c_double))


def parse_results(data, markers, top):
    """(values, 0, lines) for a file of `markers` lines "i|v1,...,v36," with
    every value in [0, top]; else (None, the first bad line from 1 or -1 when
    only the line count is wrong, lines)."""
    lib = _load()
    import numpy as np
    values = np.empty((markers, _PAIRS))
    lines = ctypes.c_long()
    bad = lib.tarvel_parse_results(data, len(data), markers, top, _doubles(values), ctypes.byref(lines))
    return (values if bad == 0 else None), bad, lines.value


class Tails:
    """The texts that follow the lead on each row, joined once for
    format_rows; encoded a block of rows at a time, so that only the joined
    text and its ends are held, not a string per row."""

    def __init__(self, texts, at_once=1 << 16):
        import numpy as np
        parts, lengths, chunk = [], [], []
        for text in texts:
            chunk.append(text.encode("utf-8"))
            if len(chunk) == at_once:
                parts.append(b"".join(chunk))
                lengths.append(np.fromiter(map(len, chunk), np.dtype(ctypes.c_long), len(chunk)))
                chunk = []
        parts.append(b"".join(chunk))
        lengths.append(np.fromiter(map(len, chunk), np.dtype(ctypes.c_long), len(chunk)))
        self.text = b"".join(parts)
        self.ends = np.cumsum(np.concatenate(lengths), dtype=np.dtype(ctypes.c_long))
        self.count = len(self.ends)

    @classmethod
    def _of(cls, text, ends):
        tails = cls.__new__(cls)   # a part of the rows: the text is not split again
        tails.count, tails.text, tails.ends = len(ends), text, ends
        return tails

    def part(self, rows):
        """The Tails of rows rows.start .. rows.stop - 1 (a slice)."""
        start = int(self.ends[rows.start - 1]) if rows.start > 0 else 0
        stop = int(self.ends[rows.stop - 1]) if rows.stop > rows.start else start
        return Tails._of(self.text[start:stop], self.ends[rows.start:rows.stop] - start)


def format_rows(values, lead, tails):
    """For row r: lead, tails' text r, then ",v" for each value as TARVEL
    writes a number (six significant digits), then a newline; as bytes."""
    lib = _load()
    import numpy as np
    values = np.ascontiguousarray(values, dtype=np.float64)
    rows, cols = values.shape
    assert rows == tails.count, (rows, tails.count)
    lead = lead.encode("utf-8")
    out = ctypes.create_string_buffer(lib.tarvel_format_rows_room(rows, cols, len(lead) * rows + len(tails.text)))
    n = lib.tarvel_format_rows(_doubles(values), rows, cols, lead, len(lead), tails.text,
                               tails.ends.ctypes.data_as(ctypes.POINTER(ctypes.c_long)), out)
    return ctypes.string_at(out, n)

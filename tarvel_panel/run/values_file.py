"""A strain's values on one chromosome in binary, as tarvel_engine writes
them (native/engine/values_file.h) and as the batch converts a TARVEL
program's results text into: the bytes "TARVPROB", uint32 version 1, uint32
values per line, uint64 markers, then the values as little-endian float64,
marker by marker. A line holds the marker's 36 pair values, or (the engine
with --founder-values, when no output needs the pairs) its 11 founder
values: the 8 founder probabilities, the top pair's index and value and the
heterozygous sum (native/engine/founder_values.h), a third of the bytes.
The panel's steps read pair values only from here.

A line's values are checked the way TARVEL's lines add up. On an autosome and
on a one-copy (male) X the 36 values are the posterior of every pair and sum
to 1. On a two-copy (female) X TARVEL writes one orientation of each pair of
two founders doubled, so a line's sum lies anywhere in [0, 2] (values up to
2); what stays bounded there is the part of the position-pair table the line
stands for, the homozygous values plus half of each other value, which is at
most 1. The tolerance is that of 36 values rounded to six
significant digits, so results read from text pass as well as engine values.
Founder values are checked by the same sums: the founder probabilities add
up to the line's sum, and less half the heterozygous sum to the table's part."""
import functools
import os
import struct

# numpy is imported where it is used: a batch job that only runs the engine
# starts without it

from tarvel_panel.atomic import AtomicFile
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import HETEROZYGOUS, NPAIRS

MAGIC = b"TARVPROB"
VERSION = 1
HEADER = struct.Struct("<8sIIQ")
# values a line of a founder-values file
FOUNDER_VALUES = 11
# a value of six significant digits is off by at most 5e-7 of itself
TOLERANCE = NPAIRS * 5e-7
# the bound of a two-copy X line's values
TWO_COPY_X_MAX = 2.0


@functools.lru_cache(maxsize=None)
def _table_share():
    """Per value, the share of the table a two-copy X line's value stands for."""
    import numpy as np
    share = np.ones(NPAIRS)
    share[HETEROZYGOUS] = 0.5
    return share


# markers read and checked at a time by read_value_blocks
BLOCK_MARKERS = 1 << 16


def read_values(path, markers, two_copy_x=False, per_line=NPAIRS):
    """The file's values as float64 [markers, per_line], checked; else one
    error naming the file (and the marker's line, from 1, for a bad line).
    per_line None takes either kind (36 pair values or FOUNDER_VALUES)."""
    blocks = [values for _, values in read_value_blocks(path, markers, two_copy_x, per_line, max(markers, 1))]
    if blocks:
        return blocks[0]
    import numpy as np
    return np.empty((0, per_line or NPAIRS))


def read_value_blocks(path, markers, two_copy_x=False, per_line=NPAIRS, block=BLOCK_MARKERS):
    """(first marker, float64 [n, per_line]) of `block` markers at a time
    (the last block shorter), each checked as read_values checks the whole
    file, so that memory holds one block; a file of the wrong length is
    refused before the first block."""
    import numpy as np
    try:
        with open(path, "rb") as f:
            head = f.read(HEADER.size)
            if len(head) < HEADER.size:
                raise InputError(path, "not a values file (shorter than its header)")
            magic, version, found, count = HEADER.unpack(head)
            if magic != MAGIC:
                raise InputError(path, "not a values file (no TARVPROB mark)")
            if version != VERSION or (per_line is None and found not in (NPAIRS, FOUNDER_VALUES)) or \
                    found != (per_line or found):
                wanted = per_line or f"{NPAIRS} or {FOUNDER_VALUES}"
                raise InputError(path, f"a values file of version {version} with {found} values a line; "
                                 f"this panel reads version {VERSION} with {wanted}")
            if count != markers:
                raise InputError(path, f"{count} markers, the chromosome has {markers}")
            given = min((os.fstat(f.fileno()).st_size - HEADER.size) // 8, markers * found + 1)
            if given != markers * found:
                raise InputError(path, f"{given} values where {markers} markers need {markers * found}"
                                 " (a damaged or unfinished file)")
            check = check_values if found == NPAIRS else check_founder_values
            for first in range(0, markers, block):
                n = min(block, markers - first)
                values = np.fromfile(f, dtype="<f8", count=n * found)
                if len(values) != n * found:
                    raise InputError(path, "ends early (a file changed while it was read)")
                values = values.reshape(n, found).astype(np.float64, copy=False)
                check(values, path, two_copy_x, first)
                yield first, values
    except OSError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")


def check_values(values, path, two_copy_x=False, first=0):
    """An InputError naming the first marker (its line, from 1; the values
    start at marker `first` of the file) whose values
    are not a line of TARVEL's: a value outside [0, 1] (two-copy X: [0, 2]),
    or a line that does not add up (see the module's text)."""
    import numpy as np
    top = (TWO_COPY_X_MAX if two_copy_x else 1.0) + TOLERANCE
    finite = np.isfinite(values).all(axis=1)
    in_range = finite & (values >= 0).all(axis=1) & (values <= top).all(axis=1)
    totals = values @ _table_share() if two_copy_x else values.sum(axis=1)

    def out_of_range(bad):
        odd = [v for v in values[bad].tolist() if not 0 <= v <= top]
        return f"a value outside 0..{top - TOLERANCE:g} ({odd[0]:.6g})"
    _refuse_first_bad(path, in_range, totals, two_copy_x, "its 36 values add up to {:.6g}, not 1", out_of_range,
                      first)


def check_founder_values(values, path, two_copy_x=False, first=0):
    """check_values for the founder values of each line (the module's text)."""
    import numpy as np
    top = (TWO_COPY_X_MAX if two_copy_x else 1.0) + TOLERANCE
    founders, pair, pair_value, het = values[:, :8], values[:, 8], values[:, 9], values[:, 10]
    finite = np.isfinite(values).all(axis=1)
    in_range = (finite & (founders >= 0).all(axis=1) & (founders <= top).all(axis=1) & (pair == np.round(pair))
                & (pair >= 0) & (pair < NPAIRS) & (pair_value >= 0) & (pair_value <= top) & (het >= 0))
    totals = founders.sum(axis=1) - (het / 2 if two_copy_x else 0)
    _refuse_first_bad(path, in_range, totals, two_copy_x, "its founder probabilities add up to {:.6g}, not 1",
                      lambda bad: "not a line of founder values (a value out of its range)", first)


def _refuse_first_bad(path, in_range, totals, two_copy_x, not_one, out_of_range, first):
    """The first line out of range or whose total does not add up (to 1; on
    a two-copy X the table's part, to at most 1) refused, naming its line
    (the lines start at marker `first` of the file)."""
    import numpy as np
    if two_copy_x:
        adds_up = totals <= 1.0 + TOLERANCE
        what = "its homozygous values and half its others add up to {:.6g}, more than 1"
    else:
        adds_up, what = np.abs(totals - 1.0) <= TOLERANCE, not_one
    good = in_range & adds_up
    if good.all():
        return
    bad = int(np.argmin(good))
    if not in_range[bad]:
        raise InputError(path, out_of_range(bad), first + bad + 1)
    raise InputError(path, what.format(totals[bad]), first + bad + 1)


def write_values(path, values):
    """The values [markers, 36] as a values file, complete or not at all."""
    import numpy as np
    values = np.ascontiguousarray(values, dtype="<f8")
    markers, per_line = values.shape
    with AtomicFile(path, binary=True) as f:
        f.write(HEADER.pack(MAGIC, VERSION, per_line, markers))
        f.write(values.tobytes())

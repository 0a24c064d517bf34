"""The order chromosomes are shown in, by every table, figure and page that
lists them: the numbered ones by number (1, 2, ..., 19), then the X, the Y
and the mitochondrion, then any other name as text, numbers in it by
number. A "chr" before the name counts for nothing (chr10 is 10).

The prepared panel keeps the inputs' own order, which decides the files
(mosaic.csv, the R/qtl2 objects); this is how they are shown."""
import re

# after the numbered chromosomes, these in this order
NAMED = {"X": 0, "Y": 1, "M": 2, "MT": 2}
_PREFIX = re.compile(r"chr(?=.)", re.IGNORECASE)
_NUMBERS = re.compile(r"(\d+)")


def _bare(name):
    text = str(name).strip()
    return text[3:] if _PREFIX.match(text) else text


def chromosome_key(name):
    """The sort key of a chromosome's name."""
    bare = _bare(name)
    if bare.isdigit():
        return (0, int(bare), "", str(name))
    upper = bare.upper()
    if upper in NAMED:
        return (1, NAMED[upper], "", str(name))
    parts = tuple((0, int(p), "") if p.isdigit() else (1, 0, p.lower()) for p in _NUMBERS.split(bare) if p)
    return (2, 0, parts, str(name))


def in_order(chromosomes, name=lambda c: c["name"]):
    """`chromosomes` (a prepared panel's entries, or anything `name` reads a
    name from) in the order they are shown."""
    return sorted(chromosomes, key=lambda c: chromosome_key(name(c)))

"""GenomeStudio FinalReports: a `[Header]` block of `key<TAB>value` lines,
then `[Data]`, a line of column names and a tab-separated table of one row per
SNP and sample, in any order. The columns used are found by name (`SNP Name`,
`Sample ID`, or `Sample Name` where the ID is empty, and the two allele
columns of one kind, `Allele1 - Forward` and `Allele2 - Forward` by default);
the others are ignored. A file may be plain, gzip-compressed or a zip, whose
files that start with [Header] are read as reports (the SNP and sample maps a
genotyping service sends beside them are not).

The table is read a block at a time with numpy, one byte kept per call
(alleles.py) in a SNPs x samples matrix sized by the header's counts, which
the table must fill exactly: a report cut short is refused."""
import gzip
import zipfile
import zlib
from dataclasses import dataclass
from typing import List

import numpy as np

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.arrays.alleles import ALLELES, NOT_AN_ALLELE, allele_bytes, packed
from tarvel_panel.support import progress


BLOCK_SIZE = 1 << 22
SNP_COUNTS = ("Num SNPs", "Total SNPs")
SAMPLE_COUNTS = ("Num Samples", "Total Samples")
STRANDS = ("Forward", "Top", "Plus", "Design", "AB")
LONGEST_NAME = 255
HEADER_LINES = 1000
PROGRESS_EVERY = 20_000_000
GZIP_MAGIC, ZIP_MAGIC = b"\x1f\x8b", b"PK\x03\x04"
HEADER_MARK = b"[Header]"
TAB, NEWLINE = 9, 10
_ALLELE_OF_BYTE = allele_bytes()


@dataclass
class Report:
    path: str
    snps: List[str]
    samples: List[str]
    calls: np.ndarray    # uint8, snps x samples, packed (alleles.py)


def read_reports(path, strand="Forward"):
    """The reports in the file at `path`, one at a time (a zip may hold several)."""
    try:
        with open(path, "rb") as f:
            magic = f.read(4)
    except OSError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")
    if magic == ZIP_MAGIC:
        yield from _zipped_reports(path, strand)
        return
    opener = gzip.open if magic[:2] == GZIP_MAGIC else open
    with _reading(path, "gzip" if opener is gzip.open else None):
        with opener(path, "rb") as stream:
            report = _read(stream, path, strand)
    yield report


def _zipped_reports(path, strand):
    try:
        archive = zipfile.ZipFile(path)
        members = [m for m in archive.namelist() if not m.endswith("/") and not m.startswith("__MACOSX/")]
    except (zipfile.BadZipFile, OSError) as e:
        raise InputError(path, f"not a readable zip file ({e})")
    with archive:
        reports = [m for m in members if _is_report(archive, f"{path}/{m}", m)]
        if not reports:
            raise InputError(path, "the zip holds no FinalReport (no file in it starts with [Header])")
        for member in reports:
            name = f"{path}/{member}"
            with _reading(name, "zip"), archive.open(member) as stream:
                yield _read(stream, name, strand)


def _is_report(archive, name, member):
    """Whether a zip member starts as a report does."""
    with _reading(name, "zip"), archive.open(member) as stream:
        return stream.read(len(HEADER_MARK) + 3).lstrip(b"\xef\xbb\xbf").startswith(HEADER_MARK)


class _reading:
    """Read faults of a compressed stream as one line naming the file."""

    def __init__(self, name, kind):
        self.name, self.kind = name, kind

    def __enter__(self):
        return self

    def __exit__(self, kind, error, trace):
        if isinstance(error, EOFError):
            raise InputError(self.name, "truncated: the compressed data ends early")
        if isinstance(error, (zipfile.BadZipFile, zlib.error, OSError)):
            what = {"gzip": "a readable gzip file", "zip": "readable from the zip"}.get(self.kind, "readable")
            raise InputError(self.name, f"not {what} ({error})")
        return False


def _read(stream, path, strand):
    header, line = _header(stream, path)
    columns, line = _columns(stream, path, line, strand)
    table = _Table(path, header, columns)
    pending = b""
    while True:
        block = stream.read(BLOCK_SIZE)
        if not block:
            break
        pending += block
        end = pending.rfind(b"\n") + 1
        if end:
            line = table.add(pending[:end], line)
            pending = pending[end:]
    if pending.strip():
        line = table.add(pending + b"\n", line, cut=True)
    return table.report(line)


def _header(stream, path):
    """The [Header] block's values by key, and the line of [Data]."""
    first = stream.readline(LONGEST_NAME * 4)
    if not first:
        raise InputError(path, "empty file, not a FinalReport")
    if first.decode("utf-8-sig", "replace").strip().strip("\t,") != "[Header]":
        shown = first[:40].decode("utf-8-sig", "replace").strip()
        raise InputError(path, f"not a GenomeStudio FinalReport: it starts with {shown!r}, not [Header]", 1)
    values = {}
    for number in range(2, HEADER_LINES):
        raw = stream.readline(LONGEST_NAME * 4)
        if not raw:
            break
        text = _text(raw, path, number).strip()
        if text.strip("\t,") == "[Data]":
            return values, number
        key, _, value = text.partition("\t") if "\t" in text else text.partition(",")
        values[key.strip()] = (value.strip().strip("\t,"), number)
    raise InputError(path, "no [Data] line after the [Header] block: not a whole FinalReport")


def _columns(stream, path, line, strand):
    """Column numbers of the SNP, the sample (ID and name) and the two alleles."""
    raw = stream.readline(1 << 16)
    line += 1
    names = [n.strip() for n in _text(raw, path, line).rstrip("\r\n").split("\t")]
    if not raw or names == [""]:
        raise InputError(path, "no column names after [Data]", line)
    wanted = {"snp": "SNP Name", "first": f"Allele1 - {strand}", "second": f"Allele2 - {strand}"}
    columns = {"id": _column(names, "Sample ID"), "name": _column(names, "Sample Name"), "width": len(names)}
    for key, name in wanted.items():
        columns[key] = _column(names, name)
        if columns[key] is None:
            raise InputError(path, f"no column {name!r} (columns: {', '.join(names)})", line)
    if columns["id"] is None and columns["name"] is None:
        raise InputError(path, f"no column 'Sample ID' or 'Sample Name' (columns: {', '.join(names)})", line)
    return columns, line


def _column(names, name):
    return names.index(name) if name in names else None


def _text(raw, path, line):
    try:
        return raw.decode("utf-8-sig" if line == 1 else "utf-8")
    except UnicodeDecodeError:
        raise InputError(path, "not UTF-8 text", line)


def _count(header, keys, path):
    for key in keys:
        if key in header:
            text, line = header[key]
            if not text.isdigit() or int(text) == 0:
                raise InputError(path, f"{key} {text!r} is not a whole number above 0", line)
            return int(text)
    raise InputError(path, f"the [Header] block gives no {' or '.join(keys)}: the table cannot be checked")


class _Table:
    """The rows of one report's table, a block of whole lines at a time."""

    def __init__(self, path, header, columns):
        self.path, self.columns = path, columns
        self.snps = _Names(path, "SNP", SNP_COUNTS[0], _count(header, SNP_COUNTS, path))
        self.samples = _Names(path, "sample", SAMPLE_COUNTS[0], _count(header, SAMPLE_COUNTS, path))
        try:
            self.calls = np.zeros((self.snps.limit, self.samples.limit), np.uint8)
        except (MemoryError, ValueError):
            raise InputError(path, f"the header's {self.snps.limit} SNPs x {self.samples.limit} samples "
                             "are too many to hold")
        self.rows = 0
        self.shown = 0

    def add(self, data, line, cut=False):
        """Take the lines in `data` (each ending in a newline), the first of
        which is the file's line `line` + 1; returns the last line's number."""
        if b"\r" in data:
            data = data.replace(b"\r", b"")
        text = np.frombuffer(data, np.uint8)
        ends = np.flatnonzero(text == NEWLINE)
        starts = np.concatenate(([0], ends[:-1] + 1))
        numbers = np.arange(line + 1, line + 1 + len(ends))
        filled = ends > starts
        starts, ends, numbers = starts[filled], ends[filled], numbers[filled]
        if len(starts):
            fields = self._fields(text, starts, ends, numbers, cut)
            self._take(text, fields, numbers)
        return line + len(filled)

    def _fields(self, text, starts, ends, numbers, cut):
        """(start, end) of every field of every line: two arrays, lines x columns."""
        width = self.columns["width"]
        tabs = np.flatnonzero(text == TAB)
        first = np.searchsorted(tabs, starts)
        counts = np.searchsorted(tabs, ends) - first
        wrong = np.flatnonzero(counts != width - 1)
        if wrong.size:
            i = wrong[0]
            if cut and i == len(starts) - 1:
                raise InputError(self.path, "truncated: the last line ends early (no newline, "
                                 f"{counts[i] + 1} of {width} fields)", int(numbers[i]))
            raise InputError(self.path, f"{counts[i] + 1} fields where the column names are {width}",
                             int(numbers[i]))
        inner = tabs[first[:, None] + np.arange(width - 1)]
        return np.column_stack((starts, inner + 1)), np.column_stack((inner, ends))

    def _take(self, text, fields, numbers):
        begin, end = fields
        c = self.columns
        first = self._alleles(text, begin[:, c["first"]], end[:, c["first"]], numbers, "Allele1")
        second = self._alleles(text, begin[:, c["second"]], end[:, c["second"]], numbers, "Allele2")
        snps = _strings(text, begin[:, c["snp"]], end[:, c["snp"]], numbers, self.path, "SNP Name")
        rows = self.snps.numbers(snps, numbers)
        sample_begin, sample_end = self._sample_fields(begin, end, numbers)
        cols = self.samples.numbers(_strings(text, sample_begin, sample_end, numbers, self.path, "Sample ID"), numbers)
        self.calls[rows, cols] = packed(first, second)
        self.rows += len(rows)
        if self.rows // PROGRESS_EVERY > self.shown:
            self.shown = self.rows // PROGRESS_EVERY
            progress.say(f"prepare: {self.path}: {self.rows:,} rows read")

    def _alleles(self, text, begin, end, numbers, which):
        values = _ALLELE_OF_BYTE[text[np.minimum(begin, len(text) - 1)]]
        bad = np.flatnonzero((end - begin != 1) | (values == NOT_AN_ALLELE))
        if bad.size:
            i = bad[0]
            shown = bytes(text[begin[i]:end[i]]).decode("utf-8", "replace")
            raise InputError(self.path, f"{which} {shown!r} is not one of {', '.join(ALLELES)}", int(numbers[i]))
        return values

    def _sample_fields(self, begin, end, numbers):
        """The Sample ID field, or the Sample Name field where the ID is empty."""
        c = self.columns
        if c["id"] is None:
            return begin[:, c["name"]], end[:, c["name"]]
        sample_begin, sample_end = begin[:, c["id"]].copy(), end[:, c["id"]].copy()
        empty = sample_begin == sample_end
        if c["name"] is not None and empty.any():
            sample_begin[empty], sample_end[empty] = begin[empty, c["name"]], end[empty, c["name"]]
            empty = sample_begin == sample_end
        if empty.any():
            raise InputError(self.path, "no Sample ID (nor Sample Name) in this row", int(numbers[np.argmax(empty)]))
        return sample_begin, sample_end

    def report(self, last_line):
        snps, samples = self.snps.limit, self.samples.limit
        if self.rows < snps * samples:
            raise InputError(self.path, f"truncated: the header gives {snps:,} SNPs x {samples:,} samples, "
                             f"{snps * samples:,} rows, but the table ends after {self.rows:,} (line {last_line})")
        if self.rows > snps * samples:
            raise InputError(self.path, f"{self.rows:,} rows where the header gives {snps:,} SNPs x {samples:,} "
                             f"samples, {snps * samples:,} rows (a row repeated?)")
        empty = np.argwhere(self.calls == 0)
        if len(empty):
            snp, sample = empty[0]
            raise InputError(self.path, f"no row for SNP {self.snps.names[snp]!r} of sample "
                             f"{self.samples.names[sample]!r}, while another row comes twice")
        return Report(self.path, self.snps.names, self.samples.names, self.calls)


def _strings(text, begin, end, numbers, path, column):
    """The fields at begin:end (none empty) as a numpy bytes array."""
    lengths = end - begin
    width = int(lengths.max())
    if width > LONGEST_NAME:
        raise InputError(path, f"{column} of {width} characters (at most {LONGEST_NAME})",
                         int(numbers[np.argmax(lengths)]))
    if not lengths.all():
        raise InputError(path, f"no {column} in this row", int(numbers[np.argmin(lengths)]))
    offsets = np.arange(width)
    index = np.minimum(begin[:, None] + offsets, len(text) - 1)
    chars = np.where(offsets < lengths[:, None], text[index], 0).astype(np.uint8)
    return chars.view(f"S{width}").ravel()


class _Names:
    """Names as numbers 0, 1, ... in the order they first come, at most
    `limit` of them; the names known so far are kept sorted, so that a block's
    names are looked up at once and only new ones one by one."""

    def __init__(self, path, what, key, limit):
        self.path, self.what, self.key, self.limit = path, what, key, limit
        self.names = []
        self._sorted = np.zeros(0, "S1")
        self._numbers = np.zeros(0, np.int64)   # the number of each name in _sorted

    def numbers(self, keys, lines):
        if len(keys) > 1:   # the rows of a sample (or of a SNP) come together: number each run once
            starts = np.concatenate(([0], np.flatnonzero(keys[1:] != keys[:-1]) + 1))
        else:
            starts = np.zeros(1, np.int64)
        heads, first, inverse = np.unique(keys[starts], return_index=True, return_inverse=True)
        numbers = self._known(heads)
        new = np.flatnonzero(numbers < 0)
        if new.size:
            for i in new[np.argsort(first[new], kind="stable")].tolist():
                numbers[i] = self._add(heads[i].tobytes().rstrip(b"\0"), lines[starts[first[i]]])
            self._insert(heads[new], numbers[new])
        return np.repeat(numbers[inverse], np.diff(np.concatenate((starts, [len(keys)]))))

    def _known(self, heads):
        """The number of each of the sorted `heads`, -1 for a new one."""
        if not len(self._sorted):
            return np.full(len(heads), -1, np.int64)
        heads = self._widened(heads)
        at = np.minimum(np.searchsorted(self._sorted, heads), len(self._sorted) - 1)
        return np.where(self._sorted[at] == heads, self._numbers[at], -1)

    def _widened(self, heads):
        """`heads` as wide as the known names, which widen to them where they are wider."""
        width = max(heads.dtype.itemsize, self._sorted.dtype.itemsize)
        self._sorted = self._sorted.astype(f"S{width}", copy=False)
        return heads.astype(f"S{width}", copy=False)

    def _insert(self, keys, numbers):
        keys = self._widened(keys)
        at = np.searchsorted(self._sorted, keys)
        self._sorted, self._numbers = np.insert(self._sorted, at, keys), np.insert(self._numbers, at, numbers)

    def _add(self, key, line):
        line = int(line)
        if len(self.names) == self.limit:
            raise InputError(self.path, f"more {self.what}s than the header's {self.key}, "
                             f"{self.limit} ({self.what} {key.decode('utf-8', 'replace')!r})", line)
        try:
            self.names.append(key.decode("utf-8"))
        except UnicodeDecodeError:
            raise InputError(self.path, f"{self.what} name {key!r} is not UTF-8 text", line)
        return len(self.names) - 1

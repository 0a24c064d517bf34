"""The CSV files of an R/qtl2 cross: lines starting with the comment
character are skipped, the first other line is the header, the first column
holds the ids (markers or individuals). A file comes as pieces of text
(qtl2_files.text_chunks) and is read a piece at a time: a table of names
keeps the columns asked for as lists, a table of genotype codes two bits per
call."""
import csv
import sys
from array import array
from dataclasses import dataclass
from itertools import chain, islice
from operator import itemgetter
from typing import List, Optional, Tuple

import numpy as np

from tarvel_panel.errors import InputError
from tarvel_panel.panel.model import pack_calls


# the byte of a field that is none of the codes (read_codes)
UNKNOWN = 254
# lines of a piece of text turned into fields or calls at once
ROWS_AT_ONCE = 2048


@dataclass
class Table:
    path: str            # as shown in messages
    header: List[str]    # column names after the id column
    header_line: int
    ids: List[str]       # first column of every row
    columns: List[Optional[List[str]]]  # the other columns, one list each (None: not kept)
    lines: array         # line number of every row

    @property
    def rows(self):
        """The fields after the id, row by row, of the columns kept."""
        kept = [c for c in self.columns if c is not None]
        return list(zip(*kept)) if kept else [()] * len(self.ids)


@dataclass
class CodedTable:
    path: str
    header: List[str]
    header_line: int
    ids: List[str]
    lines: array
    codes: np.ndarray    # uint8: each row's calls at two bits each, four to a byte (read with model.unpack_calls())
    unknown: Optional[Tuple[int, List[str]]]  # (line, fields after the id) of the first row with a non-code


def read_table(chunks, path, sep=",", comment="#", keep=None):
    """A table of names. `keep(header)`: the numbers of the columns after
    the id that are kept (default all); the others are checked for their
    number of fields only, so a table of a million columns holds the few
    that are used."""
    def read():
        table = Table(path, None, None, [], None, array("l"))
        for lines, numbers, plain in _header_first(_pieces(chunks, comment, sep), table, sep):
            if table.columns is None:
                kept = set(range(len(table.header)) if keep is None else keep(table.header))
                table.columns = [[] if i in kept else None for i in range(len(table.header))]
            for part, row_numbers in _slices(lines, numbers):
                rows = _split_rows(part, row_numbers, plain, table, sep)
                table.ids.extend(map(sys.intern, map(itemgetter(0), rows)))
                for i, column in enumerate(table.columns, 1):
                    if column is not None:
                        column.extend(map(itemgetter(i), rows))
                table.lines.extend(row_numbers)
        return _checked(table)
    return _whole_file_first(chunks, read)


def read_codes(chunks, path, sep, comment, codes):
    """A table whose fields after the id are genotype codes; `codes` maps
    each code to 0, 1, 2 or NO_CALL."""
    def read():
        table = CodedTable(path, None, None, [], array("l"), None, None)
        coder = None
        for lines, numbers, plain in _header_first(_pieces(chunks, comment, sep), table, sep):
            coder = coder or _Coder(codes, table, sep)
            for part, row_numbers in _slices(lines, numbers):
                if not (plain and coder.single_characters(part, row_numbers)):
                    coder.fields(_split_rows(part, row_numbers, plain, table, sep), row_numbers)
        _checked(table)
        table.codes = coder.matrix()
        return table
    return _whole_file_first(chunks, read)


class _Coder:
    """The rows of a table of codes turned into calls, packed into one buffer."""

    def __init__(self, codes, table, sep):
        self.table, self.sep = table, sep
        self.width = len(table.header)
        self.codes = _Codes(codes)
        self.by_character = np.full(128, UNKNOWN, np.uint8)
        for byte in range(128):
            self.by_character[byte] = self.codes[chr(byte).strip()]
        self.buffer = bytearray()

    def single_characters(self, lines, numbers):
        """Lines of plain text whose fields after the id are all single
        characters, coded at once; False (nothing taken) for any other."""
        if len(self.sep) != 1 or not self.width:
            return False
        span = 2 * self.width - 1
        parts = [line.partition(self.sep) for line in lines]
        rests = [part[2] for part in parts]
        if any(len(rest) != span for rest in rests):
            return False
        text = np.frombuffer("".join(rests).encode("ascii"), np.uint8).reshape(len(rests), span)
        sep = ord(self.sep)
        if not (text[:, 1::2] == sep).all() or (text[:, ::2] == sep).any():
            return False
        self.table.ids.extend(sys.intern(part[0]) for part in parts)
        self.table.lines.extend(numbers)
        self._add(self.by_character[text[:, ::2]], numbers, lambda i: lines[i].split(self.sep)[1:])
        return True

    def fields(self, rows, numbers):
        self.table.ids.extend(sys.intern(row[0]) for row in rows)
        self.table.lines.extend(numbers)
        coded = bytes(map(self.codes.__getitem__, chain.from_iterable(islice(row, 1, None) for row in rows)))
        self._add(np.frombuffer(coded, np.uint8).reshape(len(rows), self.width), numbers, lambda i: rows[i][1:])

    def _add(self, coded, numbers, fields_of):
        """Rows of calls, one byte each, UNKNOWN for a field that is no code."""
        if self.table.unknown is None:
            unknown = np.flatnonzero((coded == UNKNOWN).any(axis=1))
            if unknown.size:
                self.table.unknown = (numbers[unknown[0]], fields_of(unknown[0]))
        self.buffer += pack_calls(coded).tobytes()

    def matrix(self):
        return np.frombuffer(self.buffer, np.uint8).reshape(len(self.table.ids), -(-self.width // 4))


class _Codes(dict):
    def __missing__(self, key):
        return UNKNOWN


def _whole_file_first(chunks, read):
    """read() from `chunks`; when it finds a fault, the rest of the file is
    still read, so that a file that is not text says so first."""
    try:
        return read()
    except InputError:
        for _ in chunks:
            pass
        raise


def _pieces(chunks, comment, sep):
    """(lines, their numbers, plain) for each piece of text: the lines that
    are neither blank nor comments; plain when they are ASCII and hold
    nothing that quoting or stripping of fields would change."""
    odd = _odd(sep)
    number = 0
    for chunk in chunks:
        if chunk.count("\n") == len(chunk):   # empty lines only, however many: one per line end
            number += len(chunk)
            continue
        if chunk.isspace():
            number += len(chunk.splitlines())
            continue
        lines = chunk.splitlines()
        numbers = range(number + 1, number + len(lines) + 1)
        number += len(lines)
        lead = 0   # comments come first, as a rule: these need no search
        while lead < len(lines) and _skipped(lines[lead], comment):
            lead += 1
        lines, numbers = lines[lead:], numbers[lead:]
        text = "\n".join(lines)
        if (comment and comment in text) or "" in lines or not _plain(text, odd):
            kept = [(n, line) for n, line in zip(numbers, lines) if not _skipped(line, comment)]
            numbers, lines = [n for n, _ in kept], [line for _, line in kept]
            text = "\n".join(lines)
        yield lines, numbers, _plain(text, odd)


def _odd(sep):
    """The characters that quoting or stripping of fields with `sep` heeds."""
    return '"' + "".join(c for c in " \t\x1f" if c != sep)


def _skipped(line, comment):
    return not line.strip() or bool(comment and line.startswith(comment))


def _plain(text, odd):
    return text.isascii() and not any(c in text for c in odd)


def _header_first(pieces, table, sep):
    """The pieces after the header, which is set on `table`."""
    for lines, numbers, plain in pieces:
        if table.header is None and lines:
            header = _split(lines[0], sep)
            if len(set(header)) != len(header):
                twice = next(h for h in header if header.count(h) > 1)
                raise InputError(table.path, f"column '{twice}' appears twice in the header", numbers[0])
            table.header, table.header_line = header[1:], numbers[0]
            lines, numbers = lines[1:], numbers[1:]
            plain = _plain("\n".join(lines), _odd(sep))   # whatever the header holds
        if lines:
            yield lines, numbers, plain


def _slices(lines, numbers):
    for start in range(0, len(lines), ROWS_AT_ONCE):
        yield lines[start:start + ROWS_AT_ONCE], numbers[start:start + ROWS_AT_ONCE]


def _split_rows(lines, numbers, plain, table, sep):
    """The lines split into fields, each row checked to have the header's
    number of fields."""
    width = len(table.header) + 1
    rows = [line.split(sep) for line in lines] if plain else [_split(line, sep) for line in lines]
    if set(map(len, rows)) != {width}:
        row, number = next((row, n) for row, n in zip(rows, numbers) if len(row) != width)
        raise InputError(table.path, f"{len(row)} fields where the header has {width}", number)
    return rows


def _checked(table):
    if table.header is None:
        raise InputError(table.path, "no header line (the file is empty or only comments)")
    if not table.ids:
        raise InputError(table.path, "the file has no data rows, only a header line", table.header_line)
    return table


def _split(line, sep):
    if '"' in line and len(sep) == 1:
        return [f.strip() for f in next(csv.reader([line], delimiter=sep))]
    return [f.strip() for f in line.split(sep)]

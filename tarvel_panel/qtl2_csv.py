"""The CSV files of an R/qtl2 cross: lines starting with the comment
character are skipped, the first other line is the header, the first column
holds the ids (markers or individuals)."""
import csv
from dataclasses import dataclass
from typing import List

from .errors import InputError


@dataclass
class Table:
    path: str            # as shown in messages
    header: List[str]    # column names after the id column
    header_line: int
    ids: List[str]       # first column of every row
    rows: List[List[str]]  # the other columns
    lines: List[int]     # line number of every row


def read_table(text, path, sep=",", comment="#"):
    header, header_line = None, None
    ids, rows, lines = [], [], []
    for number, line in enumerate(text.splitlines(), 1):
        if not line.strip() or (comment and line.startswith(comment)):
            continue
        fields = _split(line, sep)
        if header is None:
            header, header_line = fields, number
            if len(set(header)) != len(header):
                twice = next(h for h in header if header.count(h) > 1)
                raise InputError(path, f"column '{twice}' appears twice in the header", number)
            continue
        if len(fields) != len(header):
            raise InputError(path, f"{len(fields)} fields where the header has {len(header)}", number)
        ids.append(fields[0])
        rows.append(fields[1:])
        lines.append(number)
    if header is None:
        raise InputError(path, "no header line (the file is empty or only comments)")
    if not ids:
        raise InputError(path, "the file has no data rows, only a header line", header_line)
    return Table(path, header[1:], header_line, ids, rows, lines)


def _split(line, sep):
    if '"' in line and len(sep) == 1:
        return [f.strip() for f in next(csv.reader([line], delimiter=sep))]
    return [f.strip() for f in line.split(sep)]

"""Genotype calls of individuals (strains or founders) at markers, gathered
from one or more R/qtl2 tables of codes (tables.read_codes)."""
from bisect import bisect_right
from itertools import islice

import numpy as np

from tarvel_panel.errors import InputError
from tarvel_panel.panel.model import NO_CALL, unpack_calls


def code_bytes(coder):
    """`coder` (code -> 0, 1, 2 or None) as read_codes takes it: NO_CALL for None."""
    return {code: NO_CALL if value is None else value for code, value in coder.items()}


class Calls:
    """Coded calls of individuals at markers, gathered from one or more
    tables: transposed tables have markers as rows, others individuals."""

    def __init__(self, tables, transposed, coder, kind):
        self.tables = tables
        self.individuals = []
        self.origin = {}      # individual -> (path, line) where it first appears
        self._where = {}      # marker -> its number among the markers of all tables
        self._starts = []     # number of the first marker of each table
        self._index = {}      # individual -> {table index: row or column index}
        for t, table in enumerate(tables):
            _check_known(table, coder, kind)
            markers, individuals = (table.ids, table.header) if transposed else (table.header, table.ids)
            start = len(self._where)
            self._starts.append(start)
            self._where.update(zip(markers, range(start, start + len(markers))))
            if len(self._where) != start + len(markers):
                i = _first_repeat(markers, set(islice(self._where, start)))
                raise InputError(table.path, f"duplicate marker '{markers[i]}'",
                                 table.lines[i] if transposed else table.header_line)
            for i, name in enumerate(individuals):
                line = table.header_line if transposed else table.lines[i]
                per_table = self._index.setdefault(name, {})
                if t in per_table:
                    raise InputError(table.path, f"{kind} '{name}' appears twice", line)
                per_table[t] = i
                if name not in self.origin:
                    self.origin[name] = (table.path, line)
                    self.individuals.append(name)
        self._transposed = transposed
        self.has = self._where.__contains__   # marker -> bool, asked for every marker of the maps

    def markers(self):
        """Every marker, in the order of the tables."""
        return list(self._where)

    def table_of(self, marker):
        return self.tables[bisect_right(self._starts, self._where[marker]) - 1]

    def numbers(self, markers):
        """Each marker's number among all tables' markers, as calls() takes them."""
        return np.fromiter(map(self._where.__getitem__, markers), np.int64, len(markers))

    def forget_markers(self):
        """Drop the lookup of markers by name once every chromosome has its
        markers' numbers: for a million markers, some tens of megabytes."""
        self._where = self.has = None

    def calls(self, individuals, markers):
        """uint8, markers x individuals: the coded calls (NO_CALL where an
        individual is not typed) at `markers`, names or numbers()."""
        number = markers if isinstance(markers, np.ndarray) else self.numbers(markers)
        table_of = np.searchsorted(self._starts, number, side="right") - 1
        result = np.full((len(markers), len(individuals)), NO_CALL, np.uint8)
        for t, table in enumerate(self.tables):
            rows = np.flatnonzero(table_of == t)
            typed = [(j, self._index[name][t]) for j, name in enumerate(individuals)
                     if t in self._index.get(name, {})]
            if not rows.size or not typed:
                continue
            columns, index = (np.array(x, np.int64) for x in zip(*typed))
            local = number[rows] - self._starts[t]
            block = unpack_calls(table.codes, local, index) if self._transposed else unpack_calls(table.codes, index, local).T
            result[np.ix_(rows, columns)] = block
        return result


def _first_repeat(markers, earlier):
    """The index of the first of `markers` that is in `earlier` or comes twice."""
    seen = set(earlier)
    for i, marker in enumerate(markers):
        if marker in seen:
            return i
        seen.add(marker)


def _check_known(table, coder, kind):
    if table.unknown is None:
        return
    line, row = table.unknown
    column = next(i for i, v in enumerate(row) if v not in coder)
    raise InputError(table.path, f"unknown genotype code '{row[column]}' in column "
                     f"'{table.header[column]}' of the {kind} genotypes "
                     f"(known: {', '.join(sorted(coder))})", line)

"""Genotype calls of individuals (strains or founders) at markers, gathered
from one or more R/qtl2 tables and coded as they are read."""
from .errors import InputError


class Calls:
    """Coded calls of individuals at markers, gathered from one or more
    tables: transposed tables have markers as rows, others individuals."""

    def __init__(self, tables, transposed, coder, kind):
        self.tables = tables
        self.individuals = []
        self.origin = {}      # individual -> (path, line) where it first appears
        self._where = {}      # marker -> (table index, row or column index)
        self._index = {}      # individual -> {table index: row or column index}
        self._coded = []
        for t, table in enumerate(tables):
            self._coded.append(code_rows(table, coder, kind))
            markers, individuals = (table.ids, table.header) if transposed else (table.header, table.ids)
            lines = table.lines if transposed else [table.header_line] * len(table.header)
            for i, marker in enumerate(markers):
                if marker in self._where:
                    raise InputError(table.path, f"duplicate marker '{marker}'", lines[i])
                self._where[marker] = (t, i)
            ind_lines = [table.header_line] * len(table.header) if transposed else table.lines
            for i, name in enumerate(individuals):
                per_table = self._index.setdefault(name, {})
                if t in per_table:
                    raise InputError(table.path, f"{kind} '{name}' appears twice", ind_lines[i])
                per_table[t] = i
                if name not in self.origin:
                    self.origin[name] = (table.path, ind_lines[i])
                    self.individuals.append(name)
        self._transposed = transposed

    def has(self, marker):
        return marker in self._where

    def markers(self):
        """Every marker, in the order of the tables."""
        return list(self._where)

    def table_of(self, marker):
        return self.tables[self._where[marker][0]]

    def calls(self, individual, markers):
        """The individual's coded calls at `markers` (None where untyped)."""
        per_table = self._index.get(individual, {})
        result = []
        for marker in markers:
            t, m = self._where[marker]
            i = per_table.get(t)
            if i is None:
                result.append(None)
            elif self._transposed:
                result.append(self._coded[t][m][i])
            else:
                result.append(self._coded[t][i][m])
        return result


def code_rows(table, coder, kind):
    coded = []
    for row, line in zip(table.rows, table.lines):
        try:
            coded.append([coder[v] for v in row])
        except KeyError:
            column = next(i for i, v in enumerate(row) if v not in coder)
            raise InputError(table.path, f"unknown genotype code '{row[column]}' in column "
                             f"'{table.header[column]}' of the {kind} genotypes "
                             f"(known: {', '.join(sorted(coder))})", line)
    return coded

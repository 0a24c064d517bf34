"""The CSV tables of the array route (annotation, sample table, founder
genotypes, allele codes): a header line, then rows of as many fields; lines
that are blank or start with "#" are skipped. A table may be
gzip-compressed and start with a UTF-8 byte-order mark."""
import csv
import gzip
import zlib

from tarvel_panel.errors import InputError


GZIP_MAGIC = b"\x1f\x8b"
MISSING = ("", "NA", "na", "NaN", "nan", "-", ".")


class CsvTable:
    def __init__(self, path, what):
        self.path, self.what = str(path), what
        self._lines = self._numbered_lines()
        for number, line in self._lines:
            self.header, self.header_line = [h.strip() for h in _split(line)], number
            break
        else:
            raise InputError(self.path, f"empty {what}: no header line")
        self._found = False

    def _numbered_lines(self):
        try:
            with open(self.path, "rb") as f:
                compressed = f.read(2) == GZIP_MAGIC
            stream = gzip.open(self.path, "rt", encoding="utf-8-sig") if compressed else \
                open(self.path, encoding="utf-8-sig", newline="")
        except OSError as e:
            raise InputError(self.path, f"cannot read the {self.what} ({e.strerror})")
        return self._lines_of(stream)

    def _lines_of(self, stream):
        number = 0
        try:
            with stream:
                for number, line in enumerate(stream, 1):
                    line = line.rstrip("\r\n")
                    if line.strip() and not line.startswith("#"):
                        yield number, line
        except UnicodeDecodeError:
            raise InputError(self.path, f"not UTF-8 text (after line {number})")
        except (EOFError, OSError, zlib.error) as e:
            raise InputError(self.path, f"not a readable gzip file ({e})")

    def column(self, name, key=None):
        """The number of the column `name`; `key`: the config key naming it."""
        if name in self.header:
            return self.header.index(name)
        given = f" (the config's {key})" if key else ""
        raise InputError(self.path, f"no column {name!r}{given}; the columns are {', '.join(self.header)}",
                         self.header_line)

    def optional_column(self, name):
        return self.header.index(name) if name in self.header else None

    def rows(self):
        """(line, fields) of every row, each with the header's number of fields."""
        width = len(self.header)
        for number, line in self._lines:
            fields = _split(line)
            if len(fields) != width:
                raise InputError(self.path, f"{len(fields)} fields where the header has {width}", number)
            self._found = True
            yield number, fields
        if not self._found:
            raise InputError(self.path, f"the {self.what} has no rows, only a header line", self.header_line)


def _split(line):
    if '"' in line:
        return [f.strip() for f in next(csv.reader([line]))]
    return [f.strip() for f in line.split(",")]


def missing(text):
    return text in MISSING

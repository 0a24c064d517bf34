"""The one reader of a prepared panel (OUT/prepared, written by prepare.py):
panel.json, each chromosome's markers.tsv, and lookups of chromosomes and
strains by safe name or by name. Every step, the Snakefile and the tests read
the prepared panel through here, so a missing or damaged one is said the same
way everywhere."""
import functools
import json
import os


from tarvel_panel import paths
from tarvel_panel.errors import InputError
from tarvel_panel.near_names import did_you_mean
from tarvel_panel.panel.model import NO_CALL


MAPS = ("pmap", "gmap")
# characters of markers.tsv split at a time, bytes of it searched at a time
TEXT_AT_ONCE = 1 << 22
SEARCHED_BYTES = 1 << 24


class TextColumn:
    """A column of texts (marker names, positions as written) held as one
    string and the offsets of its texts, so a million of them take about
    their length plus eight bytes each, not a Python string each. Reads like
    a list of texts: len, column[i], column[a:b] (a list), iteration, and ==
    against a list. Texts hold no line end (markers.tsv has none in a field)."""

    AT_ONCE = 1 << 16

    def __init__(self, blocks=()):
        """`blocks`: sequences of texts, joined in order."""
        import numpy as np
        joined, lengths = [], []
        for texts in blocks:
            if len(texts):
                joined.append("\n".join(texts))
                lengths.append(np.fromiter(map(len, texts), np.int64, len(texts)) + 1)
        self.text = "\n".join(joined)
        self.starts = np.concatenate([[0]] + lengths).cumsum() if lengths else np.zeros(1, np.int64)

    @classmethod
    def joined(cls, columns):
        """The TextColumns one after another, as one."""
        import numpy as np
        column = cls()
        columns = [c for c in columns if len(c)]
        column.text = "\n".join(c.text for c in columns)
        column.starts = np.concatenate([[0]] + [np.diff(c.starts) for c in columns]).cumsum()
        return column

    def __len__(self):
        return len(self.starts) - 1

    def __getitem__(self, index):
        if isinstance(index, slice):
            first, stop, step = index.indices(len(self))
            if step != 1:
                return [self[i] for i in range(first, stop, step)]
            if stop <= first:
                return []
            return self.text[self.starts[first]:self.starts[stop] - 1].split("\n")
        i = range(len(self))[index]
        return self.text[self.starts[i]:self.starts[i + 1] - 1]

    def __iter__(self):
        for first in range(0, len(self), self.AT_ONCE):
            yield from self[first:first + self.AT_ONCE]

    def __eq__(self, other):
        if isinstance(other, TextColumn):
            import numpy as np
            return self.text == other.text and np.array_equal(self.starts, other.starts)
        return len(self) == len(other) and all(a == b for a, b in zip(self, other))

    __hash__ = None

    def __repr__(self):
        return f"TextColumn({len(self)} texts)"


class Markers:
    """A prepared chromosome's markers.tsv: names, the position texts given to
    TARVEL (TextColumns), and the physical (Mbp) and genetic (cM) maps where
    every marker has them (float64 arrays). The file is taken a block of
    lines at a time, so no column is held as a string per marker."""

    def __init__(self, path):
        import numpy as np
        try:
            with open(path, encoding="utf-8") as f:
                header = f.readline()
                if not header:
                    raise ValueError("an empty file")
                header = header.rstrip("\n").split("\t")
                columns = {name: [] for name in header}
                # a map column's numbers, block by block; None once a marker lacks it
                maps = {m: [] for m in MAPS if m in columns}
                for lines in iter(lambda: f.readlines(TEXT_AT_ONCE), []):
                    rows = [line.rstrip("\n").split("\t") for line in lines]
                    rows = [row if len(row) == len(header) else (row + [""] * len(header))[:len(header)]
                            for row in rows]
                    for name, values in zip(header, zip(*rows)):
                        if name in maps:
                            if maps[name] is not None:
                                maps[name] = maps[name] + [np.array([float(v) for v in values])] \
                                    if all(values) else None
                        else:
                            columns[name].append(TextColumn([values]))
        except (OSError, ValueError) as e:
            raise InputError(path, f"cannot read the prepared markers ({getattr(e, 'strerror', None) or e})")
        if "marker" not in columns or "pos" not in columns:
            raise InputError(path, "not a markers table prepare wrote (no marker and pos columns)")
        self.names, self.pos = TextColumn.joined(columns["marker"]), TextColumn.joined(columns["pos"])
        self.maps = {m: np.concatenate(blocks) if blocks else np.empty(0)
                     for m, blocks in maps.items() if blocks is not None}

    def __len__(self):
        return len(self.names)


def maps_given(path):
    """The maps that every marker of a markers.tsv prepare wrote has: its
    columns are marker, pos, pmap, gmap, only the maps can be empty, so an
    empty pmap shows as two tabs in a row and an empty gmap as a tab that
    ends a line."""
    empty_pmap = empty_gmap = False
    try:
        with open(path, "rb") as f:
            header = f.readline()
            if header.rstrip(b"\n").split(b"\t") != [b"marker", b"pos", b"pmap", b"gmap"]:
                return list(Markers(path).maps)   # not in the layout searched here: read it
            tail = b""
            for block in iter(lambda: f.read(SEARCHED_BYTES), b""):
                block = tail + block
                empty_pmap = empty_pmap or b"\t\t" in block
                empty_gmap = empty_gmap or b"\t\n" in block
                tail = block[-1:]
            empty_gmap = empty_gmap or tail == b"\t"
    except OSError as e:
        raise InputError(path, f"cannot read the prepared markers ({e.strerror})")
    return [m for m, empty in zip(MAPS, (empty_pmap, empty_gmap)) if not empty]


class PreparedPanel:
    """prepared/panel.json of one output folder, as dictionaries: `founders`
    (the names shown), `alleles`, `pos_unit`, `strains` and `chromosomes`
    (each with its `name` and `safe` name)."""

    def __init__(self, out, data):
        self.out, self.data = out, data
        self.path = paths.panel_file(out)
        self.prepared = paths.prepared_dir(out)
        try:
            self.founders = [str(n) for n in data["founders"]]
            self.alleles = [str(a) for a in data.get("alleles") or data["founders"]]
            self.pos_unit = data["pos_unit"]
            self.strains = list(data["strains"])
            self.chromosomes = list(data["chromosomes"])
            for entry in self.strains + self.chromosomes:
                entry.setdefault("safe", str(entry["name"]))
        except (KeyError, TypeError) as e:
            raise InputError(self.path, f"not a panel description the workflow wrote (no {e})")
        if len(self.founders) != 8:
            raise InputError(self.path, f"{len(self.founders)} founder names, 8 expected")

    @property
    def site_stats(self):
        return self.data.get("site_stats", {})

    def chromosome_safes(self):
        return [c["safe"] for c in self.chromosomes]

    def chromosome(self, safe):
        """The chromosome whose safe name is `safe` (a workflow wildcard)."""
        for c in self.chromosomes:
            if c["safe"] == safe:
                return c
        raise InputError(self.path, f"no chromosome with the file name chr{safe}")

    def find_chromosome(self, name):
        """The chromosome a user names, by its name or its safe name."""
        return _find(self.chromosomes, name, "chromosome", self.path)

    def find_strain(self, name):
        """The strain a user names, by its name or its safe name."""
        return _find(self.strains, name, "strain", self.path)

    def markers(self, safe):
        return Markers(paths.markers_file(self.prepared, safe))

    def founder_alleles(self, safe):
        """uint8 [markers, 8] of the chromosome's founders.txt: 0/1, NO_CALL untyped."""
        return read_founder_alleles(os.path.join(paths.chromosome_dir(self.prepared, safe), "founders.txt"),
                                    self.markers_count(safe))

    def strain_calls(self, chrom_safe, strain_safe):
        """uint8 [markers] of a strain's strain.txt on one chromosome: 0/1/2,
        NO_CALL for N (the calls TARVEL was given, masked where prepare masked them)."""
        path = os.path.join(paths.job_dir(self.prepared, chrom_safe, strain_safe), "strain.txt")
        return read_strain_calls(path, self.markers_count(chrom_safe))

    def markers_count(self, safe):
        return self.chromosome(safe)["markers"]

    def total_markers(self):
        return sum(c["markers"] for c in self.chromosomes)

    def maps_everywhere(self):
        """The maps (pmap, gmap) that every marker of the panel has (the
        Snakefile asks while it builds its jobs: markers.tsv is searched,
        not read into lists)."""
        maps = list(MAPS)
        for safe in self.chromosome_safes():
            have = maps_given(paths.markers_file(self.prepared, safe))
            maps = [m for m in maps if m in have]
        return maps


_FOUNDER_CODES = {"0": 0, "1": 1, "-1": NO_CALL}


def read_founder_alleles(path, markers):
    """A founders.txt as prepare writes it: one line of eight codes per marker."""
    try:
        with open(path, encoding="ascii") as f:
            lines = f.read().splitlines()
    except (OSError, ValueError) as e:
        raise InputError(path, f"cannot read the prepared founders ({getattr(e, 'strerror', None) or e})")
    if len(lines) != markers:
        raise InputError(path, f"{len(lines)} lines, the prepared panel has {markers} markers")
    import numpy as np
    alleles = np.empty((markers, 8), np.uint8)
    rows = {}
    for n, line in enumerate(lines):
        row = rows.get(line)
        if row is None:
            codes = line.split()
            if len(codes) != 8 or any(c not in _FOUNDER_CODES for c in codes):
                raise InputError(path, "not a founder line prepare wrote", n + 1)
            row = rows[line] = [_FOUNDER_CODES[c] for c in codes]
        alleles[n] = row
    return alleles


@functools.lru_cache(maxsize=None)
def _call_codes():
    import numpy as np
    codes = np.full(256, 254, np.uint8)
    codes[[ord("0"), ord("1"), ord("2"), ord("N")]] = [0, 1, 2, NO_CALL]
    return codes


def read_strain_calls(path, markers):
    """A strain.txt as prepare writes it: one character 0, 1, 2 or N and a
    line end per marker."""
    import numpy as np
    try:
        data = np.fromfile(path, dtype=np.uint8)
    except OSError as e:
        raise InputError(path, f"cannot read the prepared calls ({e.strerror})")
    if len(data) != 2 * markers or np.any(data[1::2] != ord("\n")):
        raise InputError(path, f"not the calls prepare wrote for {markers} markers")
    calls = _call_codes()[data[::2]]
    if np.any(calls == 254):
        raise InputError(path, "a call that is not 0, 1, 2 or N", int(np.argmax(calls == 254)) + 1)
    return calls


def _find(entries, name, what, path):
    found = [e for e in entries if e["name"] == name] or [e for e in entries if e["safe"] == name]
    if found:
        return found[0]
    names = [str(e["name"]) for e in entries]
    shown = ", ".join(names[:20]) + (", ..." if len(names) > 20 else "")
    raise InputError(path, f"no {what} {name!r} in this panel ({what}s: {shown}){did_you_mean(name, names)}")


_CACHE = {}


def read_prepared(out):
    """The prepared panel of the output folder `out`; read again only when
    panel.json has changed."""
    path = paths.panel_file(out)
    try:
        stamp = os.stat(path).st_mtime_ns
    except OSError as e:
        raise InputError(path, f"cannot read the panel description ({e.strerror}): "
                         "is this the workflow's output folder, and has the panel been prepared?")
    key = (os.path.abspath(path), stamp)
    if key not in _CACHE:
        try:
            with open(path, encoding="utf-8") as f:
                data = json.load(f)
        except OSError as e:
            raise InputError(path, f"cannot read the panel description ({e.strerror})")
        except (ValueError, RecursionError) as e:
            raise InputError(path, f"not a panel description the workflow wrote ({e})")
        if not isinstance(data, dict):
            raise InputError(path, "not a panel description the workflow wrote (not a JSON object)")
        _CACHE.clear()
        _CACHE[key] = PreparedPanel(out, data)
    return _CACHE[key]


def read_job(job_dir):
    """A prepared run's job.json."""
    path = os.path.join(job_dir, "job.json")
    try:
        with open(path, encoding="utf-8") as f:
            return json.load(f)
    except (OSError, ValueError) as e:
        raise InputError(path, f"cannot read the prepared job ({getattr(e, 'strerror', None) or e})")

"""Agreement with a reference: a previous output folder of this workflow
(e.g. the published strains run through it). Each strain is compared with
its namesake there (a sample with the strain it is a sample of), on the
chromosomes and markers both panels have by name: the share of that length
where the two most probable founder pairs are the same. Founders are matched
by name, so the two panels may list them in different orders."""
import zipfile

import numpy as np

from tarvel_panel import paths
from tarvel_panel.collect.npz import NpzRows
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import NPAIRS, PAIRS, pair_index
from tarvel_panel.qc.calls import block_rows
from tarvel_panel.panel.prepared import read_prepared


class Reference:
    def __init__(self, folder, panel):
        self.folder = folder
        self.panel = read_prepared(folder)
        self.pair_map = _pair_map(self.panel, panel)
        rows = {s["name"]: i for i, s in enumerate(self.panel.strains)}
        self.rows = [rows.get(str(s.get("strain_of") or s["name"])) for s in panel.strains]
        self.agree = np.zeros(len(panel.strains))
        self.compared = np.zeros(len(panel.strains))
        self._chromosome = None

    def matched(self):
        return sum(r is not None for r in self.rows)

    def start_chromosome(self, view):
        """Reads the namesakes' top pairs on the reference's chromosome of the
        same name, at the markers both have; None where it has none. Each
        namesake's are kept as runs of one pair (few along a chromosome), so
        memory does not grow with strains times markers."""
        self._chromosome = None
        try:
            entry = self.panel.find_chromosome(view.name)
        except InputError:
            return
        names = self.panel.markers(entry["safe"]).names
        if names == view.markers:     # the same markers: no lookup of each
            here = there = np.arange(len(names))
        else:
            where = {m: i for i, m in enumerate(names)}
            here = np.array([i for i, m in enumerate(view.markers) if m in where], dtype=np.intp)
            there = np.array([where[view.markers[i]] for i in here], dtype=np.intp)
        if not len(here):
            return
        wanted = sorted({r for r in self.rows if r is not None})
        path = paths.npz_file(self.folder, entry["safe"])
        runs = _runs_of(path, wanted, (len(self.panel.strains), len(names)), there, self.pair_map)
        self._chromosome = (here, {r: k for k, r in enumerate(wanted)}, runs)

    def add(self, block, weights):
        if self._chromosome is None:
            return
        here, slot, runs = self._chromosome
        w = weights[here]
        for k in range(len(block)):
            row = self.rows[block.first + k]
            if row is None:
                continue
            same = block.top_pair[k, here] == _expand(runs[slot[row]], len(here))
            self.agree[block.first + k] += float(w[same].sum())
            self.compared[block.first + k] += float(w.sum())

    def shares(self):
        """[strains]: agreement with the namesake, nan without one."""
        out = np.full(len(self.rows), np.nan)
        np.divide(self.agree, self.compared, out=out, where=self.compared > 0)
        return out


def _pair_map(reference, panel):
    """The reference's pair index -> this panel's, by founder name."""
    if sorted(reference.founders) != sorted(panel.founders):
        raise InputError(reference.path, f"its founders ({', '.join(reference.founders)}) are not this "
                         f"panel's ({', '.join(panel.founders)}): not a reference for it")
    number = {name: panel.founders.index(name) + 1 for name in panel.founders}
    mapped = np.zeros(NPAIRS, np.uint8)
    for k, (a, b) in enumerate(PAIRS):
        mapped[k] = pair_index(number[reference.founders[a - 1]], number[reference.founders[b - 1]])
    return mapped


def _runs(tops):
    """(first index, pair) of each run of one pair in a row of top pairs."""
    firsts = np.flatnonzero(np.diff(tops, prepend=np.int16(-1)))
    return firsts, tops[firsts]


def _expand(runs, n):
    firsts, pairs = runs
    return np.repeat(pairs, np.diff(np.append(firsts, n)))


def _runs_of(path, wanted, shape, there, pair_map):
    """Runs (_runs) of the top pairs, in this panel's pair order, at the
    markers `there`, of the strains at rows `wanted` (sorted) of an npz
    whose top_pair array has `shape`; read a block of strains at a time."""
    chosen = []
    try:
        with NpzRows(path, ["top_pair"]) as npz:
            if tuple(npz.shapes["top_pair"]) != shape:
                raise InputError(path, f"top_pair has shape {tuple(npz.shapes['top_pair'])}, the reference's "
                                 f"prepared panel {shape}")
            done, k, block = 0, 0, block_rows(shape[1])
            while k < len(wanted):
                rows = npz.read(min(block, shape[0] - done))["top_pair"]
                while k < len(wanted) and wanted[k] < done + len(rows):
                    row = rows[wanted[k] - done]
                    if np.any(row >= NPAIRS):
                        raise InputError(path, f"top_pair holds values that are not pair indices 0..{NPAIRS - 1}")
                    chosen.append(_runs(pair_map[row][there]))
                    k += 1
                done += len(rows)
    except OSError as e:
        raise InputError(path, f"cannot read the reference's npz ({e.strerror or e})")
    except (KeyError, ValueError, EOFError, zipfile.BadZipFile) as e:
        raise InputError(path, f"not an npz file collect wrote ({e})")
    return chosen

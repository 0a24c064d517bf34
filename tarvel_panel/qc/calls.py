"""What QC reads of a panel's output folder: each chromosome's markers on a
genome scale, its founders, and block after block of strains their calls (as
prepare gave them to TARVEL) beside collect's npz arrays (top_pair, top_prob,
alleleprobs), so that memory holds one chromosome's block at a time.

Genome shares are lengths on the genetic map (cM) where every marker has a
genetic position, else on the positions TARVEL was given. Each marker stands
for the stretch between the midpoints to its neighbours (the chromosome's
first and last marker end it), so the lengths of its markers add up to a
chromosome's span."""
import zipfile
from dataclasses import dataclass
from typing import List

import numpy as np

from tarvel_panel import paths
from tarvel_panel.chromosome_order import in_order
from tarvel_panel.collect.npz import NpzRows
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import NPAIRS
from tarvel_panel.panel.model import NO_CALL

NPZ_ARRAYS = ("top_pair", "top_prob", "alleleprobs")
# a block of strains holds about this many values of one array
BLOCK_VALUES = 1 << 22


@dataclass
class ChromosomeView:
    name: str
    safe: str
    is_x: bool
    markers: List[str]
    pos: List[str]          # the positions TARVEL was given, as written for it
    coord: np.ndarray       # genome scale (Genome.unit)
    edges: np.ndarray       # [markers + 1]: the stretch each marker stands for
    founders: np.ndarray    # uint8 [markers, 8]: 0/1, NO_CALL untyped
    usable: np.ndarray      # bool [markers]: calls there count (prepare masked none)

    @property
    def weights(self):
        return np.diff(self.edges)

    @property
    def length(self):
        return float(self.edges[-1] - self.edges[0])


def boundaries(coord):
    """Edges of the stretch each marker stands for: halfway to its neighbours."""
    coord = np.asarray(coord, dtype=np.float64)
    return np.concatenate([coord[:1], (coord[:-1] + coord[1:]) / 2, coord[-1:]])


class Genome:
    """The chromosomes of a prepared panel as QC measures them."""

    def __init__(self, panel):
        self.panel = panel
        self.maps = panel.maps_everywhere()
        self.map = "gmap" if "gmap" in self.maps else "pos"
        self.unit = "cM" if self.map == "gmap" else panel.pos_unit
        self.masked = panel.data.get("founder_missing") == "mask"
        # measured, and so listed, in the order chromosomes are shown
        self.entries = in_order(panel.chromosomes)

    def chromosomes(self):
        for c in self.entries:
            yield self.chromosome(c)

    def chromosome(self, entry):
        safe = entry["safe"]
        markers = self.panel.markers(safe)
        coord = np.array(markers.maps["gmap"] if self.map == "gmap" else [float(p) for p in markers.pos])
        founders = self.panel.founder_alleles(safe)
        usable = ~(founders == NO_CALL).any(axis=1) if self.masked else np.ones(len(coord), bool)
        return ChromosomeView(str(entry["name"]), safe, bool(entry["is_x"]), markers.names, markers.pos, coord,
                              boundaries(coord), founders, usable)

    def lengths(self):
        """Span of every chromosome, in the order of chromosomes()."""
        spans = []
        for c in self.entries:
            markers = self.panel.markers(c["safe"])
            coord = markers.maps["gmap"] if self.map == "gmap" else [float(p) for p in markers.pos]
            spans.append(float(coord[-1] - coord[0]))
        return spans


@dataclass
class Block:
    """Strains first .. first + n - 1 of one chromosome."""
    first: int
    calls: np.ndarray        # uint8 [n, markers]
    top_pair: np.ndarray     # [n, markers]
    top_prob: np.ndarray     # float32 [n, markers]
    alleleprobs: np.ndarray  # float32 [n, 8, markers]

    def __len__(self):
        return len(self.calls)


def block_rows(markers):
    return max(1, BLOCK_VALUES // max(1, 8 * markers))


def strain_blocks(out, panel, view, rows=None):
    """The chromosome's strains as Blocks, in the panel's order."""
    path = paths.npz_file(out, view.safe)
    strains = panel.strains
    rows = rows or block_rows(len(view.markers))
    try:
        with NpzRows(path, NPZ_ARRAYS) as npz:
            _check_npz(path, npz, len(strains), len(view.markers))
            for first in range(0, len(strains), rows):
                chosen = strains[first:first + rows]
                arrays = npz.read(len(chosen))
                if np.any(arrays["top_pair"] >= NPAIRS):
                    raise InputError(path, f"top_pair holds values that are not pair indices 0..{NPAIRS - 1}")
                calls = np.stack([panel.strain_calls(view.safe, s["safe"]) for s in chosen])
                yield Block(first, calls, arrays["top_pair"], arrays["top_prob"], arrays["alleleprobs"])
    except OSError as e:
        raise InputError(path, f"cannot read ({e.strerror or e}): has the panel been collected?")
    except (KeyError, ValueError, zipfile.BadZipFile, EOFError) as e:
        raise InputError(path, f"not an npz file collect wrote ({e})")


def _check_npz(path, npz, strains, markers):
    wanted = {"top_pair": (strains, markers), "top_prob": (strains, markers),
              "alleleprobs": (strains, 8, markers)}
    for name, shape in wanted.items():
        if tuple(npz.shapes[name]) != shape:
            raise InputError(path, f"{name} has shape {tuple(npz.shapes[name])}, {shape} expected: "
                             "an npz of another panel, or the panel prepared again since?")

"""What the plots read: the panel workflow's output folder, through its
prepared panel and the per-chromosome npz files collect wrote. (The plots of
one TARVEL run without the workflow read the run's files through
run/tarvel_files.py.)"""
import zipfile
from dataclasses import dataclass
from typing import List, Sequence

import numpy as np

from tarvel_panel import paths
from tarvel_panel.chromosome_order import in_order
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import NPAIRS
from tarvel_panel.panel.prepared import PreparedPanel, read_prepared
from tarvel_panel.run.results import TWO_COPY_X_MAX


DEFAULT_NAMES = list("ABCDEFGH")
@dataclass
class Named:
    """A strain or chromosome of the panel: its name and its safe (file) name."""
    name: str
    safe: str


@dataclass
class OutPanel:
    """The prepared panel of the workflow's output folder, as the plots use it."""
    out: str
    founders: List[str]
    pos_unit: str
    strains: List[Named]
    chromosomes: List[Named]
    prepared: PreparedPanel

    @property
    def description(self) -> str:
        return self.prepared.path

    def strain(self, name: str) -> Named:
        found = self.prepared.find_strain(name)
        return Named(found["name"], found["safe"])

    def chromosome(self, name: str) -> Named:
        found = self.prepared.find_chromosome(name)
        return Named(str(found["name"]), found["safe"])

    def npz(self, chrom: Named) -> str:
        return paths.npz_file(self.out, chrom.safe)


def read_out_panel(out: str) -> OutPanel:
    panel = read_prepared(out)
    return OutPanel(out, panel.founders, panel.pos_unit, [Named(s["name"], s["safe"]) for s in panel.strains],
                    [Named(str(c["name"]), c["safe"]) for c in in_order(panel.chromosomes)], panel)


# --- a chromosome's npz file (written by the collection step) -------------------

def read_npz(panel: OutPanel, chrom: Named, keys: Sequence[str], missing_hint: str = "") -> dict:
    """`pos`, `strains` and `keys` of one chromosome's npz file, checked
    against the panel and each other."""
    path = panel.npz(chrom)
    wanted = ["pos", "strains", *keys]
    try:
        with np.load(path, allow_pickle=False) as z:
            missing = [k for k in wanted if k not in z.files]
            if missing:
                raise InputError(path, f"holds no {', '.join(missing)}"
                                 f"{missing_hint or ': not written by this workflow?'}")
            data = {k: z[k] for k in wanted}
    except OSError as e:
        raise InputError(path, f"cannot read ({e.strerror or e}): has the panel been collected?")
    except (ValueError, zipfile.BadZipFile, EOFError) as e:
        raise InputError(path, f"not a readable npz file ({e})")
    _check_npz(path, data, [s.name for s in panel.strains])
    return data


def _check_npz(path: str, data: dict, strains: List[str]) -> None:
    pos = data["pos"]
    if list(data["strains"]) != strains:
        raise InputError(path, "its strains are not the panel's (a file of another run?)")
    if pos.ndim != 1 or len(pos) == 0 or not np.all(np.isfinite(pos)) or np.any(np.diff(pos) < 0):
        raise InputError(path, "pos is not a list of increasing finite positions")
    shapes = {"top_pair": (len(strains), len(pos)), "top_prob": (len(strains), len(pos)),
              "genoprobs": (len(strains), NPAIRS, len(pos))}
    for key, shape in shapes.items():
        if key in data and data[key].shape != shape:
            raise InputError(path, f"{key} has shape {data[key].shape}, {shape} expected")
    if "top_pair" in data and (data["top_pair"].dtype.kind not in "iu" or np.any(data["top_pair"] >= NPAIRS)):
        raise InputError(path, f"top_pair holds values that are not pair indices 0..{NPAIRS - 1}")
    for key in ("top_prob", "genoprobs"):
        if key in data and not np.all((data[key] >= 0) & (data[key] <= TWO_COPY_X_MAX)):
            raise InputError(path, f"{key} holds values that are not probabilities")

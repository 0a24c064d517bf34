"""The array's marker annotation (CSV, one row per marker, as the public
annotation files of the mouse arrays are laid out): the columns of the
marker's name, chromosome, base-pair position, cM position and whether its
probe maps uniquely are named in the config (COLUMN_KEYS). A chromosome,
position or flag may be missing (empty, NA, -)."""
import math
from dataclasses import dataclass
from typing import Dict, List

import numpy as np

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.arrays.csv_rows import CsvTable, missing
from tarvel_panel.inputs.genetic_map import chrom_name


# config key -> the default column name; an empty name: the annotation has no such column
COLUMN_KEYS = {"annotation_marker": "marker", "annotation_chr": "chr", "annotation_bp": "bp_grcm39",
               "annotation_cm": "cM_cox", "annotation_unique": "unique"}
YES = ("true", "t", "yes", "y", "1")
NO = ("false", "f", "no", "n", "0")


@dataclass
class Annotation:
    path: str
    names: List[str]                # the markers, one per row
    index: Dict[str, int]           # marker -> its row (0, 1, ...)
    chromosomes: List[str]          # in the order they first come
    chrom: np.ndarray               # per row, its chromosome's number in `chromosomes`; -1: none
    bp: np.ndarray                  # NaN where not given
    cm: np.ndarray
    unique: np.ndarray              # bool; all True without a unique column

    def __len__(self):
        return len(self.names)

    def on(self, name):
        """The rows on the chromosome `name`."""
        return self.chrom == (self.chromosomes.index(name) if name in self.chromosomes else -2)


def column_names(config):
    return {key: str(config.get(key) if config.get(key) is not None else default)
            for key, default in COLUMN_KEYS.items()}


def read_annotation(path, config, needed):
    """The annotation at `path`; `needed`: the position column TARVEL runs on
    (annotation_cm or annotation_bp), which must be named."""
    names = column_names(config)
    for key in ("annotation_marker", "annotation_chr", needed):
        if not names[key]:
            raise InputError(f"config {key}", "must name a column of the annotation")
    table = CsvTable(path, "marker annotation")
    columns = {key: table.column(name, key) if name else None for key, name in names.items()}
    index, chromosomes, chrom, bp, cm, unique = {}, {}, [], [], [], []
    for line, fields in table.rows():
        marker = fields[columns["annotation_marker"]]
        if not marker:
            raise InputError(table.path, "no marker name", line)
        if marker in index:
            raise InputError(table.path, f"marker {marker!r} comes twice", line)
        index[marker] = len(chrom)
        place = fields[columns["annotation_chr"]]
        chrom.append(-1 if missing(place) else chromosomes.setdefault(chrom_name(place), len(chromosomes)))
        bp.append(_position(table.path, line, fields, columns["annotation_bp"], names["annotation_bp"]))
        cm.append(_position(table.path, line, fields, columns["annotation_cm"], names["annotation_cm"]))
        unique.append(_flag(table.path, line, fields, columns["annotation_unique"], names["annotation_unique"]))
    return Annotation(table.path, list(index), index, list(chromosomes), np.array(chrom, np.int64),
                      np.array(bp, float), np.array(cm, float), np.array(unique, bool))


def _position(path, line, fields, column, name):
    if column is None or missing(fields[column]):
        return math.nan
    text = fields[column]
    try:
        value = float(text)
    except ValueError:
        value = math.nan
    if not math.isfinite(value) or value < 0:
        raise InputError(path, f"{name} {text!r} is not a position (a number from 0 on)", line)
    return value


def _flag(path, line, fields, column, name):
    if column is None:
        return True
    text = fields[column].lower()
    if text in YES:
        return True
    if text in NO or missing(text):
        return False
    raise InputError(path, f"{name} {fields[column]!r} is not TRUE or FALSE", line)

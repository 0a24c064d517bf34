"""A panel as every reader delivers it and every later step uses it.

Founders are numbered 1..8 in founder order (TARVEL's founder-file columns);
`Panel.founders` holds the names tables and figures show, `Panel.alleles` the
short codes of the R/qtl2 objects (founder_names.py), both in that order. Genotypes are already in
TARVEL's coding, one byte per call: founders 0/1 (NO_CALL = untyped), strains
0/1/2 (NO_CALL = N).
"""
from __future__ import annotations

from dataclasses import dataclass, field
from typing import Callable, Dict, List, Optional, Tuple

# numpy is imported where it is used: the steps that only read the prepared
# panel's records (a batch, an R object's job) start without it


# a genotype that was not called: an untyped founder, a strain's N
NO_CALL = 255
# NO_CALL in two bits
PACKED_NO_CALL = 3


# rows packed at a time, so that packing a large matrix needs little more
# memory than its packed copy
PACK_ROWS = 1 << 16


def pack_calls(calls):
    """Rows of calls (0, 1, 2, NO_CALL) at two bits each, four to a byte."""
    import numpy as np
    rows, width = calls.shape
    packed = np.empty((rows, -(-width // 4)), np.uint8)
    two_bits = np.zeros((min(rows, PACK_ROWS), packed.shape[1] * 4), np.uint8)
    for start in range(0, rows, PACK_ROWS):
        block = calls[start:start + PACK_ROWS]
        n = len(block)
        np.minimum(block, PACKED_NO_CALL, out=two_bits[:n, :width])
        out = packed[start:start + n]
        np.left_shift(two_bits[:n, 3::4], 6, out=out)
        for k in (2, 1, 0):
            out |= two_bits[:n, k::4] << (2 * k)
    return packed


def unpack_calls(codes, rows, columns):
    """The calls of pack_calls' `codes` at `rows` x `columns` (index arrays), one byte each."""
    import numpy as np
    shifts = ((columns & 3) << 1).astype(np.uint8)
    calls = (codes[np.ix_(rows, columns >> 2)] >> shifts) & 3
    calls[calls == PACKED_NO_CALL] = NO_CALL
    return calls


@dataclass
class Strain:
    name: str                     # as in the source, e.g. "CC001/Unc"
    funnel: Tuple[int, ...]       # 8 founder numbers 1..8 in funnel order
    sex: Optional[str] = None     # "female", "male" or None when not given
    generation: Optional[int] = None  # None: the workflow's default
    # a row of a source that genotypes strains as samples (arrays), each
    # sample its own row: the strain it is a sample of, the sample's ID, and
    # its calls with an allele no founder carries (read as N); None elsewhere
    strain_of: Optional[str] = None
    sample: Optional[str] = None
    foreign_calls: Optional[int] = None


# Strain's attributes that panel.json holds only when they are set
OPTIONAL_STRAIN_KEYS = ("strain_of", "sample", "foreign_calls")


@dataclass
class Markers:
    """Markers by column, in map order."""
    names: List[str]
    pos: np.ndarray               # float64, in Panel.pos_unit
    pmap: np.ndarray              # physical positions, Mbp; NaN where the source has none
    gmap: np.ndarray              # genetic positions, cM; NaN where the source has none

    def __len__(self):
        return len(self.names)

    def take(self, index):
        """The markers at the positions `index`, in that order."""
        return Markers([self.names[i] for i in index], self.pos[index], self.pmap[index], self.gmap[index])


def held(calls):
    """Calls held in memory as a Chromosome takes them: all of them, or (for
    strain calls) the columns asked for."""
    return lambda columns=None: calls if columns is None else calls[:, columns]


@dataclass
class Chromosome:
    """Its genotypes are taken from the source each time they are asked for,
    so that a panel holds them once, as the source keeps them (two bits a
    call where it can), and a step can take a few strains at a time."""
    name: str                     # "1" .. "19", "X"
    is_x: bool
    markers: Markers              # map order, stable for equal positions
    founder_calls: Callable[[], np.ndarray]
    # (columns=None) -> the calls of the strains at `columns` (indices into
    # Panel.strains), or of every strain
    strain_calls: Callable[..., np.ndarray]

    @property
    def founder_geno(self):
        """uint8, markers x 8: 0/1/NO_CALL"""
        return self.founder_calls()

    @property
    def strain_geno(self):
        """uint8, markers x strains (Panel.strains' order): 0/1/2/NO_CALL"""
        return self.strain_calls()

    def strain_columns(self, columns):
        """uint8, markers x len(columns): the calls of the strains at `columns`"""
        return self.strain_calls(list(columns))


@dataclass
class Panel:
    founders: List[str]           # 8 founder names shown (config founder_names, else the alleles)
    strains: List[Strain]         # in the source's order
    chromosomes: List[Chromosome]  # in the source's order
    pos_unit: str = "cM"          # "cM", "Mbp" or "bp"
    # per chromosome, counts a source reports about what it kept and dropped
    # (e.g. VCF sites by reason, "dropped_<reason>"); joined into summary.tsv
    # as extra columns. A chromosome left out (no marker typed) has its counts
    # here too, with "is_x": 1 for the X; UNPLACED counts what no chromosome
    # holds (markers typed but in no map).
    site_stats: Dict[str, Dict[str, int]] = field(default_factory=dict)
    # 8 allele codes (a cross's `alleles`, A..H for VCF); None: the founders' names
    alleles: Optional[List[str]] = None
    # more lines the prepare step prints about what the source left out
    notes: List[str] = field(default_factory=list)
    # samples the source holds but the panel leaves out (arrays: not in the
    # sample table); None for a source without samples of its own
    samples_left_out: Optional[List[str]] = None


# site_stats key of the counts no chromosome holds (no chromosome is named "")
UNPLACED = ""
# what the UNPLACED counts are, in the prepare step's lines
UNPLACED_REASONS = {"dropped_not_in_map": "of the strain genotypes in no map",
                    "dropped_not_in_annotation": "of the reports that the annotation places on no chromosome",
                    "dropped_y_or_mt": "on chromosomes Y and MT (not run unless chromosomes= names them)"}


def site_notes(panel):
    """Lines saying what the source dropped: the markers or sites of every
    chromosome by reason, the chromosomes left out, markers in no map."""
    kept = {c.name for c in panel.chromosomes}
    notes, left_out = [], []
    for name, stats in panel.site_stats.items():
        dropped = ", ".join(f"{n} {k[len('dropped_'):].replace('_', ' ')}" for k, n in stats.items()
                            if k.startswith("dropped_") and n)
        if name == UNPLACED:
            notes += [f"left out, {n} markers {UNPLACED_REASONS.get(k, k)}" for k, n in stats.items() if n]
        elif name not in kept:
            left_out.append(name + (" (the X chromosome)" if stats.get("is_x") else ""))
        elif dropped:
            notes.append(f"chromosome {name}: dropped {dropped}")
    if left_out:
        shown = ", ".join(left_out[:10]) + (f", ... ({len(left_out)} in all)" if len(left_out) > 10 else "")
        notes.append(f"left out, no marker typed in strains and founders: chromosome {shown}")
    return notes


# #Generation values TARVEL accepts for every chromosome (2 = the funnel's
# last cross; autosomes take at most 100)
MIN_GENERATION = 2
MAX_GENERATION = 100

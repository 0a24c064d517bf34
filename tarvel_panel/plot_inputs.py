"""What the plots read: the panel workflow's output folder, or one TARVEL
results file (HAPPY layout) together with the four input files it came from.

Both give per strain and chromosome the marker positions and the 36 pair
values per marker (HAPPY order). A results file is checked against its inputs
as far as that can be done soundly, so that a plot never shows another strain's
or another chromosome's results under this strain's name.
"""
import csv
import gzip
import json
import math
import os
from dataclasses import dataclass
from typing import Dict, Iterable, List, Optional, Sequence

from .errors import InputError
from .painting import PAIRS, pair_founders, pair_index, top_pair

DEFAULT_NAMES = list("ABCDEFGH")
# genotype check of a results file against its strain file: the share of
# confidently painted, homozygously called markers whose call the painted
# founders contradict. A strain's own results stay near its genotyping error
# rate (0 of them in the example panel); another strain's results contradict
# at least 13% of its calls there (40% on average). A run whose model does not
# fit the strain contradicts its own calls too (an inbred strain run as
# #Generation 5: 12-14%; a female X: 21%), so the check can be turned off, and a
# female X, where TARVEL's pair values never fit an inbred strain, is not checked.
CHECK_MIN_PROB = 0.9
CHECK_MIN_MARKERS = 20
CHECK_MAX_DISAGREE = 0.1


@dataclass
class ChromProbs:
    name: str
    positions: List[float]
    probs: List[List[float]]      # per marker, 36 values in HAPPY order


@dataclass
class StrainInfo:
    name: str
    safe: str


@dataclass
class OutPanel:
    """What panel.json tells about the workflow's output folder."""
    out: str
    founders: List[str]
    pos_unit: str
    strains: List[StrainInfo]
    chromosomes: List[str]

    def strain(self, name: str) -> StrainInfo:
        for s in self.strains:
            if s.name == name:
                return s
        for s in self.strains:
            if s.safe == name:
                return s
        raise InputError(os.path.join(self.out, "prepared", "panel.json"),
                         f"no strain {name!r} in this panel")

    def genoprobs(self, chrom: str) -> str:
        if chrom not in self.chromosomes:
            raise InputError(os.path.join(self.out, "prepared", "panel.json"),
                             f"no chromosome {chrom!r} in this panel "
                             f"(chromosomes: {', '.join(self.chromosomes)})")
        return os.path.join(self.out, "genoprobs", f"chr{chrom}.csv.gz")


def read_out_panel(out: str) -> OutPanel:
    path = os.path.join(out, "prepared", "panel.json")
    try:
        with open(path) as f:
            meta = json.load(f)
        strains = [StrainInfo(s["name"], s["safe"]) for s in meta["strains"]]
        chromosomes = [str(c["name"]) for c in meta["chromosomes"]]
        founders, unit = [str(n) for n in meta["founders"]], meta["pos_unit"]
    except OSError as e:
        raise InputError(path, f"cannot read the panel description ({e.strerror}): "
                         "is this the workflow's output folder?")
    except (ValueError, KeyError, TypeError) as e:
        raise InputError(path, f"not a panel description the workflow wrote ({e})")
    if len(founders) != 8:
        raise InputError(path, f"{len(founders)} founder names, 8 expected")
    return OutPanel(out, founders, unit, strains, chromosomes)


def _number(text: str, path: str, line: int, what: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise InputError(path, f"{what} {text!r} is not a number", line)
    if math.isnan(value) or math.isinf(value):
        raise InputError(path, f"{what} {text!r} is not a finite number", line)
    return value


def genoprobs_rows(path: str, strains: Optional[Iterable[str]] = None):
    """(line, strain, position, 36 values) of every row of a genoprobs file,
    only of `strains` when given (their rows' values only are parsed)."""
    wanted = None if strains is None else set(strains)
    try:
        with gzip.open(path, "rt", newline="") as f:
            rows = csv.reader(f)
            header = next(rows, None)
            if header is None or header[:4] != ["strain", "marker", "chr", "pos"] \
                    or len(header) != 4 + PAIRS:
                raise InputError(path, "not a genoprobs table (strain,marker,chr,pos and 36 pairs)", 1)
            for line, row in enumerate(rows, start=2):
                if wanted is not None and row and row[0] not in wanted:
                    continue
                if len(row) != 4 + PAIRS:
                    raise InputError(path, f"{len(row)} columns, {4 + PAIRS} expected", line)
                pos = _number(row[3], path, line, "position")
                yield line, row[0], pos, [_number(v, path, line, "value") for v in row[4:]]
    except OSError as e:
        raise InputError(path, f"cannot read ({e.strerror or e})")
    except EOFError:
        raise InputError(path, "the file ends early (an interrupted write?)")


def read_genoprobs(path: str, chrom: str, strains: Sequence[str]) -> Dict[str, ChromProbs]:
    """The rows of `strains` in one chromosome's genoprobs file."""
    found = {name: ChromProbs(chrom, [], []) for name in strains}
    for _, strain, pos, values in genoprobs_rows(path, strains):
        found[strain].positions.append(pos)
        found[strain].probs.append(values)
    for name, probs in found.items():
        if not probs.positions:
            raise InputError(path, f"no rows of strain {name!r}")
    return found


# --- one TARVEL run -------------------------------------------------------------

def _lines(path: str) -> List[str]:
    """Non-empty lines without their line end, as TARVEL reads them."""
    try:
        with open(path, "rb") as f:
            text = f.read().decode("latin-1")
    except OSError as e:
        raise InputError(path, f"cannot read ({e.strerror})")
    return [ln.rstrip("\r") for ln in text.split("\n") if ln.rstrip("\r")]


def read_founders(path: str) -> List[List[Optional[int]]]:
    """Per marker eight founder alleles (None = untyped)."""
    markers = []
    for n, line in enumerate(_lines(path), start=1):
        alleles, missing = [], False
        for ch in line:
            if ch == "-":
                missing = True
            elif ch in "01":
                alleles.append(None if missing else int(ch))
                missing = False
        if len(alleles) != 8:
            raise InputError(path, f"{len(alleles)} founder genotypes, 8 expected", n)
        markers.append(alleles)
    return markers


def read_strain_calls(path: str) -> List[Optional[int]]:
    """Per marker the strain's call 0/1/2 (None = N or anything else)."""
    return [int(line[0]) if line[0] in "012" else None for line in _lines(path)]


def read_funnel(path: str) -> List[int]:
    """The eight founders (0..7) in funnel order."""
    text = " ".join(_lines(path)).split()
    try:
        funnel = [int(t) - 1 for t in text]
    except ValueError:
        raise InputError(path, "the funnel must list the founder numbers 1..8")
    if sorted(funnel) != list(range(8)):
        raise InputError(path, "the funnel must list every founder number 1..8 once")
    return funnel


def read_positions(path: str) -> List[float]:
    positions = [_number(t.strip(), path, n, "position") for n, t in enumerate(_lines(path), start=1)]
    for n in range(1, len(positions)):
        if positions[n] < positions[n - 1]:
            raise InputError(path, "positions decrease", n + 1)
    return positions


def read_results(path: str, markers: int, sums_to_one: bool = True) -> List[List[float]]:
    """A results file in the HAPPY layout with one line per marker.

    A female X's values need not add up to 1: TARVEL counts a heterozygous
    pair there by one orientation twice, so a line may add up to 2.
    """
    lines = _lines(path)
    if len(lines) != markers:
        raise InputError(path, f"{len(lines)} lines, but its input files have {markers} markers: "
                         "results of other inputs?")
    probs = []
    for n, line in enumerate(lines, start=1):
        index, bar, rest = line.partition("|")
        if not bar or index != str(n - 1):
            raise InputError(path, f"line does not start with its marker index {n - 1} and '|'", n)
        fields = rest.split(",")
        if fields[-1] == "":
            fields.pop()
        if len(fields) != PAIRS:
            raise InputError(path, f"{len(fields)} values, {PAIRS} expected "
                             "(a results file in the HAPPY layout, -of 1)", n)
        values = [_number(v, path, n, "value") for v in fields]
        total = sum(values)
        if min(values) < 0 or (abs(total - 1) > 1e-3 if sums_to_one else total > 2.001):
            raise InputError(path, f"values adding up to {total:g} are not "
                             f"{'probabilities adding up to 1' if sums_to_one else 'pair values of a female X'}", n)
        probs.append(values)
    return probs


def impossible_pairs(funnel: Sequence[int], is_x: bool, male: bool) -> List[int]:
    """HAPPY indices that TARVEL gives 0 at every marker for this funnel.

    Autosomes, whatever the generation: the two founders of one first cross
    (funnel places 1-2, 3-4, 5-6, 7-8) never make up a strain's pair. X: the
    founders at funnel places 4, 7 and 8 pass on no X; a male X is never
    heterozygous.
    """
    if not is_x:
        return [pair_index(funnel[i], funnel[i + 1]) for i in range(0, 8, 2)]
    absent = {funnel[3], funnel[6], funnel[7]}
    out = []
    for k in range(PAIRS):
        a, b = pair_founders(k)
        if a in absent or b in absent or (male and a != b):
            out.append(k)
    return out


def check_funnel(path: str, probs, funnel, is_x: bool, male: bool) -> None:
    if is_x and len(probs) < 2:
        return  # a single marker keeps the prior of every state
    never = impossible_pairs(funnel, is_x, male)
    for n, values in enumerate(probs, start=1):
        for k in never:
            if values[k] != 0:
                a, b = pair_founders(k)
                raise InputError(path, f"pair ({b + 1},{a + 1}) has probability {values[k]:g}, "
                                 "which TARVEL never gives it with this funnel"
                                 f"{' on the X chromosome' if is_x else ''}: "
                                 "results of another strain's inputs?", n)


def check_calls(path: str, probs, founders, calls) -> None:
    checked = disagree = 0
    for values, alleles, call in zip(probs, founders, calls):
        k = top_pair(values)
        a, b = pair_founders(k)
        if values[k] < CHECK_MIN_PROB or call not in (0, 2) or None in (alleles[a], alleles[b]):
            continue
        checked += 1
        disagree += alleles[a] + alleles[b] != call
    if checked >= CHECK_MIN_MARKERS and disagree > CHECK_MAX_DISAGREE * checked:
        raise InputError(path, f"the founders it makes most probable contradict {disagree} of "
                         f"{checked} homozygous calls of the strain file: results of another "
                         "strain's inputs, or of a model that does not fit (a wrong #Generation)? "
                         "--no-call-check draws them all the same")


def read_run(founders_file: str, strain_file: str, funnel_file: str, positions_file: str,
             results_file: Optional[str] = None, is_x: bool = False, male: bool = True,
             chrom: str = "", call_check: bool = True) -> ChromProbs:
    """One TARVEL run's results with its positions, checked against its inputs."""
    if results_file is None:
        results_file = strain_file + ".prob"
    elif os.path.basename(results_file) != os.path.basename(strain_file) + ".prob":
        raise InputError(results_file, "TARVEL names the results of strain file "
                         f"{strain_file} {os.path.basename(strain_file)}.prob: "
                         "results of another strain's inputs?")
    founders = read_founders(founders_file)
    calls = read_strain_calls(strain_file)
    funnel = read_funnel(funnel_file)
    positions = read_positions(positions_file)
    markers = len(founders)
    for path, count in ((strain_file, len(calls)), (positions_file, len(positions))):
        if count != markers:
            raise InputError(path, f"{count} lines, but the founder file {founders_file} has {markers}")
    if markers == 0:
        raise InputError(founders_file, "no markers")
    probs = read_results(results_file, markers, sums_to_one=male or not is_x)
    check_funnel(results_file, probs, funnel, is_x, male)
    if call_check and (male or not is_x):
        check_calls(results_file, probs, founders, calls)
    return ChromProbs(chrom, positions, probs)


# --- paintings (the workflow paints each chromosome once for all its plots) -----

PAINTING_HEADER = ["strain", "chr", "copy", "founder", "low", "start", "end",
                   "first_marker", "last_marker", "threshold"]


def write_painting(path: str, chrom: str, painted: Dict[str, list], threshold: float) -> None:
    """Segments (painting.Segment) of every strain, under a temporary name first."""
    temp = f"{path}.{os.getpid()}.tmp"
    try:
        with open(temp, "w", newline="") as f:
            out = csv.writer(f, lineterminator="\n")
            out.writerow(PAINTING_HEADER)
            for strain, segments in painted.items():
                for s in segments:
                    out.writerow([strain, chrom, s.copy, s.founder + 1, int(s.low), repr(s.start),
                                  repr(s.end), s.first, s.last, repr(threshold)])
        os.replace(temp, path)
    finally:
        if os.path.exists(temp):
            os.remove(temp)


def read_painting(path: str, strains: Sequence[str]):
    """strain -> segments of one chromosome's painting, and its threshold."""
    from .painting import Segment
    found = {s: [] for s in strains}
    threshold = None
    try:
        with open(path, newline="") as f:
            rows = csv.reader(f)
            if next(rows, None) != PAINTING_HEADER:
                raise InputError(path, "not a painting written by the plots (header)", 1)
            for line, row in enumerate(rows, start=2):
                if len(row) != len(PAINTING_HEADER):
                    raise InputError(path, f"{len(row)} columns, {len(PAINTING_HEADER)} expected", line)
                if row[0] not in found:
                    continue
                try:
                    found[row[0]].append(Segment(int(row[2]), int(row[3]) - 1, row[4] == "1",
                                                 float(row[5]), float(row[6]), int(row[7]), int(row[8])))
                    threshold = float(row[9])
                except ValueError:
                    raise InputError(path, "malformed painting row", line)
    except OSError as e:
        raise InputError(path, f"cannot read ({e.strerror})")
    for s, segs in found.items():
        if not segs:
            raise InputError(path, f"no painting of strain {s!r}")
    return found, threshold

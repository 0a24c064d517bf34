"""One TARVEL run's files read back, for the plots of a run made without the
workflow: its four input files (founders, strain, funnel, positions) and its
results, checked against each other as far as that can be done soundly, so
that a plot never shows another strain's or another chromosome's results
under this strain's name."""
import math
import os
from dataclasses import dataclass
from typing import List, Optional, Sequence

import numpy as np

from tarvel_panel.collect.derive import top_pairs
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import PAIR_FOUNDERS, pair_index
from tarvel_panel.run.results import TWO_COPY_X_MAX, read_results

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
    positions: np.ndarray       # [markers]
    probs: np.ndarray           # [markers, 36] in HAPPY order


def _lines(path: str) -> List[str]:
    """Non-empty lines without their line end, as TARVEL reads them."""
    try:
        with open(path, "rb") as f:
            text = f.read().decode("latin-1")
    except OSError as e:
        raise InputError(path, f"cannot read ({e.strerror})")
    return [ln.rstrip("\r") for ln in text.split("\n") if ln.rstrip("\r")]


def _number(text: str, path: str, line: int, what: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise InputError(path, f"{what} {text!r} is not a number", line)
    if math.isnan(value) or math.isinf(value):
        raise InputError(path, f"{what} {text!r} is not a finite number", line)
    return value


def read_founders(path: str) -> np.ndarray:
    """Per marker eight founder alleles [markers, 8]: 0, 1, or -1 (untyped)."""
    markers = []
    for n, line in enumerate(_lines(path), start=1):
        alleles, missing = [], False
        for ch in line:
            if ch == "-":
                missing = True
            elif ch in "01":
                alleles.append(-1 if missing else int(ch))
                missing = False
        if len(alleles) != 8:
            raise InputError(path, f"{len(alleles)} founder genotypes, 8 expected", n)
        markers.append(alleles)
    return np.array(markers, dtype=np.int8).reshape(-1, 8)


def read_strain_calls(path: str) -> np.ndarray:
    """Per marker the strain's call 0/1/2 (-1 = N or anything else)."""
    return np.array([int(line[0]) if line[0] in "012" else -1 for line in _lines(path)], dtype=np.int8)


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


def read_positions(path: str) -> np.ndarray:
    positions = [_number(t.strip(), path, n, "position") for n, t in enumerate(_lines(path), start=1)]
    for n in range(1, len(positions)):
        if positions[n] < positions[n - 1]:
            raise InputError(path, "positions decrease", n + 1)
    return np.array(positions, dtype=np.float64)


def read_run_results(path: str, markers: int, sums_to_one: bool = True) -> np.ndarray:
    """A results file in the HAPPY layout with one line per marker [markers, 36].

    A female X's values need not add up to 1 (TWO_COPY_X_MAX).
    """
    probs = read_results(path, markers) if sums_to_one else read_results(path, markers, max_value=TWO_COPY_X_MAX)
    totals = probs.sum(axis=1)
    bad = np.abs(totals - 1) > 1e-3 if sums_to_one else totals > TWO_COPY_X_MAX + 1e-3
    if bad.any():
        n = int(np.argmax(bad))
        raise InputError(path, f"values adding up to {totals[n]:g} are not "
                         f"{'probabilities adding up to 1' if sums_to_one else 'pair values of a female X'}",
                         n + 1)
    return probs


def impossible_pairs(funnel: Sequence[int], is_x: bool, male: bool) -> List[int]:
    """HAPPY indices that TARVEL gives 0 at every marker for this funnel.

    Autosomes, whatever the generation: the two founders of one first cross
    (funnel places 1-2, 3-4, 5-6, 7-8) never make up a strain's pair. X: the
    founders at funnel places 4, 7 and 8 pass on no X; a male X is never
    heterozygous.
    """
    if not is_x:
        return [pair_index(funnel[i] + 1, funnel[i + 1] + 1) for i in range(0, 8, 2)]
    absent = {funnel[3], funnel[6], funnel[7]}
    return [k for k, (a, b) in enumerate(PAIR_FOUNDERS.tolist())
            if a in absent or b in absent or (male and a != b)]


def check_funnel(path: str, probs: np.ndarray, funnel, is_x: bool, male: bool) -> None:
    if is_x and len(probs) < 2:
        return  # a single marker keeps the prior of every state
    never = impossible_pairs(funnel, is_x, male)
    wrong = probs[:, never] != 0
    if wrong.any():
        n, j = divmod(int(np.argmax(wrong)), len(never))
        a, b = PAIR_FOUNDERS[never[j]]
        raise InputError(path, f"pair ({b + 1},{a + 1}) has probability {probs[n, never[j]]:g}, "
                         "which TARVEL never gives it with this funnel"
                         f"{' on the X chromosome' if is_x else ''}: "
                         "results of another strain's inputs?", n + 1)


def check_calls(path: str, probs: np.ndarray, founders: np.ndarray, calls: np.ndarray) -> None:
    top, _ = top_pairs(probs)
    marker = np.arange(len(top))
    pair_alleles = founders[marker[:, None], PAIR_FOUNDERS[top]]        # [markers, 2]
    checked = (probs[marker, top] >= CHECK_MIN_PROB) & ((calls == 0) | (calls == 2)) \
        & np.all(pair_alleles >= 0, axis=1)
    disagree = int(np.sum(checked & (pair_alleles.sum(axis=1) != calls)))
    if checked.sum() >= CHECK_MIN_MARKERS and disagree > CHECK_MAX_DISAGREE * checked.sum():
        raise InputError(path, f"the founders it makes most probable contradict {disagree} of "
                         f"{int(checked.sum())} homozygous calls of the strain file: results of "
                         "another strain's inputs, or of a model that does not fit (a wrong "
                         "#Generation)? --no-call-check draws them all the same")


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
    probs = read_run_results(results_file, markers, sums_to_one=male or not is_x)
    check_funnel(results_file, probs, funnel, is_x, male)
    if call_check and (male or not is_x):
        check_calls(results_file, probs, founders, calls)
    return ChromProbs(chrom, positions, probs)

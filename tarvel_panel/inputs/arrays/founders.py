"""Each marker's two founder alleles and the founders' calls against them,
either way the founders come:

- founder samples in the FinalReports, several per founder where it was
  genotyped more than once: a founder's consensus at a marker is the
  homozygous call all its called samples share; where they differ (or its
  one call is heterozygous) the founder is untyped there. Of the marker's two
  alleles the one first in alleles.ALLELES is allele 0.
- a founder genotype table and an allele-code table (CSV), as public
  processed array files give them:

      marker,A,B,C,D,E,F,G,H          marker,chr,A,B
      UNC6,A,A,B,A,A,-,A,B            UNC6,1,T,C

  The founder columns are named by the founders (a name of founder_names, a
  letter A..H or a number 1..8); a call is A or B (homozygous for the
  marker's A or B allele), H (heterozygous: untyped) or -, N, NA, empty
  (untyped). The allele codes give each marker's A and B allele as the
  reports' allele columns write them; A is allele 0. Other columns of both
  are ignored.

A marker is kept when the typed founders carry exactly two alleles."""
from dataclasses import dataclass

import numpy as np

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.arrays.alleles import ALLELES, unpacked
from tarvel_panel.inputs.arrays.csv_rows import CsvTable, missing
from tarvel_panel.inputs.strain_fields import founder_number
from tarvel_panel.pairs import FOUNDERS
from tarvel_panel.panel.model import NO_CALL


KEPT, AGREE, MORE_ALLELES, NOT_IN_GENOTYPES, NO_ALLELE_CODES = range(5)
# site_stats key of each reason a marker is dropped
REASONS = {AGREE: "dropped_founders_agree", MORE_ALLELES: "dropped_founders_many_alleles",
           NOT_IN_GENOTYPES: "dropped_no_founder_genotypes", NO_ALLELE_CODES: "dropped_no_allele_codes"}
SAMPLE_REASONS = (AGREE, MORE_ALLELES)
TABLE_REASONS = (AGREE, NOT_IN_GENOTYPES, NO_ALLELE_CODES)
UNTYPED = ("H", "N")
# the lowest allele in a set of alleles given as bits (bit k: allele k)
_LOWEST = np.array([(b & -b).bit_length() - 1 if b else 0 for b in range(256)], np.uint8)
_COUNT = np.array([bin(b).count("1") for b in range(256)], np.uint8)


@dataclass
class FounderAlleles:
    zero: np.ndarray        # uint8 per marker: allele 0's number in ALLELES
    one: np.ndarray         # allele 1's
    codes: np.ndarray       # uint8, markers x 8 founders: 0, 1 or NO_CALL
    reason: np.ndarray      # uint8 per marker: KEPT or why it is dropped
    disagree: np.ndarray    # per marker, the founders whose samples disagree there


def from_samples(calls, founder_columns):
    """From the packed calls (markers x samples) of each founder's samples
    (`founder_columns`: eight lists of columns of `calls`)."""
    consensus = np.zeros((len(calls), FOUNDERS), np.uint8)
    disagree = np.zeros(len(calls), np.int64)
    for founder, columns in enumerate(founder_columns):
        consensus[:, founder], differ = _consensus(calls, columns)
        disagree += differ
    bits = np.zeros(len(calls), np.uint8)
    for founder in range(FOUNDERS):
        bits |= np.where(consensus[:, founder] > 0, 1 << consensus[:, founder], 0).astype(np.uint8)
    zero = _LOWEST[bits]
    one = _LOWEST[bits & ~(1 << zero).astype(np.uint8)]
    codes = np.where(consensus == zero[:, None], 0, np.where(consensus == one[:, None], 1, NO_CALL))
    codes[consensus == 0] = NO_CALL
    count = _COUNT[bits]
    reason = np.where(count < 2, AGREE, np.where(count > 2, MORE_ALLELES, KEPT)).astype(np.uint8)
    return FounderAlleles(zero, one, codes.astype(np.uint8), reason, disagree)


def _consensus(calls, columns):
    """One founder's allele per marker (0: untyped) and where its samples' calls differ."""
    first = np.zeros(len(calls), np.uint8)   # the first call, as low allele * 8 + high allele
    differ = np.zeros(len(calls), bool)
    for column in columns:
        a, b = unpacked(calls[:, column])
        call = np.where((a > 0) & (b > 0), 8 * np.minimum(a, b) + np.maximum(a, b), 0).astype(np.uint8)
        differ |= (call > 0) & (first > 0) & (call != first)
        first = np.where(first == 0, call, first)
    homozygous = (first > 0) & ((first >> 3) == (first & 7)) & ~differ
    return np.where(homozygous, first & 7, 0).astype(np.uint8), differ


def from_tables(genotypes_path, codes_path, markers, founder_names):
    """From the two tables, for the markers named in `markers` (in that order)."""
    row_of = {name: i for i, name in enumerate(markers)}
    zero, one, coded = _allele_codes(codes_path, row_of)
    codes = np.full((len(markers), FOUNDERS), NO_CALL, np.uint8)
    typed = _founder_genotypes(genotypes_path, row_of, founder_names, codes)
    reason = np.full(len(markers), KEPT, np.uint8)
    both = (codes == 0).any(axis=1) & (codes == 1).any(axis=1)
    reason[~both] = AGREE
    reason[~coded] = NO_ALLELE_CODES
    reason[~typed] = NOT_IN_GENOTYPES
    return FounderAlleles(zero, one, codes, reason, np.zeros(len(markers), np.int64))


def _allele_codes(path, row_of):
    table = CsvTable(path, "allele-code table")
    first, second = table.column("A"), table.column("B")
    zero, one = np.zeros(len(row_of), np.uint8), np.zeros(len(row_of), np.uint8)
    coded = np.zeros(len(row_of), bool)
    for line, fields, row in _marker_rows(table, row_of, coded):
        a, b = fields[first], fields[second]
        if not (_allele(a) and _allele(b) and a != b):
            raise InputError(table.path, f"alleles {a!r} and {b!r} are not two different alleles "
                             f"of {', '.join(ALLELES[1:])}", line)
        zero[row], one[row], coded[row] = ALLELES.index(a), ALLELES.index(b), True
    return zero, one, coded


def _marker_rows(table, row_of, seen):
    """The table's rows of the panel's markers, with each marker's row index;
    a marker whose row is already `seen` is refused."""
    for line, fields in table.rows():
        row = row_of.get(fields[0])
        if row is None:
            continue
        if seen[row]:
            raise InputError(table.path, f"marker {fields[0]!r} comes twice", line)
        yield line, fields, row


def _allele(text):
    return len(text) == 1 and text in ALLELES[1:]


def _founder_genotypes(path, row_of, founder_names, codes):
    """Fills `codes` from the table; returns the markers the table has."""
    table = CsvTable(path, "founder genotype table")
    columns = _founder_columns(table, founder_names)
    typed = np.zeros(len(row_of), bool)
    for line, fields, row in _marker_rows(table, row_of, typed):
        typed[row] = True
        for founder, column in enumerate(columns):
            codes[row, founder] = _founder_call(table.path, line, fields[column])
    return typed


def _founder_columns(table, founder_names):
    """The column of each founder, in founder order."""
    columns = [None] * FOUNDERS
    for i, name in enumerate(table.header[1:], 1):
        founder = founder_number(name, founder_names)
        if founder is not None and columns[founder - 1] is None:
            columns[founder - 1] = i
    if None in columns:
        absent = founder_names[columns.index(None)]
        raise InputError(table.path, f"no column for founder {absent} (columns: {', '.join(table.header)})",
                         table.header_line)
    return columns


def _founder_call(path, line, text):
    if text == "A":
        return 0
    if text == "B":
        return 1
    if text in UNTYPED or missing(text):
        return NO_CALL
    raise InputError(path, f"founder call {text!r} is not A, B, H or - (untyped)", line)

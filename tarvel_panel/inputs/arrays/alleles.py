"""Array calls at one byte each: a call's two alleles, each one of ALLELES
(0 = "-", no call), packed as 1 + 8 * first + second; 0 is a call the
reports never gave (the sample lacks that SNP), read as a no-call.

A marker is coded against two alleles (`zero`, `one`, numbers into ALLELES):
a strain's call becomes the count of `one` (0, 1, 2), NO_CALL for a no-call,
and NO_CALL too for a call with an allele that is neither (counted)."""
import numpy as np

from tarvel_panel.panel.model import NO_CALL


# "-" first (no call); of a marker's two alleles the one earlier here is allele 0
ALLELES = "-ACGTIDB"
NOT_AN_ALLELE = 255


def allele_bytes():
    """A byte -> its number in ALLELES, NOT_AN_ALLELE for any other byte."""
    table = np.full(256, NOT_AN_ALLELE, np.uint8)
    for number, allele in enumerate(ALLELES):
        table[ord(allele)] = number
    return table


def packed(first, second):
    return (1 + 8 * first.astype(np.uint8) + second).astype(np.uint8)


def unpacked(calls):
    """(first, second) allele numbers of packed calls; a call never given reads as no call."""
    value = np.maximum(calls, 1) - 1
    return value >> 3, value & 7


def homozygous(calls):
    """Each call's allele where it is homozygous, 0 elsewhere, and where it
    is heterozygous."""
    first, second = unpacked(calls)
    called = (first > 0) & (second > 0)
    return np.where(called & (first == second), first, 0), called & (first != second)


def coded(calls, zero, one):
    """Calls (markers x samples) against each marker's two alleles: (codes
    0/1/2/NO_CALL, per sample the calls with an allele that is neither)."""
    first, second = unpacked(calls)
    zero, one = zero[:, None], one[:, None]
    called = (first > 0) & (second > 0)
    known = ((first == zero) | (first == one)) & ((second == zero) | (second == one))
    codes = np.where(called & known, (first == one).astype(np.uint8) + (second == one), NO_CALL)
    return codes.astype(np.uint8), np.count_nonzero(called & ~known, axis=0)

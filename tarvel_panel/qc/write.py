"""The QC tables (tab-separated, a field quoted where it holds a tab, a quote
or a line break) and their reader:

    qc/strains.tsv        one row per strain (or sample): the QC figures and its flags
    qc/het_segments.tsv   one row per heterozygous segment
    qc/flags.tsv          one row per flag: strain, flag, where, why
    qc/similarity.tsv     pairs of strains sharing at least qc_similarity_listed
                          of the genome, and every pair of samples of one strain
"""
import csv
import math
import os
from contextlib import ExitStack

import numpy as np

from tarvel_panel.atomic import AtomicFile
from tarvel_panel.collect.tables import table_writer
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import pair_names
from tarvel_panel.qc.flags import flag_names
from tarvel_panel.qc.similarity import nearest

TABLES = ("strains", "het_segments", "flags", "similarity")


def number(x):
    return "NA" if x is None or (isinstance(x, float) and math.isnan(x)) else f"{x:.6g}"


def strains_header(m):
    header = ["strain", "strain_of", "sex", "generation", "call_rate", "het_call_rate", "x_het_calls", "het_share",
              "het_segments", "checked_calls", "error_candidates", "error_rate", "error_clusters", "x_barred_spans"]
    header += [f"share_{f}" for f in m.founders]
    header += ["absent_founders", "nearest", "nearest_share"]
    if m.reference is not None:
        header.append("reference_share")
    return header + ["flags"]


def strains_rows(m, flags, absent_share):
    n = len(m.strains)
    segments = np.bincount([seg.strain for seg, _ in m.segments], minlength=n)
    clusters = np.bincount([c.strain for c, _ in m.clusters], minlength=n)
    barred = np.bincount([span.strain for span, _, _ in m.barred], minlength=n)
    shares = m.founder_shares
    best, best_share = nearest(m.shares, m.same_strain)
    names = flag_names(flags, n)
    for i, s in enumerate(m.strains):
        row = [s["name"], s.get("strain_of") or "", s.get("sex") or "", s.get("generation") or "",
               number(m.call_rate[i]), number(m.het_call_rate[i]), int(m.x_het_calls[i]), number(m.het_share[i]),
               int(segments[i]),
               int(m.checked[i]), int(m.candidates[i]), number(m.error_rate[i]), int(clusters[i]), int(barred[i])]
        row += [number(x) for x in shares[i]]
        row += [",".join(m.founders[f] for f in np.flatnonzero(shares[i] < absent_share)),
                m.strains[best[i]]["name"] if best[i] >= 0 else "", number(float(best_share[i]))]
        if m.reference is not None:
            row.append(number(float(m.reference[i])))
        yield row + [names[i]]


def segment_rows(m):
    pairs = pair_names(m.founders)
    for seg, p in m.segments:
        yield [m.strains[seg.strain]["name"], p.chrom, p.first_marker, p.last_marker, p.first_pos, p.last_pos,
               seg.last - seg.first + 1, pairs[seg.pair], number(seg.length), number(seg.mean_prob)]


def similarity_rows(m, s):
    n = len(m.strains)
    upper = np.triu(np.ones((n, n), bool), 1)
    for i, j in zip(*np.nonzero(upper & ((m.shares >= s.similarity_listed) | m.same_strain))):
        share, same = float(m.shares[i, j]), bool(m.same_strain[i, j])
        flag = "replicates_disagree" if same and share < s.replicate_min else \
            "duplicate" if not same and share >= s.duplicate_min else ""
        yield [m.strains[i]["name"], m.strains[j]["name"], number(share), "yes" if same else "no", flag]


def write_tables(m, flags, settings, outputs):
    """outputs: {table: path} for every one of TABLES; all or none appear."""
    try:
        with ExitStack() as stack:
            files = {t: table_writer(stack.enter_context(AtomicFile(outputs[t])), "\t") for t in TABLES}
            files["strains"].writerow(strains_header(m))
            files["strains"].writerows(strains_rows(m, flags, settings.absent_share))
            files["het_segments"].writerow(["strain", "chr", "first_marker", "last_marker", "first_pos",
                                            "last_pos", "markers", "pair", f"length_{m.unit}", "mean_prob"])
            files["het_segments"].writerows(segment_rows(m))
            files["flags"].writerow(["strain", "flag", "where", "why"])
            files["flags"].writerows([m.strains[f.strain]["name"], f.flag, f.where, f.why] for f in flags)
            files["similarity"].writerow(["strain1", "strain2", "share", "same_strain", "flag"])
            files["similarity"].writerows(similarity_rows(m, settings))
    except BaseException:
        for path in outputs.values():
            if os.path.exists(path):
                os.remove(path)
        raise


def read_table(path):
    """(header, rows as dicts) of a QC table."""
    try:
        with open(path, encoding="utf-8", newline="") as f:
            rows = list(csv.reader(f, delimiter="\t"))
    except OSError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")
    except (UnicodeDecodeError, csv.Error) as e:
        raise InputError(path, f"not a QC table ({e})")
    if not rows:
        raise InputError(path, "no header line", 1)
    header = rows[0]
    for n, row in enumerate(rows[1:], start=2):
        if len(row) != len(header):
            raise InputError(path, f"{len(row)} columns, the header has {len(header)}", n)
    return header, [dict(zip(header, row)) for row in rows[1:]]

"""The flags of strain QC, each with what is flagged, where and why, from a
panel's Measures and the thresholds."""
from dataclasses import dataclass

import numpy as np

# every flag, in the order strains.tsv lists them
FLAGS = ("low_call_rate", "heterozygous", "mixed", "error_rate", "error_cluster", "x_funnel",
         "duplicate", "replicates_disagree", "reference_disagrees")
GENOME = "genome"


@dataclass
class Flag:
    strain: int
    flag: str
    where: str
    why: str


def where(p, unit):
    if p.first_marker == p.last_marker:
        return f"chr {p.chrom}, marker {p.first_marker} ({p.first_pos} {unit})"
    return f"chr {p.chrom}, markers {p.first_marker} to {p.last_marker} ({p.first_pos} to {p.last_pos} {unit})"


def panel_flags(m, s):
    """Every flag, strain by strain in the panel's order, in FLAGS order within a strain."""
    found = (strain_wide(m, s) + cluster_flags(m) + x_flags(m) + pair_flags(m, s) + reference_flags(m, s))
    return sorted(found, key=lambda f: (f.strain, FLAGS.index(f.flag)))


def strain_wide(m, s):
    flags = []
    segments = np.bincount([seg.strain for seg, _ in m.segments], minlength=len(m.strains))
    for i, rate in enumerate(m.call_rate):
        if rate < s.call_rate_min:
            flags.append(Flag(i, "low_call_rate", GENOME, f"calls at {rate:.3f} of {m.usable:,} markers, "
                              f"fewer than {s.call_rate_min:g}"))
    for i, share in enumerate(m.het_share):
        if share > s.het_share_max:
            flags.append(Flag(i, "heterozygous", GENOME,
                              f"{share:.3f} of the genome ({m.unit}) has a heterozygous most probable pair, in "
                              f"{segments[i]} segments (more than {s.het_share_max:g}): residual "
                              "heterozygosity, or a mixed sample"))
    for i, (a, b, in_a, in_b, het) in m.mixtures.items():
        flags.append(Flag(i, "mixed", GENOME,
                          f"its calls hold those of {name(m, a)} ({in_a:.3f} of them) and of {name(m, b)} "
                          f"({in_b:.3f}), and the two differ at {het:.3f} of its heterozygous calls (each at "
                          f"least {s.mixed_min:g}): a mixture of the two?"))
    for i, rate in enumerate(m.error_rate):
        if rate > s.error_rate_max:
            flags.append(Flag(i, "error_rate", GENOME,
                              f"{m.candidates[i]:,} of {m.checked[i]:,} checked calls ({rate:.4f}) contradict the "
                              f"founders of the most probable pair (more than {s.error_rate_max:g}): "
                              "wrong founders, a mixed sample or poor genotyping?"))
    return flags


def cluster_flags(m):
    return [Flag(c.strain, "error_cluster", where(p, m.pos_unit),
                 f"{c.candidates} of {c.checked} checked calls there contradict the founders of the most "
                 "probable pair: a deletion, a mis-mapped probe, a wrong founder or a mixed region?")
            for c, p in m.clusters]


def x_flags(m):
    return [Flag(span.strain, "x_funnel", where(p, m.pos_unit),
                 f"the X there is founder {m.founders[span.founder - 1]}'s (probability {span.mean_prob:.3f} over "
                 f"{span.markers} homozygous calls, {candidates} of which TARVEL's founders contradict), but the "
                 f"funnel has {m.founders[span.founder - 1]} at place {span.place}, whose X never reaches "
                 "the strain: a wrong funnel?")
            for span, p, candidates in m.barred]


def pair_flags(m, s):
    other = ~np.eye(len(m.strains), dtype=bool)
    flags = []
    for i, j in zip(*np.nonzero(m.same_strain & (m.shares < s.replicate_min))):
        flags.append(Flag(int(i), "replicates_disagree", GENOME,
                          f"a sample of {m.strains[i].get('strain_of')} like {name(m, j)}, but the two share only "
                          f"{m.shares[i, j]:.3f} of the genome's most probable founder pairs (less than "
                          f"{s.replicate_min:g}): a mislabelled or mixed sample?"))
    for i, j in zip(*np.nonzero(other & ~m.same_strain & (m.shares >= s.duplicate_min))):
        flags.append(Flag(int(i), "duplicate", GENOME,
                          f"shares {m.shares[i, j]:.3f} of the genome's most probable founder pairs with "
                          f"{name(m, j)} (at least {s.duplicate_min:g}): one strain under two names, "
                          "or a mislabelled sample?"))
    return flags


def reference_flags(m, s):
    if m.reference is None:
        return []
    return [Flag(i, "reference_disagrees", GENOME,
                 f"agrees with its namesake in the reference {s.reference} on {share:.3f} of the genome both "
                 f"have (less than {s.reference_min:g})")
            for i, share in enumerate(m.reference) if share < s.reference_min]


def name(m, strain):
    return m.strains[strain]["name"]


def flag_names(flags, strains):
    """Per strain, its flags' names, each once, comma-separated ("" for none)."""
    names = [[] for _ in range(strains)]
    for f in flags:
        if f.flag not in names[f.strain]:
            names[f.strain].append(f.flag)
    return [",".join(n) for n in names]

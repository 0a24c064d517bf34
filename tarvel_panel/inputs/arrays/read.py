"""A panel from Illumina array genotypes: GenomeStudio FinalReports
(finalreport.py), the array's marker annotation (annotation.py), a sample
table (samples.py) and the founders either as samples of the reports or as a
founder genotype table with allele codes (founders.py).

Every strain sample of the table is its own row of the panel, named by its
strain when the strain has one sample and "STRAIN (SAMPLE)" when it has
several. A marker is used when some report has it, the annotation places it
(a chromosome and a position; a uniquely mapped probe unless
unique_probes_only is false) and the founders carry two alleles there; the
strains' calls are coded against those (alleles.coded).
"""
from collections import Counter
from dataclasses import dataclass
from typing import List

import numpy as np

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.arrays import founders as founder_source
from tarvel_panel.inputs.arrays.alleles import coded
from tarvel_panel.inputs.arrays.annotation import read_annotation
from tarvel_panel.inputs.arrays.finalreport import STRANDS, read_reports
from tarvel_panel.inputs.arrays.samples import read_sample_table
from tarvel_panel.inputs.genetic_map import chrom_name
from tarvel_panel.inputs.sources import name_list
from tarvel_panel.pairs import FOUNDERS
from tarvel_panel.panel.founder_names import LETTERS, founder_names
from tarvel_panel.panel.model import UNPLACED, Chromosome, Markers, Panel, Strain, held


NOT_RUN = ("Y", "M", "MT")   # chromosomes TARVEL's model does not cover, left out unless chosen
SHOWN = 5


@dataclass
class _Calls:
    """The packed calls of the candidate markers (rows) for the samples used
    (columns, in the order of `used`), and what the reports held besides."""
    calls: np.ndarray
    seen: np.ndarray                 # per annotation row: some report has the marker
    not_annotated: int               # markers of the reports the annotation lacks
    left_out: List[str]              # samples of the reports not in the table


def read_array_panel(config):
    """The panel the array config keys describe (see the module's docstring)."""
    for key in ("finalreports", "array_annotation", "sample_table"):
        if not config.get(key):
            raise InputError(f"config {key}", f"missing: the array input needs {key}=")
    if bool(config.get("founder_genotypes")) != bool(config.get("allele_codes")):
        raise InputError("config founder_genotypes", "founder_genotypes= and allele_codes= come together")
    names = founder_names(config) or list(LETTERS)
    rows = read_sample_table(str(config["sample_table"]), names)
    from_tables = bool(config.get("founder_genotypes"))
    strains, row_names = _chosen_strains(config, [r for r in rows if r.strain is not None])
    founders = [] if from_tables else [r for r in rows if r.founder is not None]
    _check_founder_samples(config["sample_table"], founders, names, from_tables)
    used = founders + strains
    gmap = (config.get("positions") or "gmap") == "gmap"
    annotation = read_annotation(str(config["array_annotation"]), config,
                                 "annotation_cm" if gmap else "annotation_bp")
    chosen = name_list(config.get("chromosomes"))
    chosen = chosen and [chrom_name(c) for c in chosen]
    candidates = _candidates(annotation, chosen, bool(config.get("unique_probes_only", True)), gmap)
    reads = _read_calls(config, annotation, candidates, used, rows)
    if from_tables:
        alleles = founder_source.from_tables(str(config["founder_genotypes"]), str(config["allele_codes"]),
                                             [annotation.names[i] for i in candidates], names)
    else:
        alleles = founder_source.from_samples(
            reads.calls, [[i for i, r in enumerate(founders) if r.founder == f + 1] for f in range(FOUNDERS)])
    strain_calls = reads.calls[:, len(founders):]
    panel = _panel(config, annotation, candidates, reads, alleles, strain_calls, (strains, row_names), gmap,
                   from_tables)
    panel.notes += _notes(reads, panel, rows, from_tables)
    return panel


def _chosen_strains(config, strain_rows):
    """The strain rows `strains=` chooses (by strain, sample or row name), in
    the table's order, and their names in the panel."""
    chosen = name_list(config.get("strains"))
    names = _row_names(strain_rows, config["sample_table"])
    if chosen is None:
        return strain_rows, names
    known = {key: True for r, n in zip(strain_rows, names) for key in (r.strain, r.sample, n)}
    for name in chosen:
        if name not in known:
            strains = sorted({r.strain for r in strain_rows})
            shown = ", ".join(strains[:10]) + (", ..." if len(strains) > 10 else "")
            raise InputError("config strains", f"'{name}' is neither a strain nor a sample of the sample table "
                             f"(its strains: {shown})")
    wanted = set(chosen)
    kept = [(r, n) for r, n in zip(strain_rows, names) if wanted & {r.strain, r.sample, n}]
    return [r for r, _ in kept], [n for _, n in kept]


def _row_names(strain_rows, path):
    """The panel's name of each strain sample: the strain's, or STRAIN (SAMPLE)
    for one of several samples of a strain."""
    samples = Counter(r.strain for r in strain_rows)
    names = [r.strain if samples[r.strain] == 1 else f"{r.strain} ({r.sample})" for r in strain_rows]
    counts = Counter(names)
    for r, name in zip(strain_rows, names):
        if counts[name] > 1:   # a strain named like another's replicate
            raise InputError(path, f"sample {r.sample!r} would be named {name!r} in the panel, "
                             "as another strain is", r.line)
    return names


def _check_founder_samples(path, founders, names, from_tables):
    if from_tables:
        return
    have = {r.founder for r in founders}
    for f in range(1, FOUNDERS + 1):
        if f not in have:
            raise InputError(path, f"founder {names[f - 1]} has no sample (a row of role founder naming it), "
                             "and no founder_genotypes= table is given")


def _candidates(annotation, chosen, unique_only, gmap):
    """The annotation rows a marker of the reports can be used from."""
    position = annotation.cm if gmap else annotation.bp
    run = [i for i, c in enumerate(annotation.chromosomes) if (c in chosen if chosen else c not in NOT_RUN)]
    usable = np.isin(annotation.chrom, run) & ~np.isnan(position) & (annotation.unique | (not unique_only))
    return np.flatnonzero(usable)


def _read_calls(config, annotation, candidates, used, rows):
    """The calls of `used` samples at the candidate markers from every report."""
    row_of = np.full(len(annotation) + 1, -1, np.int64)   # the last: not annotated
    row_of[candidates] = np.arange(len(candidates))
    column_of = {r.sample: i for i, r in enumerate(used)}
    in_table = {r.sample for r in rows}
    calls = np.zeros((len(candidates), len(used)), np.uint8)
    seen = np.zeros(len(annotation), bool)
    not_annotated, found, left_out = set(), {}, {}
    strand = _strand(config)
    for path in _report_paths(config):
        for report in read_reports(path, strand):
            rows_here = np.array([annotation.index.get(s, len(annotation)) for s in report.snps], np.int64)
            not_annotated.update(s for s, r in zip(report.snps, rows_here) if r == len(annotation))
            seen[rows_here[rows_here < len(annotation)]] = True
            target = row_of[rows_here]
            kept = target >= 0
            for j, sample in enumerate(report.samples):
                if sample not in in_table:
                    left_out.setdefault(sample, None)
                    continue
                if sample in found:
                    raise InputError(report.path, f"sample {sample!r} is also in {found[sample]}")
                found[sample] = report.path
                if sample in column_of:
                    calls[target[kept], column_of[sample]] = report.calls[kept, j]
    for r in rows:
        if r.sample not in found:
            raise InputError(config["sample_table"], f"sample {r.sample!r} is in no FinalReport "
                             f"({', '.join(_report_paths(config))})", r.line)
    return _Calls(calls, seen, len(not_annotated), list(left_out))


def _report_paths(config):
    paths = name_list(config.get("finalreports"))
    if not paths:
        raise InputError("config finalreports", "names no file")
    return paths


def _strand(config):
    strand = str(config.get("finalreport_alleles") or "Forward")
    if strand not in STRANDS:
        raise InputError("config finalreport_alleles", f"'{strand}' is not one of {', '.join(STRANDS)}")
    return strand


def _panel(config, annotation, candidates, reads, alleles, strain_calls, named_strains, gmap, from_tables):
    strains, row_names = named_strains
    in_reports = reads.seen[candidates]
    x_chr = chrom_name(str(config.get("x_chr") or "X"))
    chromosomes, site_stats = [], {}
    foreign = np.zeros(len(strains), np.int64)
    for name in _chromosome_order(annotation, candidates):
        here = np.flatnonzero(annotation.on(name)[candidates] & in_reports)
        site_stats[name] = _counts(annotation, name, reads.seen, alleles, here, config, gmap, from_tables)
        keep = here[alleles.reason[here] == founder_source.KEPT]
        if not len(keep):
            site_stats[name]["is_x"] = int(name == x_chr)
            continue
        keep = keep[_map_order(annotation, candidates[keep], gmap)]
        codes, wrong = coded(strain_calls[keep], alleles.zero[keep], alleles.one[keep])
        foreign += wrong
        chromosomes.append(Chromosome(name=name, is_x=name == x_chr,
                                      markers=_markers(annotation, candidates[keep], gmap),
                                      founder_calls=held(alleles.codes[keep]), strain_calls=held(codes)))
    if not chromosomes:
        raise InputError(config["array_annotation"], "no marker of the FinalReports is placed by the annotation "
                         "and typed in two alleles by the founders")
    if config.get("x_chr") and x_chr not in site_stats and not config.get("chromosomes"):
        raise InputError("config x_chr", f"chromosome {config['x_chr']} is not in {annotation.path} "
                         f"(its chromosomes: {', '.join(annotation.chromosomes)})")
    unplaced = _unplaced(annotation, reads, config)
    if unplaced:
        site_stats[UNPLACED] = unplaced
    rows = [Strain(name=n, funnel=r.funnel, sex=r.sex, generation=r.generation, strain_of=r.strain,
                   sample=r.sample, foreign_calls=int(k)) for r, n, k in zip(strains, row_names, foreign)]
    return Panel(founders=founder_names(config) or list(LETTERS), strains=rows, chromosomes=chromosomes,
                 pos_unit="cM" if gmap else "Mbp", site_stats=site_stats, alleles=list(LETTERS),
                 samples_left_out=reads.left_out)


def _chromosome_order(annotation, candidates):
    """The chromosomes of the candidate markers: numbered ones by number, then
    the others in the annotation's order."""
    order = [annotation.chromosomes[i] for i in np.unique(annotation.chrom[candidates])]
    return sorted(order, key=lambda c: (0, int(c)) if c.isdigit() else (1, annotation.chromosomes.index(c)))


def _counts(annotation, name, seen, alleles, here, config, gmap, from_tables):
    """What became of the chromosome's markers of the reports, by reason."""
    on = annotation.on(name) & seen
    position = annotation.cm if gmap else annotation.bp
    not_unique = on & ~annotation.unique if config.get("unique_probes_only", True) else np.zeros_like(on)
    reasons = founder_source.TABLE_REASONS if from_tables else founder_source.SAMPLE_REASONS
    stats = {"markers_read": int(on.sum()),
             "markers_kept": int(np.count_nonzero(alleles.reason[here] == founder_source.KEPT)),
             "dropped_not_unique": int(not_unique.sum()),
             "dropped_no_position": int(np.count_nonzero(on & ~not_unique & np.isnan(position)))}
    stats.update({founder_source.REASONS[r]: int(np.count_nonzero(alleles.reason[here] == r)) for r in reasons})
    if not from_tables:
        stats["founder_samples_disagree"] = int(alleles.disagree[here].sum())
    return stats


def _map_order(annotation, rows, gmap):
    """The order of the annotation rows along the map: by position, then base pair, then the annotation's order."""
    first = annotation.cm[rows] if gmap else annotation.bp[rows]
    return np.lexsort((rows, np.nan_to_num(annotation.bp[rows], nan=np.inf), first))


def _markers(annotation, rows, gmap):
    names = [annotation.names[i] for i in rows]
    mbp, cm = annotation.bp[rows] / 1e6, annotation.cm[rows]
    return Markers(names, cm.copy() if gmap else mbp, mbp, cm.copy())


def _unplaced(annotation, reads, config):
    """Counts of the reports' markers that no chromosome holds, by reason."""
    not_run = [] if config.get("chromosomes") else \
        [i for i, c in enumerate(annotation.chromosomes) if c in NOT_RUN]
    nowhere = int(np.count_nonzero(reads.seen & (annotation.chrom < 0)))
    counts = {"dropped_not_in_annotation": reads.not_annotated + nowhere,
              "dropped_y_or_mt": int(np.count_nonzero(reads.seen & np.isin(annotation.chrom, not_run)))}
    return {k: v for k, v in counts.items() if v}


def _notes(reads, panel, rows, from_tables):
    notes = []
    if reads.left_out:
        shown = ", ".join(reads.left_out[:SHOWN]) + (", ..." if len(reads.left_out) > SHOWN else "")
        notes.append(f"left out, {_count(reads.left_out, 'sample')} of the FinalReports not in the sample table: "
                     f"{shown}")
    foreign = [(s.foreign_calls, s.name) for s in panel.strains if s.foreign_calls]
    if foreign:
        most = max(foreign)
        notes.append(f"{sum(k for k, _ in foreign):,} calls with an allele no founder carries read as N, in "
                     f"{_count(foreign, 'sample')} (most: {most[1]}, {most[0]:,})")
    disagree = sum(s.get("founder_samples_disagree", 0) for s in panel.site_stats.values())
    if disagree:
        notes.append(f"{disagree:,} founder calls untyped where a founder's samples disagree")
    if from_tables and any(r.founder is not None for r in rows):
        notes.append("the sample table's founder samples are not used: the founders' calls come from founder_genotypes")
    return notes


def _count(items, noun):
    return f"{len(items)} {noun}{'' if len(items) == 1 else 's'}"

"""One pass over a collected panel, chromosome after chromosome and block of
strains after block, gathering every strain's QC figures (Measures)."""
from dataclasses import dataclass, field
from types import SimpleNamespace
from typing import List, Optional

import numpy as np

from tarvel_panel.panel.x_copies import x_sex
from tarvel_panel.panel.prepared import read_prepared
from tarvel_panel.qc import error_candidates, founders, mixture, stats, x_funnel
from tarvel_panel.qc.calls import Genome, strain_blocks
from tarvel_panel.qc.reference import Reference
from tarvel_panel.qc.similarity import Agreement, same_strain, strain_switches
from tarvel_panel.support import progress


@dataclass
class Place:
    """A stretch of one chromosome, from one marker to another."""
    chrom: str
    first_marker: str
    last_marker: str
    first_pos: str          # as TARVEL was given them
    last_pos: str


def place(view, first, last):
    return Place(view.name, view.markers[first], view.markers[last], view.pos[first], view.pos[last])


@dataclass
class Measures:
    strains: list                   # the prepared panel's strain entries
    founders: List[str]
    unit: str                       # of lengths
    genome_length: float
    pos_unit: str = "cM"            # of the positions of places
    usable: int = 0                 # markers whose calls count
    called: np.ndarray = None       # [strains] each
    het_calls: np.ndarray = None
    x_het_calls: np.ndarray = None  # heterozygous calls on the X
    het_length: np.ndarray = None
    checked: np.ndarray = None
    candidates: np.ndarray = None
    founder_lengths: np.ndarray = None   # [strains, 8]
    segments: list = field(default_factory=list)    # (stats.HetSegment, Place)
    clusters: list = field(default_factory=list)    # (error_candidates.Cluster, Place)
    barred: list = field(default_factory=list)      # (x_funnel.BarredSpan, Place, candidates in it)
    shares: np.ndarray = None       # [strains, strains]
    same_strain: np.ndarray = None  # [strains, strains] bool
    mixtures: dict = field(default_factory=dict)    # strain -> mixture.mixture_sources()
    reference: Optional[np.ndarray] = None          # [strains] agreement with the namesake, nan: none

    def __post_init__(self):
        n = len(self.strains)
        for name in ("called", "het_calls", "x_het_calls", "checked", "candidates"):
            setattr(self, name, np.zeros(n, np.int64))
        self.het_length = np.zeros(n)
        self.founder_lengths = np.zeros((n, 8))

    def share(self, part, whole):
        return np.divide(part, whole, out=np.full(len(part), np.nan), where=np.asarray(whole) > 0)

    @property
    def call_rate(self):
        return self.share(self.called, np.full(len(self.called), self.usable))

    @property
    def het_call_rate(self):
        return self.share(self.het_calls, self.called)

    @property
    def het_share(self):
        return self.share(self.het_length, np.full(len(self.het_length), self.genome_length))

    @property
    def error_rate(self):
        return self.share(self.candidates, self.checked)

    @property
    def founder_shares(self):
        return founders.founder_shares(self.founder_lengths)


def measure_panel(out, settings):
    panel = read_prepared(out)
    genome = Genome(panel)
    lengths = genome.lengths()
    m = Measures(panel.strains, panel.founders, genome.unit, sum(lengths), panel.pos_unit)
    m.same_strain = same_strain(panel.strains)
    grid = mixture.GenomeGrid(len(panel.strains), lengths)
    agreement = Agreement(len(panel.strains))
    reference = Reference(settings.reference, panel) if settings.reference else None
    if reference is not None:
        progress.say(f"qc: {reference.matched()} of {len(panel.strains)} strains have a namesake in "
                     f"the reference {settings.reference}")
    ticker = progress.Ticker("qc", len(panel.chromosomes), "chromosomes measured", least=2)
    for k, view in enumerate(genome.chromosomes()):
        switches = []
        index = grid.markers(k, view.edges)
        if reference is not None:
            reference.start_chromosome(view)
        for block in strain_blocks(out, panel, view):
            runs = stats.runs(block.top_pair)
            measure_block(m, view, block, runs, settings)
            switches += strain_switches(*runs, block.top_pair)
            grid.add(k, index, block.first, block.calls)
            if reference is not None:
                reference.add(block, view.weights)
        if panel.strains:
            agreement.add_chromosome(switches, view.edges)
        ticker.step()
    m.shares = agreement.shares(m.genome_length)
    m.reference = reference.shares() if reference is not None else None
    suspects = (m.het_share > settings.het_share_max) | (m.error_rate > settings.error_rate_max)
    for strain in np.flatnonzero(suspects).tolist():
        look_alike = m.same_strain[strain] | (m.shares[strain] >= settings.duplicate_min)
        found = mixture.mixture_sources(grid.calls, strain, look_alike, settings.mixed_min)
        if found:
            m.mixtures[strain] = found
    return m


def one_copy_x(strain):
    """A female whose X TARVEL ran as one copy (an inbred strain): its
    residual heterozygosity there shows only in its calls."""
    return strain.get("sex") != "male" and x_sex(SimpleNamespace(sex=strain.get("sex")), strain["generation"]) == "M"


def measure_block(m, view, block, runs, s):
    rows = slice(block.first, block.first + len(block))
    usable, called, het_calls = stats.call_counts(block.calls, view.usable)
    if block.first == 0:
        m.usable += usable
    m.called[rows] += called
    m.het_calls[rows] += het_calls
    weights = view.weights
    m.het_length[rows] += stats.het_length(block.top_pair, weights)
    m.founder_lengths[rows] += founders.founder_lengths(block.alleleprobs, weights)
    m.segments += [(seg, place(view, seg.first, seg.last)) for seg in
                   stats.het_segments(block.first, view.name, *runs, block.top_pair, block.top_prob, view.edges)]
    checked, candidate = error_candidates.contradictions(block.calls, block.top_pair, block.top_prob,
                                                         view.founders, s.error_min_prob)
    if view.is_x:
        m.x_het_calls[rows] += het_calls
        one_copy = np.array([one_copy_x(m.strains[i]) for i in range(rows.start, rows.stop)])
        checked[one_copy] &= block.calls[one_copy] != 1
        candidate &= checked
    m.checked[rows] += checked.sum(axis=1)
    m.candidates[rows] += candidate.sum(axis=1)
    for k in range(len(block)):
        m.clusters += [(c, place(view, c.first, c.last)) for c in error_candidates.clusters(
            block.first + k, view.name, checked[k], candidate[k], s.cluster_min, s.cluster_gap)]
    if view.is_x:
        funnels = [m.strains[i]["funnel"] for i in range(rows.start, rows.stop)]
        cm = x_funnel.centimorgans(view.coord, m.unit)
        for span in x_funnel.barred_spans(block.first, funnels, block.calls, view.founders, cm,
                                          s.x_min_prob, s.x_min_markers):
            inside = candidate[span.strain - block.first, span.first:span.last + 1]
            m.barred.append((span, place(view, span.first, span.last), int(inside.sum())))

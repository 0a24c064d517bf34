"""The markers of an R/qtl2 cross that are used: those in the map and in both
genotype files. What cannot be matched is counted per chromosome and reason;
a chromosome that one genotype file types and the other lacks, or that only
the other map places, is refused rather than left out (a chromosome left out
on purpose is excluded with chromosomes=)."""
from tarvel_panel.errors import InputError
from tarvel_panel.panel.model import UNPLACED


LEAVE_OUT = "to leave it out, choose the chromosomes with chromosomes="


class Matching:
    """geno, founder_geno: the Calls of each file; where(key): (path, line,
    label) to blame for what the files of a control-file key lack (the file,
    or the control file's line naming several); map_key: the map used
    ("gmap" or "pmap"), map_line(marker): its (path, line) there; wanted: the
    chromosomes asked for (None: all)."""

    def __init__(self, geno, founder_geno, where, map_key, map_line, wanted=None):
        self.calls = {"geno": geno, "founder_geno": founder_geno}
        self.where = where
        self.map_key = map_key
        self.map_line = map_line
        self.wanted = wanted

    def chosen(self, chrom):
        return self.wanted is None or chrom in self.wanted

    def markers(self, positions, other=None):
        """({chromosome: kept Markers}, {chromosome: counts}) for the map
        `positions` ([(chromosome, Markers)]); `other` = (label, map) is the
        cross's other map, which places markers the map used may lack."""
        geno, founders = self.calls["geno"], self.calls["founder_geno"]
        placed = {name: chrom for chrom, markers in positions for name in markers.names}
        if self.wanted is None:
            for calls in self.calls.values():
                self._check_tables_placed(calls, placed)
        kept, stats = {}, {}
        for chrom, markers in positions:
            in_geno = [i for i, name in enumerate(markers.names) if geno.has(name)]
            both = [i for i in in_geno if founders.has(markers.names[i])]
            stats[chrom] = {"map_markers": len(markers), "markers_kept": len(both),
                            "dropped_not_in_geno": len(markers) - len(in_geno),
                            "dropped_not_in_founder_geno": len(in_geno) - len(both),
                            "dropped_not_in_map": 0}
            if both:
                kept[chrom] = markers.take(both)
            elif self.chosen(chrom):
                self._check_typed_in_neither(chrom, markers)
        unplaced = [m for m in geno.markers() if m not in placed]
        if other is not None:
            unplaced = self._place_by(other, placed, unplaced, stats)
        if unplaced:
            stats[UNPLACED] = {"dropped_not_in_map": len(unplaced)}
        return kept, stats

    def _check_typed_in_neither(self, chrom, markers):
        """A map chromosome none of whose markers is in both genotype files
        is left out only when neither types it."""
        for typed, lacking in (("geno", "founder_geno"), ("founder_geno", "geno")):
            names = [name for name in markers.names if self.calls[typed].has(name)]
            if names:
                path, line, _ = self.where(lacking)
                hint = _case_hint(names, self.calls[lacking])
                raise InputError(path, f"chromosome {chrom}: none of its {len(names)} markers in the "
                                 f"{typed} genotypes is in the {lacking} genotypes{hint} ({LEAVE_OUT})", line)

    def _check_tables_placed(self, calls, placed):
        """A genotype file (one of several, e.g. one per chromosome) none of
        whose markers the map places holds a chromosome the map lacks."""
        if len(calls.tables) < 2:
            return
        by_table = {}
        for marker in calls.markers():
            by_table.setdefault(id(calls.table_of(marker)), []).append(marker)
        for table in calls.tables:
            markers = by_table.get(id(table), [])
            if markers and not any(m in placed for m in markers):
                raise InputError(table.path, f"none of its {len(markers)} markers is in the map "
                                 f"({self.where(self.map_key)[2]}){_case_hint(markers, placed)} ({LEAVE_OUT})",
                                 table.header_line)

    def _place_by(self, other, placed, unplaced, stats):
        """Check the other map against the map used, count the markers only
        it places per chromosome; the markers it cannot place either."""
        other_path, other_map = other
        geno, founders = self.calls["geno"], self.calls["founder_geno"]
        chrom_of = {}
        for chrom, markers in other_map:
            for name in markers.names:
                chrom_of[name] = chrom
                if placed.get(name, chrom) != chrom:
                    path, line = self.map_line(name)
                    raise InputError(path, f"marker '{name}' is on chromosome {placed[name]} here "
                                     f"but on {chrom} in {other_path}", line)
            typed = [name for name in markers.names if geno.has(name) and founders.has(name)]
            if chrom not in stats and typed and self.chosen(chrom):
                path, line, label = self.where(self.map_key)
                this = "this map" if line is None else f"the {self.map_key} files ({label})"
                raise InputError(path, f"chromosome {chrom} is not in {this}, but {other_path} "
                                 f"places {len(typed)} typed markers on it ({LEAVE_OUT})", line)
        left = []
        for marker in unplaced:
            chrom = chrom_of.get(marker)
            if chrom in stats:
                stats[chrom]["dropped_not_in_map"] += 1
            else:
                left.append(marker)
        return left


def _case_hint(names, known):
    """Names that match only when case is ignored: the likeliest reason two
    files share none."""
    known_names = known.markers() if hasattr(known, "markers") else known
    folded = {k.lower(): k for k in known_names}
    for name in names:
        if name.lower() in folded:
            return f" ('{name}' is '{folded[name.lower()]}' there: the names differ in case)"
    return ""

"""A panel from VCF/BCF: founders and strains as samples of one or two files
(read with htslib through pysam), the strains' funnels from a strain table, and
positions from a genetic map (cM) or, without one, the base-pair positions.

Sites used are biallelic SNPs whose FILTER is PASS or "." in both files and
where the typed founders do not all carry the same allele. Founder calls:
0/0 -> 0, 1/1 -> 1, heterozygous or missing -> untyped. Strain calls: 0/0 -> 0,
0/1 -> 1, 1/1 -> 2, missing -> N. Haploid calls (a male X) count as
homozygous. A call whose GQ is below `min_gq` is missing.
"""
import os
import sys
from array import array
from functools import partial
from bisect import bisect_left
from operator import itemgetter

import numpy as np

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.genetic_map import chrom_name, read_genetic_map
from tarvel_panel.inputs.strain_fields import parse_funnel, parse_generation, parse_sex
from tarvel_panel.inputs.vcf.files import open_vcf
from tarvel_panel.near_names import did_you_mean
from tarvel_panel.panel.founder_names import LETTERS, eight_names
from tarvel_panel.panel.founder_names import founder_names as configured_names
from tarvel_panel.panel.model import NO_CALL, Chromosome, Markers, Panel, Strain, held, pack_calls, unpack_calls


# Site counts per chromosome, in the order they appear in summary.tsv.
STAT_KEYS = ["sites_read", "sites_kept", "dropped_not_snp", "dropped_filter",
             "dropped_duplicate", "dropped_founders_agree", "dropped_no_strain_site"]
TABLE_COLUMNS = ["strain", "funnel", "generation", "sex"]
BASES = set("ACGT")
PROGRESS_EVERY = 500_000


def config_list(value):
    """A config value given as a list, a comma-separated string or a single number."""
    if value is None or value == "":
        return []
    if isinstance(value, (list, tuple)):
        return [str(v).strip() for v in value]
    return [v.strip() for v in str(value).split(",") if v.strip()]


# ---- strain table -------------------------------------------------------

def read_strain_table(path, founder_names):
    """Rows of the table as Strains, in the table's order."""
    try:
        with open(path, newline="", encoding="utf-8-sig") as f:
            lines = f.read().splitlines()
    except OSError as e:
        raise InputError(path, f"cannot read strain table: {e.strerror or e}")
    except UnicodeDecodeError:
        raise InputError(path, "not a text file")
    rows = [(n, line.split("\t")) for n, line in enumerate(lines, start=1) if line.strip()]
    if not rows:
        raise InputError(path, "empty strain table")
    header = [h.strip() for h in rows[0][1]]
    if header[:2] != ["strain", "funnel"] or any(h not in TABLE_COLUMNS for h in header) \
            or len(set(header)) != len(header):
        raise InputError(path, "header must be strain<TAB>funnel, optionally followed by "
                         "generation and sex", line=rows[0][0])
    strains, seen = [], set()
    for line, cells in rows[1:]:
        if len(cells) != len(header):
            raise InputError(path, f"expected {len(header)} tab-separated columns, "
                             f"found {len(cells)}", line=line)
        row = dict(zip(header, (c.strip() for c in cells)))
        name = row["strain"]
        if not name or name in seen:
            raise InputError(path, f"strain name {name!r} is empty or repeated", line=line)
        seen.add(name)
        strains.append(Strain(name=name,
                              funnel=parse_funnel(path, line, row["funnel"], founder_names),
                              sex=parse_sex(path, line, row.get("sex", "")),
                              generation=parse_generation(path, line, row.get("generation", ""))))
    if not strains:
        raise InputError(path, "strain table lists no strain")
    return strains


# ---- genotype and site coding -------------------------------------------

def _called(sample, min_gq):
    """The sample's allele tuple, or None when missing or below min_gq."""
    gt = sample.get("GT")
    if not gt or any(a is None for a in gt):
        return None
    if min_gq is not None:
        gq = sample.get("GQ")
        if gq is not None and gq < min_gq:
            return None
    return gt


def founder_code(sample, min_gq=None):
    gt = _called(sample, min_gq)
    if gt is None or len(gt) > 2 or len(set(gt)) != 1:
        return None
    return gt[0]


def strain_code(sample, min_gq=None):
    gt = _called(sample, min_gq)
    if gt is None or len(gt) > 2:
        return None
    return 2 * gt[0] if len(gt) == 1 else sum(gt)


def is_biallelic_snp(rec):
    alts = rec.alts
    return (alts is not None and len(alts) == 1 and len(rec.ref) == 1 and len(alts[0]) == 1
            and rec.ref.upper() in BASES and alts[0].upper() in BASES)


def passes_filter(rec):
    return all(k == "PASS" for k in rec.filter.keys())


# ---- reading the files --------------------------------------------------

def _records(vf, path, wanted, others=None):
    """(normalized chromosome, record) for the wanted chromosomes (None = all), in
    the file's order: through the index when the file has one and chromosomes are
    chosen, else a scan. `others`, a set, gathers the other chromosomes that
    have records."""
    last = "the header"
    count = 0
    wanted = None if wanted is None else set(wanted)
    try:
        if wanted is not None and vf.index is not None:
            if others is not None:
                others.update(chrom_name(c) for c in vf.index
                              if chrom_name(c) not in wanted and next(vf.fetch(c), None) is not None)
            pieces = (vf.fetch(c) for c in vf.index if chrom_name(c) in wanted)
        else:
            pieces = [vf]
        for piece in pieces:
            for rec in piece:
                chrom = chrom_name(rec.chrom)
                last = f"{rec.chrom}:{rec.pos}"
                count += 1
                if count % PROGRESS_EVERY == 0:
                    print(f"{path}: {count} records read (at {last})", file=sys.stderr)
                if wanted is None or chrom in wanted:
                    yield chrom, rec
                elif others is not None:
                    others.add(chrom)
    except (OSError, ValueError) as e:
        raise InputError(path, f"unreadable record after site {last} "
                         f"(truncated or malformed): {e}")


def _check_samples(vf, path, names, what):
    samples = set(vf.header.samples)
    for n in names:
        if n not in samples:
            raise InputError(path, f"{what} {n!r} is not a sample in the file")


class _ChromSites:
    """Sites of one chromosome as they are read: candidates from the founders
    file, then strain calls matched to them. Everything per site is kept in
    flat arrays, not as objects: strain calls a byte each while the
    chromosome's records are read (`staged`), then at two bits (`packed`),
    so that a panel of many chromosomes holds one chromosome's calls at a
    byte a call at a time."""

    def __init__(self, strains):
        self.stats = dict.fromkeys(STAT_KEYS, 0)
        self.strains = strains
        self.pos = array("q")          # kept candidate positions, increasing
        self.alleles = bytearray()     # ref and alt of each, one byte each
        self.names = []
        self.founder_calls = bytearray()   # 8 per site, NO_CALL untyped
        self.staged = None                 # `strains` per site, NO_CALL until read
        self.packed = None                 # pack_calls of them once the chromosome is read
        self.state = bytearray()           # per site: HAS_CALLS, STRAIN_FILTERED
        self.last_pos = 0
        self._no_calls = bytes([NO_CALL]) * strains

    def add(self, pos, ref, alt, name, founder_codes):
        self.pos.append(pos)
        self.alleles += (ref + alt).encode("ascii")
        self.names.append(name)
        self.founder_calls += founder_codes
        if self.staged is not None or self.packed is not None:
            self.stage()
            self.staged += self._no_calls
        self.state.append(0)

    def site(self, pos):
        """The index of the candidate at `pos`, or None."""
        i = bisect_left(self.pos, pos)
        return i if i < len(self.pos) and self.pos[i] == pos else None

    def set_calls(self, i, codes):
        self.stage()
        n = self.strains
        self.staged[i * n:(i + 1) * n] = codes
        self.state[i] |= HAS_CALLS

    def stage(self):
        """Calls at a byte each, to be written to (again, for records of a
        chromosome that come back after another's)."""
        if self.staged is None:
            if self.packed is None:
                self.staged = bytearray(self._no_calls * len(self.pos))
            else:
                every = np.arange(self.strains)
                self.staged = bytearray(unpack_calls(self.packed, np.arange(len(self.packed)), every).tobytes())
                self.packed = None

    def pack(self):
        if self.staged is not None:
            self.packed = pack_calls(np.frombuffer(self.staged, np.uint8).reshape(-1, self.strains))
            self.staged = None


HAS_CALLS, STRAIN_FILTERED = 1, 2

# GT texts as htslib writes them -> (founder code, strain code); any other
# text is read through pysam's own parse of the call
_GT_TEXT = {}
for _text, _founder, _strain in [("0/0", 0, 0), ("1/1", 1, 2), ("0/1", None, 1), ("1/0", None, 1),
                                 ("0", 0, 0), ("1", 1, 2), (".", None, None), ("./.", None, None),
                                 ("./0", None, None), ("0/.", None, None), ("./1", None, None),
                                 ("1/.", None, None)]:
    for _form in {_text, _text.replace("/", "|")}:
        _GT_TEXT[_form] = (NO_CALL if _founder is None else _founder, NO_CALL if _strain is None else _strain)
FOUNDER_GT = {t: f for t, (f, _) in _GT_TEXT.items()}
STRAIN_GT = {t: s for t, (_, s) in _GT_TEXT.items()}


class _Columns:
    """Where the wanted samples are among a subset file's sample columns."""

    def __init__(self, vf, names):
        column = {n: i for i, n in enumerate(vf.header.samples)}
        index = [column[n] for n in names]
        self.pick = (lambda fields: (fields[index[0]],)) if len(index) == 1 else itemgetter(*index)
        self.names = names


def _codes(rec, columns, table, code, min_gq):
    """The calls of the `columns` samples of `rec` as bytes (NO_CALL for no
    call): read from the record's text where its GT fields say it plainly,
    else from pysam's parse of each sample."""
    fields = str(rec).rstrip("\n").split("\t")
    format_keys = fields[8]
    if format_keys == "GT" or (format_keys.startswith("GT:") and (min_gq is None or "GQ" not in rec.format)):
        gts = columns.pick(fields[9:])
        if format_keys != "GT":
            gts = [g.partition(":")[0] for g in gts]
        try:
            return bytes(map(table.__getitem__, gts))
        except KeyError:
            pass
    return bytes(NO_CALL if c is None else c for c in (code(rec.samples[n], min_gq) for n in columns.names))


def _add_founder_record(sites, rec, chrom, founders, min_gq, path):
    """Count the record and keep it as a candidate site; True when kept."""
    st = sites.stats
    st["sites_read"] += 1
    if rec.pos < sites.last_pos:
        raise InputError(path, f"site {rec.chrom}:{rec.pos} comes after position "
                         f"{sites.last_pos}: the file is not sorted by position")
    sites.last_pos = rec.pos
    if not is_biallelic_snp(rec):
        st["dropped_not_snp"] += 1
    elif not passes_filter(rec):
        st["dropped_filter"] += 1
    elif sites.pos and sites.pos[-1] == rec.pos:   # sorted: a kept site at this position is the last one
        st["dropped_duplicate"] += 1
    else:
        _check_gt(rec, path, "founders")
        codes = _codes(rec, founders, FOUNDER_GT, founder_code, min_gq)
        if len(set(codes) - {NO_CALL}) < 2:
            st["dropped_founders_agree"] += 1
            return False
        name = rec.id if rec.id else f"{chrom}:{rec.pos}"
        sites.add(rec.pos, rec.ref.upper(), rec.alts[0].upper(), name, codes)
        return True
    return False


def _add_strain_record(sites, rec, strains, min_gq, path):
    i = sites.site(rec.pos)
    if i is None or not is_biallelic_snp(rec) \
            or (rec.ref.upper() + rec.alts[0].upper()).encode("ascii") != sites.alleles[2 * i:2 * i + 2]:
        return
    if not passes_filter(rec):
        sites.state[i] |= STRAIN_FILTERED
        return
    _check_gt(rec, path, "strains")
    sites.set_calls(i, _codes(rec, strains, STRAIN_GT, strain_code, min_gq))


def _check_gt(rec, path, whose):
    """A site used must carry calls: without a GT field every call would read
    as missing."""
    if "GT" not in rec.format:
        given = ":".join(rec.format.keys()) or "none"
        raise InputError(path, f"site {rec.chrom}:{rec.pos} has no GT field (FORMAT: {given}): "
                         f"the {whose}' genotypes cannot be read")


def _wanted_chromosomes(config):
    chosen = [chrom_name(c) for c in config_list(config.get("chromosomes"))]
    return chosen or None


def _read_sites(config, founders, strains, min_gq):
    """Per chromosome (in the founders file's order) the kept sites with their calls."""
    f_path, s_path = str(config["founders_vcf"]), str(config["strains_vcf"])
    wanted = _wanted_chromosomes(config)
    same = os.path.exists(s_path) and os.path.exists(f_path) and os.path.samefile(f_path, s_path)
    fvf = open_vcf(f_path)
    _check_samples(fvf, f_path, founders, "founder")
    svf = fvf if same else open_vcf(s_path)
    _check_samples(svf, s_path, strains, "strain")
    fvf.subset_samples(sorted(set(founders) | (set(strains) if same else set())))
    founder_columns = _Columns(fvf, founders)
    strain_columns = _Columns(fvf, strains) if same else None
    by_chrom = {}
    sites = None
    for chrom, rec in _records(fvf, f_path, wanted):
        if sites is None or sites is not by_chrom.get(chrom):
            _packed_then(sites)
            sites = by_chrom.setdefault(chrom, _ChromSites(len(strains)))
        if _add_founder_record(sites, rec, chrom, founder_columns, min_gq, f_path) and same:
            _add_strain_record(sites, rec, strain_columns, min_gq, f_path)
    for c in wanted or []:
        if c not in by_chrom:
            raise InputError(f_path, f"chromosome {c} has no site in the file")
    if not same:
        svf.subset_samples(strains)
        strain_columns = _Columns(svf, strains)
        seen, others = set(), set()
        sites = None
        for chrom, rec in _records(svf, s_path, list(by_chrom), others):
            if chrom in by_chrom:
                seen.add(chrom)
                if sites is not by_chrom[chrom]:
                    _packed_then(sites)
                    sites = by_chrom[chrom]
                _add_strain_record(sites, rec, strain_columns, min_gq, s_path)
        for c in by_chrom:
            if c not in seen:
                raise InputError(s_path, f"chromosome {c} (in {f_path}) has no site in the file")
        if wanted is None and others:
            _missing(f_path, sorted(others)[0], f"it has sites in {s_path}")
    _packed_then(sites)
    return by_chrom


def _packed_then(sites):
    """Pack the calls of the chromosome whose records have been read."""
    if sites is not None:
        sites.pack()


def _missing(path, chrom, where):
    """A chromosome that another input has and the VCF lacks: the file may be
    cut short, so it is refused rather than left out."""
    raise InputError(path, f"chromosome {chrom} has no site in the file, but {where} (a file cut "
                     f"short? to leave it out, choose the chromosomes with chromosomes=)")


def _chromosome(chrom, sites, gmap, f_path, x_chr):
    st = sites.stats
    state = np.frombuffer(bytes(sites.state), np.uint8)
    filtered = (state & STRAIN_FILTERED) != 0
    st["dropped_filter"] += int(np.count_nonzero(filtered))
    st["dropped_no_strain_site"] += int(np.count_nonzero(~filtered & (state & HAS_CALLS == 0)))
    kept = np.flatnonzero(state == HAS_CALLS)
    st["sites_kept"] = len(kept)
    if st["sites_read"] == st["dropped_not_snp"]:
        raise InputError(f_path, f"chromosome {chrom}: no biallelic SNP among its "
                         f"{st['sites_read']} sites")
    if not len(kept):
        reasons = ", ".join(f"{k[len('dropped_'):]} {v}" for k, v in st.items()
                            if k.startswith("dropped_") and v)
        raise InputError(f_path, f"chromosome {chrom}: no site kept (dropped: {reasons})")
    every = len(kept) == len(state)
    at = sites.pos if every else [sites.pos[i] for i in kept.tolist()]
    bp = np.array(at, float)
    cm = np.array([gmap.cm(chrom, p) for p in at], float) if gmap else np.full(len(kept), np.nan)
    names = sites.names if every else [sites.names[i] for i in kept.tolist()]
    markers = Markers(names, cm if gmap else bp, bp / 1e6, cm)
    founders = np.frombuffer(sites.founder_calls, np.uint8).reshape(-1, 8)[kept]
    strains = sites.packed if every else sites.packed[kept]
    sites.founder_calls = sites.packed = None
    return Chromosome(name=chrom, is_x=chrom == x_chr, markers=markers, founder_calls=held(founders),
                      strain_calls=partial(_unpacked, strains, sites.strains))


def _unpacked(packed, strains, columns=None):
    """The calls of the strains at `columns` (all when None), a byte each."""
    columns = np.arange(strains) if columns is None else np.asarray(columns, np.int64)
    return unpack_calls(packed, np.arange(len(packed)), columns)


def _min_gq(config):
    value = config.get("min_gq")
    if value is None or value == "":
        return None
    try:
        return float(value)
    except (TypeError, ValueError):
        raise InputError("config min_gq", f"{value!r} is not a number")


def _founders(config):
    """The founders' sample names and the names shown (default the letters)."""
    return eight_names(config.get("founders"), "founders"), configured_names(config) or list(LETTERS)


def _selected_strains(config, table):
    chosen = config_list(config.get("strains"))
    known = [s.name for s in table]
    have = set(known)
    for name in chosen:
        if name not in have:
            raise InputError(config["strain_table"], f"strain {name!r} is not in the table{did_you_mean(name, known)}")
    wanted = set(chosen)
    return [s for s in table if not wanted or s.name in wanted]


def read_vcf_panel(config):
    """The panel the VCF config keys describe (see the module's docstring)."""
    for key in ("founders_vcf", "founders", "strain_table"):
        if not config.get(key):
            raise InputError(f"config {key}", f"missing: the VCF input needs {key}=")
    config = dict(config, strains_vcf=config.get("strains_vcf") or config["founders_vcf"])
    founders, names = _founders(config)
    min_gq = _min_gq(config)
    strains = _selected_strains(config, read_strain_table(config["strain_table"], names))
    gmap = read_genetic_map(config["genetic_map"]) if config.get("genetic_map") else None
    strain_names = [s.name for s in strains]
    by_chrom = _read_sites(config, founders, strain_names, min_gq)
    f_path = str(config["founders_vcf"])
    asked = _wanted_chromosomes(config)
    for chrom in gmap.chromosomes() if gmap and not asked else []:
        if chrom not in by_chrom:
            _missing(f_path, chrom, f"the genetic map {gmap.path} has points for it")
    if gmap:
        for chrom in by_chrom:
            if not gmap.has(chrom):
                raise InputError(gmap.path, f"no map points for chromosome {chrom} "
                                 f"(a contig of {f_path})")
    x_chr = chrom_name(str(config.get("x_chr") or "X"))
    if config.get("x_chr") and not asked and x_chr not in by_chrom:
        raise InputError("config x_chr", f"chromosome {config['x_chr']} is not in {f_path} "
                         f"(its chromosomes: {', '.join(by_chrom)})")
    chromosomes = [_chromosome(c, s, gmap, f_path, x_chr)
                   for c, s in by_chrom.items()]
    site_stats = {c: s.stats for c, s in by_chrom.items()}
    if not asked:
        site_stats.update(_contigs_without_sites(f_path, by_chrom, x_chr))
    return Panel(founders=names, strains=strains, chromosomes=chromosomes,
                 pos_unit="cM" if gmap else "bp", site_stats=site_stats, alleles=list(LETTERS))


def _contigs_without_sites(path, by_chrom, x_chr):
    """Counts of the contigs the header names that have no site: the prepare
    line names them, since a file cut short lacks its last chromosomes."""
    with open_vcf(path) as vf:
        contigs = [chrom_name(c) for c in vf.header.contigs]
    return {c: dict(sites_read=0, **({"is_x": 1} if c == x_chr else {}))
            for c in contigs if c not in by_chrom}

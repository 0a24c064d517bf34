"""Read an R/qtl2 cross of recombinant inbred strains from eight founders
(crosstype risib8): a control file in YAML or JSON, or a zip holding the
control file and the CSV files it names.

Genotype codes map through the control file's `genotypes` to 1 (homozygous
first allele), 2 (heterozygous) and 3 (homozygous second allele). Founders
1/3 become TARVEL's 0/1; a founder coded 2 cannot be placed on one allele
and counts as untyped. Strains 1/2/3 become 0/1/2. Missing codes become None.
"""
import math
import os
import re
from functools import partial

import numpy as np

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.cross.calls import Calls, code_bytes
from tarvel_panel.inputs.cross.control import parse_control
from tarvel_panel.inputs.cross.files import DirFiles, cross_files, text, text_chunks
from tarvel_panel.inputs.cross.matching import Matching
from tarvel_panel.inputs.cross.tables import read_codes, read_table
from tarvel_panel.panel.founder_names import pair_clash
from tarvel_panel.panel.model import MAX_GENERATION, MIN_GENERATION, Chromosome, Markers, Panel, Strain


DEFAULT_GENOTYPES = {"A": 1, "H": 2, "B": 3}
FOUNDER_CODING = {1: 0, 2: None, 3: 1}
STRAIN_CODING = {1: 0, 2: 1, 3: 2}


def read_cross(path, positions="gmap", generation_column=None, chromosomes=None):
    """The cross at `path` (control file or zip) as a Panel; positions from
    the genetic map (cM) or the physical map (Mbp). `chromosomes`: the ones
    asked for (None: all); the others may lack markers."""
    return _Cross(cross_files(str(path)), positions, generation_column).panel(chromosomes)


def named_files(path):
    """The existing files a control file names beside it, so that a change to
    any of them can be noticed; none for a zip or an unreadable control file
    (reading the cross then says what is wrong)."""
    try:
        files = cross_files(str(path))
        control = _Cross(files, "gmap", None).control
    except InputError:
        return []
    if not isinstance(files, DirFiles):
        return []
    info = control.get("cross_info")
    values = [control.get(k) for k in ("geno", "founder_geno", "gmap", "pmap", "covar")]
    values.append(info.get("file") if isinstance(info, dict) else None)
    names = [n for v in values for n in (v if isinstance(v, list) else [v]) if isinstance(n, str)]
    return [files.name(n) for n in names if os.path.isfile(files.name(n))]


class _Cross:
    def __init__(self, files, positions, generation_column):
        self.files = files
        self.positions = positions
        self.generation_column = generation_column or None
        self._control_text = self._read_control_text()
        self.control = self._parse_control()
        self._check_crosstype()
        self.sep = self._separator()
        self.comment = str(self.control.get("comment.char", "#"))
        na = self.control.get("na.strings", ["-", "NA"])
        self.na = {str(x) for x in (na if isinstance(na, list) else [na])}
        self.genotypes = self._genotype_codes()
        self._check_na_strings()

    # --- control file -------------------------------------------------
    def _read_control_text(self):
        return text(self.files.read(None), self.files.control)

    def _parse_control(self):
        data = parse_control(self._control_text, self.files.control)
        if not isinstance(data, dict):
            raise InputError(self.files.control, "not an R/qtl2 control file (expected keys such as crosstype, geno, gmap)")
        return data

    def _key_line(self, key):
        pattern = re.compile(r'^\s*["\']?' + re.escape(key) + r'["\']?\s*:')
        for number, line in enumerate(self._control_text.splitlines(), 1):
            if pattern.search(line) or f'"{key}"' in line:
                return number
        return None

    def _control_error(self, key, message):
        return InputError(self.files.control, message, self._key_line(key))

    def _check_crosstype(self):
        crosstype = self.control.get("crosstype")
        if crosstype is None:
            raise self._control_error("crosstype", "no crosstype given (expected risib8)")
        if str(crosstype) != "risib8":
            raise self._control_error(
                "crosstype", f"crosstype '{_brief(crosstype)}' is not supported: only risib8 "
                "(recombinant inbred strains from eight founders) can be run")

    def _genotype_codes(self):
        codes = self.control.get("genotypes", DEFAULT_GENOTYPES)
        if not isinstance(codes, dict) or not codes:
            raise self._control_error("genotypes", "genotypes must map codes to 1, 2 or 3")
        result = {}
        for code, value in codes.items():
            if value not in (1, 2, 3) or isinstance(value, bool):
                raise self._control_error(
                    "genotypes", f"genotype code '{code}' maps to {_brief(value, repr)}; expected 1, 2 or 3")
            result[str(code)] = value
        return result

    def _separator(self):
        sep = self.control.get("sep", ",")
        if not isinstance(sep, str) or not sep:
            raise self._control_error("sep", f"sep must be the field separator, e.g. ',', not {_brief(sep, repr)}")
        return sep

    def _check_na_strings(self):
        both = sorted(self.na & set(self.genotypes))
        if both:
            raise self._control_error("na.strings", f"na.strings '{both[0]}' is also a genotype code "
                                      f"(genotypes: {', '.join(self.genotypes)}): its calls would read as missing")

    def _file_names(self, key, value=None):
        value = self.control.get(key) if value is None else value
        if value is None:
            raise self._control_error(key, f"no '{key}' file given")
        names = value if isinstance(value, list) else [value]
        if not names or not all(isinstance(n, str) and n for n in names):
            raise self._control_error(key, f"'{key}' must be a file name or a list of file names")
        return names

    def _tables(self, key, value=None, read=read_table):
        tables = []
        for rel in self._file_names(key, value):
            blocks = self.files.blocks(rel)
            if blocks is None:
                raise InputError(self.files.control, f"the {key} file '{rel}' is missing "
                                 f"(looked for {self.files.name(rel)})", self._file_line(rel, key))
            name = self.files.name(rel)
            tables.append(read(text_chunks(blocks, name), name, self.sep, self.comment))
        return tables

    def _file_line(self, rel, key):
        """The control file's line naming `rel`: the key's own line or one
        of the list lines after it."""
        start = self._key_line(key) or 1
        lines = self._control_text.splitlines()
        return next((n for n in range(start, len(lines) + 1) if rel in lines[n - 1]), start)

    # --- the panel ----------------------------------------------------
    def panel(self, wanted=None):
        founders = self._founders()
        positions, map_lines = self._map()
        geno = self._calls("geno", STRAIN_CODING, "strain", positions)
        founder_geno = self._calls("founder_geno", FOUNDER_CODING, "founder", positions)
        self._check_founders_typed(founders, founder_geno)
        strains = self._strains(geno)
        matching = Matching(geno, founder_geno, self._where, self.positions, map_lines, wanted)
        other = self._other_map()
        _carry_maps(positions, self._map_key(), other)
        matched, site_stats = matching.markers(positions, other)
        x_chr = self._x_chr(positions, wanted)
        chromosomes = []
        strain_names = [s.name for s in strains]
        for name, _ in positions:
            kept = matched.get(name)
            if not kept:  # e.g. a map with Y and MT for a cross typed on autosomes and X
                site_stats[name]["is_x"] = int(name == x_chr)
                continue
            chromosomes.append(Chromosome(
                name=name, is_x=x_chr is not None and name == str(x_chr), markers=kept,
                founder_calls=partial(founder_geno.calls, founders, founder_geno.numbers(kept.names)),
                strain_calls=partial(_strain_calls, geno, strain_names, geno.numbers(kept.names))))
        if not chromosomes:
            raise InputError(self.files.control, "no marker is in the map, geno and founder_geno files at once")
        geno.forget_markers()
        founder_geno.forget_markers()
        pos_unit = "cM" if self.positions == "gmap" else "Mbp"
        return Panel(founders=founders, strains=strains, chromosomes=chromosomes,
                     pos_unit=pos_unit, site_stats=site_stats, alleles=list(founders))

    def _map(self):
        """The map used for positions, and where each of its markers is."""
        tables = self._tables(self._map_key(), read=MAP_TABLE)
        return read_map(tables), _marker_lines(tables)

    def _calls(self, key, coding, kind, positions):
        transposed = bool(self.control.get(f"{key}_transposed", False))
        coder = self._coder(coding)
        calls = Calls(self._tables(key, read=partial(read_codes, codes=code_bytes(coder))), transposed, coder, kind)
        self._check_orientation(key, calls, transposed, positions)
        return calls

    def _check_orientation(self, key, calls, transposed, positions):
        """Markers of the map among the individuals and none among the
        markers: the file is read the wrong way round."""
        mapped = {name for _, markers in positions for name in markers.names}
        crossed = [name for name in calls.individuals if name in mapped]
        if crossed and not any(calls.has(m) for m in mapped):
            flag = f"{key}_transposed"
            said, found = ("rows", "columns") if transposed else ("columns", "rows")
            raise self._control_error(
                flag if flag in self.control else key,
                f"{flag} is {str(transposed).lower()}, so the {said} of {self._where(key)[2]} should be markers, "
                f"but its {found} are ('{crossed[0]}' is in the map): the orientation is likely wrong")

    def _x_chr(self, positions, wanted):
        """The X chromosome's name (None: the cross has no X): a chromosome
        of the map unless it is left out with chromosomes=."""
        x_chr = self.control.get("x_chr")
        if x_chr is None:
            return None
        x_chr, names = str(x_chr), [name for name, _ in positions]
        if x_chr not in names and (wanted is None or x_chr in wanted):
            same = [n for n in names if n.lower() == x_chr.lower()]
            more = ", ..." if len(names) > 10 else ""
            has = f"names it '{same[0]}'" if same else f"has {', '.join(names[:10])}{more}"
            raise self._control_error("x_chr", f"x_chr '{x_chr}' is not a chromosome of the map "
                                      f"{self._where(self._map_key())[2]} (it {has})")
        return x_chr

    def _where(self, key):
        """(path, line, label) for what the files of `key` lack: the file
        itself, or the control file's line when it names several."""
        names = self._file_names(key)
        if len(names) == 1:
            return self.files.name(names[0]), None, self.files.name(names[0])
        return self.files.control, self._key_line(key), ", ".join(self.files.name(n) for n in names)

    def _other_map(self):
        """(label, map) of the map not used for positions, when the cross has one."""
        other = "pmap" if self._map_key() == "gmap" else "gmap"
        if self.control.get(other) is None:
            return None
        return self._where(other)[2], read_map(self._tables(other, read=MAP_TABLE))

    def _coder(self, coding):
        table = {code: coding[value] for code, value in self.genotypes.items()}
        table.update({code: None for code in self.na})
        return table

    def _founders(self):
        alleles = self.control.get("alleles")
        if alleles is None:
            raise self._control_error("alleles", "no alleles given (the eight founder letters, e.g. A..H)")
        alleles = [str(a) for a in (alleles if isinstance(alleles, list) else list(str(alleles)))]
        if len(alleles) != 8 or len(set(alleles)) != 8:
            raise self._control_error("alleles", f"alleles must be eight distinct founder names, not {_brief(alleles)}")
        clash = pair_clash(alleles)
        if clash:
            raise self._control_error("alleles", f"{clash} (R/qtl2 names its genotypes by the alleles)")
        return alleles

    def _check_founders_typed(self, founders, founder_geno):
        for f in founders:
            if f not in founder_geno.individuals:
                raise InputError(founder_geno.tables[0].path, f"founder '{f}' (from alleles) has no genotypes",
                                 founder_geno.tables[0].header_line)

    def _map_key(self):
        key = self.positions
        if key not in ("gmap", "pmap"):
            raise InputError("config positions", f"must be gmap or pmap, not '{key}'")
        return key

    def _strains(self, geno):
        if not geno.individuals:
            path, line, label = self._where("geno")
            raise InputError(path, f"{label} holds no strain's calls, only the markers", line)
        funnels = self._cross_info()
        covar = self._covariates(geno) if (self.control.get("sex") or self.generation_column) else {}
        strains = []
        for name in geno.individuals:
            if name not in funnels:
                path, line = geno.origin[name]
                raise InputError(path, f"strain '{name}' has no row in the cross_info file", line)
            sex, generation = covar.get(name, (None, None))
            strains.append(Strain(name=name, funnel=funnels[name], sex=sex, generation=generation))
        return strains

    def _cross_info(self):
        info = self.control.get("cross_info")
        if not isinstance(info, dict) or "file" not in info:
            raise self._control_error("cross_info", "cross_info must give {file: ...} with the funnel of every strain")
        funnels = {}
        for table in self._tables("cross_info", info["file"], read=partial(read_table, keep=_first(8))):
            if len(table.header) != 8:
                raise InputError(table.path, f"expected an id and 8 founder columns, found {len(table.header)} "
                                 "founder columns", table.header_line)
            for strain, row, line in zip(table.ids, table.rows, table.lines):
                if strain in funnels:
                    raise InputError(table.path, f"strain '{strain}' has a second row", line)
                funnels[strain] = _funnel(row, table.path, line)
        return funnels

    def _covariates(self, geno):
        """strain -> (sex, generation) from the covar file."""
        sex = self.control.get("sex") or {}
        wanted = [self.generation_column, str(sex["covar"]) if isinstance(sex, dict) and "covar" in sex else None]
        tables = self._tables("covar", read=partial(read_table, keep=lambda header: [
            i for i, name in enumerate(header) if name in wanted]))
        if sex and (not isinstance(sex, dict) or "covar" not in sex):
            raise self._control_error("sex", "sex must give {covar: COLUMN, CODE: female|male, ...}")
        sex_codes = {str(k): str(v).lower() for k, v in sex.items() if k != "covar"}
        for code, value in sex_codes.items():
            if value not in ("female", "male"):
                raise self._control_error("sex", f"sex code '{code}' maps to '{value}'; expected female or male")
        result = {}
        for table in tables:
            sexes = _column(table, str(sex["covar"])) if sex else None
            generations = _column(table, self.generation_column) if self.generation_column else None
            for k, (strain, line) in enumerate(zip(table.ids, table.lines)):
                result[strain] = (_sex(sexes and sexes[k], sex_codes, table.path, line),
                                  _generation(generations and generations[k], table.path, line))
        for name in geno.individuals:
            if name not in result:
                path, line = geno.origin[name]
                raise InputError(path, f"strain '{name}' has no row in the covar file", line)
        return result


def _strain_calls(geno, strain_names, markers, columns=None):
    """The calls of the strains at `columns` (indices into strain_names), or of all."""
    return geno.calls(strain_names if columns is None else [strain_names[i] for i in columns], markers)


def _brief(value, shown=str, width=80):
    """A value of the control file as a message shows it: cut short when long."""
    text = shown(value)
    return text if len(text) <= width else text[:width - 3] + "..."


def _first(count):
    """keep= of read_table: the first `count` columns."""
    return lambda header: range(min(count, len(header)))


# a map's marker, chromosome and position
MAP_TABLE = partial(read_table, keep=_first(2))


def _column(table, name):
    """The values of the column `name`."""
    if name not in table.header:
        shown = ", ".join(table.header[:10]) + (", ..." if len(table.header) > 10 else "")
        raise InputError(table.path, f"no column '{name}' (columns: {shown})", table.header_line)
    return table.columns[table.header.index(name)]


def _sex(value, codes, path, line):
    if value is None:
        return None
    if value not in codes:
        raise InputError(path, f"sex code '{value}' is not one of {', '.join(codes)}", line)
    return codes[value]


def _generation(value, path, line):
    if value is None:
        return None
    try:
        generation = int(value)
    except ValueError:
        raise InputError(path, f"generation '{value}' is not a whole number", line)
    if not MIN_GENERATION <= generation <= MAX_GENERATION:
        raise InputError(path, f"generation {generation} is outside {MIN_GENERATION}..{MAX_GENERATION}", line)
    return generation


def _funnel(row, path, line):
    try:
        funnel = tuple(int(v) for v in row)
    except ValueError:
        funnel = None
    if funnel is None or sorted(funnel) != list(range(1, 9)):
        raise InputError(path, f"funnel {' '.join(row)} is not a permutation of 1..8", line)
    return funnel


def _marker_lines(tables):
    """marker -> (path, line) in the map's tables, looked up when asked."""
    spots = [(table.path, table.ids, table.lines) for table in tables]

    def line_of(marker):
        return next((path, lines[ids.index(marker)]) for path, ids, lines in spots if marker in ids)
    return line_of


def _carry_maps(positions, key, other):
    """Both maps ride along on the markers (for the R/qtl2 map objects):
    `key`'s from the positions, the other's from `other` ((label, map) or None)."""
    second = "pmap" if key == "gmap" else "gmap"
    others = {name: pos for _, ms in other[1] for name, pos in zip(ms.names, ms.pos.tolist())} if other else {}
    for _, markers in positions:
        setattr(markers, key, markers.pos)
        setattr(markers, second, np.array([others.get(name, math.nan) for name in markers.names], float))


def read_map(tables):
    """[(chromosome, Markers)] in the order chromosomes first appear; each
    chromosome's markers in file order, which must not decrease."""
    chromosomes = {}
    seen = set()
    for table in tables:
        if len(table.header) < 2:
            raise InputError(table.path, "expected the columns marker, chr, pos", table.header_line)
        for marker, chrom, pos_text, line in zip(table.ids, table.columns[0], table.columns[1], table.lines):
            if marker in seen:
                raise InputError(table.path, f"duplicate marker '{marker}'", line)
            seen.add(marker)
            if not chrom:
                raise InputError(table.path, f"marker '{marker}' has no chromosome name", line)
            pos = _position(pos_text, table.path, line)
            names, positions = chromosomes.get(chrom) or chromosomes.setdefault(chrom, ([], []))
            if positions and pos < positions[-1]:
                raise InputError(table.path, f"position {pos_text} of marker '{marker}' is below the position "
                                 f"{positions[-1]!r} of '{names[-1]}' before it on chromosome {chrom}", line)
            names.append(marker)
            positions.append(pos)
    return [(chrom, Markers(names, np.array(positions, float), _no_positions(len(names)), _no_positions(len(names))))
            for chrom, (names, positions) in chromosomes.items()]


def _no_positions(count):
    return np.full(count, math.nan)


def _position(text, path, line):
    try:
        pos = float(text)
    except ValueError:
        pos = math.nan
    if not math.isfinite(pos):
        raise InputError(path, f"position '{text}' is not a number", line)
    return pos

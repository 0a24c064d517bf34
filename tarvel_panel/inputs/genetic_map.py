"""A genetic map (CSV `chr,pos_bp,cM`) and the cM position it gives a base-pair
position: linear between map points, flat before the first and after the last
point, exactly the map's value at a map point."""
import bisect
import csv

from tarvel_panel.errors import InputError


HEADER = ["chr", "pos_bp", "cM"]


def chrom_name(name):
    """The chromosome's name without a leading "chr": "chr19" and "19" are the same."""
    return name[3:] if name[:3].lower() == "chr" and len(name) > 3 else name


class GeneticMap:
    def __init__(self, path, points):
        self.path = path
        self._bp = {c: [p[0] for p in pts] for c, pts in points.items()}
        self._cm = {c: [p[1] for p in pts] for c, pts in points.items()}

    def chromosomes(self):
        return list(self._bp)

    def has(self, chrom):
        return chrom_name(chrom) in self._bp

    def cm(self, chrom, pos_bp):
        """cM at `pos_bp` on `chrom` (either naming)."""
        bp = self._bp[chrom_name(chrom)]
        cm = self._cm[chrom_name(chrom)]
        i = bisect.bisect_left(bp, pos_bp)
        if i < len(bp) and bp[i] == pos_bp:
            return cm[i]
        if i == 0:
            return cm[0]
        if i == len(bp):
            return cm[-1]
        frac = (pos_bp - bp[i - 1]) / (bp[i] - bp[i - 1])
        return cm[i - 1] + frac * (cm[i] - cm[i - 1])


def read_genetic_map(path):
    """Read and check a map: pos_bp increasing and cM not decreasing within a
    chromosome. A point repeated with the same cM (two probes at one SNP) is
    read once; the same pos_bp with another cM is refused."""
    points = {}
    lines = {}      # chromosome -> line of its last point
    try:
        with open(path, newline="", encoding="utf-8-sig") as f:
            rows = csv.reader(f)
            header = next(rows, None)
            if header is None or [h.strip() for h in header] != HEADER:
                raise InputError(path, f"header must be {','.join(HEADER)}", line=1)
            for line, row in enumerate(rows, start=2):
                if not row or not "".join(row).strip():
                    continue
                chrom, bp, cm = _parse_row(path, line, row)
                pts = points.setdefault(chrom, [])
                if pts and bp == pts[-1][0]:
                    if cm != pts[-1][1]:
                        raise InputError(path, f"pos_bp {bp} on chromosome {chrom} has cM {cm} here "
                                         f"and {pts[-1][1]} on line {lines[chrom]}", line=line)
                    continue
                if pts and bp < pts[-1][0]:
                    raise InputError(path, f"pos_bp {bp} on chromosome {chrom} is not above "
                                     f"the previous point's {pts[-1][0]}", line=line)
                if pts and cm < pts[-1][1]:
                    raise InputError(path, f"cM {cm} on chromosome {chrom} is below the "
                                     f"previous point's {pts[-1][1]}", line=line)
                pts.append((bp, cm))
                lines[chrom] = line
    except csv.Error as e:   # e.g. a field past csv's bound, an unclosed quote
        raise InputError(path, f"not a CSV genetic map ({e})", line=rows.line_num)
    except OSError as e:
        raise InputError(path, f"cannot read genetic map: {e.strerror or e}")
    except UnicodeDecodeError:
        raise InputError(path, "not a text file")
    if not points:
        raise InputError(path, "genetic map has no points")
    return GeneticMap(path, points)


def _parse_row(path, line, row):
    if len(row) != 3:
        raise InputError(path, f"expected 3 columns (chr,pos_bp,cM), found {len(row)}", line=line)
    chrom = chrom_name(row[0].strip())
    try:
        bp = int(row[1])
    except ValueError:
        raise InputError(path, f"pos_bp {row[1]!r} is not a whole number", line=line)
    try:
        cm = float(row[2])
    except ValueError:
        raise InputError(path, f"cM {row[2]!r} is not a number", line=line)
    if cm != cm or cm in (float("inf"), float("-inf")):
        raise InputError(path, f"cM {row[2]!r} is not a finite number", line=line)
    return chrom, bp, cm

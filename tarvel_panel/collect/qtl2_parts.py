"""A chromosome's values in the plain binary form that
workflow/scripts/qtl2_rds.R reads with readBin to write the R/qtl2 objects.

Index file (little-endian throughout):
  int32 S, M, K              strains, markers, maps
  int32 N, then N int32      byte lengths of the N = 3 + K + 2S + 16 + 36 + M strings,
  then the N UTF-8 strings:  "tarvel-qtl2 4", chromosome name, "TRUE"/"FALSE"
                             (the X), the K map names (pmap, gmap), the strains,
                             "TRUE"/"FALSE" for each (female), the 8 founders' alleles, their 8 names, the 36
                             pairs' names (of the alleles, pairs.pair_names),
                             the markers
  float64 [K, M]             each map's positions (pmap Mbp, gmap cM)
Values files: float64, strain after strain, each strain's [M, F] block in
marker order (F = 8 founders in the allele file, 36 pairs in the pair file),
so that R reads one strain as an F x M matrix."""
import numpy as np

from tarvel_panel.pairs import pair_names


MAGIC = "tarvel-qtl2 4"


def _logical(flag):
    return "TRUE" if flag else "FALSE"


# markers encoded at a time
AT_ONCE = 1 << 16


def write_index(stream, chromosome, is_x, strains, female, alleles, founders, markers, maps):
    """`female`: a flag per strain; `alleles` name the objects' genotypes,
    `founders` are the names shown beside them; `maps`: {name: positions} of
    the maps every marker has. The markers' names are encoded a block at a
    time (twice: their lengths, then their bytes), not held encoded whole."""
    texts = [MAGIC, chromosome, _logical(is_x)] + list(maps) + list(strains) + [_logical(f) for f in female] \
        + list(alleles) + list(founders) + pair_names(alleles)
    data = [t.encode("utf-8") for t in texts]
    blocks = range(0, len(markers), AT_ONCE)

    def encoded(first):
        return [m.encode("utf-8") for m in markers[first:first + AT_ONCE]]

    stream.write(np.array([len(strains), len(markers), len(maps), len(data) + len(markers)], dtype="<i4").tobytes())
    stream.write(np.array([len(d) for d in data], dtype="<i4").tobytes())
    for first in blocks:
        stream.write(np.array([len(d) for d in encoded(first)], dtype="<i4").tobytes())
    stream.write(b"".join(data))
    for first in blocks:
        stream.write(b"".join(encoded(first)))
    for positions in maps.values():
        stream.write(np.asarray(positions, dtype="<f8").tobytes())


def write_values(stream, values):
    """One strain's [markers, F] float64 block."""
    stream.write(np.ascontiguousarray(values, dtype="<f8").tobytes())

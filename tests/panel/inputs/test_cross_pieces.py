"""A cross is read a piece of text at a time: where the pieces end changes
nothing (the text, the rows with their line numbers and calls, the fault
named first), and the genotypes are held at a fraction of a byte per call."""
import gzip
import tracemalloc

import numpy as np
import pytest
from crosses import FOUNDERS, write_cross

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.cross import tables as qtl2_csv
from tarvel_panel.inputs.cross import files as qtl2_files
from tarvel_panel.inputs.cross.files import text_chunks
from tarvel_panel.inputs.cross.read import read_cross
from tarvel_panel.inputs.cross.tables import read_codes, read_table
from tarvel_panel.panel.model import NO_CALL as N, unpack_calls


def blocks(data, size):
    return [data[i:i + size] for i in range(0, len(data), size)]


@pytest.mark.parametrize("size", [1, 2, 3, 7])
def test_text_in_pieces_is_the_text_at_once(size):
    # a byte order mark, CRLF, characters of two and three bytes, other line breaks
    for text in ["\ufeffa,b\r\nc\u00e9,d\n\nx\u2028y\r", "no line end", "", "\ufeff"]:
        for data in (text.encode(), gzip.compress(text.encode())):
            pieces = list(text_chunks(blocks(data, size), "f"))
            assert "".join(pieces) == text.encode().decode("utf-8-sig")
            assert all(piece.endswith("\n") for piece in pieces[:-1])
    with pytest.raises(InputError, match=r"^f: not UTF-8 text \(byte 7\)$"):   # counted after the mark
        list(text_chunks(blocks("\ufeffab\nc\u00e9\n".encode() + b"\xff\n", size), "f"))


CODES = {"A": 0, "H": 1, "B": 2, "-": N, "NA": N}
# lines of every kind: comments, blank ones, CRLF, spaces, quotes, a code of
# two characters, a name that is not ASCII, five calls to a row (two bytes)
GENO = ("# calls\nmarker,S1,S2,S3,S4,S5\nm1,A,B,H,A,B\r\n\n  \nm2, A,NA,-,B,A\n# between\n"
        '"m3",B,"A",B,A,A\nm\u00e94,A,A,B,H,H\nm5,A,Q,B,A,A\nm6,B,H,A,B,-\nm7,H,H,H,H,H\n')


@pytest.mark.parametrize("size", [1, 9, 20, len(GENO.encode())])
@pytest.mark.parametrize("rows_at_once", [1, 2, 2048])
def test_a_table_reads_the_same_in_any_pieces(size, rows_at_once, monkeypatch):
    monkeypatch.setattr(qtl2_csv, "ROWS_AT_ONCE", rows_at_once)
    table = read_codes(text_chunks(blocks(GENO.encode(), size), "g"), "g", ",", "#", CODES)
    assert (table.header, table.header_line) == (["S1", "S2", "S3", "S4", "S5"], 2)
    assert table.ids == ["m1", "m2", "m3", "m\u00e94", "m5", "m6", "m7"]
    assert list(table.lines) == [3, 6, 8, 9, 10, 11, 12]
    calls = unpack_calls(table.codes, np.arange(7), np.arange(5))
    assert calls.tolist() == [[0, 2, 1, 0, 2], [0, N, N, 2, 0], [2, 0, 2, 0, 0], [0, 0, 2, 1, 1],
                              [0, N, 2, 0, 0], [2, 1, 0, 2, N], [1, 1, 1, 1, 1]]
    assert table.unknown == (10, ["A", "Q", "B", "A", "A"])
    names = read_table(text_chunks(blocks(GENO.encode(), size), "g"), "g", ",", "#")
    assert (names.ids, list(names.lines)) == (table.ids, list(table.lines))
    assert names.rows[1] == ("A", "NA", "-", "B", "A") and names.rows[2] == ("B", "A", "B", "A", "A")
    # as long as a row of single characters, but with empty fields
    with pytest.raises(InputError, match="^g:3: 5 fields where the header has 4$"):
        read_codes(text_chunks([b"marker,S1,S2,S3\nm0,A,B,H\nm1,A,,,B\n"], "g"), "g", ",", "#", CODES)


def edit_line(path, number, edit):
    lines = path.read_bytes().split(b"\n")
    lines[number - 1] = edit(lines[number - 1])
    path.write_bytes(b"\n".join(lines))


# two faults in geno_all.csv: the one the file shows as a whole is named,
# wherever it is, as when files were read at once
@pytest.mark.parametrize("early, late, named", [
    (lambda line: line.replace(b",A", b",Q", 1), lambda line: line + b",A", "fields where the header has"),
    (lambda line: line + b",A", lambda line: line + b"\xff", "not UTF-8 text"),
])
def test_the_fault_of_the_whole_file_is_named_first(tmp_path, monkeypatch, early, late, named):
    monkeypatch.setattr(qtl2_files, "BLOCK_SIZE", 16)
    cross = write_cross(tmp_path)
    edit_line(tmp_path / "geno_all.csv", 3, early)
    edit_line(tmp_path / "geno_all.csv", 8, late)
    with pytest.raises(InputError, match=named):
        read_cross(cross)


def big_cross(root, strains, markers=10000):
    """A cross of one chromosome with a founder typed at every marker."""
    root.mkdir()
    names = [f"S{i}" for i in range(strains)]
    rows = [f"m{k}," + ",".join("AHB"[(k + i) % 3] for i in range(strains)) for k in range(markers)]
    (root / "geno.csv").write_text("\n".join(["marker," + ",".join(names)] + rows) + "\n")
    (root / "founder_geno.csv").write_text("\n".join(["marker," + ",".join(FOUNDERS)] +
                                                    [f"m{k},A,B,A,B,A,B,A,B" for k in range(markers)]) + "\n")
    (root / "gmap.csv").write_text("\n".join(["marker,chr,pos"] + [f"m{k},1,{k / 100}" for k in range(markers)]))
    (root / "cross_info.csv").write_text("\n".join(["id," + ",".join(FOUNDERS)] +
                                                  [f"{n},1,2,3,4,5,6,7,8" for n in names]))
    (root / "cross.yaml").write_text("crosstype: risib8\nalleles: [A, B, C, D, E, F, G, H]\ngeno: geno.csv\n"
                                     "founder_geno: founder_geno.csv\ngmap: gmap.csv\ngeno_transposed: true\n"
                                     "founder_geno_transposed: true\ncross_info: {file: cross_info.csv}\n")
    return root / "cross.yaml"


def test_a_cross_is_held_at_less_than_a_byte_per_call(tmp_path, monkeypatch):
    """Genotypes kept as Python objects, or a genotype file held whole as
    text, would take several bytes for each call more."""
    monkeypatch.setattr(qtl2_files, "BLOCK_SIZE", 1 << 16)
    peaks = []
    for strains in (4, 104):
        cross = big_cross(tmp_path / str(strains), strains)
        tracemalloc.start()
        panel = read_cross(cross)
        peaks.append(tracemalloc.get_traced_memory()[1])
        tracemalloc.stop()
        assert len(panel.strains) == strains and panel.chromosomes[0].strain_geno.shape == (10000, strains)
    assert peaks[1] - peaks[0] < 100 * 10000

"""Positions from a genetic map: linear between points, flat beyond the ends,
the map's own value at a point; and the maps that are refused."""
import pytest

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.genetic_map import read_genetic_map


def write_map(tmp_path, rows):
    path = tmp_path / "map.csv"
    path.write_text("chr,pos_bp,cM\n" + "".join(r + "\n" for r in rows))
    return path


def test_interpolation(tmp_path):
    gmap = read_genetic_map(write_map(tmp_path, ["chr1,1000,0.5", "chr1,3000,1.5",
                                                 "chr1,4000,1.5", "X,10,3.3"]))
    assert gmap.cm("1", 2500) == pytest.approx(1.25)        # inside
    assert gmap.cm("chr1", 3500) == 1.5                     # inside a flat stretch
    assert gmap.cm("1", 3000) == 1.5 and gmap.cm("chrX", 10) == 3.3   # at map points
    assert gmap.cm("1", 1) == 0.5 and gmap.cm("X", 1) == 3.3          # before the first
    assert gmap.cm("1", 10**9) == 1.5                                 # after the last
    assert gmap.has("chrX") and not gmap.has("2")


@pytest.mark.parametrize("rows, line, fragment", [
    (["1,100,0.1", "1,100,0.2"], 3, "pos_bp 100 on chromosome 1 has cM 0.2 here and 0.1 on line 2"),
    (["1,200,0.1", "1,100,0.2"], 3, "not above"),
    (["1,100,0.3", "1,200,0.2"], 3, "below"),
    (["1,100,0.1", "1,2e5,0.2"], 3, "not a whole number"),
    (["1,100,nan"], 2, "not a finite number"),
    (["1,100"], 2, "expected 3 columns"),
    (["1,100,0.1", '1,"' + "9" * 200_000 + '",0.2'], 3, "not a CSV genetic map (field larger than field limit"),
])
def test_bad_maps_name_the_line(tmp_path, rows, line, fragment):
    with pytest.raises(InputError) as e:
        read_genetic_map(write_map(tmp_path, rows))
    assert (e.value.line, fragment in e.value.message) == (line, True)


def test_wrong_header(tmp_path):
    (tmp_path / "m.csv").write_text("chr,pos,cM\n1,100,0.1\n")
    with pytest.raises(InputError, match="header must be chr,pos_bp,cM"):
        read_genetic_map(tmp_path / "m.csv")


def test_a_point_given_twice_is_read_once(tmp_path):
    # two probes at one SNP: the same position with the same cM
    gmap = read_genetic_map(write_map(tmp_path, ["1,100,0.1", "1,100,0.1", "1,300,0.3"]))
    assert (gmap.cm("1", 100), gmap.cm("1", 200)) == (0.1, pytest.approx(0.2))


def test_byte_order_mark_before_the_header(tmp_path):
    path = write_map(tmp_path, ["1,100,0.1", "1,300,0.3"])
    path.write_bytes(b"\xef\xbb\xbf" + path.read_bytes())
    assert read_genetic_map(path).cm("1", 200) == pytest.approx(0.2)

"""Hostile R/qtl2 crosses: a chromosome one file lacks, an X the map does not
have, codes read as missing, a file read the wrong way round or holding no
data are refused naming the file and line; markers that cannot be matched are
counted, never dropped unseen."""
import pytest
from crosses import assert_refused, run_prepare, write_cross

from tarvel_panel.inputs.cross.read import read_cross
from tarvel_panel.panel.model import UNPLACED, site_notes


def drop_rows(path, prefix):
    path.write_text("".join(l for l in path.read_text().splitlines(True) if not l.startswith(prefix)))


def edit(path, old, new):
    text = path.read_text()
    assert old in text, (path, old)
    path.write_text(text.replace(old, new))
    return text[:text.index(old)].count("\n") + 1


def add_pmap(root, text=None):
    """A physical map beside the genetic one: the same rows unless `text`."""
    (root / "pmap.csv").write_text(text if text is not None else (root / "gmap_all.csv").read_text())
    (root / "cross.yaml").write_text((root / "cross.yaml").read_text() + "pmap: pmap.csv\n")


def header_only(path):
    """Keep the comment and the header; the header's line."""
    path.write_text("".join(path.read_text().splitlines(True)[:2]))
    return 2


def line_of(path, text):
    return edit(path, text, text)


def x_in_lower_case_in_the_map(root):
    edit(root / "gmap_all.csv", ",X,", ",x,")
    return line_of(root / "cross.yaml", "x_chr")


def x_only_in_the_physical_map(root):
    add_pmap(root)
    drop_rows(root / "gmap_all.csv", "x")


def maps_disagreeing_on_x1(root):
    add_pmap(root)
    edit(root / "pmap.csv", "x1,X", "x1,x")
    return line_of(root / "gmap_all.csv", "x1,X")


def markers_only(path):
    path.write_text("".join(line.split(",")[0].rstrip("\n") + "\n" for line in path.read_text().splitlines(True)))


def geno_said_to_hold_markers_as_columns(root):
    return edit(root / "cross.yaml", "\ngeno_transposed: true", "\ngeno_transposed: false") + 1


# case: edit of the cross in `root` (returns the line to name, if any), file named, what the message says
REFUSED = {
    "X typed in geno only": (lambda r: drop_rows(r / "founder_geno_all.csv", "x"), "founder_geno_all.csv",
                             "chromosome X: none of its 3 markers in the geno genotypes is in the founder_geno"),
    "X typed in founder_geno only": (lambda r: drop_rows(r / "geno_all.csv", "x"), "geno_all.csv",
                                     "chromosome X: none of its 3 markers in the founder_geno genotypes"),
    "marker names differ in case": (lambda r: edit(r / "founder_geno_all.csv", "\nx", "\nX") and None,
                                    "founder_geno_all.csv", "('x1' is 'X1' there: the names differ in case)"),
    "x_chr not in the map": (lambda r: edit(r / "cross.yaml", "x_chr: X", "x_chr: Y"), "cross.yaml",
                             "x_chr 'Y' is not a chromosome of the map"),
    "x_chr in another case": (x_in_lower_case_in_the_map, "cross.yaml", "(it names it 'x')"),
    "na.strings holding a code": (lambda r: edit(r / "cross.yaml", "NA]", "NA, A]"), "cross.yaml",
                                  "na.strings 'A' is also a genotype code"),
    "empty sep": (lambda r: edit(r / "cross.yaml", "crosstype", "sep: ''\ncrosstype"), "cross.yaml",
                  "sep must be the field separator"),
    "geno_transposed the wrong way": (geno_said_to_hold_markers_as_columns, "cross.yaml",
                                      "geno_transposed is false, so the columns of"),
    "geno with a header only": (lambda r: header_only(r / "geno_all.csv"), "geno_all.csv",
                                "the file has no data rows, only a header line"),
    "geno without a strain": (lambda r: markers_only(r / "geno_all.csv"), "geno_all.csv",
                              "holds no strain's calls, only the markers"),
    "map with a header only": (lambda r: header_only(r / "gmap_all.csv"), "gmap_all.csv", "the file has no data rows"),
    "X only in the physical map": (x_only_in_the_physical_map, "gmap_all.csv",
                                   "chromosome X is not in this map, but", "places 3 typed markers on it"),
    "maps disagree on a chromosome": (maps_disagreeing_on_x1, "gmap_all.csv",
                                      "marker 'x1' is on chromosome X here but on x in"),
}


@pytest.mark.parametrize("case", REFUSED)
def test_hostile_cross_is_refused(tmp_path, case):
    make, name, *fragments = REFUSED[case]
    cross = write_cross(tmp_path / "cross")
    line = make(tmp_path / "cross")
    out = tmp_path / "out"
    out.mkdir()
    where = tmp_path / "cross" / name
    done = run_prepare(cross, out / "prepared")
    assert_refused(done, out / "prepared", f"{where}:{line}" if line else where, fragments[0])
    assert all(f in done.stderr for f in fragments)


def test_a_chromosome_per_file_that_the_map_lacks_is_refused(tmp_path):
    cross = write_cross(tmp_path, split=True)
    edit(cross, "gmap: [gmap_1.csv, gmap_X.csv]", "gmap: [gmap_1.csv]")
    out = tmp_path / "out"
    out.mkdir()
    assert_refused(run_prepare(cross, out / "prepared"), out / "prepared", f"{tmp_path / 'geno_X.csv'}:2",
                   "none of its 3 markers is in the map")


def test_chromosome_left_out_on_purpose(tmp_path):
    cross = write_cross(tmp_path)
    drop_rows(tmp_path / "founder_geno_all.csv", "x")
    assert [c.name for c in read_cross(cross, chromosomes=["1"]).chromosomes] == ["1"]


def test_markers_that_cannot_be_matched_are_counted(tmp_path):
    cross = write_cross(tmp_path)
    # m2 is in no map; a physical map places m3 (also not in the genetic map)
    drop_rows(tmp_path / "gmap_all.csv", ("m2", "m3"))
    add_pmap(tmp_path, "marker,chr,pos\nm3,1,1.5\n")
    panel = read_cross(cross)
    assert panel.site_stats["1"] == {"map_markers": 3, "markers_kept": 2, "dropped_not_in_geno": 1,
                                     "dropped_not_in_founder_geno": 0, "dropped_not_in_map": 1}
    assert panel.site_stats[UNPLACED] == {"dropped_not_in_map": 1}
    assert site_notes(panel) == ["chromosome 1: dropped 1 not in geno, 1 not in map",
                                 "left out, 1 markers of the strain genotypes in no map"]


def test_an_x_with_no_marker_typed_is_named_when_left_out(tmp_path):
    cross = write_cross(tmp_path)
    for name in ("geno_all.csv", "founder_geno_all.csv"):
        drop_rows(tmp_path / name, "x")
    assert site_notes(read_cross(cross))[-1] == \
        "left out, no marker typed in strains and founders: chromosome X (the X chromosome)"


@pytest.mark.parametrize("name", ["geno_all.csv", "gmap_all.csv", "cross_info.csv", "cross.yaml"])
def test_byte_order_mark_at_the_start_of_a_file(tmp_path, name):
    cross = write_cross(tmp_path)
    (tmp_path / name).write_bytes(b"\xef\xbb\xbf" + (tmp_path / name).read_bytes())
    assert [len(c.markers) for c in read_cross(cross).chromosomes] == [4, 3]

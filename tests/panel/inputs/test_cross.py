"""Reading R/qtl2 crosses: every layout gives the same panel, every
malformed input one message naming its file and line, status 1, nothing
written."""
import gzip
import zipfile

import pytest

from tarvel_panel.inputs.cross.read import named_files, read_cross
from crosses import (FOUNDERS, FUNNELS, STRAINS, TYPED, assert_refused, expected_founders, expected_strain,
                     run_prepare, write_cross, zip_cross)


@pytest.fixture(params=[("yaml", True, False), ("json", False, False), ("yml", True, True),
                        ("json", False, True), ("zip", True, False)],
                ids=["yaml-transposed", "json", "yml-per-chromosome", "json-per-chromosome", "zip"])
def cross(request, tmp_path):
    fmt, transposed, split = request.param
    control = write_cross(tmp_path / "cross", "yaml" if fmt == "zip" else fmt, transposed, split)
    return zip_cross(control, tmp_path / "cross.zip") if fmt == "zip" else control


def test_every_layout_reads_as_the_same_panel(cross):
    panel = read_cross(cross)
    assert panel.founders == FOUNDERS and panel.pos_unit == "cM"
    assert [(s.name, s.funnel, s.sex) for s in panel.strains] == [
        (s, tuple(int(x) for x in FUNNELS[s].split(",")), sex) for s, sex in zip(STRAINS, ["female", "male", "female"])]
    one, x = panel.chromosomes
    assert (one.name, one.is_x, x.name, x.is_x) == ("1", False, "X", True)
    # map order with the tie kept; m9 has no genotypes and is left out
    assert list(zip(one.markers.names, one.markers.pos.tolist())) == [("m1", 0.0), ("m2", 1.5), ("m3", 1.5),
                                                                      ("m4", 3.25)]
    assert one.founder_geno.tolist() + x.founder_geno.tolist() == [expected_founders(m) for m in TYPED]
    for column, strain in enumerate(STRAINS):
        assert one.strain_geno[:, column].tolist() + x.strain_geno[:, column].tolist() == expected_strain(strain)
    assert panel.site_stats["1"]["map_markers"] == 5


def test_physical_map_and_generation_column(tmp_path):
    control = write_cross(tmp_path)
    (tmp_path / "pmap.csv").write_text((tmp_path / "gmap_all.csv").read_text())
    control.write_text(control.read_text() + "pmap: pmap.csv\n")
    panel = read_cross(control, positions="pmap", generation_column="ngen")
    assert panel.pos_unit == "Mbp" and [s.generation for s in panel.strains] == [20, 5, 12]
    assert read_cross(control).strains[0].generation is None


def test_files_named_by_the_control_file_are_tracked(tmp_path):
    control = write_cross(tmp_path, split=True)
    assert sorted(p.rsplit("/", 1)[1] for p in named_files(control)) == sorted(
        f for f in ["cross_info.csv", "covar.csv"] + [f"{k}_{c}.csv" for k in ("geno", "founder_geno", "gmap")
                                                    for c in ("1", "X")])
    assert named_files(zip_cross(control, tmp_path / "c.zip")) == []


def _edit(path, old, new):
    """Replace `old` by `new` in the file; the number of the line now holding `new`."""
    text = path.read_text()
    assert old in text, (path, old)
    path.write_text(text.replace(old, new, 1))
    return text[:text.index(old)].count("\n") + 1


# case: file, text, replacement, what the message says; it names the edited line
BAD_INPUTS = {
    "unknown genotype code": ("geno_all.csv", "m2,H", "m2,Q", "unknown genotype code 'Q' in column 'S1/a'"),
    "funnel not a permutation": ("cross_info.csv", "S3,3,1,4", "S3,3,3,4", "not a permutation of 1..8"),
    "duplicate marker in the map": ("gmap_all.csv", "m3,1,1.5", "m2,1,1.5", "duplicate marker 'm2'"),
    "duplicate marker in geno": ("geno_all.csv", "m3,", "m1,", "duplicate marker 'm1'"),
    "non-numeric position": ("gmap_all.csv", "m4,1,3.25", "m4,1,3.25cM", "position '3.25cM' is not a number"),
    "decreasing position": ("gmap_all.csv", "m4,1,3.25", "m4,1,1.25", "below the position 1.5 of 'm3'"),
    "row with a missing field": ("covar.csv", "S2/b,m,5", "S2/b", "1 fields where the header has 3"),
    "unknown sex code": ("covar.csv", "S2/b,m", "S2/b,x", "sex code 'x'"),
    "generation out of range": ("covar.csv", "S3,f,12", "S3,f,1", "generation 1 is outside 2..100"),
    "missing file": ("cross.yaml", "covar.csv", "nothere.csv", "the covar file 'nothere.csv' is missing"),
    "other crosstype": ("cross.yaml", "risib8", "riself", "crosstype 'riself' is not supported"),
}


@pytest.mark.parametrize("case", BAD_INPUTS)
def test_malformed_input_is_refused_with_file_and_line(case, tmp_path):
    cross = write_cross(tmp_path / "cross")
    name, old, new, message = BAD_INPUTS[case]
    line = _edit(tmp_path / "cross" / name, old, new)
    out = tmp_path / "out"
    out.mkdir()
    assert_refused(run_prepare(cross, out / "prepared", generation_column="ngen"), out / "prepared",
                   f"{tmp_path / 'cross' / name}:{line}", message)


def test_strain_without_cross_info_is_refused_where_geno_names_it(tmp_path):
    cross = write_cross(tmp_path / "cross")
    info = tmp_path / "cross" / "cross_info.csv"
    info.write_text(info.read_text().replace("S3,3,1,4,2,8,5,7,6\n", ""))
    out = tmp_path / "out"
    out.mkdir()
    assert_refused(run_prepare(cross, out / "prepared"), out / "prepared", f"{tmp_path / 'cross' / 'geno_all.csv'}:2",
                   "strain 'S3' has no row in the cross_info file")


def test_zip_without_control_file_is_refused(tmp_path):
    cross = write_cross(tmp_path / "cross")
    cross.unlink()
    out = tmp_path / "out"
    out.mkdir()
    archive = zip_cross(cross, tmp_path / "nocontrol.zip")
    assert_refused(run_prepare(archive, out / "prepared"), out / "prepared", archive, "no control file")


def test_message_inside_a_zip_names_the_member(tmp_path):
    cross = write_cross(tmp_path / "cross")
    line = _edit(tmp_path / "cross" / "gmap_all.csv", "x2,X,2.0", "x2,X,0.1")
    out = tmp_path / "out"
    out.mkdir()
    archive = zip_cross(cross, tmp_path / "c.zip")
    assert_refused(run_prepare(archive, out / "prepared"), out / "prepared", f"{archive}/inner/gmap_all.csv:{line}",
                   "below")


def test_damaged_compressed_data_is_refused_in_one_line(tmp_path):
    cross = write_cross(tmp_path / "cross")
    geno = tmp_path / "cross" / "geno_all.csv"
    out = tmp_path / "out"
    out.mkdir()
    archive = zip_cross(cross, tmp_path / "c.zip", compression=zipfile.ZIP_DEFLATED)
    data = bytearray(archive.read_bytes())
    header = zipfile.ZipFile(archive).getinfo("inner/geno_all.csv").header_offset
    name_and_extra = int.from_bytes(data[header + 26:header + 28], "little") + \
        int.from_bytes(data[header + 28:header + 30], "little")
    start = header + 30 + name_and_extra   # the member's deflated data
    data[start:start + 8] = b"\xff" * 8   # a block of the reserved type
    archive.write_bytes(data)
    assert_refused(run_prepare(archive, out / "prepared"), out / "prepared", f"{archive}/inner/geno_all.csv",
                   "cannot be read from the zip (Error -3 while decompressing data")
    gzipped = gzip.compress(geno.read_bytes())
    geno.write_bytes(gzipped[:10] + b"\xff" * 8 + gzipped[18:])
    assert_refused(run_prepare(cross, out / "prepared"), out / "prepared", geno,
                   "not a readable gzip file (Error -3 while decompressing data")


def test_bad_workflow_options_are_refused(tmp_path):
    cross = write_cross(tmp_path / "cross")
    out = tmp_path / "out"
    out.mkdir()
    for config, where in [({"founder_missing": "drop"}, "config founder_missing"),
                          ({"generation": 1}, "config generation"), ({"strains": "S1/a,S4"}, "config strains")]:
        assert_refused(run_prepare(cross, out / "prepared", **config), out / "prepared", where, "")

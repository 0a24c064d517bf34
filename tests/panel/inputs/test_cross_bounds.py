"""Hostile R/qtl2 crosses that would take unbounded memory or time: zip
bombs, zips of countless members or two members of one name, control files
of multiplying aliases or deep nesting, lines without end, tables of a
million columns. Each is refused in one line naming the file (and line),
status 1, nothing written - or read in bounded memory. The bounds are
lowered here so that each case takes a moment."""
import gzip
import json
import tracemalloc
import zipfile

import pytest
from crosses import write_cross, zip_cross

from tarvel_panel.inputs import limits
from tarvel_panel.inputs.cross import files
from tarvel_panel.inputs.cross.read import named_files, read_cross
from tarvel_panel.panel import prepare


def refused(cross, tmp_path, capsys, **config):
    """prepare's one line about `cross` (status 1, no prepared folder)."""
    conf = tmp_path / "config.json"
    conf.write_text(json.dumps(dict(config, cross=str(cross))))
    dest = tmp_path / "prepared"
    status = prepare.main(["--config", str(conf), "--dest", str(dest)])
    lines = capsys.readouterr().err.splitlines()
    assert status == 1 and len(lines) == 1 and not dest.exists(), lines
    return lines[0]


def line_of(path, text):
    return path.read_text()[:path.read_text().index(text)].count("\n") + 1


def central_entry(data, member):
    """Where the zip's central directory holds the entry of `member`."""
    at = data.index(b"PK\x01\x02")
    while data[at + 46:at + 46 + len(member)] != member.encode():
        at = data.index(b"PK\x01\x02", at + 4)
    return at


def test_a_member_or_gzip_file_inflating_past_its_bound_is_refused_as_it_inflates(tmp_path, capsys, monkeypatch):
    monkeypatch.setattr(limits, "INFLATED_BYTES", 4096)
    monkeypatch.setattr(files, "BLOCK_SIZE", 512)
    cross = write_cross(tmp_path / "cross")
    geno = tmp_path / "cross" / "geno_all.csv"
    geno.write_text(geno.read_text() + "# " + "x" * 8000 + "\n")
    archive = zip_cross(cross, tmp_path / "c.zip", compression=zipfile.ZIP_DEFLATED)
    assert refused(archive, tmp_path, capsys) == \
        f"error: {archive}/inner/geno_all.csv: inflates to more than 4 KiB, more than a file of a cross is read " \
        "to (a damaged or hostile file?)"
    # a member whose entries claim less than it inflates to is still refused
    data = bytearray(archive.read_bytes())
    for entry, size_at in ((central_entry(data, "inner/geno_all.csv"), 24),
                           (zipfile.ZipFile(archive).getinfo("inner/geno_all.csv").header_offset, 22)):
        data[entry + size_at:entry + size_at + 4] = (1000).to_bytes(4, "little")
    archive.write_bytes(data)
    assert refused(archive, tmp_path, capsys).startswith(f"error: {archive}/inner/geno_all.csv: cannot be read")
    # gzip says nothing of its size: counted as it inflates
    geno.write_bytes(gzip.compress(b"\n" * 10 ** 6))
    assert refused(cross, tmp_path, capsys).startswith(f"error: {geno}: inflates to more than 4 KiB")


def test_a_zip_of_too_many_members_two_of_one_name_or_bzip2_is_refused(tmp_path, capsys, monkeypatch):
    cross = write_cross(tmp_path / "cross")
    archive = zip_cross(cross, tmp_path / "many.zip")
    with zipfile.ZipFile(archive, "a") as z:
        for k in range(30):
            z.writestr(f"junk/{k}.txt", "")
    monkeypatch.setattr(limits, "ZIP_MEMBERS", 25)
    assert refused(archive, tmp_path, capsys) == \
        f"error: {archive}: the zip holds 36 members, more than the 25 a cross's zip is read with"
    # the last of two members of one name was read unseen
    twice = zip_cross(cross, tmp_path / "twice.zip")
    with pytest.warns(UserWarning), zipfile.ZipFile(twice, "a") as z:
        z.writestr("inner/gmap_all.csv", "marker,chr,pos\n")
    assert refused(twice, tmp_path, capsys) == f"error: {twice}/inner/gmap_all.csv: the zip holds two members " \
        "of this name: which one is meant is unclear"
    squeezed = zip_cross(cross, tmp_path / "bz.zip", compression=zipfile.ZIP_BZIP2)
    assert "compressed with bzip2 in the zip, which is not read" in refused(squeezed, tmp_path, capsys)


@pytest.mark.parametrize("layout", ["folder", "zip", "gzip"])
def test_a_control_file_larger_than_a_control_file_is_refused_unread(tmp_path, capsys, monkeypatch, layout):
    monkeypatch.setattr(limits, "CONTROL_BYTES", 2000)
    cross = write_cross(tmp_path / "cross")
    cross.write_text(cross.read_text() + "#" * 3000 + "\n")
    if layout == "gzip":
        cross.write_bytes(gzip.compress(cross.read_bytes()))
    shown = cross
    if layout == "zip":
        cross, shown = zip_cross(cross, tmp_path / "c.zip"), f"{tmp_path / 'c.zip'}/inner/cross.yaml"
    assert refused(cross, tmp_path, capsys).startswith(f"error: {shown}: ")
    assert named_files(cross) == []   # the workflow's own look at it stays bounded too


def test_a_line_without_end_is_refused_at_its_line(tmp_path, capsys, monkeypatch):
    monkeypatch.setattr(limits, "LINE_BYTES", 1000)
    monkeypatch.setattr(files, "BLOCK_SIZE", 64)
    cross = write_cross(tmp_path / "cross")
    geno = tmp_path / "cross" / "geno_all.csv"
    calls = read_cross(cross).chromosomes[0].strain_geno
    text = geno.read_bytes()
    geno.write_bytes(text + b",A" * 600)   # a last line without a line end
    last = len(text.splitlines()) + 1
    assert refused(cross, tmp_path, capsys) == \
        f"error: {geno}:{last}: a line longer than 1,000 bytes, more than a line of a cross's " \
        "file may be (not a CSV file?)"
    # lines ended by a carriage return alone are lines, in a file longer than a line may be
    monkeypatch.setattr(limits, "LINE_BYTES", 40)
    geno.write_bytes(text.replace(b"\n", b"\r"))
    assert len(text) > 80 and (read_cross(cross).chromosomes[0].strain_geno == calls).all()


def test_aliases_expanding_past_the_bound_are_refused_before_anything_expands_them(tmp_path, capsys):
    # a0 holds 10 values, a1 ten of a0 ..., a4 over 100,000; a6 would be shown as a text of 72 MB
    lines = ["a0: &a0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]"]
    lines += [f"a{k}: &a{k} [{', '.join([f'*a{k - 1}'] * 10)}]" for k in range(1, 7)]
    cross = tmp_path / "cross.yaml"
    cross.write_text("\n".join(lines) + "\ncrosstype: *a6\n")
    assert refused(cross, tmp_path, capsys) == f"error: {cross}:5: its aliases expand to more than 100,000 " \
        "values, more than a control file is read to"
    # aliases as a control file may use them
    write_cross(tmp_path / "ok")
    ok = tmp_path / "ok" / "cross.yaml"
    ok.write_text(ok.read_text().replace("na.strings:", "na: &na ['-', NA]\nna.strings: *na\n#"))
    assert read_cross(ok).strains


@pytest.mark.parametrize("name, text, line", [
    ("cross.yaml", "crosstype: risib8\ngeno: " + "[" * 100_000 + "]" * 100_000 + "\n", 2),
    ("cross.json", '{"crosstype": "risib8",\n "geno": ' + "[" * 100_000 + "]" * 100_000 + "}", 2),
    ("cross.json", '{"crosstype": "risib8",\n "geno": "[[[[",\n "x": ' + "[{\"a\": " * 40 + "1" + "}]" * 40 + "}",
     3),
], ids=["yaml", "json", "json within recursion"])
def test_a_control_file_nested_deeply_is_refused_at_its_line(tmp_path, capsys, name, text, line):
    cross = tmp_path / name
    cross.write_text(text)
    assert refused(cross, tmp_path, capsys) == f"error: {cross}:{line}: lists or mappings nested more than 32 " \
        "deep, deeper than a control file is read to"


@pytest.mark.parametrize("name, text", [("cross.json", '{"crosstype": "risib8", "x_chr": ' + "9" * 5000 + "}"),
                                        ("cross.yaml", "crosstype: risib8\nx_chr: " + "9" * 5000 + "\n"),
                                        ("cross.yaml", "crosstype: risib8\nmade: 2001-13-45\n")],
                         ids=["json digits", "yaml digits", "yaml date"])
def test_a_value_python_will_not_convert_is_refused(tmp_path, capsys, name, text):
    cross = tmp_path / name
    cross.write_text(text)
    assert refused(cross, tmp_path, capsys).startswith(f"error: {cross}: holds a value that cannot be read (")


def test_pair_names_the_alleles_make_twice_are_refused(tmp_path, capsys):
    cross = write_cross(tmp_path / "cross")
    text = cross.read_text()
    cross.write_text(text.replace("alleles: [A, B, C, D, E, F, G, H]", "alleles: [A, B_C, A_B, C, D, E, F, G]"))
    assert refused(cross, tmp_path, capsys) == f"error: {cross}:{line_of(cross, 'alleles')}: the pairs A with B_C " \
        "and A_B with C would both be named 'A_B_C' (R/qtl2 names its genotypes by the alleles)"


def wide_map(root, columns, rows):
    """The cross's map with `columns` more columns of two-letter fields and
    `rows` more markers, on a chromosome no genotype file types."""
    gmap = root / "gmap_all.csv"
    lines = gmap.read_text().splitlines() + [f"y{k},9,{k}" for k in range(rows)]
    header = next(k for k, line in enumerate(lines) if not line.startswith("#"))
    lines[header] += "".join(f",c{k}" for k in range(columns))
    lines[header + 1:] = [line + ",ab" * columns for line in lines[header + 1:]]
    gmap.write_text("\n".join(lines) + "\n")


def test_a_map_of_many_columns_is_read_holding_only_those_it_uses(tmp_path, monkeypatch):
    monkeypatch.setattr(files, "BLOCK_SIZE", 1 << 14)
    peaks = []
    for rows in (0, 200):
        cross = write_cross(tmp_path / str(rows))
        wide_map(tmp_path / str(rows), 5000, rows)
        tracemalloc.start()
        panel = read_cross(cross)
        peaks.append(tracemalloc.get_traced_memory()[1])
        tracemalloc.stop()
        assert [len(c.markers) for c in panel.chromosomes] == [4, 3]
    # the million more fields of 200 more rows, held, would take over 50 MB
    assert peaks[1] - peaks[0] < 1 << 20, peaks

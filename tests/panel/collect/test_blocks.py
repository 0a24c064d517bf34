"""Memory bounds that must not move a byte: collect taking each strain's
values a few markers at a time writes what it writes taking them whole
(every table, the npz and the R parts, on every marker or on those kept for
mapping, from pair values or the engine's founder values), and names a bad
marker's line the same; strain QC reading one
strain at a time writes the tables it writes reading many; a reference
panel's top pairs kept as runs give the share of markers agreeing, by
marker name, counted here marker by marker."""
import json
import os

import numpy as np
import pytest

from tarvel_panel import paths
from tarvel_panel.collect import chromosome as collect
from tarvel_panel.collect import derive, qtl2_rds
from tarvel_panel.collect.npz import load_npz
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import NPAIRS
from tarvel_panel.panel.prepared import TextColumn, read_prepared
from tarvel_panel.qc import calls
from tarvel_panel.qc.cli import run_qc
from tarvel_panel.qc.settings import Settings
from tarvel_panel.run.values_file import write_values

STRAINS = [{"name": 'Odd "one", é', "safe": "Odd_one", "sex": "female"},
           {"name": "CC002/Unc", "safe": "CC002_Unc", "sex": "male"},
           {"name": "CC003/Unc", "safe": "CC003_Unc", "sex": "female"}]
CHROMOSOMES = [("1", 300, False), ("X", 120, True)]
OUTPUTS = ("founderprobs", "genoprobs", "mosaic", "summary", "npz", "qtl2_index", "qtl2_alleleprobs",
           "qtl2_genoprobs")


def strain_values(rng, markers):
    """Runs of one confident pair, a few markers to a hundred long, the
    first of pair 0 (AA), with the rest of each marker's mass spread over
    the other pairs."""
    values = rng.dirichlet(np.full(NPAIRS, 0.3), size=markers) * 0.2
    at = 0
    while at < markers:
        n = int(rng.integers(3, 100))
        values[at:at + n, int(rng.integers(NPAIRS)) if at else 0] += 0.8
        at += n
    return values / values.sum(axis=1, keepdims=True)


def founder_lines(pairs):
    """The founder values the engine writes for these pair values."""
    founder, tops, top_probs, het, _ = derive.strain_values(pairs)
    return np.column_stack([founder, tops, top_probs, het])


def write_panel(out, seed=3, founder_values=False):
    """A prepared and run panel (no TARVEL: drawn values files, of pair
    values or of founder values) whose marker names need CSV quoting and
    hold a letter outside ASCII."""
    rng = np.random.default_rng(seed)
    prepared, runs = paths.prepared_dir(out), paths.runs_dir(out)
    chromosomes = []
    for name, markers, is_x in CHROMOSOMES:
        chromosomes.append({"name": name, "safe": name, "is_x": is_x, "markers": markers})
        os.makedirs(paths.chromosome_dir(prepared, name))
        gmap = np.cumsum(rng.uniform(0.05, 0.6, markers))
        names = [f"m{name}_{i}" + (",x" if i % 7 == 0 else "") + ('"é' if i % 11 == 0 else "") for i in range(markers)]
        with open(paths.markers_file(prepared, name), "w", encoding="utf-8") as f:
            f.write("marker\tpos\tpmap\tgmap\n")
            f.writelines(f"{m}\t{g:.6g}\t{g * 2:.6f}\t{g!r}\n" for m, g in zip(names, gmap))
        founders = rng.choice(np.array([0, 1, -1]), p=[0.6, 0.38, 0.02], size=(markers, 8))
        with open(os.path.join(paths.chromosome_dir(prepared, name), "founders.txt"), "w") as f:
            f.writelines(" ".join(map(str, row)) + "\n" for row in founders)
        for strain in STRAINS:
            os.makedirs(paths.job_dir(prepared, name, strain["safe"]))
            with open(os.path.join(paths.job_dir(prepared, name, strain["safe"]), "strain.txt"), "w") as f:
                f.writelines(c + "\n" for c in rng.choice(list("0012N"), size=markers))
            os.makedirs(paths.run_dir(runs, name, strain["safe"]))
            values = strain_values(rng, markers)
            write_values(paths.values_file(runs, name, strain["safe"]),
                         founder_lines(values) if founder_values else values)
            with open(paths.seconds_file(runs, name, strain["safe"]), "w") as f:
                f.write("0.5\n")
    strains = [dict(s, generation=20, funnel=list(range(1, 9))) for s in STRAINS]
    with open(paths.panel_file(out), "w") as f:
        json.dump({"founders": list("ABCDEFGH"), "pos_unit": "cM", "strains": strains, "chromosomes": chromosomes,
                   "founder_missing": "mask"}, f)


@pytest.fixture
def panel(tmp_path):
    out = str(tmp_path / "out")
    write_panel(out)
    return out


def collected(out, dest, chrom, pairs=True, **options):
    """{output: its bytes} of collect on the chromosome (`pairs`: with the
    outputs that need the pair values)."""
    os.makedirs(dest)
    outputs = {name: os.path.join(dest, name) for name in OUTPUTS if pairs or "genoprobs" not in name}
    collect.collect_chromosome(out, chrom, outputs, npz_genoprobs=pairs, **options)
    result = {}
    for name, path in outputs.items():
        with open(path, "rb") as f:
            result[name] = f.read()
    return result


@pytest.mark.parametrize("reduce_cm", [0, 0.7], ids=["every marker", "markers kept for mapping"])
@pytest.mark.parametrize("chrom", ["1", "X"])
def test_collect_a_few_markers_at_a_time_writes_the_bytes_of_the_whole(panel, tmp_path, chrom, reduce_cm):
    whole = collected(panel, tmp_path / "whole", chrom, reduce_cm=reduce_cm, block=10**6)
    for block in (1, 7, 64):
        assert collected(panel, tmp_path / f"block{block}", chrom, reduce_cm=reduce_cm, block=block) == whole
    npz = load_npz(str(tmp_path / "whole" / "npz"))
    assert list(npz["markers"]) == list(read_prepared(panel).markers(chrom).names)
    mosaic = whole["mosaic"].decode("utf-8").splitlines()
    assert len(mosaic) > 1 + 3 * 2     # runs that cross the blocks' edges


def test_founder_values_a_few_markers_at_a_time_give_the_bytes_of_the_pairs(tmp_path):
    pairs, founders = str(tmp_path / "pairs"), str(tmp_path / "founders")
    write_panel(pairs)
    write_panel(founders, founder_values=True)
    whole = collected(pairs, tmp_path / "from pairs", "X", pairs=False)
    assert collected(founders, tmp_path / "from founders", "X", pairs=False, block=7) == whole
    with pytest.raises(InputError) as e:
        collected(founders, tmp_path / "with genoprobs", "X", block=7)
    assert "holds founder values only, and the outputs asked for need the 36 pair values" in str(e.value)


def test_a_skipped_r_object_leaves_its_part_empty_and_the_rest_as_it_was(panel, tmp_path):
    whole = collected(panel, tmp_path / "whole", "1")
    skipped = collected(panel, tmp_path / "skipped", "1", qtl2_skip=["alleleprobs"], block=5)
    assert skipped.pop("qtl2_alleleprobs") == b"" and whole.pop("qtl2_alleleprobs")
    assert skipped == whole


def test_a_bad_marker_in_a_later_block_is_named_by_its_line(panel, tmp_path):
    values_file = paths.values_file(paths.runs_dir(panel), "1", "CC002_Unc")
    with open(values_file, "r+b") as f:
        f.seek(24 + (250 - 1) * NPAIRS * 8)
        f.write(np.array([1.5], "<f8").tobytes())
    for block in (7, 10**6):
        with pytest.raises(InputError) as e:
            collected(panel, tmp_path / f"b{block}", "1", block=block)
        assert str(e.value) == f"{values_file}:250: a value outside 0..1 (1.5)"
        assert not os.listdir(tmp_path / f"b{block}")


def test_text_columns_read_like_lists_of_their_texts():
    texts = ["a", "", "é,\"x", "b" * 300, ""]
    column = TextColumn.joined([TextColumn([texts[:2]]), TextColumn([[]]), TextColumn([texts[2:]])])
    assert len(column) == 5 and list(column) == texts and column == texts and column != texts[:4]
    assert [column[i] for i in range(-5, 5)] == texts + texts
    assert column[1:4] == texts[1:4] and column[3:3] == [] and column[::2] == texts[::2]
    assert column == TextColumn([texts]) and list(TextColumn.joined([])) == []
    with pytest.raises(IndexError):
        column[5]


def qc_tables(out, settings):
    run_qc(out, settings)
    tables = {}
    for name in ("strains", "het_segments", "flags", "similarity"):
        with open(paths.qc_table(out, name), "rb") as f:
            tables[name] = f.read()
    return tables


def collect_panel(out):
    for chrom, _, _ in CHROMOSOMES:
        outputs = {name: path for name, path in (
            ("founderprobs", paths.founderprobs_file(out, chrom)), ("npz", paths.npz_file(out, chrom)),
            ("mosaic", os.path.join(out, f"mosaic{chrom}")), ("summary", os.path.join(out, f"summary{chrom}")))}
        for path in outputs.values():
            os.makedirs(os.path.dirname(path), exist_ok=True)
        collect.collect_chromosome(out, chrom, outputs)


def test_qc_one_strain_at_a_time_writes_the_tables_of_many(panel, monkeypatch):
    collect_panel(panel)
    many = qc_tables(panel, Settings(reference=panel))
    monkeypatch.setattr(calls, "BLOCK_VALUES", 1)
    assert qc_tables(panel, Settings(reference=panel)) == many
    # against itself, every strain agrees everywhere
    rows = [line.split("\t") for line in many["strains"].decode("utf-8").splitlines()]
    column = rows[0].index("reference_share")
    assert [float(r[column]) for r in rows[1:]] == [1.0] * len(STRAINS)


def test_a_reference_with_its_markers_in_another_order_is_compared_by_name(panel, tmp_path):
    collect_panel(panel)
    reference = str(tmp_path / "reference")
    write_panel(reference)    # the same values, so only the names tell the markers apart
    collect_panel(reference)
    markers = paths.markers_file(paths.prepared_dir(reference), "1")
    with open(markers, encoding="utf-8") as f:
        header, *lines = f.read().splitlines()
    names = [line.split("\t")[0] for line in lines]
    # markers 100..199 named in reverse order, and 10 named as no marker here
    renamed = names[:100] + names[100:200][::-1] + names[200:]
    renamed[10] = "not here"
    with open(markers, "w", encoding="utf-8") as f:
        f.write("\n".join([header] + [n + line[line.index("\t"):] for n, line in zip(renamed, lines)]) + "\n")
    qc_tables(panel, Settings(reference=reference))
    with open(paths.qc_table(panel, "strains"), encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f]
    share = [float(r[rows[0].index("reference_share")]) for r in rows[1:]]

    here, there = load_npz(paths.npz_file(panel, "1")), load_npz(paths.npz_file(reference, "1"))
    gmap = read_prepared(panel).markers("1").maps["gmap"]
    weights = np.diff(calls.boundaries(gmap))
    at = {n: i for i, n in enumerate(renamed)}
    both = [i for i, n in enumerate(names) if n in at]
    same = [here["top_pair"][:, i] == there["top_pair"][:, at[names[i]]] for i in both]
    # the X has the same names in both: its markers are compared in place
    x_weights = np.diff(calls.boundaries(read_prepared(panel).markers("X").maps["gmap"]))
    x_same = load_npz(paths.npz_file(panel, "X"))["top_pair"] == load_npz(paths.npz_file(reference, "X"))["top_pair"]
    agree = (np.array(same).T * weights[both]).sum(axis=1) + (x_same * x_weights).sum(axis=1)
    expected = agree / (weights[both].sum() + x_weights.sum())
    assert min(share) < 1    # the reversed names pair other markers
    assert share == pytest.approx(expected.tolist(), rel=1e-5)


def test_a_chromosome_object_over_its_size_is_left_out_in_one_line():
    markers = {"1": 200_000, "2": 150_000, "X": 160_000}
    names = {"1": "1", "2": "2", "X": "X"}
    assert qtl2_rds.chromosomes_too_large("alleleprobs", 100, markers, names, 1024) == (["1"], (
        "qtl2: the alleleprobs object of chromosome 1 would take 1,221 MB, more than qtl2_chr_max_mb=1024: "
        "not written, nor the whole-panel qtl2/alleleprobs.rds (npz/ and the tables hold every marker; "
        "reduce_markers_cm writes the objects on fewer markers)"))
    skipped, line = qtl2_rds.chromosomes_too_large("genoprobs", 100, markers, names, 1024)
    assert skipped == ["1", "2", "X"] and "of chromosomes 1, 2, X would take 5,494 MB at most" in line
    assert qtl2_rds.chromosomes_too_large("alleleprobs", 100, markers, names, 1221) == ([], None)
    assert qtl2_rds.chromosomes_too_large("gmap", 10**6, markers, names, 1) == ([], None)

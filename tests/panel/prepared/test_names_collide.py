"""Names that meet: strains or chromosomes whose names differ only in case,
map to one file name (A/B and A_B, NFC and NFD forms, long names alike at
the start) or to one of the panel's own files (a strain markers.tsv, a
chromosome 1.mosaic.csv beside 1) each keep files of their own, on file
systems that ignore case too; and a name the panel lacks is answered with
the one it most likely means."""
import json
import math
from itertools import product

import numpy as np
import pytest

from tarvel_panel import paths
from tarvel_panel.errors import InputError
from tarvel_panel.inputs.sources import select
from tarvel_panel.near_names import near_name
from tarvel_panel.panel.model import Chromosome, Markers, Panel, Strain, held
from tarvel_panel.panel.prepare import Options, write_prepared
from tarvel_panel.panel.prepared import PreparedPanel

STRAINS = ["A/B", "A_B", "a b", "a_b", "Caf\u00e9", "Cafe\u0301", "x" * 150 + "1", "x" * 150 + "2",
           "markers.tsv", "Founders.TXT", "positions.txt_", "CC001", "cc001"]
CHROMOSOMES = ["1", "1.mosaic.csv", "1.Summary.TSV", "1.genoprobs.f64", "1.qtl2-index.bin", "A/B", "A_B", "x", "X"]
MARKERS = 3


def calls_of(k):
    """Strain k's calls at the markers: k in base 3, so that no two strains share them."""
    return [k // 3 ** m % 3 for m in range(MARKERS)]


def panel():
    markers = Markers([f"m{m}" for m in range(MARKERS)], np.arange(MARKERS, dtype=float),
                      np.full(MARKERS, math.nan), np.full(MARKERS, math.nan))
    founders = np.array([[0, 1, 0, 1, 0, 1, 0, 1]] * MARKERS, np.uint8)
    strains = np.array([calls_of(k) for k in range(len(STRAINS))], np.uint8).T.copy()
    return Panel(founders=list("ABCDEFGH"), strains=[Strain(s, tuple(range(1, 9))) for s in STRAINS],
                 chromosomes=[Chromosome(c, False, markers, held(founders), held(strains)) for c in CHROMOSOMES])


def workflow_paths(out, chroms, strains):
    """The files and the folders the workflow writes for these safe names."""
    prepared, runs = paths.prepared_dir(out), paths.runs_dir(out)
    files, folders = [], []
    for c in chroms:
        folders += [paths.chromosome_dir(prepared, c), paths.chromosome_dir(runs, c)]
        files += [paths.markers_file(prepared, c), paths.founderprobs_file(out, c), paths.genoprobs_file(out, c),
                  paths.npz_file(out, c), paths.batch_file(runs, c, 0), paths.dropped_file(runs, c),
                  paths.job_list(runs, c, 0, 0), paths.engine_log(out, c, 0, 0)]
        files += [paths.chromosome_part(out, c, part)
                  for part in (paths.MOSAIC_PART, paths.SUMMARY_PART, paths.QTL2_INDEX_PART)]
        files += [paths.qtl2_values_part(out, c, kind) for kind in paths.QTL2_VALUES]
    for c, s in product(chroms, strains):
        folders += [paths.job_dir(prepared, c, s), paths.run_dir(runs, c, s)]
        files += [paths.results_file(runs, c, s), paths.values_file(runs, c, s), paths.log_file(out, c, s)]
    return files, folders


def test_names_that_meet_keep_their_own_files_and_calls(tmp_path):
    dest = tmp_path / "out" / "prepared"
    write_prepared(panel(), Options(20, 0.001, "keep"), str(dest))
    described = json.loads((dest / "panel.json").read_text())
    strains = {s["name"]: s["safe"] for s in described["strains"]}
    chroms = [c["safe"] for c in described["chromosomes"]]
    assert list(strains) == STRAINS and [c["name"] for c in described["chromosomes"]] == CHROMOSOMES
    for k, (name, safe) in enumerate(strains.items()):
        for c in chroms:
            job = dest / f"chr{c}" / safe
            assert json.loads((job / "job.json").read_text())["strain"] == name
            assert [int(v) for v in (job / "strain.txt").read_text().split()] == calls_of(k)
    # no path of the workflow is another's, or lies inside a file, where case counts or not
    files, folders = workflow_paths(str(tmp_path / "out"), chroms, list(strains.values()))
    every = [p.lower() for p in files + folders]
    assert not {p for p in every if every.count(p) > 1}
    inside = {f.lower() + "/" for f in files}
    assert not [p for p in every if any(p.startswith(f) for f in inside)]


@pytest.mark.parametrize("name, names, near", [
    ("CC001", ["CC001/Unc", "CC002/Unc", "CC003/Unc"], "CC001/Unc"),
    ("cc001/unc", ["CC001/Unc", "CC002/Unc"], "CC001/Unc"),
    ("chr19", ["1", "19", "X"], "19"),
    ("CC001", ["CC001/Unc", "CC001/Jax"], None),        # two labs: which is meant?
    ("CC0001/Unc", ["CC001/Unc", "BXD2/TyJ"], "CC001/Unc"),           # a slip of the keys
    ("CC001/Unc", ["BXD1", "BXD2"], None),
])
def test_a_near_name_is_offered_only_when_it_is_the_only_one(name, names, near):
    assert near_name(name, names) == near


def test_the_config_selection_and_the_plots_offer_the_same_near_name(tmp_path):
    strains = [Strain(n, tuple(range(1, 9))) for n in ["CC001/Unc", "CC002/Unc", "CC040/TauUnc"]]
    with pytest.raises(InputError) as chosen:
        select(Panel(founders=list("ABCDEFGH"), strains=strains, chromosomes=[]), strains=["CC040"])
    prepared = PreparedPanel(str(tmp_path), {"founders": list("ABCDEFGH"), "pos_unit": "cM", "chromosomes": [],
                                             "strains": [{"name": s.name} for s in strains]})
    with pytest.raises(InputError) as drawn:
        prepared.find_strain("CC040")
    assert str(chosen.value).endswith("; did you mean 'CC040/TauUnc'?")
    assert str(drawn.value).endswith("; did you mean 'CC040/TauUnc'?")

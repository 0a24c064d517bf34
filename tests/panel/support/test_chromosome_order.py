"""Chromosomes are shown in their natural order (1, 2, ..., 10, ..., X, Y,
MT, then other names) by every figure, table and page that lists them,
whatever order the inputs had them in."""
import json
import random
import re

from snakemake.io import Namedlist

from tarvel_panel.chromosome_order import chromosome_key, in_order
from tarvel_panel.figures import sources
from tarvel_panel.panel.prepared import read_prepared
from tarvel_panel.qc.calls import Genome
from tarvel_panel.support import report_order, report_tables

NATURAL = ["1", "2", "3", "9", "10", "11", "19", "X", "Y", "MT", "random", "Un1", "Un2", "Un10"]


def shuffled(names, seed=4):
    names = list(names)
    random.Random(seed).shuffle(names)
    return names


def test_numbers_sort_as_numbers_then_the_sex_chromosomes_and_the_mitochondrion_then_text():
    assert sorted(shuffled(NATURAL), key=chromosome_key) == NATURAL
    # a "chr" in front, in any case, counts for nothing; M is the mitochondrion too
    assert sorted(["chrX", "chr10", "Chr2", "chrM", "chr1"], key=chromosome_key) == ["chr1", "Chr2", "chr10", "chrX", "chrM"]
    assert sorted(["x", "10", "chr", "y"], key=chromosome_key) == ["10", "x", "y", "chr"]
    # names that meet once bare still have one order
    assert sorted(["chr1", "1", "01"], key=chromosome_key) == sorted(["01", "1", "chr1"], key=chromosome_key)
    assert in_order([{"name": n} for n in ("X", "2", "10")]) == [{"name": "2"}, {"name": "10"}, {"name": "X"}]


def panel_in(tmp_path, names):
    (tmp_path / "prepared").mkdir()
    chromosomes = [{"name": n, "safe": n, "is_x": n == "X", "markers": 2} for n in names]
    (tmp_path / "prepared" / "panel.json").write_text(json.dumps(
        {"founders": list("ABCDEFGH"), "pos_unit": "cM", "strains": [], "chromosomes": chromosomes}))
    for n in names:
        (tmp_path / "prepared" / f"chr{n}").mkdir()
        (tmp_path / "prepared" / f"chr{n}" / "markers.tsv").write_text(f"marker\tpos\na{n}\t1\nb{n}\t{len(n) + 1}\n")
    return read_prepared(str(tmp_path))


def test_the_figures_and_the_qc_take_the_chromosomes_in_that_order(tmp_path):
    names = ["X", "10", "2", "1"]
    panel = panel_in(tmp_path, names)
    assert [c.name for c in sources.read_out_panel(str(tmp_path)).chromosomes] == ["1", "2", "10", "X"]
    genome = Genome(panel)
    assert [c["name"] for c in genome.entries] == ["1", "2", "10", "X"]
    # the lengths go with the chromosomes measured, one by one
    assert genome.lengths() == [1.0, 1.0, 2.0, 1.0]


def test_the_reports_summary_and_mosaics_list_the_chromosomes_in_that_order(tmp_path):
    rows = [(s, c) for c in ("10", "X", "2") for s in ("S2", "S1")]
    (tmp_path / "s.tsv").write_text("strain\tchr\tmarkers\n" + "".join(f"{s}\t{c}\t5\n" for s, c in rows))
    assert report_tables.main(["summary", str(tmp_path / "s.tsv"), str(tmp_path / "s.html")]) == 0
    page = (tmp_path / "s.html").read_text()
    cells = [re.findall(r"<td[^>]*>(.*?)</td>", row)[:2] for row in page.split("<tr>")[2:]]
    # chromosome by chromosome, each with its strains as the table has them
    assert cells == [["S2", "2"], ["S1", "2"], ["S2", "10"], ["S1", "10"], ["S2", "X"], ["S1", "X"]]

    class Result:
        def __init__(self, name, figure):
            self.name, self.labels = name, {"figure": figure} if figure else None
    listed = [Result(f"panel_chr{c}.png", f"chromosome {c}") for c in shuffled(["1", "2", "10", "11", "X"])]
    listed += [Result("panel_genome.png", "genome"), Result("summary.html", None)]
    results = {"Panel mosaics": {"": shuffled(listed)}}
    report_order.in_report_order(results)
    assert [r.name for r in results["Panel mosaics"][""]] == [
        "panel_genome.png", "panel_chr1.png", "panel_chr2.png", "panel_chr10.png", "panel_chr11.png",
        "panel_chrX.png", "summary.html"]
    # Snakemake's own labels are a mapping of its own kind
    assert report_order.result_key(Namedlist(fromdict={"figure": "genome"}), "a") < report_order.result_key(None, "a")

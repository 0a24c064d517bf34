"""Snakemake's report of the example panel: one self-contained HTML page with
the panel mosaics, the summary and the settings, as Chromium shows it."""
import base64
import json
import re
import shutil
import subprocess
import sys

import matplotlib.image
import numpy as np
import pytest
from browser import Chromium
from conftest import REPO, SNAKEMAKE, run_workflow

from tarvel_panel.errors import InputError
from tarvel_panel.figures import draw as plots
from tarvel_panel.support import report_assets
from tarvel_panel.support import report_tables


# opens the panel mosaics and the genome's as a click would, and decodes every figure of the page
SHOW_GENOME = """<script>window.addEventListener("load", function () {
  app.showCategory("Panel mosaics");
  var all = Object.values(results), pngs = all.filter(function (r) { return r.mime_type == "image/png"; });
  app.setView({content: "img", contentPath: all.find(function (r) { return r.filename == "panel_genome.png"; }).data_uri});
  Promise.all(pngs.map(function (r) { var i = new Image(); i.src = r.data_uri;
    return i.decode().then(function () { return [r.filename, i.naturalWidth, i.naturalHeight]; }); }))
  .then(function (sizes) { var p = document.createElement("pre"); p.id = "decoded";
    p.textContent = JSON.stringify(sizes); document.body.appendChild(p); });
});</script>"""


def build_report(out, dest, plots_on=True, cross=REPO / "examples" / "panel" / "panel.yaml"):
    command = [SNAKEMAKE, "--snakefile", str(REPO / "workflow" / "Snakefile"), "--directory", str(out.parent),
               "--cores", "1", "--config", f"cross={cross}", f"out={out}",
               f"plots={str(plots_on).lower()}", "--report", str(dest)]
    done = subprocess.run(command, capture_output=True, text=True)
    assert done.returncode == 0, done.stderr[-3000:]
    return dest.read_text()


def embedded_results(page):
    return json.loads(re.search(r'<script id="results">\s*var results = (.*);\s*</script>', page).group(1))


def start_page(page):
    """The HTML of the report's start page (the workflow's description)."""
    return json.loads(re.search(r"var workflow_desc = (.*);\n", page).group(1))


def data(uri):
    return base64.b64decode(uri.split("base64,", 1)[1])


def founder_pixels(path):
    rgb = np.round(matplotlib.image.imread(path)[..., :3] * 255).astype(int)
    return [int((rgb == [int(c[i:i + 2], 16) for i in (1, 3, 5)]).all(axis=2).sum()) for c in plots.DEFAULT_COLORS]


def drawn(path):
    """The share of the screenshot that is not white."""
    return (np.asarray(matplotlib.image.imread(path))[..., :3] < 0.9).mean()


@pytest.fixture(scope="module")
def report(example_plots, tmp_path_factory):
    return build_report(example_plots, tmp_path_factory.mktemp("report") / "report.html"), example_plots


def test_page_holds_every_panel_mosaic_the_summary_the_settings_and_the_qc(report):
    page, out = report
    assert not re.search(r"<(script|link|img)[^>]+(src|href)=\"?https?:", page), "the page loads something"
    results = {r["filename"]: r for r in embedded_results(page).values()}
    chromosomes = json.loads((out / "prepared" / "panel.json").read_text())["chromosomes"]
    figures = {f"panel_chr{c['safe']}.png" for c in chromosomes} | {"panel_genome.png"}
    assert set(results) == figures | {"summary.html", "settings.html", "qc.html", "strains.png"}
    for name in figures:
        assert data(results[name]["data_uri"]) == (out / "plots" / name).read_bytes()
    assert data(results["strains.png"]["data_uri"]) == (out / "qc" / "strains.png").read_bytes()
    qc = data(results["qc.html"]["data_uri"]).decode()
    qc_lines = sum(len((out / "qc" / t).read_text().splitlines()) for t in ("strains.tsv", "flags.tsv"))
    assert qc.count("<tr>") == qc_lines and "<td>SIM08/Tv</td>" in qc
    assert {r["labels"]["figure"] for n, r in results.items() if n in figures} == \
        {"genome"} | {f"chromosome {c['name']}" for c in chromosomes}
    summary = data(results["summary.html"]["data_uri"]).decode()
    assert summary.count("<tr>") == len((out / "summary.tsv").read_text().splitlines())
    settings = data(results["settings.html"]["data_uri"]).decode()
    assert all(f"<td>{key}</td>" in settings for key in json.loads((out / "config.json").read_text()))
    # the mosaics listed genome first, then chromosome by chromosome
    listed = [r["filename"] for r in embedded_results(page).values() if r["filename"] in figures]
    assert listed == ["panel_genome.png"] + [f"panel_chr{c['safe']}.png" for c in chromosomes]


def test_the_start_page_opens_on_the_genome_mosaic_and_the_summary(report):
    page, out = report
    start = start_page(page)
    (figure,) = re.findall(r'<img class="panel-start-figure" src="([^"]*)"', start)
    (table,) = re.findall(r'<iframe class="panel-start-table" src="([^"]*)"', start)
    # the page's lines stay short: a browser drops the line ends inside an address
    assert data(re.sub(r"\s", "", figure)) == (out / "plots" / "panel_genome.png").read_bytes()
    assert data(re.sub(r"\s", "", table)) == (out / "report" / "summary.html").read_bytes()
    assert start.index("panel-start-figure") < start.index("panel-start-table")
    assert "System Message" not in start


def test_chromium_draws_the_page_and_every_figure(report, tmp_path):
    page, out = report
    with Chromium(tmp_path) as browser:
        browser.open(page)
        # the start page shows the genome mosaic at once, with every founder's colour
        landing = tmp_path / "landing.png"
        browser.wait(lambda: min(founder_pixels(browser.screenshot(landing))) > 100, "the genome mosaic")
        assert drawn(landing) > 0.05
        note = "The rule graph is not drawn: this report does not embed Vega."   # the stand-in's
        browser.wait(lambda: note in browser.dom(), "the rule graph's note")
        head, tail = page.rsplit("</body>", 1)     # the page's own, not one inside an embedded script
        browser.open(head + SHOW_GENOME + "</body>" + tail, "shown.html")
        browser.wait(lambda: '<pre id="decoded">' in browser.dom(), "every figure decoded")
        dom = browser.dom()
        decoded = json.loads(re.search(r'<pre id="decoded">(.*?)</pre>', dom).group(1))
        folders = {"strains.png": out / "qc"}    # the QC figure; the rest are the plots
        pngs = {n: matplotlib.image.imread(folders.get(n, out / "plots") / n).shape[:2] for n, *_ in decoded}
        assert {n: (h, w) for n, w, h in decoded} == pngs and "panel_genome.png" in pngs
        assert "chromosome X" in dom and "Panel mosaics" in dom
        # the genome's view, as a click opens it, draws every founder's colour too
        genome = tmp_path / "genome.png"
        browser.wait(lambda: min(founder_pixels(browser.screenshot(genome))) > 500, "the genome's view")


def test_a_report_only_reads_the_output_folder(example_plots, tmp_path):
    """--report takes no lock (a run may be writing the panel) and keeps the
    recorded config, here while another process holds the lock; with
    plots=false it holds the tables and the QC figure only."""
    recorded = (example_plots / "config.json").read_bytes()
    holder = subprocess.Popen([sys.executable, "-c", "import sys; from tarvel_panel.support import outfolder; "
                               f"outfolder.lock({str(example_plots)!r}); print('held', flush=True); sys.stdin.read()"],
                              cwd=REPO, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        assert holder.stdout.readline() == "held\n"
        results = embedded_results(build_report(example_plots, tmp_path / "r.html", plots_on=False))
    finally:
        holder.communicate("")
    assert {r["filename"] for r in results.values()} == {"summary.html", "settings.html", "qc.html", "strains.png"}
    assert (example_plots / "config.json").read_bytes() == recorded


@pytest.mark.workflow
def test_a_chromosome_name_cannot_write_into_the_page(tmp_path):
    """Snakemake writes figure labels unescaped into a script of the page."""
    cross = tmp_path / "cross"
    shutil.copytree(REPO / "examples" / "panel", cross, ignore=shutil.ignore_patterns("vcf", "*.png", "*.zip"))
    for name in ("gmap.csv", "pmap.csv"):
        text = (cross / name).read_text()
        (cross / name).write_text(re.sub(r"^([^,\n]*),2,", r"\1,2</script><b id=injected>,", text, flags=re.M))
    run_workflow(tmp_path, f"cross={cross / 'panel.yaml'}", f"out={tmp_path / 'out'}")
    page = build_report(tmp_path / "out", tmp_path / "r.html", cross=cross / "panel.yaml")
    labels = {r["labels"]["figure"] for r in embedded_results(page).values() if r["mime_type"] == "image/png"}
    assert labels == {"genome", "chromosome 1", "chromosome X", "chromosome 2__script__b_id_injected_", "strain QC"}
    with Chromium(tmp_path) as browser:
        browser.open(page)
        browser.wait(lambda: "Panel mosaics" in browser.dom(), "the panel mosaics")
        assert '<b id="injected"' not in browser.dom()


def test_table_pages_escape_names_and_refuse_a_ragged_table(tmp_path, capsys):
    hostile = ["<img src=x onerror=alert(1)>", "2&touch$IFS@PWNED&", "0.5"]
    (tmp_path / "s.tsv").write_text("strain\tchr\thet_mass\n" + "\t".join(hostile) + "\n")
    assert report_tables.main(["summary", str(tmp_path / "s.tsv"), str(tmp_path / "s.html")]) == 0
    cells = re.findall(r"<td[^>]*>(.*?)</td>", (tmp_path / "s.html").read_text())
    assert [report_tables.html.unescape(c) for c in cells] == hostile and "<img" not in "".join(cells)
    (tmp_path / "bad.tsv").write_text("strain\tchr\nA\t1\nB\n")
    assert report_tables.main(["summary", str(tmp_path / "bad.tsv"), str(tmp_path / "bad.html")]) == 1
    assert capsys.readouterr().err == f"error: {tmp_path / 'bad.tsv'}:3: 1 columns, the header has 2\n"
    assert not (tmp_path / "bad.html").exists()


def test_every_address_the_page_reads_is_a_local_file_or_a_one_line_refusal(tmp_path):
    urls = report_assets.wanted_urls()
    texts = report_assets.gather(urls)
    assert set(texts) == set(urls), "an address Snakemake would download"
    assert not [u for u, text in texts.items() if "</script" in text.lower()], "a text ends the page's script"
    react = next(u for u in urls if u.endswith("/react.production.min.js"))
    assert "createElement" in texts[react] and "Facebook" in texts[next(u for u in urls if "facebook" in u)]
    gone = {react: report_assets.debian(str(tmp_path / "react.js"), "node-react")}
    with pytest.raises(InputError, match=re.escape(f"{tmp_path / 'react.js'}: missing: ") + ".*Debian's node-react"):
        report_assets.gather(urls, gone)

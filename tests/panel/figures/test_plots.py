"""The founder plots: the workflow's figures, their colours where the example
panel's truth is long and clear, low-confidence stretches, sizes asked for,
and refused inputs."""
import csv
import os
import subprocess
import xml.etree.ElementTree as ET
from collections import defaultdict

import numpy as np
import pytest
from matplotlib import colors as mcolors
from matplotlib import image
from matplotlib.backends.backend_agg import FigureCanvasAgg
from matplotlib.text import Text

from tarvel_panel.errors import InputError
from tarvel_panel.figures import painting
from tarvel_panel.figures import cli as plot
from tarvel_panel.figures import sources as plot_inputs
from tarvel_panel.run import tarvel_files
from tarvel_panel.figures import draw as plots
from tarvel_panel.pairs import ALLELE_WEIGHTS
from tarvel_panel.run.values_file import read_values


# the founders' usual colours, A..H, as the plots must use them by default
USUAL = {"A": "#F0E442", "B": "#555555", "C": "#F08080", "D": "#0064C9",
         "E": "#7FDBFF", "F": "#2ECC40", "G": "#FF4136", "H": "#B10DC9"}


def run_plot(repo, *args):
    env = dict(os.environ, PYTHONPATH=str(repo))
    return subprocess.run(["/usr/bin/python3", "-m", "tarvel_panel.plot", *map(str, args)],
                          capture_output=True, text=True, env=env)


def write_npz(out):
    """npz/chr<c>.npz from a run's values files, for a workflow whose
    collection step does not write them yet."""
    panel = plot_inputs.read_out_panel(out)
    for c in panel.chromosomes:
        if os.path.exists(panel.npz(c)):
            continue
        with open(out / "prepared" / f"chr{c.safe}" / "markers.tsv") as f:
            markers = [(r["marker"], float(r["pos"])) for r in csv.DictReader(f, delimiter="\t")]
        values = np.stack([read_values(out / "runs" / f"chr{c.safe}" / s.safe / "strain.values", len(markers))
                           for s in panel.strains])
        top = values.argmax(axis=2)
        os.makedirs(out / "npz", exist_ok=True)
        np.savez_compressed(panel.npz(c), chromosome=c.name, strains=[s.name for s in panel.strains],
                            founders=panel.founders, markers=[m for m, _ in markers],
                            pos=[p for _, p in markers], top_pair=top.astype(np.uint8),
                            top_prob=np.take_along_axis(values, top[..., None], 2)[..., 0].astype(np.float32),
                            alleleprobs=(values @ ALLELE_WEIGHTS).transpose(0, 2, 1).astype(np.float32),
                            genoprobs=values.transpose(0, 2, 1).astype(np.float32))


@pytest.fixture(scope="session")
def drawn(example_run, request):
    """OUT with the workflow's plots drawn from its npz files."""
    write_npz(example_run)
    return request.getfixturevalue("example_plots")


def long_truth_segments(repo, min_markers=15):
    """(strain, chr, centre marker, copy founders sorted) of long autosome
    stretches where the simulated truth stays the same."""
    runs = defaultdict(list)
    with open(repo / "examples" / "panel" / "truth.csv") as f:
        for row in csv.DictReader(f):
            if row["chr"] != "X":
                runs[row["strain"], row["chr"]].append((row["marker"], tuple(sorted((row["copy1"], row["copy2"])))))
    found = []
    for (strain, chrom), markers in runs.items():
        start = 0
        for i in range(1, len(markers) + 1):
            if i == len(markers) or markers[i][1] != markers[start][1]:
                if i - start >= min_markers:
                    found.append((strain, chrom, markers[(start + i) // 2][0], markers[start][1]))
                start = i
    return found


def marker_positions(out, chrom):
    with open(out / "prepared" / f"chr{chrom}" / "markers.tsv") as f:
        return {row["marker"]: float(row["pos"]) for row in csv.DictReader(f, delimiter="\t")}


def pixel(png, ax, fig, x, y):
    px, py = ax.transData.transform((x, y))
    return png[int(round(fig.bbox.height - py)), int(px)][:3]


def check_colours(png_path, fig, samples):
    """samples: (axes, position, row, founders); copy 1 is drawn above copy 2."""
    png = image.imread(png_path)
    assert png.shape[:2] == (round(fig.bbox.height), round(fig.bbox.width))
    wrong = []
    for ax, pos, row, founders in samples:
        for offset, founder in ((-0.2, founders[0]), (0.2, founders[1])):
            got = pixel(png, ax, fig, pos, row + offset)
            if max(abs(got - mcolors.to_rgb(USUAL[founder]))) > 0.02:
                wrong.append((pos, row, founder, got))
    assert not wrong


def test_workflow_draws_every_strain_and_chromosome_in_the_usual_colours(drawn, repo):
    out = drawn
    panel = plot_inputs.read_out_panel(out)
    names = {p.relative_to(out / "plots").as_posix() for p in (out / "plots").rglob("*.*")}
    assert names >= {f"strains/{s.safe}.{e}" for s in panel.strains for e in ("png", "svg")} \
        | {f"panel_chr{c.safe}.{e}" for c in panel.chromosomes for e in ("png", "svg")}
    segments = long_truth_segments(repo)
    assert any(f[0] != f[1] for *_, f in segments), "the example should have a heterozygous stretch"
    strains = [s.name for s in panel.strains]
    painted = plot.paint_panel(panel, panel.chromosomes, 0.5)
    chroms = [c.name for c in panel.chromosomes]
    positions = {c: marker_positions(out, c) for c in chroms}

    for i, strain in enumerate(panel.strains):        # the strain mosaics, as the workflow drew them
        fig = plots.strain_mosaic(strain.name, [p.of(i) for p in painted], panel.founders,
                                  plots.DEFAULT_COLORS, "cM", 0.5, 10.0)
        check_colours(out / "plots" / "strains" / f"{strain.safe}.png", fig,
                      [(fig.axes[0], positions[c][m], chroms.index(c), f)
                       for s, c, m, f in segments if s == strain.name])
    for j, chrom in enumerate(chroms[:2]):            # the panel mosaics
        fig = plots.panel_mosaic(strains, [chrom], [[painted[j].of(i)] for i in range(len(strains))],
                                 panel.founders, plots.DEFAULT_COLORS, "cM", 0.5, 10.0)
        check_colours(out / "plots" / f"panel_chr{chrom}.png", fig,
                      [(fig.axes[0], positions[c][m], strains.index(s), f) for s, c, m, f in segments if c == chrom])


def same_image(a, b):
    """Equal but for a few text pixels: a glyph may land one pixel apart
    depending on what the process drew before."""
    a, b = image.imread(a), image.imread(b)
    return a.shape == b.shape and (np.abs(a - b).max(axis=2) > 0.1).mean() < 1e-3


def test_a_figure_drawn_among_many_equals_it_drawn_alone(drawn, repo, tmp_path):
    """One figure draws strain after strain (chromosome after chromosome), in
    any number of processes: nothing of the previous one may remain."""
    done = run_plot(repo, "all", "--out", drawn, "--dest", tmp_path / "all", "--jobs", 3)
    assert done.returncode == 0, done.stderr
    assert done.stderr.splitlines()[-1] == "plots: 12 of 12 figures"
    mine = sorted(p.relative_to(tmp_path / "all") for p in (tmp_path / "all").rglob("*.png"))
    assert mine == sorted(p.relative_to(drawn / "plots") for p in (drawn / "plots").rglob("*.png"))
    assert all(same_image(tmp_path / "all" / p, drawn / "plots" / p) for p in mine)
    # an SVG is the same bytes whichever process drew it, after whatever figure
    svgs = sorted(p.relative_to(drawn / "plots") for p in (drawn / "plots").rglob("*.svg"))
    assert len(svgs) == len(mine)
    assert [p for p in svgs if (tmp_path / "all" / p).read_bytes() != (drawn / "plots" / p).read_bytes()] == []
    for args, name in ((["strain", "--strain", "SIM05/Tv"], "strains/SIM05_Tv"), (["panel", "--chr", "2"], "panel_chr2"),
                       (["panel", "--chr", "X"], "panel_chrX")):
        assert run_plot(repo, *args, "--out", drawn, "-o", tmp_path / "alone").returncode == 0
        assert same_image(tmp_path / "alone.png", drawn / "plots" / f"{name}.png"), name
    assert not same_image(drawn / "plots" / "strains" / "SIM05_Tv.png", drawn / "plots" / "strains" / "SIM06_Tv.png")


def test_low_confidence_stretches_are_faded_and_hatched(drawn, repo, tmp_path):
    panel = plot_inputs.read_out_panel(drawn)
    painted = [p.of(0) for p in plot.paint_panel(panel, panel.chromosomes, 0.999)]
    segs = painted[0].segments       # chromosome 1, the top row
    wide = np.flatnonzero(segs.low & (segs.copy == 1) & (segs.end - segs.start > 3))
    assert len(wide), "a threshold of 0.999 should leave long low-confidence stretches"
    assert run_plot(repo, "strain", "--out", drawn, "--strain", panel.strains[0].name, "--threshold", 0.999,
                    "-o", tmp_path / "low").returncode == 0
    fig = plots.strain_mosaic(panel.strains[0].name, painted, panel.founders, plots.DEFAULT_COLORS, "cM", 0.999, 10.0)
    png = image.imread(tmp_path / "low.png")[..., :3]
    for k in wide:
        x0, y = fig.axes[0].transData.transform((segs.start[k], -0.2))
        x1, _ = fig.axes[0].transData.transform((segs.end[k], -0.2))
        row = png[int(round(fig.bbox.height - y)), int(x0) + 2:int(x1) - 2]
        colours, counts = np.unique(np.round(row, 2), axis=0, return_counts=True)
        light = colours[counts.argmax()]
        assert np.allclose(light, plots.faded(plots.DEFAULT_COLORS[segs.founder[k]]), atol=0.02)
        assert (row.sum(axis=1) < light.sum() - 0.3).sum() >= (x1 - x0) / 20, "hatch lines across it"


@pytest.fixture(scope="module")
def tarvel_runs(tarvel, repo, tmp_path_factory):
    """Three strains bred from the same founders: `own` and `twin` with one
    funnel, `other` with another; TARVEL run on `own` and `twin`."""
    where = tmp_path_factory.mktemp("runs")
    simulate = repo / "build" / "tools" / "simulate" / "tarvel_simulate"
    for name, funnel, seed in (("own", "1 2 3 4 5 6 7 8", 1), ("other", "3 8 1 6 2 5 4 7", 2),
                               ("twin", "1 2 3 4 5 6 7 8", 3)):
        founders = ["--founders", where / "own" / "founders.txt"] if name != "own" else []
        subprocess.run([simulate, "--out", where / name, "--markers", "400", "--seed", str(seed), "--funnel", funnel,
                        "--generation", "20", *founders], check=True, capture_output=True)
    for name in ("own", "twin"):
        subprocess.run([tarvel, where / "own" / "founders.txt", where / name / "strain.txt",
                        where / name / "funnel.txt", "20", "-cm", where / "own" / "positions.txt"],
                       check=True, capture_output=True)
    return where


def run_files(where, funnel="own", calls="own", results="own"):
    return [where / "own" / "founders.txt", where / calls / "strain.txt", where / funnel / "funnel.txt",
            "-cm", where / "own" / "positions.txt", "--results", where / results / "strain.txt.prob"]


@pytest.mark.parametrize("kind", ["strain", "panel", "track"])
def test_images_have_the_size_asked_for(drawn, tarvel_runs, repo, tmp_path, kind):
    where = {"strain": ["--out", drawn, "--strain", "SIM02/Tv"], "panel": ["--out", drawn, "--genome"],
             "track": run_files(tarvel_runs)}[kind]
    done = run_plot(repo, kind, *where, "-o", tmp_path / "p",
                    "--width", 6, "--height", 3.5, "--dpi", 50, "--colors", "A=#000000,H=tab:olive")
    assert done.returncode == 0, done.stderr
    assert image.imread(tmp_path / "p.png").shape[:2] == (175, 300)
    svg = ET.parse(tmp_path / "p.svg").getroot()
    assert (svg.get("width"), svg.get("height")) == ("432pt", "252pt")


def refusal(repo, tmp_path, args, *words):
    done = run_plot(repo, "track", *args, "-o", tmp_path / "bad")
    assert done.returncode == 1 and done.stderr.startswith("error: ") and done.stderr.count("\n") == 1
    assert all(w in done.stderr for w in words), done.stderr
    assert not list(tmp_path.glob("*bad*"))


def test_a_runs_own_results_are_drawn_and_others_refused(tarvel_runs, repo, tmp_path):
    for kind in ("strain", "track"):
        done = run_plot(repo, kind, *run_files(tarvel_runs), "--chr", "1", "-o", tmp_path / kind)
        assert done.returncode == 0 and (tmp_path / f"{kind}.svg").is_file(), done.stderr
    lines = open(tarvel_runs / "own" / "strain.txt.prob").read().splitlines(keepends=True)
    for name, text in (("short", lines[:-1]), ("odd", lines[:5] + [lines[5].replace(",", ",0.1,", 1)] + lines[6:])):
        (tmp_path / name).mkdir()
        (tmp_path / name / "strain.txt.prob").write_text("".join(text))
    refusal(repo, tmp_path, run_files(tarvel_runs)[:-1] + [tmp_path / "short" / "strain.txt.prob"], "399 lines")
    refusal(repo, tmp_path, run_files(tarvel_runs)[:-1] + [tmp_path / "odd" / "strain.txt.prob"], "strain.txt.prob:6:")
    # another strain's results: its funnel allows pairs this funnel never has
    refusal(repo, tmp_path, run_files(tarvel_runs, funnel="other"), "own/strain.txt.prob:", "never gives")
    # the same funnel, another strain's calls: the painted founders contradict them
    mixed = run_files(tarvel_runs, calls="twin")
    refusal(repo, tmp_path, mixed, "contradict")
    assert run_plot(repo, "track", *mixed, "--no-call-check", "-o", tmp_path / "drawn").returncode == 0


@pytest.mark.parametrize("generation,x,sex", [(4, False, "F"), (3, True, "M"), (5, True, "F"), (20, True, "F")])
def test_tarvel_runs_of_every_kind_pass_the_checks(repo, tarvel, tmp_path, generation, x, sex):
    simulate = repo / "build" / "tools" / "simulate" / "tarvel_simulate"
    options = ["--x", "--sex", sex] if x else []
    subprocess.run([simulate, "--out", tmp_path, "--generation", str(generation), "--markers", "300",
                    "--length", "70", "--seed", "4", *options], check=True, capture_output=True)
    files = [tmp_path / n for n in ("founders.txt", "strain.txt", "funnel.txt", "positions.txt")]
    subprocess.run([tarvel, *files[:3], str(generation), "-cm", files[3], *(["-x", "-s", sex] if x else [])],
                   check=True, capture_output=True)
    run = tarvel_files.read_run(*map(str, files), is_x=x, male=sex == "M")
    assert run.probs.shape == (300, 36)


def test_wrong_choices_on_the_output_folder_are_refused(drawn, repo, tmp_path):
    stale, lean = tmp_path / "stale", tmp_path / "lean"   # npz files of another panel; without pair values
    for folder in (stale, lean):
        (folder / "prepared").mkdir(parents=True)
        (folder / "npz").mkdir()
    for npz in (drawn / "npz").iterdir():
        with np.load(npz) as z:
            np.savez(lean / "npz" / npz.name, **{k: z[k] for k in z.files if k != "genoprobs"})
            np.savez(stale / "npz" / npz.name, **z)
    meta = (drawn / "prepared" / "panel.json").read_text()
    (lean / "prepared" / "panel.json").write_text(meta)
    (stale / "prepared" / "panel.json").write_text(meta.replace("SIM08/Tv", "SIM09/Tv"))
    bad = ["-o", tmp_path / "bad"]
    for out, args, words in ((drawn, ["strain", "--strain", "SIM99/Tv", *bad], ["panel.json", "SIM99/Tv"]),
                             (drawn, ["panel", "--chr", "7", *bad], ["no chromosome '7'"]),
                             (drawn, ["panel", "--chr", "1", "--colors", "A=#12345", *bad], ["--colors", "#12345"]),
                             (drawn, ["panel", "--chr", "1", "--threshold", "1.5", *bad], ["--threshold"]),
                             (stale, ["panel", "--chr", "2", *bad], ["chr2.npz", "strains"]),
                             (stale, ["all", "--jobs", "2"], ["chr1.npz", "strains"]),
                             (lean, ["track", "--strain", "SIM01/Tv", "--chr", "X", *bad], ["chrX.npz", "36 pair"])):
        done = run_plot(repo, *args, "--out", out)
        assert done.returncode == 1 and all(w in done.stderr for w in words), done.stderr
        assert done.stderr.count("\n") == 1
    assert not list(tmp_path.glob("bad*")) and not (stale / "plots").exists()
    assert run_plot(repo, "panel", "--out", lean, "--chr", "X", "-o", tmp_path / "drawn").returncode == 0


# --- labels that keep apart, rows that stay readable -------------------------------

CC_CM = [98, 103, 82, 85, 92, 75, 74, 73, 75, 70, 83, 61, 67, 66, 54, 57, 59, 55, 54, 72]


def simulated_painting(strains, names, markers=60, seed=1):
    """painted[i][j]: strain i on chromosome j (mouse-like lengths in cM),
    founder stretches of random length, a few of them low."""
    rng = np.random.default_rng(seed)
    painted = [[] for _ in range(strains)]
    for name, cm in zip(names, CC_CM):
        pos = np.linspace(0.5, cm, markers)
        pairs = np.repeat(rng.integers(0, 36, (strains, 6)), markers // 6 + 1, axis=1)[:, :markers]
        prob = np.where(rng.random((strains, markers)) < 0.9, 0.95, 0.3)
        segs = painting.paint_chromosome(pos, pairs, prob)
        for i in range(strains):
            painted[i].append(plots.Painted(name, pos[0], pos[-1], segs.of_row(i)))
    return painted


def text_boxes(fig):
    """Window extents of every text drawn: tick labels, titles, axis labels, legend."""
    renderer = FigureCanvasAgg(fig).get_renderer()
    fig.draw_without_rendering()
    axes = [a for ax in fig.axes for a in (ax.xaxis, ax.yaxis)]
    ticks = {id(t.label1) for a in axes for t in a.majorTicks + a.minorTicks}
    texts = [t for t in fig.findobj(Text) if id(t) not in ticks] + \
        [t for a in axes for t in a.get_ticklabels()]
    return [t.get_window_extent(renderer) for t in texts if t.get_visible() and t.get_text()]


def overlapping(boxes):
    return [(a, b) for k, a in enumerate(boxes) for b in boxes[k + 1:] if a.overlaps(b)]


@pytest.mark.parametrize("strains,names,width,height", [
    (70, [str(c) for c in range(1, 20)] + ["X"], 10, None),
    (1000, [str(c) for c in range(1, 20)] + ["X"], 10, None),
    (300, [f"{c}&touch$IFS@PWNED&" for c in range(1, 21)], 5, 6)])
def test_no_label_of_a_genome_wide_mosaic_runs_into_another(strains, names, width, height):
    painted = simulated_painting(strains, names)
    labels = [f"SIM{i:04d}/Tv" for i in range(strains)]
    founders = list("ABCDEFGH") if width == 10 else [*"ABCDEFG", "WSB/EiJ, wild-derived Eastern US"]
    fig = plots.panel_mosaic(labels, names, painted, founders, plots.DEFAULT_COLORS, "cM", 0.5, width, height)
    boxes = text_boxes(fig)
    assert not overlapping(boxes)
    assert all(0 <= b.x0 and b.x1 <= fig.bbox.width and 0 <= b.y0 and b.y1 <= fig.bbox.height for b in boxes)
    columns = fig.axes[:len(names)]
    # too narrow for positions: each column's axis names its chromosome at
    # its middle and marks its ends, in place of a title
    assert not [ax.title.get_text() for ax in columns if ax.title.get_text()]
    ticks = [[t.get_text() for t in ax.get_xticklabels()] for ax in columns]
    assert all(len(t) == 1 for t in ticks) and all(len(ax.get_xticks(minor=True)) == 2 for ax in columns)
    for ax in columns:
        (lo, hi), (middle,) = ax.get_xlim(), ax.get_xticks()
        assert middle == pytest.approx((lo + hi) / 2) and list(ax.get_xticks(minor=True)) == [lo, hi]
    named = [t for (t,) in ticks if t]
    if width == 10:         # at the default size every chromosome is named
        assert named == names
    else:                   # squeezed: thinned, but not emptied
        assert 1 <= len(named) < len(names) and set(named) <= set(names)
    shown = fig.axes[0].get_yticklabels()
    assert len(shown) == strains if height is None else 1 < len(shown) < strains
    for j in (0, len(names) - 1):   # each chromosome alone, and a strain's mosaic
        alone = plots.panel_mosaic(labels, [names[j]], [[p[j]] for p in painted], founders,
                                   plots.DEFAULT_COLORS, "cM", 0.5, width, height)
        assert not overlapping(text_boxes(alone))
    mosaic = plots.strain_mosaic(labels[0], painted[0], founders, plots.DEFAULT_COLORS, "cM", 0.5, width)
    assert not overlapping(text_boxes(mosaic)) and len(mosaic.axes[0].get_yticklabels()) == len(names)


def row_starts(column):
    """Where each run of painted (not white) pixels down a column starts, a
    white line of one pixel (between a row's copies) bridged."""
    painted = column.min(axis=1) < 0.95
    painted[1:-1] |= painted[:-2] & painted[2:]
    return np.flatnonzero(painted[1:] & ~painted[:-1]) + 1


@pytest.mark.parametrize("strains", [69, 500])
def test_every_strain_of_a_large_panel_keeps_a_row_of_its_own(strains, tmp_path):
    """Rows are at least 0.14 inches (14 pixels at 100 dpi) high, the figure
    grows with the strains, and up to 100 strains rows stay 0.32 inches."""
    names = [str(c) for c in range(1, 20)] + ["X"]
    painted = simulated_painting(strains, names, markers=30)
    fig = plots.panel_mosaic([f"S{i}" for i in range(strains)], names, painted, list("ABCDEFGH"),
                             plots.DEFAULT_COLORS, "cM", 0.5, 10.0)
    plots.save(fig, tmp_path / "p")
    png = image.imread(tmp_path / "p.png")[..., :3]
    (x, top), (_, bottom) = fig.axes[0].transData.transform([(CC_CM[0] / 2, -0.5), (CC_CM[0] / 2, strains - 0.5)])
    height = png.shape[0]
    starts = row_starts(png[int(height - top) - 1:int(height - bottom) - 2, int(x)])   # above the axis line
    assert len(starts) == strains, "one painted bar per strain, white between them"
    pitch = np.diff(starts)     # rows fall on whole pixels: a pixel more or less here and there
    assert pitch.mean() >= 14 - 0.05 and pitch.min() >= 13 and (strains > 100 or pitch.mean() >= 32 - 0.05)
    assert height < 100 * (1.5 + 0.15 * strains) if strains > 100 else height >= 100 * 0.32 * strains
    with pytest.raises(InputError, match="5000 strains make a figure 70130 pixels high"):   # more than Agg draws
        plots.PanelMosaic([f"S{i}" for i in range(5000)], [1.0], list("ABCDEFGH"), plots.DEFAULT_COLORS, "cM", 0.5, 10)


def one_path_per_box(collection):
    """The collection's boxes each as a path of its own, in its path's colour."""
    boxes = [path.vertices.reshape(-1, 5, 2)[:, :4] for path in collection.get_paths()]
    faces = collection.get_facecolor()
    collection.set_verts([b for v in boxes for b in v])
    if len(faces) == len(boxes):     # filled, each path its founder's colour
        collection.set_facecolor(np.repeat(faces, [len(v) for v in boxes], axis=0))
    collection.set_snap(None)


def test_the_bars_drawn_as_one_path_per_colour_look_as_one_path_per_box_did(tmp_path):
    """Thousands of segments in a figure: the same PNG pixels, a tenth of the SVG's elements."""
    names = ["1", "2", "3", "4", "X"]
    painted = simulated_painting(150, names, markers=40)
    fig = plots.panel_mosaic([f"S{i}" for i in range(150)], names, painted, list("ABCDEFGH"),
                             plots.DEFAULT_COLORS, "cM", 0.5, 10.0, height=6.0)
    plots.save(fig, tmp_path / "grouped")
    bars = [b for ax in fig.axes[:len(names)] for b in ax.collections if len(b.get_facecolor()) > 1]
    assert max(len(b.get_paths()) for b in bars) <= 8 and not any(b.get_rasterized() for b in bars)
    assert max(len(b.get_paths()[0].vertices) for b in bars) > 1024    # past where Agg stops snapping by itself
    for collection in bars:
        one_path_per_box(collection)
    plots.save(fig, tmp_path / "boxes")
    assert (image.imread(tmp_path / "grouped.png") == image.imread(tmp_path / "boxes.png")).all()
    grouped, boxes = (sum(1 for _ in ET.parse(tmp_path / f"{n}.svg").iter()) for n in ("grouped", "boxes"))
    assert grouped < boxes / 10


def test_a_genome_of_few_chromosomes_keeps_its_titles_and_position_ticks():
    names = ["1", "2", "X"]
    fig = plots.panel_mosaic([f"S{i}" for i in range(5)], names, simulated_painting(5, names), list("ABCDEFGH"),
                             plots.DEFAULT_COLORS, "cM", 0.5, 10.0)
    columns = fig.axes[:len(names)]
    assert [ax.title.get_text() for ax in columns] == ["chr 1", "chr 2", "chr X"]
    for ax in columns:
        ticks = [float(t.get_text()) for t in ax.get_xticklabels()]
        assert len(ticks) >= 2 and ticks[0] == 0 and ticks == sorted(ticks)
    assert fig.texts[0].get_text() == "position (cM)"

"""The founder plots: the workflow's files, their colours where the example
panel's truth is long and clear, sizes asked for, and refused results files."""
import csv
import os
import subprocess
import xml.etree.ElementTree as ET
from collections import defaultdict

import pytest
from matplotlib import colors as mcolors
from matplotlib import image

from tarvel_panel import plot, plot_inputs, plots

# the founders' usual colours, A..H, as the plots must use them by default
USUAL = {"A": "#F0E442", "B": "#555555", "C": "#F08080", "D": "#0064C9",
         "E": "#7FDBFF", "F": "#2ECC40", "G": "#FF4136", "H": "#B10DC9"}


def run_plot(repo, *args):
    env = dict(os.environ, PYTHONPATH=str(repo))
    return subprocess.run(["/usr/bin/python3", "-m", "tarvel_panel.plot", *map(str, args)],
                          capture_output=True, text=True, env=env)


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


def test_workflow_draws_every_strain_and_chromosome_in_the_usual_colours(example_plots, repo):
    out = example_plots
    panel = plot_inputs.read_out_panel(out)
    for ext in ("png", "svg"):
        assert all((out / "plots" / "strains" / f"{s.safe}.{ext}").is_file() for s in panel.strains)
        assert all((out / "plots" / f"panel_chr{c}.{ext}").is_file() for c in panel.chromosomes)
    segments = long_truth_segments(repo)
    assert any(f[0] != f[1] for *_, f in segments), "the example should have a heterozygous stretch"
    strains = [s.name for s in panel.strains]
    painted = {c: plot.paint_out_chrom(panel, c, strains, 0.5) for c in panel.chromosomes}
    positions = {c: marker_positions(out, c) for c in panel.chromosomes}

    for strain in panel.strains:        # the strain mosaics, as the workflow drew them
        rows = [plot.scaled(c, painted[c][strain.name], 1.0) for c in panel.chromosomes]
        fig = plots.strain_mosaic(strain.name, rows, panel.founders, plots.DEFAULT_COLORS, "cM", 0.5, 10.0)
        ax = fig.axes[0]
        check_colours(out / "plots" / "strains" / f"{strain.safe}.png", fig,
                      [(ax, positions[c][m], panel.chromosomes.index(c), f)
                       for s, c, m, f in segments if s == strain.name])
    for chrom in ("1", "2"):            # the panel mosaics
        rows = [[plot.scaled(chrom, painted[chrom][s], 1.0)] for s in strains]
        fig = plots.panel_mosaic(strains, [chrom], rows, panel.founders, plots.DEFAULT_COLORS, "cM", 0.5, 10.0)
        check_colours(out / "plots" / f"panel_chr{chrom}.png", fig,
                      [(fig.axes[0], positions[c][m], strains.index(s), f)
                       for s, c, m, f in segments if c == chrom])


@pytest.mark.parametrize("kind", ["strain", "panel", "track"])
def test_images_have_the_size_asked_for(example_run, repo, tmp_path, kind):
    where = {"strain": ["--strain", "SIM02/Tv"], "panel": ["--genome"],
             "track": ["--strain", "SIM02/Tv", "--chr", "2"]}[kind]
    done = run_plot(repo, kind, "--out", example_run, *where, "-o", tmp_path / "p",
                    "--width", 6, "--height", 3.5, "--dpi", 50, "--colors", "A=#000000,H=tab:olive")
    assert done.returncode == 0, done.stderr
    assert image.imread(tmp_path / "p.png").shape[:2] == (175, 300)
    svg = ET.parse(tmp_path / "p.svg").getroot()
    assert (svg.get("width"), svg.get("height")) == ("432pt", "252pt")


def run_files(example_run, chrom, strain, funnel_of=None, calls_of=None):
    """A TARVEL run of the example panel: its four input files, its results;
    optionally another strain's funnel or strain file in place of its own."""
    prepared, runs = example_run / "prepared" / f"chr{chrom}", example_run / "runs" / f"chr{chrom}"
    return [prepared / "founders.txt", runs / (calls_of or strain) / "strain.txt",
            prepared / (funnel_of or strain) / "funnel.txt", "-cm", prepared / "positions.txt",
            "--results", runs / strain / "strain.txt.prob"]


def test_a_runs_own_results_are_drawn(example_run, repo, tmp_path):
    for chrom, x in (("2", []), ("X", ["-x", "-s", "M"])):
        for strain in ("SIM01_Tv", "SIM06_Tv"):
            done = run_plot(repo, "strain", *run_files(example_run, chrom, strain), *x,
                            "-o", tmp_path / f"{chrom}{strain}")
            assert done.returncode == 0, done.stderr
            assert (tmp_path / f"{chrom}{strain}.png").is_file()


def refusal(repo, tmp_path, args, *words):
    done = run_plot(repo, "track", *args, "-o", tmp_path / "bad")
    assert done.returncode == 1 and done.stderr.startswith("error: ")
    assert all(w in done.stderr for w in words), done.stderr
    assert not list(tmp_path.glob("*bad*"))


def test_results_that_do_not_fit_their_inputs_are_refused(example_run, repo, tmp_path):
    files = run_files(example_run, "1", "SIM03_Tv")
    lines = open(files[-1]).read().splitlines(keepends=True)
    short, odd = tmp_path / "short" / "strain.txt.prob", tmp_path / "odd" / "strain.txt.prob"
    for path, text in ((short, lines[:-1]), (odd, lines[:5] + [lines[5].replace(",", ",0.1,", 1)] + lines[6:])):
        path.parent.mkdir()
        path.write_text("".join(text))
    refusal(repo, tmp_path, files[:-1] + [short], str(short), f"{len(lines) - 1} lines")
    refusal(repo, tmp_path, files[:-1] + [odd], f"{odd}:6:", "37 values")
    # another strain's results: its funnel allows pairs this funnel never has
    refusal(repo, tmp_path, run_files(example_run, "1", "SIM03_Tv", funnel_of="SIM04_Tv"),
            "SIM03_Tv/strain.txt.prob:", "never gives")
    # the same funnel, another strain's calls: the painted founders contradict them
    mixed = run_files(example_run, "1", "SIM03_Tv", calls_of="SIM05_Tv")
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
    run = plot_inputs.read_run(*map(str, files), is_x=x, male=sex == "M")
    assert len(run.probs) == 300


def test_wrong_choices_on_the_output_folder_are_refused(example_plots, repo, tmp_path):
    painting = example_plots / "plots" / "painting"
    for args, words in ((["strain", "--strain", "SIM99/Tv"], ["panel.json", "SIM99/Tv"]),
                        (["panel", "--chr", "7"], ["no chromosome '7'"]),
                        (["panel", "--chr", "1", "--colors", "A=#12345"], ["--colors", "#12345"]),
                        (["panel", "--chr", "1", "--painting", painting, "--threshold", "0.8"],
                         ["chr1.csv", "threshold 0.5"])):
        done = run_plot(repo, *args, "--out", example_plots, "-o", tmp_path / "bad")
        assert done.returncode == 1 and all(w in done.stderr for w in words), done.stderr
    assert not list(tmp_path.iterdir())

"""The documentation against what it documents: the config reference against
config/config.yaml and the schema, the links between the pages, and every
command the README shows, run as it is written there."""
import csv
import fnmatch
import json
import re
import shutil
import subprocess

import jsonschema
import pytest
import yaml

from conftest import REPO

README = REPO / "README.md"
PAGES = [README, REPO / "config" / "README.md", *sorted((REPO / "docs").glob("*.md"))]
CONFIG = REPO / "config" / "config.yaml"
SCHEMA = REPO / "workflow" / "schemas" / "config.schema.yaml"


# ---- the config reference ------------------------------------------------

def reference_table():
    """{key: default} of the key table in config/README.md, each default read
    as the YAML it is written as."""
    table = {}
    for line in (REPO / "config" / "README.md").read_text().splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) == 3 and re.fullmatch(r"`\w+`", cells[0]) and re.fullmatch(r"`[^`]*`", cells[1]):
            table[cells[0].strip("`")] = yaml.safe_load(cells[1].strip("`"))
    return table


def test_the_config_reference_agrees_with_the_defaults_and_the_schema():
    defaults = yaml.safe_load(CONFIG.read_text())
    schema = yaml.safe_load(SCHEMA.read_text())
    table = reference_table()
    assert table == defaults
    assert set(schema["properties"]) == set(defaults)
    # every default is a value the run itself accepts
    jsonschema.Draft7Validator(schema).validate(defaults)


def test_every_default_has_a_comment():
    """Each key of config.yaml follows a comment (keys of one group share it)."""
    lines = CONFIG.read_text().splitlines()
    key_line = re.compile(r"^\w+:")
    for n, line in enumerate(lines):
        if key_line.match(line):
            above = next((l for l in reversed(lines[:n]) if not key_line.match(l)), "")
            assert above.startswith("#"), f"config/config.yaml:{n + 1}: {line} has no comment above it"


# ---- links between the pages ----------------------------------------------

def slug(heading):
    """The anchor a Markdown heading gets (GitHub's rule)."""
    text = re.sub(r"[^\w\- ]", "", heading.strip().lower())
    return text.replace(" ", "-")


def anchors(page):
    return {slug(line.lstrip("#")) for line in page.read_text().splitlines() if re.match(r"#{1,6} ", line)}


def test_every_link_points_at_a_file_and_heading_that_exist():
    broken = []
    for page in PAGES:
        for target in re.findall(r"\]\(([^)\s]+)\)", page.read_text()):
            if re.match(r"[a-z]+:", target):
                continue
            path, _, anchor = target.partition("#")
            linked = (page.parent / path).resolve() if path else page
            if not linked.exists() or (anchor and anchor not in anchors(linked)):
                broken.append(f"{page.relative_to(REPO)}: {target}")
    assert broken == []


# ---- the README's commands -------------------------------------------------

def readme_commands():
    """Every command of the README's sh blocks, continuation lines joined."""
    blocks = re.findall(r"```sh\n(.*?)```", README.read_text(), re.S)
    commands = []
    for block in blocks:
        for line in block.replace("\\\n", " ").splitlines():
            if line.strip() and not line.lstrip().startswith("#"):
                commands.append(" ".join(line.split()))
    return commands


def kind(command):
    """Which test below runs this command."""
    if command.startswith("bash tools/install-deps.sh && "):
        return "first run"
    if command.startswith("./build/TARVEL "):
        return "tarvel"
    if command == "bash tests/run_all.sh":
        return "whole suite"
    if command.startswith("snakemake "):
        return "workflow"
    return None


def commands_of(wanted):
    return [c for c in readme_commands() if kind(c) == wanted]


def test_every_readme_command_is_run_by_a_test():
    commands = readme_commands()
    assert [c for c in commands if kind(c) is None] == []
    assert {kind(c) for c in commands} == {"first run", "tarvel", "whole suite", "workflow"}


def scratch_checkout(root):
    """A place to run README commands in as a user would in the repository:
    its entries linked, the ones the commands write into (examples/, .test/)
    copied, so nothing is written into the repository itself."""
    root.mkdir()
    for entry in REPO.iterdir():
        if entry.name in (".git", ".snakemake", ".pytest_cache") or entry.name.startswith("panel"):
            continue
        if entry.name in ("examples", ".test"):
            shutil.copytree(entry, root / entry.name, ignore=shutil.ignore_patterns("*.prob", "out"))
        else:
            (root / entry.name).symlink_to(entry)
    return root


def run(command, cwd):
    done = subprocess.run(["bash", "-c", command], cwd=cwd, capture_output=True, text=True)
    assert done.returncode == 0, f"{command}\n{done.stdout[-2000:]}\n{done.stderr[-4000:]}"
    return done


def test_the_tarvel_command_writes_one_results_line_per_marker(tmp_path, tarvel):
    [command] = commands_of("tarvel")
    work = scratch_checkout(tmp_path / "repo")
    run(command, work)
    words = command.split()
    markers = [l for l in (work / words[words.index("-cm") + 1]).read_text().splitlines() if l.strip()]
    lines = (work / (words[2] + ".prob")).read_text().splitlines()
    assert [l.split("|")[0] for l in lines] == [str(i) for i in range(len(markers))]
    assert all(len(l.split("|")[1].rstrip(",").split(",")) == 36 for l in lines)


def test_the_test_command_is_what_ci_runs():
    # run here it would run this very test again: CI runs it instead
    [command] = commands_of("whole suite")
    ci = [l.strip() for l in (REPO / ".ci" / "run").read_text().splitlines()]
    assert f"exec {command}" in ci


def out_folder(command, work):
    """The output folder a workflow command writes, from out= or its --configfile."""
    words = command.split()
    out = next((w[4:] for w in words if w.startswith("out=")), None)
    if out is None and "--configfile" in words:
        out = yaml.safe_load((work / words[words.index("--configfile") + 1]).read_text()).get("out")
    return work / (out or yaml.safe_load(CONFIG.read_text())["out"])


def assert_whole_panel(out):
    """summary.tsv and mosaic.csv cover every strain and chromosome prepared."""
    panel = json.loads((out / "prepared" / "panel.json").read_text())
    wanted = {(s["name"], c["name"]) for s in panel["strains"] for c in panel["chromosomes"]}
    with open(out / "summary.tsv", newline="") as f:
        assert {(r["strain"], r["chr"]) for r in csv.DictReader(f, delimiter="\t")} == wanted
    with open(out / "mosaic.csv", newline="") as f:
        assert {(r["strain"], r["chr"]) for r in csv.DictReader(f)} == wanted


def outputs_table():
    """(path pattern, only with an opt-in key) of the README's outputs table."""
    rows = []
    for line in README.read_text().split("## Outputs", 1)[1].split("\n## ", 1)[0].splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if len(cells) == 2 and cells[0].startswith("`"):
            rows += [(re.sub(r"<[^>]+>", "*", path), cells[1].startswith("only with"))
                     for path in re.findall(r"`([^`]+)`", cells[0])]
    return rows


@pytest.mark.workflow
def test_the_first_run_builds_and_writes_every_output_the_readme_lists(tmp_path, tarvel):
    [command] = commands_of("first run")
    *setup, panel_run = command.split(" && ")
    # installing and building belong to the repository; the panel goes elsewhere
    run(" && ".join(setup), REPO)
    work = scratch_checkout(tmp_path / "repo")
    run(panel_run, work)
    out = out_folder(panel_run, work)
    assert_whole_panel(out)
    written = [str(p.relative_to(out)) for p in out.rglob("*")]
    for pattern, opt_in in outputs_table():
        found = fnmatch.filter(written, pattern)
        assert bool(found) != opt_in, f"{pattern}: {'written' if found else 'missing'} in a run with the defaults"


@pytest.mark.workflow
@pytest.mark.parametrize("command", commands_of("workflow"))
def test_each_quick_start_command_makes_a_whole_panel(tmp_path, tarvel, command):
    work = scratch_checkout(tmp_path / "repo")
    run(command, work)
    assert_whole_panel(out_folder(command, work))

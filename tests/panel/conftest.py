"""Shared fixtures of the panel tests: the repository, the TARVEL binary and
one workflow run on the example panel that every test may read (not write).

The tests follow the package's stages (inputs/, prepared/, run/, collect/, qc/,
figures/, support/); workflow/ holds the runs of the whole workflow. Every
test that runs the workflow is marked `workflow`: those of workflow/, those
that use a fixture running it (WORKFLOW_FIXTURES) and those marked by hand.
    /usr/bin/python3 -m pytest tests/panel -m "not workflow"    the fast set
    /usr/bin/python3 -m pytest tests/panel -m workflow          the workflow runs"""
import os
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(REPO))
SNAKEMAKE = "/usr/bin/snakemake"
# fixtures that run the workflow (a test using one, directly or through
# another fixture, is a workflow test)
WORKFLOW_FIXTURES = {"example_run", "example_plots", "cc_run", "pairs_run", "vcf_run"}


def pytest_configure(config):
    config.addinivalue_line("markers", "workflow: runs the whole workflow (or a build); slow. "
                                       "-m 'not workflow' leaves these out")


def pytest_collection_modifyitems(config, items):
    here = Path(__file__).parent
    for item in items:
        in_workflow = Path(str(item.fspath)).parent == here / "workflow"
        if in_workflow or WORKFLOW_FIXTURES & set(getattr(item, "fixturenames", ())):
            item.add_marker(pytest.mark.workflow)


def run_workflow(workdir, *config, check=True):
    """Run the workflow from `workdir` (as --directory) with `key=value`
    config items; returns the finished process."""
    command = [SNAKEMAKE, "--snakefile", str(REPO / "workflow" / "Snakefile"), "--directory", str(workdir),
               "--cores", "2", "--config", *config]
    done = subprocess.run(command, capture_output=True, text=True)
    if check and done.returncode != 0:
        pytest.fail(f"workflow failed ({' '.join(command)}):\n{done.stderr[-4000:]}")
    return done


@pytest.fixture(scope="session")
def repo():
    return REPO


@pytest.fixture(scope="session")
def tarvel():
    path = REPO / "build" / "TARVEL"
    if not os.access(path, os.X_OK):
        pytest.fail(f"{path} is missing: build it first (cmake -S . -B build && cmake --build build -j2)")
    return path


@pytest.fixture(scope="session")
def example_run(tmp_path_factory, tarvel):
    """OUT of the workflow run on examples/panel (--cores 2, no plots)."""
    workdir = tmp_path_factory.mktemp("example_run")
    out = workdir / "out"
    run_workflow(workdir, f"cross={REPO / 'examples' / 'panel' / 'panel.yaml'}", f"out={out}", "plots=false")
    return out


@pytest.fixture(scope="session")
def example_plots(example_run):
    """The same OUT with the plots drawn too (only the plot jobs run)."""
    run_workflow(example_run.parent, f"cross={REPO / 'examples' / 'panel' / 'panel.yaml'}",
                 f"out={example_run}", "plots=true")
    return example_run


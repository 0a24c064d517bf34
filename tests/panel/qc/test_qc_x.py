"""The X against the funnel: which funnel places pass no X, checked on
simulated breeding, and the spans a barred founder confidently gave."""
import subprocess

import numpy as np
import pytest

from conftest import REPO
from tarvel_panel.panel.model import NO_CALL
from tarvel_panel.qc import x_funnel

SIMULATE = REPO / "build" / "tools" / "simulate" / "tarvel_simulate"


def test_breeding_through_the_funnel_never_passes_the_x_of_places_4_7_and_8(tmp_path):
    """The simulator breeds dam x sire in the funnel file's order; over many
    strains every other place gives some X, these never do."""
    if not SIMULATE.exists():
        pytest.fail(f"{SIMULATE} is missing: build it first")
    rng = np.random.default_rng(5)
    seen = set()
    for seed in range(24):
        funnel = [int(f) for f in rng.permutation(8) + 1]
        out = tmp_path / str(seed)
        subprocess.run([str(SIMULATE), "--out", str(out), "--seed", str(seed), "--x", "--sex", "MF"[seed % 2],
                        "--generation", str(3 + seed % 10), "--markers", "150", "--length", "80",
                        "--funnel", " ".join(map(str, funnel))], check=True, capture_output=True)
        founders = {int(n) for line in (out / "truth.txt").read_text().split("\n") for n in line.split()}
        seen |= {funnel.index(f) + 1 for f in founders}
        assert not founders & set(x_funnel.barred_founders(funnel)), (funnel, founders)
    assert seen == set(range(1, 9)) - set(x_funnel.BARRED_PLACES)


def x_strain(rng, founders, origin, error=0.0):
    """Homozygous calls of an X that founder origin[t] (numbers 1..8) gave."""
    calls = 2 * founders[np.arange(len(origin)), np.array(origin) - 1]
    wrong = rng.random(len(origin)) < error
    return np.where(wrong, 2 - calls, calls).astype(np.uint8)


def test_a_barred_founder_is_found_only_where_it_gave_the_x():
    rng = np.random.default_rng(3)
    markers = 300
    founders = rng.integers(0, 2, (markers, 8)).astype(np.uint8)
    cm = np.linspace(0, 70, markers)
    funnel = [3, 1, 4, 6, 2, 7, 8, 5]            # places 4, 7, 8 hold founders 6, 8, 5
    right = x_strain(rng, founders, [3] * 150 + [2] * 150, error=0.005)
    wrong = x_strain(rng, founders, [3] * 100 + [6] * 120 + [3] * 80, error=0.005)
    wrong[[110, 150]] = 1                         # heterozygous calls and no-calls say nothing
    wrong[[120, 160]] = NO_CALL
    calls = np.stack([right, wrong])
    spans = x_funnel.barred_spans(7, [funnel, funnel], calls, founders, cm, min_prob=0.99, min_markers=10)
    assert len(spans) == 1
    span = spans[0]
    assert (span.strain, span.founder, span.place) == (8, 6, 4)
    assert 95 <= span.first <= 105 and 214 <= span.last <= 224 and span.mean_prob > 0.99
    # an untyped founder leaves its markers unscored
    untyped = founders.copy()
    untyped[100:220, 0] = NO_CALL
    assert x_funnel.barred_spans(0, [funnel], wrong[None], untyped, cm, 0.99, 10) == []


def test_founders_the_calls_cannot_tell_apart_are_never_confidently_barred():
    rng = np.random.default_rng(4)
    founders = rng.integers(0, 2, (200, 8)).astype(np.uint8)
    founders[:, 5] = founders[:, 2]               # founder 6 (barred) looks just like founder 3
    calls = x_strain(rng, founders, [3] * 200)[None]
    posterior = x_funnel.founder_posteriors(calls, founders, np.linspace(0, 70, 200))
    assert np.allclose(posterior[0, :, 2], posterior[0, :, 5], atol=1e-4)
    assert x_funnel.barred_spans(0, [[3, 1, 4, 6, 2, 7, 8, 5]], calls, founders, np.linspace(0, 70, 200),
                                 0.99, 10) == []

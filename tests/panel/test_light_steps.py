"""The steps a panel runs dozens of times (a batch, an R object's job, the
join, a report page) start without numpy or the config's schema checker:
their imports were a tenth to a third of a second per job."""
import subprocess
import sys

import pytest

from tarvel_panel import REPO


@pytest.mark.parametrize("module", ["tarvel_panel.run.batch", "tarvel_panel.collect.qtl2_rds",
                                    "tarvel_panel.collect.join", "tarvel_panel.support.report_tables"])
def test_a_frequent_step_imports_neither_numpy_nor_jsonschema(module):
    heavy = subprocess.run([sys.executable, "-c", f"import sys, {module}; "
                            "print(sorted(m for m in ('numpy', 'jsonschema') if m in sys.modules))"],
                           cwd=REPO, capture_output=True, text=True, check=True).stdout.strip()
    assert heavy == "[]"


def test_the_pair_tables_are_made_on_first_use_and_then_kept():
    from tarvel_panel import pairs
    weights = pairs.ALLELE_WEIGHTS
    assert weights.shape == (36, 8) and (weights.sum(axis=1) == 1).all()
    assert pairs.ALLELE_WEIGHTS is weights
    assert [tuple(f) for f in pairs.PAIR_FOUNDERS[:3]] == [(0, 0), (0, 1), (1, 1)]
    with pytest.raises(AttributeError):
        pairs.NO_SUCH_TABLE

"""QC's thresholds as the workflow config gives them, their refusals, and the
QC figure."""
from dataclasses import fields

import numpy as np
import pytest
import yaml
from matplotlib.backends.backend_agg import FigureCanvasAgg

from conftest import REPO
from tarvel_panel.errors import InputError
from tarvel_panel.figures import qc_figure
from tarvel_panel.qc.settings import Settings, check


def test_every_threshold_is_a_config_key_with_the_same_default_and_a_schema_type():
    config = yaml.safe_load((REPO / "config" / "config.yaml").read_text())
    schema = yaml.safe_load((REPO / "workflow" / "schemas" / "config.schema.yaml").read_text())["properties"]
    for f in fields(Settings):
        key = f"qc_{f.name}"
        assert config[key] == f.default and type(config[key]) is type(f.default), key
        assert schema[key].get("x-running"), f"{key} would redo the panel's TARVEL runs"
    assert {k for k in config if k.startswith("qc_")} == {f"qc_{f.name}" for f in fields(Settings)}


@pytest.mark.parametrize("name,value", [("duplicate_min", 1.2), ("error_rate_max", -0.1), ("cluster_min", 0)])
def test_a_threshold_out_of_range_names_its_config_key(name, value):
    settings = Settings(**{name: value})
    with pytest.raises(InputError, match=f"^qc_{name}: "):
        check(settings)


def red_pixels(fig):
    canvas = FigureCanvasAgg(fig)
    canvas.draw()
    rgb = np.asarray(canvas.buffer_rgba())[..., :3].astype(int)
    return int(np.sum((rgb[..., 0] > 180) & (rgb[..., 1] < 80) & (rgb[..., 2] < 80)))


def test_the_figure_marks_flagged_strains_and_names_them_in_a_large_panel():
    n = 200
    rng = np.random.default_rng(0)
    flags = [""] * n
    flags[17], flags[150] = "duplicate", "heterozygous,mixed"
    data = qc_figure.StrainFigures([f"S{i}" for i in range(n)], rng.uniform(0.95, 1, n), rng.uniform(0, 0.05, n),
                                   rng.uniform(0, 0.004, n), flags)
    fig = qc_figure.qc_figure(data, (0.9, 0.1, 0.01))
    assert [t.get_text() for t in fig.axes[-1].get_xticklabels()] == ["S17", "S150"]
    clean = qc_figure.StrainFigures(data.names, data.call_rate, data.het_share, data.error_rate, [""] * n)
    # two strains' three markers and names in red, beyond the legend's one marker
    assert red_pixels(fig) > red_pixels(qc_figure.qc_figure(clean, (0.9, 0.1, 0.01))) + 100

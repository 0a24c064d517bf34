"""Config values at their edges: numbers that are not finite, whole numbers
written as 20.0 or 1e3, founder names that cannot name eight founders and
their 36 pairs apart, subsets naming a strain twice or ten thousand strains.
Each is refused in one line naming the key, or written one way so that the
settings record sees no change."""
import json

import pytest
from conftest import REPO

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.sources import select
from tarvel_panel.panel.model import Panel, Strain
from tarvel_panel.support.config import check_config, defaults, panel_config, read_schema

SCHEMA = read_schema(REPO / "workflow" / "schemas" / "config.schema.yaml")
EIGHT = list("ABCDEFG")


def checked(**items):
    config = dict(defaults(), cross="panel.yaml", **items)
    check_config(config, SCHEMA)
    return config


@pytest.mark.parametrize("items, message", [
    ({"error_rate": float("nan")}, "config error_rate: nan is not a finite number"),
    ({"mem_mb_base": float("inf")}, "config mem_mb_base: inf is not a finite number"),
    ({"generation": 1e3}, "config generation: 1000 is above the largest allowed value, 100"),
    ({"generation": 20.5}, "config generation: 20.5 is not a whole number"),
    ({"batch_size": -1}, "config batch_size: -1 is below the least allowed value, 0"),
    ({"qtl2_chr_max_mb": -1}, "config qtl2_chr_max_mb: -1 is below the least allowed value, 0"),
    ({"founder_names": "A,B,C,D,E,F,G,H,I"}, "9 given: 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I'"),
    ({"founder_names": "A,B,C,D,E,F,G,A"}, "'A' comes twice"),
    ({"founder_names": "A,B, ,D,E,F,G,H"}, "name 3 is empty"),
    ({"founder_names": EIGHT + ["H\nI"]}, "'H\\nI' holds a control character"),
    ({"founder_names": EIGHT + ["H,I"]}, "config founder_names: 'H,I' holds a comma"),
    ({"founder_names": "A,B_C,A_B,C,D,E,F,G"},
     "config founder_names: the pairs A with B_C and A_B with C would both be named 'A_B_C': rename a founder"),
    ({"founders": "AJ,B6", "founders_vcf": "f.vcf"}, "config founders: must be eight distinct"),
], ids=["nan", "inf", "1e3", "20.5", "negative batch", "negative object size", "nine names", "a name twice", "an empty name",
        "a newline", "a comma", "one pair name twice", "two VCF founders"])
def test_an_edge_value_is_refused_naming_its_key(items, message):
    with pytest.raises(InputError) as e:
        checked(**items)
    assert message in str(e.value) and "\n" not in str(e.value)


def test_values_meaning_the_same_are_recorded_the_same():
    assert checked(generation=20.0)["generation"] == 20 and checked(batch_size=1e12)["batch_size"] == 10 ** 12
    assert checked(batch_size=0)["batch_size"] == 0
    plain = panel_config(checked(strains="SIM02/Tv,SIM01/Tv"), SCHEMA)
    for written in ("SIM02/Tv, SIM01/Tv,SIM02/Tv,", " SIM02/Tv,SIM01/Tv,SIM01/Tv"):
        assert panel_config(checked(strains=written, generation=20.0), SCHEMA) == plain
    assert json.loads(panel_config(checked(chromosomes=["1", 19, "1", " 19"]), SCHEMA))["chromosomes"] == ["1", 19]
    assert checked(founder_names="AJ,B6,129,NOD,NZO,CAST,PWK,WSB")["founder_names"] == "AJ,B6,129,NOD,NZO,CAST,PWK,WSB"


def test_ten_thousand_strains_are_chosen_each_once_in_the_panels_order():
    names = [f"CC{k:05d}/Unc" for k in range(10_000)]
    panel = Panel(founders=list("ABCDEFGH"), strains=[Strain(n, tuple(range(1, 9))) for n in names], chromosomes=[])
    asked = checked(strains=",".join(names[::-1] + names[:5000]))["strains"]
    assert [s.name for s in select(panel, strains=asked.split(",")).strains] == names
    with pytest.raises(InputError, match="'CC00007' is not in the panel .*; did you mean 'CC00007/Unc'"):
        select(panel, strains=names[:3] + ["CC00007"])

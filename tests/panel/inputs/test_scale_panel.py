"""The large simulated panel (tools/simulate/scale_panel.py) read through both
routes: its VCFs and its cross are one panel, and a seed gives the same
bytes each time."""
import filecmp
import sys

import numpy as np

from conftest import REPO
from tarvel_panel.inputs.sources import load_panel
from tarvel_panel.panel.model import NO_CALL

sys.path.insert(0, str(REPO / "tools" / "simulate"))
import scale_panel  # noqa: E402


def write(out, seed=4):
    assert scale_panel.main(["--out", str(out), "--strains", "6", "--chromosomes", "2", "--markers", "400",
                             "--route", "both", "--seed", str(seed)]) == 0
    return out


def test_the_vcf_and_the_cross_are_one_panel(tmp_path):
    out = write(tmp_path / "p")
    vcf = load_panel({"founders_vcf": str(out / "vcf" / "founders.vcf.gz"),
                      "strains_vcf": str(out / "vcf" / "strains.vcf.gz"),
                      "founders": ",".join(scale_panel.FOUNDER_SAMPLES),
                      "strain_table": str(out / "vcf" / "strain_table.tsv")})
    cross = load_panel({"cross": str(out / "cross" / "panel.yaml")})
    assert [s.name for s in vcf.strains] == [s.name for s in cross.strains]
    assert [s.funnel for s in vcf.strains] == [s.funnel for s in cross.strains]
    for v, c in zip(vcf.chromosomes, cross.chromosomes):
        # the VCF route drops the sites where the typed founders agree; the cross keeps them
        index = [c.markers.names.index(name) for name in v.markers.names]
        assert len(index) > 0.95 * len(c.markers) and v.markers.names[0].startswith(f"s{v.name}_")
        assert np.array_equal(v.founder_geno, c.founder_geno[index])
        assert np.array_equal(v.strain_geno, c.strain_geno[index])
        assert np.allclose(v.markers.pmap, c.markers.pmap[index])
        calls = c.strain_geno
        typed = calls[calls != NO_CALL]
        assert np.mean(typed == 1) < 0.01      # inbred: heterozygous calls are errors only
        assert 0.002 < np.mean(calls == NO_CALL) < 0.03


def test_the_same_seed_gives_the_same_bytes(tmp_path):
    first, again, other = write(tmp_path / "first"), write(tmp_path / "again"), write(tmp_path / "other", seed=5)
    for folder in ("cross", "vcf"):
        files = sorted(p.name for p in (first / folder).iterdir())
        match, mismatch, errors = filecmp.cmpfiles(first / folder, again / folder, files, shallow=False)
        assert not mismatch and not errors and match == files
    assert (first / "cross" / "geno.csv").read_bytes() != (other / "cross" / "geno.csv").read_bytes()

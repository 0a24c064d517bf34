"""VCF inputs at their edges: a header of 100,000 samples is read in the
time and memory of the few samples used, and a strain the table lacks is
named with the one it most likely means."""
import random

import numpy as np
import pytest

from tarvel_panel.errors import InputError
from tarvel_panel.inputs.vcf.read import read_vcf_panel

FOUNDERS = [f"F{k}" for k in range(8)]
SAMPLES = 100_000


def many_samples(tmp_path, sites=20):
    """One VCF of founders and 99,992 strains: strain k is 0/1 at every site
    where k is odd, 1/1 where it is even; and a table of three strains."""
    rng = random.Random(7)
    strains = [f"S{k}" for k in range(SAMPLES - len(FOUNDERS))]
    calls = "\t".join("0/1" if k % 2 else "1/1" for k in range(len(strains)))
    lines = ["##fileformat=VCFv4.2", "##contig=<ID=1,length=100000>",
             '##FORMAT=<ID=GT,Number=1,Type=String,Description="Genotype">',
             "\t".join(["#CHROM", "POS", "ID", "REF", "ALT", "QUAL", "FILTER", "INFO", "FORMAT"] + FOUNDERS + strains)]
    for site in range(sites):
        founders = ["0/0", "1/1"] + [rng.choice(["0/0", "1/1"]) for _ in FOUNDERS[2:]]
        lines.append("\t".join(["1", str(1000 * (site + 1)), ".", "A", "G", ".", "PASS", ".", "GT"] + founders) +
                     "\t" + calls)
    (tmp_path / "all.vcf").write_text("\n".join(lines) + "\n")
    (tmp_path / "table.tsv").write_text("strain\tfunnel\n" + "".join(
        f"{s}\t12345678\n" for s in ("S0", strains[-1], "CC001/Unc")))
    return {"founders_vcf": str(tmp_path / "all.vcf"), "founders": ",".join(FOUNDERS),
            "strain_table": str(tmp_path / "table.tsv")}


def test_a_header_of_a_hundred_thousand_samples_reads_the_strains_asked_for(tmp_path):
    config = many_samples(tmp_path)
    panel = read_vcf_panel(dict(config, strains="S0,S99991"))
    assert [s.name for s in panel.strains] == ["S0", "S99991"]
    calls = panel.chromosomes[0].strain_geno
    assert calls.shape == (20, 2) and (calls == np.array([2, 1])).all()
    with pytest.raises(InputError) as e:
        read_vcf_panel(dict(config, strains="S0,CC001"))
    assert str(e.value) == f"{config['strain_table']}: strain 'CC001' is not in the table; did you mean 'CC001/Unc'?"

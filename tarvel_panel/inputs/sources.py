"""The panel a workflow config names: an R/qtl2 cross (`cross`), VCF files
(`founders_vcf`) or array FinalReports (`finalreports`), narrowed to the
chromosomes and strains asked for."""
from dataclasses import replace
from functools import partial

from tarvel_panel.errors import InputError
from tarvel_panel.near_names import did_you_mean
from tarvel_panel.panel.founder_names import founder_names
from tarvel_panel.panel.model import UNPLACED
from tarvel_panel.support.config import with_defaults


# the config key that chooses each route
ROUTE_KEYS = ("cross", "founders_vcf", "finalreports")


def load_panel(config):
    config = with_defaults(config)
    given = [k for k in ROUTE_KEYS if config.get(k)]
    if given[:2] == ["cross", "founders_vcf"]:
        raise InputError("config", "give either cross= or founders_vcf=, not both")
    if len(given) > 1:
        raise InputError("config", f"give one of {'=, '.join(ROUTE_KEYS)}=, not {'= and '.join(given)}=")
    chromosomes = name_list(config.get("chromosomes"))
    strains = name_list(config.get("strains"))
    names = founder_names(config)  # checked before any file is read
    if config.get("cross"):
        from tarvel_panel.inputs.cross.read import read_cross
        panel = read_cross(config["cross"], positions=config["positions"],
                           generation_column=config.get("generation_column") or None, chromosomes=chromosomes)
    elif config.get("founders_vcf"):
        from tarvel_panel.inputs.genetic_map import chrom_name
        from tarvel_panel.inputs.vcf.read import read_vcf_panel
        panel = read_vcf_panel(config)
        # VCF contigs may be named "chr19" or "19"; the panel names them "19"
        chromosomes = chromosomes and [chrom_name(c) for c in chromosomes]
    elif config.get("finalreports"):
        from tarvel_panel.inputs.arrays.read import read_array_panel
        from tarvel_panel.inputs.genetic_map import chrom_name
        panel = read_array_panel(config)   # it chooses the strains: by strain, sample or row
        chromosomes, strains = chromosomes and [chrom_name(c) for c in chromosomes], None
    else:
        raise InputError("config", "no panel given: set cross=PATH (an R/qtl2 cross), founders_vcf=PATH "
                         "or finalreports=PATHS (array FinalReports)")
    return select(named(panel, names), chromosomes, strains)


# config keys naming one input file each; finalreports names one or more
SOURCE_KEYS = ("cross", "founders_vcf", "strains_vcf", "strain_table", "genetic_map",
               "array_annotation", "sample_table", "founder_genotypes", "allele_codes")


def source_paths(config):
    """Every input file the config names (existing or not), so that a change
    to one can redo the panel."""
    return [str(config[k]) for k in SOURCE_KEYS if config.get(k)] + (name_list(config.get("finalreports")) or [])


def named(panel, names):
    """The panel with the founder names shown, its alleles kept."""
    alleles = list(panel.alleles or panel.founders)
    return replace(panel, founders=list(names or panel.founders), alleles=alleles)


def name_list(value):
    """A subset from the config: None or empty for all, else names from a
    comma-separated string, a number or a list."""
    if value is None or value == "" or value == []:
        return None
    items = value if isinstance(value, (list, tuple)) else str(value).split(",")
    return [str(v).strip() for v in items if str(v).strip()]


def select(panel, chromosomes=None, strains=None):
    """The panel restricted to the named chromosomes and strains (kept in the
    source's order)."""
    if chromosomes is not None:
        _check_known("chromosomes", chromosomes, [c.name for c in panel.chromosomes])
        chromosomes = set(chromosomes)
        panel = replace(panel, chromosomes=[c for c in panel.chromosomes if c.name in chromosomes],
                        site_stats={k: v for k, v in panel.site_stats.items()
                                    if k in chromosomes or k == UNPLACED})
    if strains is not None:
        _check_known("strains", strains, [s.name for s in panel.strains])
        wanted = set(strains)
        kept = [i for i, s in enumerate(panel.strains) if s.name in wanted]
        panel = replace(panel, strains=[panel.strains[i] for i in kept],
                        chromosomes=[replace(c, strain_calls=partial(_columns, c.strain_calls, kept))
                                     for c in panel.chromosomes])
    return panel


def _columns(calls, kept, columns=None):
    return calls(kept if columns is None else [kept[i] for i in columns])


def _check_known(key, names, known):
    have = set(known)
    for name in names:
        if name not in have:
            shown = ", ".join(known[:10]) + (", ..." if len(known) > 10 else "")
            raise InputError(f"config {key}", f"'{name}' is not in the panel (it has {shown}){did_you_mean(name, known)}")

"""Founder names (config `founder_names`): the eight names every table and
figure shows, in founder order, beside the founders' alleles, the short codes
the R/qtl2 objects keep (R/qtl2 builds genotype names such as AB from them).
Without founder_names the alleles are the names."""
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import FOUNDERS


# the alleles of a panel whose source has none (VCF): founder 1..8 = A..H
LETTERS = list("ABCDEFGH")


def eight_names(value, key):
    """The eight names of config `key` (comma-separated text or a list), or
    None when it is not given; anything else is one line naming the key."""
    if value is None or value == "" or value == []:
        return None
    items = value if isinstance(value, (list, tuple)) else str(value).split(",")
    names = [str(v).strip() for v in items]
    fault = _fault(names)
    if fault:
        raise InputError(f"config {key}", f"must be eight distinct non-empty names, comma-separated "
                         f"or a list; {fault}")
    return names


def _fault(names):
    if len(names) != FOUNDERS:
        shown = ", ".join(map(repr, names[:10])) + (", ..." if len(names) > 10 else "")
        return f"{len(names)} given: {shown}"
    if not all(names):
        return f"name {names.index('') + 1} is empty"
    for name in names:
        if any(ord(c) < 32 or ord(c) == 127 for c in name):
            return f"{name!r} holds a control character"
        if names.count(name) > 1:
            return f"{name!r} comes twice"
    return None


def founder_names(config):
    """The config's founder names, or None (the alleles name the founders)."""
    return eight_names(config.get("founder_names"), "founder_names")

"""Founder names (config `founder_names`): the eight names every table and
figure shows, in founder order, beside the founders' alleles, the short codes
the R/qtl2 objects keep (R/qtl2 builds genotype names such as AB from them).
Without founder_names the alleles are the names."""
from tarvel_panel.errors import InputError
from tarvel_panel.pairs import FOUNDERS, same_named_pairs


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
    """The config's founder names, or None (the alleles name the founders);
    as names shown, none may hold a comma or make two pairs' names one."""
    names = eight_names(config.get("founder_names"), "founder_names")
    fault = names and _shown_fault(names)
    if fault:
        raise InputError("config founder_names", fault)
    return names


def _shown_fault(names):
    for name in names:
        if "," in name:
            return f"{name!r} holds a comma, which would cut it in two where the names are written as text"
    clash = pair_clash(names)
    return clash and f"{clash}: rename a founder"


def pair_clash(names):
    """What makes two pairs of the founders `names` one name, or None."""
    same = same_named_pairs(names)
    if same is None:
        return None
    name, *pairs = same
    both = " and ".join(f"{names[b - 1]} with {names[a - 1]}" for a, b in pairs)
    return f"the pairs {both} would both be named {name!r}"

"""The name a user most likely meant when the one given is not there: the
same but for case or a leading "chr", the one it begins ("CC001" for
"CC001/Unc"), or else the one close in spelling - each only when it is the
only such name."""
import difflib


# names longer than this are not compared letter by letter (that costs the
# product of the two lengths)
SPELLED_OUT = 200


def did_you_mean(name, names):
    """"; did you mean 'X'?" for the one near match of `name` among `names`, else ""."""
    near = near_name(name, names)
    return "" if near is None else f"; did you mean {near!r}?"


def near_name(name, names):
    names = list(dict.fromkeys(str(n) for n in names))
    name = str(name)
    key = _loose(name)
    for tier in ([n for n in names if _loose(n) == key],
                 [n for n in names if _loose(_stem(n)) == key],
                 _spelled_like(name, names)):
        if tier:
            return tier[0] if len(tier) == 1 else None
    return None


def _loose(name):
    name = name.lower()
    return name[3:] if name.startswith("chr") and len(name) > 3 else name


def _stem(name):
    """The part before a "/" (a strain's lab code follows it: CC001/Unc)."""
    return name.split("/", 1)[0]


def _spelled_like(name, names):
    if len(name) > SPELLED_OUT:
        return []
    return difflib.get_close_matches(name, [n for n in names if len(n) <= SPELLED_OUT], n=2, cutoff=0.6)

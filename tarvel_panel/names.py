"""File names derived from strain names, which may hold "/" or spaces
(e.g. "CC001/Unc"). The real names stay in every output; these only name
files and folders."""
import re

_UNSAFE = re.compile(r"[^A-Za-z0-9._+-]")


def safe_name(name):
    """`name` with every character that is unsafe in a path replaced by "_"."""
    safe = _UNSAFE.sub("_", name)
    if safe in ("", ".", "..") or safe.startswith("."):
        safe = "_" + safe
    return safe


def safe_names(names):
    """One distinct safe name per name, in order; a name whose safe form is
    already taken gets "-2", "-3", ... appended."""
    taken = set()
    result = []
    for name in names:
        base = safe_name(name)
        safe, n = base, 1
        while safe.lower() in taken:  # case-insensitive file systems too
            n += 1
            safe = f"{base}-{n}"
        taken.add(safe.lower())
        result.append(safe)
    return result


def is_safe(name):
    """Whether `name` can be used in a file name as it is."""
    return safe_name(name) == name

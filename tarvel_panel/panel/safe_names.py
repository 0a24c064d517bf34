"""File names derived from strain and chromosome names, which may hold "/"
or spaces (e.g. "CC001/Unc"), begin with "-" or run longer than a file
system allows. The real names stay in every output; these only name files
and folders."""
import hashlib
import re


_UNSAFE = re.compile(r"[^A-Za-z0-9._+-]")
# well below the 255 bytes of a file name, with room for suffixes such as
# ".txt.prob" or ".summary.tsv"
MAX_LENGTH = 100


def safe_name(name):
    """`name` with every character that is unsafe in a path replaced by "_",
    never starting with "." or "-"; a long one is cut and ends in a digest of
    the whole name, so two long names stay apart."""
    safe = _UNSAFE.sub("_", name)
    if safe in ("", ".", "..") or safe[0] in ".-":
        safe = "_" + safe
    if len(safe) > MAX_LENGTH:
        digest = hashlib.sha256(name.encode("utf-8", "surrogatepass")).hexdigest()[:12]
        safe = f"{safe[:MAX_LENGTH - 13]}-{digest}"
    return safe


def safe_names(names, beside=()):
    """One distinct safe name per name, in order, distinct also where case
    does not count; a name whose safe form is already taken gets "-2",
    "-3", ... appended. `beside`: the panel's own file names that share a
    folder with these, or follow one of them after a "." (runs/chr1 and
    runs/chr1.mosaic.csv): a safe name that is one of them or ends in "."
    and one gets "_" appended."""
    own = tuple(name.lower() for name in beside)
    taken = set()
    result = []
    for name in names:
        base = safe_name(name)
        if base.lower() in own or base.lower().endswith(tuple("." + n for n in own)):
            base += "_"
        safe, n = base, 1
        while safe.lower() in taken:  # case-insensitive file systems too
            n += 1
            safe = f"{base}-{n}"
        taken.add(safe.lower())
        result.append(safe)
    return result

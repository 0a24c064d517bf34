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


"""Opening a VCF/BCF file with htslib (through pysam), and saying what is
wrong with one it cannot open: htslib reports only that it failed."""
import gzip
import zlib

import pysam

from tarvel_panel.errors import InputError


pysam.set_verbosity(0)   # htslib's own messages would come beside the one InputError

GZIP_MAGIC = b"\x1f\x8b"
BGZF_EOF = bytes.fromhex("1f8b08040000000000ff0600424302001b0003000000000000000000")
BCF_MAGIC = b"BCF\x02"


def open_vcf(path):
    path = str(path)
    try:
        vf = pysam.VariantFile(path)
    except FileNotFoundError:
        raise InputError(path, "no such file")
    except PermissionError as e:
        raise InputError(path, f"cannot be read ({e.strerror})")
    except NotImplementedError:   # htslib cannot read plain gzip as a VCF
        raise InputError(path, "compressed with gzip, not bgzip: recompress it with bgzip")
    except (OSError, ValueError):
        raise InputError(path, *why_unreadable(path))
    _check_last_line(path)
    return vf


def why_unreadable(path):
    """What keeps the file at `path` from being read as a VCF/BCF, and the
    line where that shows (or None)."""
    try:
        with open(path, "rb") as f:
            head = f.read(2)
        if head != GZIP_MAGIC:
            with open(path, "rb") as f:
                return _header_fault(f)
        with gzip.open(path, "rb") as f:
            fault = _header_fault(f)
            if fault[0] != HTSLIB_REFUSES:
                return fault
            while f.read(1 << 20):   # the header is sound: is the rest cut short?
                pass
        first, last = _ends(path)
        if not (first[3] & 4 and first[12:14] == b"BC"):
            return "compressed with gzip, not bgzip: recompress it with bgzip", None
        if last != BGZF_EOF:
            return "truncated file (no BGZF end-of-file block)", None
        return HTSLIB_REFUSES, None
    except EOFError:
        return "truncated gzip file (the compressed data ends early)", None
    except (OSError, zlib.error) as e:
        return f"not a readable gzip/bgzip file ({e})", None


def _header_fault(f):
    """The fault in a VCF header read line by line from `f` (bytes)."""
    first = f.readline()
    if not first:
        return "empty file, not a VCF/BCF file", None
    if first.startswith(BCF_MAGIC):
        return "unreadable BCF header", None
    if not first.startswith(b"##fileformat=VCF"):
        if b"\0" in first or not _is_text(first):
            return "not a VCF/BCF file (binary data)", None
        return "not a VCF/BCF file (a VCF starts with ##fileformat=VCF)", 1
    for number, line in enumerate(f, start=2):
        if line.startswith(b"#CHROM"):
            return _sample_fault(line, number)
        if not line.startswith(b"##"):
            break
    return "not a VCF file: no #CHROM header line before the records", None


def _sample_fault(line, number):
    columns = line.decode("utf-8", "replace").rstrip("\r\n").split("\t")
    seen = set()
    for name in columns[9:]:
        if name in seen:
            return f"sample {name!r} appears twice in the #CHROM header line", number
        seen.add(name)
    return HTSLIB_REFUSES, None


HTSLIB_REFUSES = "unreadable VCF header (htslib refuses it)"


def _ends(path):
    """The header of a gzip file's first member (BGZF tags it BC) and the
    file's last bytes (BGZF ends with an empty block)."""
    with open(path, "rb") as f:
        first = f.read(18).ljust(18, b"\0")
        f.seek(-min(len(BGZF_EOF), f.seek(0, 2)), 2)
        return first, f.read()


def _is_text(data):
    try:
        data.decode("utf-8")
    except UnicodeDecodeError:
        return False
    return True


def _check_last_line(path):
    """A plain (uncompressed) VCF cut short ends without a newline: htslib
    would read the cut line as a record with fields missing."""
    with open(path, "rb") as f:
        head = f.read(4)
        if head[:2] == GZIP_MAGIC or head == BCF_MAGIC or f.seek(0, 2) == 0:
            return
        f.seek(-1, 2)
        if f.read(1) != b"\n":
            raise InputError(path, "truncated: the last line does not end (no newline at the end of the file)")

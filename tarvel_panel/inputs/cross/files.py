"""Where an R/qtl2 cross's files are: beside the control file, or in a zip
with the control file (the first .yaml, .yml or .json in it, at any depth).
Files named by the control file are relative to it. The files are read as
text a piece at a time, so that a large one is never held whole; what a file
may inflate to, and how long a line may be, is bounded (limits.py)."""
import os
import posixpath
import struct
import zipfile
import zlib
from collections import Counter

from tarvel_panel.errors import InputError
from tarvel_panel.inputs import limits


CONTROL_SUFFIXES = (".yaml", ".yml", ".json")
BLOCK_SIZE = 1 << 20
GZIP_MAGIC = b"\x1f\x8b"
BYTE_ORDER_MARK = b"\xef\xbb\xbf"
# the methods zipfile inflates a bounded piece at a time (bzip2 and lzma
# inflate a block read at once: a few bytes to gigabytes)
ZIP_METHODS = (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED)


def cross_files(path):
    """The files of the cross whose control file or zip is at `path`."""
    if not os.path.isfile(path):
        raise InputError(path, "no such file")
    if path.lower().endswith(".zip"):
        return ZipFiles(path)
    if path.lower().endswith(CONTROL_SUFFIXES):
        return DirFiles(path)
    raise InputError(path, "expected an R/qtl2 control file (.yaml, .yml, .json) or a .zip holding one")


class DirFiles:
    """The control file and the files it names, relative to its folder."""

    def __init__(self, control):
        self.control = control
        self._base = os.path.dirname(control)

    def name(self, rel):
        return os.path.join(self._base, rel)

    def read(self, rel):
        """The bytes of `rel` (None: the control file), which must be no
        larger than a control file may be; None when it is missing."""
        path = self.control if rel is None else self.name(rel)
        if not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            size = os.fstat(f.fileno()).st_size   # read() would first take room for all it may read
            return _at_most(f.read(min(size, limits.CONTROL_BYTES) + 1), path)

    def blocks(self, rel):
        """The bytes of `rel` a block at a time; None when it is missing."""
        path = self.name(rel)
        if not os.path.isfile(path):
            return None
        return _blocks(open(path, "rb"))


class ZipFiles:
    """The first control file in a zip and the members it names, relative to
    the control file's folder inside the zip; shown as zip/member."""

    def __init__(self, zip_path):
        self._zip_path = zip_path
        try:
            _check_member_count(zip_path, _declared_members(zip_path))
            self._zip = zipfile.ZipFile(zip_path)
            members = self._zip.namelist()
        except (zipfile.BadZipFile, OSError) as e:
            raise InputError(zip_path, f"not a readable zip file ({e})")
        _check_member_count(zip_path, len(members))
        self._twice = {name for name, count in Counter(members).items() if count > 1}
        controls = [m for m in members if m.lower().endswith(CONTROL_SUFFIXES)
                    and not m.endswith("/") and not m.startswith("__MACOSX/")]
        if not controls:
            raise InputError(zip_path, "the zip holds no control file (.yaml, .yml or .json)")
        self._member = controls[0]
        self._base = posixpath.dirname(self._member)
        self.control = f"{zip_path}/{self._member}"

    def _resolve(self, rel):
        return posixpath.normpath(posixpath.join(self._base, rel))

    def name(self, rel):
        return f"{self._zip_path}/{self._resolve(rel)}"

    def read(self, rel):
        member = self._resolve(rel) if rel is not None else self._member
        if self._info(member, limits.INFLATED_BYTES) is None:
            return None
        try:
            with self._zip.open(member) as f:
                return _at_most(f.read(limits.CONTROL_BYTES + 1), f"{self._zip_path}/{member}")
        except (zipfile.BadZipFile, OSError, zlib.error, EOFError) as e:
            raise self._unreadable(member, e)

    def blocks(self, rel):
        member = self._resolve(rel)
        if self._info(member, limits.INFLATED_BYTES) is None:
            return None
        return self._member_blocks(member)

    def _info(self, member, bound):
        """The member's entry (None when the zip has none), refused when it
        comes twice, cannot be inflated here, or says it is larger than `bound`."""
        try:
            info = self._zip.getinfo(member)
        except KeyError:
            return None
        shown = f"{self._zip_path}/{member}"
        if member in self._twice:
            raise InputError(shown, "the zip holds two members of this name: which one is meant is unclear")
        if info.flag_bits & 1:
            raise InputError(shown, "encrypted in the zip: zip the cross without a password")
        if info.compress_type not in ZIP_METHODS:
            method = zipfile.compressor_names.get(info.compress_type, f"method {info.compress_type}")
            raise InputError(shown, f"compressed with {method} in the zip, which is not read: "
                             "zip the cross with the usual deflate")
        if info.file_size > bound:
            raise _too_large(shown, bound)
        return info

    def _member_blocks(self, member):
        shown = f"{self._zip_path}/{member}"
        try:
            yield from _bounded(_blocks(self._zip.open(member)), limits.INFLATED_BYTES, shown)
        except (zipfile.BadZipFile, OSError, zlib.error, EOFError) as e:
            raise self._unreadable(member, e)

    def _unreadable(self, member, error):
        return InputError(f"{self._zip_path}/{member}", f"cannot be read from the zip ({error})")


def _declared_members(zip_path):
    """The number of members the end of the zip says it holds (None when it
    has no end record, which zipfile then reports): read before zipfile
    builds an entry for each."""
    with open(zip_path, "rb") as f:
        size = f.seek(0, 2)
        f.seek(max(0, size - (22 + 0xFFFF + 20)))   # the record, its comment and the zip64 locator
        tail = f.read()
        at = len(tail)
        while True:   # the last record whose comment reaches the end (its comment may hold the mark)
            at = tail.rfind(b"PK\x05\x06", 0, at)
            if at < 0:
                return None
            if at + 22 <= len(tail) and at + 22 + struct.unpack_from("<H", tail, at + 20)[0] == len(tail):
                break
        count = struct.unpack_from("<H", tail, at + 10)[0]
        locator = tail[max(0, at - 20):at]
        if count == 0xFFFF and locator[:4] == b"PK\x06\x07":
            f.seek(struct.unpack_from("<Q", locator, 8)[0])
            record = f.read(56)
            if record[:4] == b"PK\x06\x06" and len(record) == 56:
                count = struct.unpack_from("<Q", record, 32)[0]
        return count


def _check_member_count(zip_path, count):
    if count is not None and count > limits.ZIP_MEMBERS:
        raise InputError(zip_path, f"the zip holds {count:,} members, more than the {limits.ZIP_MEMBERS:,} "
                         "a cross's zip is read with")


def _too_large(name, bound):
    return InputError(name, f"inflates to more than {limits.size(bound)}, more than a file of a cross is "
                      "read to (a damaged or hostile file?)")


def _at_most(data, name):
    """`data` read with one byte more than a control file may hold."""
    if len(data) > limits.CONTROL_BYTES:
        raise InputError(name, f"larger than {limits.size(limits.CONTROL_BYTES)}: too large for a control file")
    return data


def _bounded(blocks, bound, name):
    """The blocks, refused once more than `bound` bytes have come."""
    total = 0
    for block in blocks:
        total += len(block)
        if total > bound:
            raise _too_large(name, bound)
        yield block


def _blocks(stream):
    with stream:
        while True:
            block = stream.read(BLOCK_SIZE)
            if not block:
                return
            yield block


def text(data, name):
    """A control file's bytes as text; a gzip-compressed one is read too."""
    return "".join(text_chunks([data], name, limits.CONTROL_BYTES))


def text_chunks(blocks, name, inflated=None):
    """The text of a file given as blocks of bytes, in pieces that each end
    at a line end (the last one at the end of the file). A gzip-compressed
    file is read too, inflated as it is read up to `inflated` bytes
    (limits.INFLATED_BYTES); a byte order mark is dropped. A line longer
    than limits.LINE_BYTES is refused."""
    head, blocks = _head(iter(blocks))
    if head[:2] == GZIP_MAGIC:
        bound = limits.INFLATED_BYTES if inflated is None else inflated
        head, blocks = _head(_bounded(_gunzipped(head, blocks, name), bound, name))
    if head.startswith(BYTE_ORDER_MARK):
        head = head[len(BYTE_ORDER_MARK):]
    pending = bytearray()
    done = 0   # bytes decoded before `pending`
    lines = 0  # line ends before `pending`
    for block in _then(head, blocks):
        pending += block
        end = pending.rfind(b"\n") + 1 or _lone_cr_end(pending)
        if end:
            lines += pending.count(b"\n", 0, end)
            yield _decoded(pending, end, done, name)
            del pending[:end]
            done += end
        if len(pending) > limits.LINE_BYTES:
            raise InputError(name, f"a line longer than {limits.size(limits.LINE_BYTES)}, more than a line of "
                             "a cross's file may be (not a CSV file?)", lines + 1)
    yield _decoded(pending, len(pending), done, name)


def _lone_cr_end(pending):
    """Past the last carriage return not at the end of `pending` (lines of a
    file ending in CR alone), only for a line grown past its bound; else 0."""
    if len(pending) <= limits.LINE_BYTES:
        return 0
    return pending.rfind(b"\r", 0, len(pending) - 1) + 1


def _head(blocks):
    """The first bytes, enough to tell gzip and a byte order mark, and the blocks after them."""
    head = b""
    for block in blocks:
        head += block
        if len(head) >= len(BYTE_ORDER_MARK):
            break
    return head, blocks


def _gunzipped(head, blocks, name):
    """The inflated bytes of gzip data (one or more members), a block at a
    time: never more than a block from one step of inflating."""
    inflater = None
    try:
        for data in _then(head, blocks):
            while data or inflater is not None:
                inflater = inflater or zlib.decompressobj(wbits=16 + zlib.MAX_WBITS)
                out = inflater.decompress(data, BLOCK_SIZE)
                if out:
                    yield out
                data = inflater.unconsumed_tail
                if inflater.eof:   # another member may follow
                    data, inflater = inflater.unused_data, None
                elif not data and len(out) < BLOCK_SIZE:
                    break   # all of this block inflated: the next one
        if inflater is not None:
            raise EOFError("Compressed file ended before the end-of-stream marker was reached")
    except (EOFError, zlib.error) as e:
        raise InputError(name, f"not a readable gzip file ({e})")


def _then(head, blocks):
    yield head
    yield from blocks


def _decoded(data, end, done, name):
    """data[:end] as text; a line end never falls inside a UTF-8 sequence, so
    decoding piece by piece fails at the same byte as decoding at once."""
    try:
        return data[:end].decode("utf-8")
    except UnicodeDecodeError as e:
        raise InputError(name, f"not UTF-8 text (byte {done + e.start})")

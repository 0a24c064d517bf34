"""Where an R/qtl2 cross's files are: beside the control file, or in a zip
with the control file (the first .yaml, .yml or .json in it, at any depth).
Files named by the control file are relative to it. The files are read as
text a piece at a time, so that a large one is never held whole."""
import gzip
import os
import posixpath
import zipfile
import zlib

from tarvel_panel.errors import InputError


CONTROL_SUFFIXES = (".yaml", ".yml", ".json")
BLOCK_SIZE = 1 << 20
GZIP_MAGIC = b"\x1f\x8b"
BYTE_ORDER_MARK = b"\xef\xbb\xbf"


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
        path = self.control if rel is None else self.name(rel)
        if not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read()

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
            self._zip = zipfile.ZipFile(zip_path)
            members = self._zip.namelist()
        except (zipfile.BadZipFile, OSError) as e:
            raise InputError(zip_path, f"not a readable zip file ({e})")
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
        try:
            return self._zip.read(member)
        except KeyError:
            return None
        except (zipfile.BadZipFile, OSError, zlib.error) as e:
            raise self._unreadable(member, e)

    def blocks(self, rel):
        member = self._resolve(rel)
        try:
            self._zip.getinfo(member)
        except KeyError:
            return None
        return self._member_blocks(member)

    def _member_blocks(self, member):
        try:
            yield from _blocks(self._zip.open(member))
        except (zipfile.BadZipFile, OSError, zlib.error) as e:
            raise self._unreadable(member, e)

    def _unreadable(self, member, error):
        return InputError(f"{self._zip_path}/{member}", f"cannot be read from the zip ({error})")


def _blocks(stream):
    with stream:
        while True:
            block = stream.read(BLOCK_SIZE)
            if not block:
                return
            yield block


def text(data, name):
    """A file's bytes as text; gzip-compressed files are read too."""
    return "".join(text_chunks([data], name))


def text_chunks(blocks, name):
    """The text of a file given as blocks of bytes, in pieces that each end
    at a line end (the last one at the end of the file). A gzip-compressed
    file is read too (decompressed at once); a byte order mark is dropped."""
    head, blocks = _head(iter(blocks))
    if head[:2] == GZIP_MAGIC:
        head, blocks = _head(_gunzipped(head, blocks, name))
    if head.startswith(BYTE_ORDER_MARK):
        head = head[len(BYTE_ORDER_MARK):]
    pending = bytearray(head)
    done = 0   # bytes decoded before `pending`
    for block in blocks:
        pending += block
        end = pending.rfind(b"\n") + 1
        if end:
            yield _decoded(pending, end, done, name)
            del pending[:end]
            done += end
    yield _decoded(pending, len(pending), done, name)


def _head(blocks):
    """The first bytes, enough to tell gzip and a byte order mark, and the blocks after them."""
    head = b""
    for block in blocks:
        head += block
        if len(head) >= len(BYTE_ORDER_MARK):
            break
    return head, blocks


def _gunzipped(head, blocks, name):
    try:
        data = gzip.decompress(head + b"".join(blocks))
    except (OSError, EOFError, zlib.error) as e:
        raise InputError(name, f"not a readable gzip file ({e})")
    view = memoryview(data)
    for start in range(0, len(data), BLOCK_SIZE):
        yield view[start:start + BLOCK_SIZE]


def _decoded(data, end, done, name):
    """data[:end] as text; a line end never falls inside a UTF-8 sequence, so
    decoding piece by piece fails at the same byte as decoding at once."""
    try:
        return data[:end].decode("utf-8")
    except UnicodeDecodeError as e:
        raise InputError(name, f"not UTF-8 text (byte {done + e.start})")

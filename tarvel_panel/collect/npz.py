"""The per-chromosome npz file (a zip of .npy arrays, as np.savez writes it),
written strain by strain so that memory does not grow with the strains, and
its loader.

Arrays with one block per strain (shape [strains, ...]) are spooled to hidden
files beside the target while the strains come, then copied into the zip.
Members are compressed, except those named `stored`: deflate takes float32
probabilities only about a seventh smaller, at most of a collect step's time.
NpzRows reads the per-strain arrays back a block of strains at a time."""
import os
import zipfile
from contextlib import ExitStack

import numpy as np

from tarvel_panel.atomic import AtomicFile, temporary_name


_COPY_BYTES = 1 << 22
_LEVEL = 1


def load_npz(path):
    """{name: array} of a chromosome's npz; 0-d arrays (chromosome, is_x) as
    Python values."""
    with np.load(path, allow_pickle=False) as data:
        return {name: data[name].item() if data[name].ndim == 0 else data[name] for name in data.files}


class NpzRows:
    """with NpzRows(path, ["top_pair", "alleleprobs"]) as rows: rows.read(n)
    gives {name: array [n, ...]} of the next n strains, so a reader's memory
    does not grow with the strains. `shapes` and `dtypes` tell each array's."""

    def __init__(self, path, names):
        self.path, self.names = path, list(names)

    def __enter__(self):
        self._zip = zipfile.ZipFile(self.path)
        self._members, self.shapes, self.dtypes = {}, {}, {}
        try:
            for name in self.names:
                member = self._members[name] = self._zip.open(f"{name}.npy")
                version = np.lib.format.read_magic(member)
                header = np.lib.format.read_array_header_1_0 if version == (1, 0) else \
                    np.lib.format.read_array_header_2_0
                shape, fortran, dtype = header(member)
                if fortran or not shape:
                    raise ValueError(f"{name} is not an array of rows")
                self.shapes[name], self.dtypes[name] = shape, dtype
        except BaseException:
            self._zip.close()
            raise
        return self

    def read(self, n):
        blocks = {}
        for name in self.names:
            shape, dtype = self.shapes[name], self.dtypes[name]
            count = n * int(np.prod(shape[1:], dtype=np.int64))
            data = self._members[name].read(count * dtype.itemsize)
            if len(data) != count * dtype.itemsize:
                raise EOFError(f"{name} ends early")
            blocks[name] = np.frombuffer(data, dtype=dtype).reshape((n,) + tuple(shape[1:]))
        return blocks

    def __exit__(self, *exc):
        self._zip.close()
        return False


class NpzWriter:
    """with NpzWriter(path, S, {"alleleprobs": (np.float32, (8, M)), ...},
    {"chromosome": ..., ...}, stored={"alleleprobs"}) as npz:
    npz.add(alleleprobs=block, ...) once for each of the S strains; or, to
    hold less of a strain, npz.add_columns(first, alleleprobs=part, ...) for
    parts of its blocks along their last axis (markers first .. first + n - 1),
    then npz.strain_done()."""

    def __init__(self, path, strains, blocks, whole, stored=()):
        self.path, self.strains, self.whole, self.stored = path, strains, whole, set(stored)
        self.blocks = {name: (np.dtype(dtype), tuple(shape)) for name, (dtype, shape) in blocks.items()}
        self.added = 0

    def __enter__(self):
        self._stack = ExitStack()
        self._spools = {name: self._stack.enter_context(AtomicFile(self._spool_name(name), binary=True))
                        for name in self.blocks}
        return self

    def add(self, **blocks):
        assert set(blocks) == set(self.blocks), (sorted(blocks), sorted(self.blocks))
        for name, block in blocks.items():
            assert np.shape(block) == self.blocks[name][1], (name, np.shape(block), self.blocks[name][1])
        self.add_columns(0, **blocks)
        self.strain_done()

    def add_columns(self, first, **blocks):
        """Each row of a part goes to its place in the spool."""
        for name, block in blocks.items():
            dtype, shape = self.blocks[name]
            block = np.asarray(block, dtype=dtype)
            assert block.shape[:-1] == shape[:-1] and first + block.shape[-1] <= shape[-1], \
                (name, first, block.shape, shape)
            width = shape[-1]
            rows = block.reshape(-1, block.shape[-1])
            spool = self._spools[name]
            at = self.added * len(rows) * width + first
            for k, row in enumerate(rows):
                spool.seek((at + k * width) * dtype.itemsize)
                spool.write(np.ascontiguousarray(row).data)

    def strain_done(self):
        self.added += 1

    def __exit__(self, kind, value, tb):
        try:
            self._stack.__exit__(kind, value, tb)  # the spools complete, or removed on an error
            if kind is None:
                assert self.added == self.strains, (self.added, self.strains)
                self._write_zip()
        finally:
            for name in self.blocks:
                _remove(self._spool_name(name))
        return False

    def _spool_name(self, name):
        return f"{temporary_name(self.path)}.{name}"

    def _write_zip(self):
        with AtomicFile(self.path, binary=True) as raw, zipfile.ZipFile(raw, "w") as zf:
            for name, value in self.whole.items():
                with zf.open(_member(name), "w", force_zip64=True) as member:
                    if isinstance(value, Texts):
                        value.write(member)
                    else:
                        np.lib.format.write_array(member, np.asarray(value), allow_pickle=False)
            for name, (dtype, shape) in self.blocks.items():
                with zf.open(_member(name, name in self.stored), "w", force_zip64=True) as member, \
                        open(self._spool_name(name), "rb") as spool:
                    np.lib.format.write_array_header_1_0(member, {
                        "descr": np.lib.format.dtype_to_descr(dtype), "fortran_order": False,
                        "shape": (self.strains,) + shape})
                    while True:
                        chunk = spool.read(_COPY_BYTES)
                        if not chunk:
                            break
                        member.write(chunk)


class Texts:
    """A list of texts to be stored as the array np.array(texts, dtype=str)
    gives (fixed-width unicode), made a block of texts at a time when the
    member is written, so that the wide array is never held whole."""

    def __init__(self, texts, at_once=1 << 16):
        self.texts, self.at_once = texts, at_once

    def write(self, member):
        width = max(map(len, self.texts), default=0) or 1
        dtype = np.dtype(f"<U{width}")
        np.lib.format.write_array_header_1_0(member, {
            "descr": np.lib.format.dtype_to_descr(dtype), "fortran_order": False, "shape": (len(self.texts),)})
        for first in range(0, len(self.texts), self.at_once):
            member.write(np.array(self.texts[first:first + self.at_once], dtype=dtype).tobytes())


def _member(name, stored=False):
    # a fixed time stamp: the same arrays give the same bytes
    info = zipfile.ZipInfo(f"{name}.npy", date_time=(1980, 1, 1, 0, 0, 0))
    info.compress_type = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
    # level 1: the top probabilities take the default level ten times as
    # long for 3% fewer bytes (zipfile reads the level from here when a
    # member is opened for writing)
    info._compresslevel = _LEVEL
    return info


def _remove(path):
    try:
        os.remove(path)
    except OSError:
        pass

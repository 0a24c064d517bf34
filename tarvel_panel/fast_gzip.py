"""gzip-compressed output at about twice zlib's speed, for the large tables.

    writer = gzip_writer(raw)      # raw: a binary file object
    writer.write(b"..."); writer.close()

With the system's libdeflate (whole-buffer DEFLATE, found by ctypes), the
text is compressed a few megabytes at a time, each piece one gzip member:
a file of concatenated members is one gzip file to gzip, zcat, Python's gzip
module and R's gzfile, which read it as the one text. Its header holds no
name and no time, so the same text gives the same bytes. Without libdeflate
the writer is Python's GzipFile (one member, the same text). close() does
not close `raw`."""
import ctypes
import ctypes.util
import gzip
import io
from concurrent.futures import ThreadPoolExecutor

# the text taken into one member: large enough that the members' headers and
# fresh dictionaries cost nothing measurable, small enough to stay in cache
PIECE_BYTES = 1 << 22
LEVEL = 1
_NAMES = ("libdeflate.so.0", "libdeflate.so")
_library = []


def _load():
    if not _library:
        lib = None
        for name in (ctypes.util.find_library("deflate"),) + _NAMES:
            if not name:
                continue
            try:
                lib = ctypes.CDLL(name)
                break
            except OSError:
                continue
        if lib is not None:
            lib.libdeflate_alloc_compressor.restype = ctypes.c_void_p
            lib.libdeflate_alloc_compressor.argtypes = [ctypes.c_int]
            lib.libdeflate_free_compressor.restype = None
            lib.libdeflate_free_compressor.argtypes = [ctypes.c_void_p]
            lib.libdeflate_gzip_compress_bound.restype = ctypes.c_size_t
            lib.libdeflate_gzip_compress_bound.argtypes = [ctypes.c_void_p, ctypes.c_size_t]
            lib.libdeflate_gzip_compress.restype = ctypes.c_size_t
            lib.libdeflate_gzip_compress.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t,
                                                     ctypes.c_void_p, ctypes.c_size_t]
        _library.append(lib)
    return _library[0]


def gzip_writer(raw, fast=True):
    """A binary writer compressing into `raw`; fast=False (or no libdeflate
    on the system): Python's GzipFile."""
    lib = _load() if fast else None
    if lib is None:
        return gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=0, compresslevel=LEVEL)
    return _Members(raw, lib)


class _Members(io.RawIOBase):
    """Each full piece is compressed in a thread of its own (libdeflate runs
    without the GIL) while the caller makes the next text; the members are
    written in order."""

    def __init__(self, raw, lib):
        super().__init__()
        self._out, self._lib = raw, lib
        self._pending = bytearray()
        self._compressor = lib.libdeflate_alloc_compressor(LEVEL)
        if not self._compressor:
            raise MemoryError("libdeflate: no memory for a compressor")
        self._room = None
        self._pool = ThreadPoolExecutor(1)
        self._running = None

    def writable(self):
        return True

    def write(self, data):
        self._pending += data
        # pieces of exactly PIECE_BYTES, so that the members do not depend on
        # how the text was cut into writes; each copied once out of the
        # pending text, which then moves up once
        whole = len(self._pending) // PIECE_BYTES * PIECE_BYTES
        if whole:
            with memoryview(self._pending) as view:
                for at in range(0, whole, PIECE_BYTES):
                    piece = bytes(view[at:at + PIECE_BYTES])
                    self._finish_running()
                    self._running = self._pool.submit(self._deflate, piece)
            del self._pending[:whole]
        return len(data)

    def _finish_running(self):
        running, self._running = self._running, None
        if running is not None:
            self._out.write(running.result())

    def _deflate(self, piece):
        bound = self._lib.libdeflate_gzip_compress_bound(self._compressor, len(piece))
        if self._room is None or len(self._room) < bound:
            self._room = ctypes.create_string_buffer(bound)
        size = self._lib.libdeflate_gzip_compress(self._compressor, piece, len(piece), self._room, bound)
        if not size:
            raise RuntimeError("libdeflate: the compressed piece did not fit its bound")
        return ctypes.string_at(self._room, size)

    def close(self):
        if self.closed:
            return
        try:
            self._finish_running()
            if self._pending:
                self._out.write(self._deflate(bytes(self._pending)))
                self._pending.clear()
        finally:
            # the thread is done with the compressor before it goes
            self._pool.shutdown(wait=True)
            self._lib.libdeflate_free_compressor(self._compressor)
            self._compressor = None
            super().close()

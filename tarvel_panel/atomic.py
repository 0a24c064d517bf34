"""Files that appear under their final name only when complete: written to a
hidden temporary name beside the target and renamed, or removed on any error.
A write that fails (a full disk) raises an OSError naming the target file."""
import io
import os

from tarvel_panel.fast_gzip import gzip_writer


def temporary_name(path):
    return os.path.join(os.path.dirname(os.path.abspath(path)), f".{os.path.basename(path)}.tmp-{os.getpid()}")


class AtomicFile:
    """A text file (gzip-compressed with gz=True), or a binary one with binary=True."""

    def __init__(self, path, gz=False, binary=False):
        self.path, self.gz, self.binary = path, gz, binary
        self.tmp = temporary_name(path)

    def __enter__(self):
        os.makedirs(os.path.dirname(self.tmp), exist_ok=True)
        # a file left at the temporary name by an earlier process of the same
        # id goes first, and a link there is removed, never written through:
        # the file is made new (exclusive creation does not follow a link)
        try:
            os.remove(self.tmp)
        except FileNotFoundError:
            pass
        self._raw = io.BufferedWriter(_NamedFile(self.tmp, self.path))
        try:
            # no name or time in the gzip headers: the same values give the same
            # bytes; level 1 compresses these tables several times faster than
            # the default for a sixth more size (fast_gzip.py)
            stream = gzip_writer(self._raw) if self.gz else self._raw
            self._stream = stream if self.binary else io.TextIOWrapper(stream, encoding="utf-8", newline="")
        except BaseException:
            self._discard()
            raise
        return self._stream

    def __exit__(self, kind, value, tb):
        try:
            self._stream.close()
            if self.gz:
                self._raw.close()
        except BaseException:
            self._discard()
            raise
        if kind is None:
            os.rename(self.tmp, self.path)
        else:
            self._discard()
        return False

    def _discard(self):
        try:
            self._raw.close()
        except OSError:
            pass
        try:
            os.remove(self.tmp)
        except OSError:
            pass


class _NamedFile(io.FileIO):
    """A file opened for writing whose write errors name `target`."""

    def __init__(self, path, target):
        super().__init__(path, "xb")
        self.target = target

    def write(self, data):
        try:
            return super().write(data)
        except OSError as e:
            if e.filename is None:
                e.filename = self.target
            raise

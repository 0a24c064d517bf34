"""The large tables' gzip writer: whatever the pieces, the file is one gzip
text to every reader, the same bytes for the same text, and the plain zlib
writer gives the same text where libdeflate is missing."""
import gzip
import io
import subprocess
import zlib

import pytest

from tarvel_panel import fast_gzip
from tarvel_panel.atomic import AtomicFile

needs_libdeflate = pytest.mark.skipif(fast_gzip._load() is None, reason="no libdeflate on this system")


def text(lines):
    return b"".join(b"strain%d,m%d,1,%.6g\n" % (i % 7, i, i / 3.0) for i in range(lines))


def written(data, fast=True, writes=1):
    raw = io.BytesIO()
    writer = fast_gzip.gzip_writer(raw, fast=fast)
    step = max(1, len(data) // writes)
    for at in range(0, len(data), step):
        writer.write(data[at:at + step])
    writer.close()
    return raw.getvalue()


@needs_libdeflate
def test_many_members_read_as_the_one_text(monkeypatch):
    monkeypatch.setattr(fast_gzip, "PIECE_BYTES", 1000)
    data = text(5000)
    compressed = written(data, writes=37)
    # several members, each a gzip stream of its own, together the text
    assert compressed.count(b"\x1f\x8b\x08") > 10
    assert gzip.decompress(compressed) == data
    assert zlib.decompressobj(31).decompress(compressed) != data  # one member alone is not all of it
    assert subprocess.run(["gzip", "-dc"], input=compressed, capture_output=True, check=True).stdout == data


@needs_libdeflate
def test_same_text_same_bytes_and_empty_is_valid(monkeypatch):
    monkeypatch.setattr(fast_gzip, "PIECE_BYTES", 4096)
    data = text(3000)
    assert written(data, writes=5) == written(data, writes=11)
    assert gzip.decompress(written(b"")) == b""
    assert gzip.decompress(written(data, fast=False)) == gzip.decompress(written(data))


def test_atomic_gz_file_in_place_only_when_complete(tmp_path):
    target = tmp_path / "t.csv.gz"
    data = text(20000)
    with pytest.raises(RuntimeError):
        with AtomicFile(str(target), gz=True, binary=True) as out:
            out.write(data)
            raise RuntimeError("stop")
    assert list(tmp_path.iterdir()) == []
    with AtomicFile(str(target), gz=True, binary=True) as out:
        out.write(data[:1234])
        out.write(data[1234:])
    assert gzip.decompress(target.read_bytes()) == data
    assert [p.name for p in tmp_path.iterdir()] == ["t.csv.gz"]

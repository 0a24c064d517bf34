"""The C++ reader of results text and row writer against Python's own float
parsing and "%.6g" formatting, value by value, and the lines they refuse."""
import random
import struct

import numpy as np
import pytest

from tarvel_panel import native
from tarvel_panel.errors import InputError


def sample_values(count, seed):
    """Doubles of every magnitude the results hold, and the awkward ones:
    exact binary fractions that fall on a six-digit tie, edges of the
    one-rounding path (10^-22 and below, 16 digits), subnormals."""
    rng = random.Random(seed)
    values = [0.0, 1.0, 0.5, 2.0 ** -10, 2.0 ** -20, 1e-22, 9.99999e-23, 1e-23, 5e-324, 2.2e-308, 0.9999995,
              1.0000005, 0.1234565, 123456.5, 1.5e-5]
    values += [rng.random() * 10.0 ** rng.randint(-40, 1) for _ in range(count)]
    values += [struct.unpack("<d", struct.pack("<Q", rng.getrandbits(62)))[0] % 2.0 for _ in range(count // 4)]
    return values


def results_text(rows):
    return "".join(f"{i}|" + "".join(f"{v:.6g}," for v in row) + "\n" for i, row in enumerate(rows)).encode()


def test_values_read_as_python_reads_their_text():
    values = sample_values(20000, 1)
    values += [0.0] * (-len(values) % 36)
    rows = np.array(values).reshape(-1, 36)
    texts = [[f"{v:.6g}" for v in row] for row in rows]
    # numbers longer than TARVEL writes take the general path
    texts[0][:3] = ["0.12345678901234567", "1234567890123456e-20", "1.5E-3"]
    data = "".join(f"{i}|" + "".join(t + "," for t in row) + "\n" for i, row in enumerate(texts)).encode()
    read, bad, lines = native.parse_results(data, len(rows), np.inf)
    assert (bad, lines) == (0, len(rows))
    expected = np.array([[float(t) for t in row] for row in texts])
    assert np.array_equal(read.view(np.int64), expected.view(np.int64))


GOOD = results_text(np.full((3, 36), 1 / 36))


@pytest.mark.parametrize("data, markers, bad", [
    (GOOD, 3, 0),
    (GOOD.replace(b"\n", b"\r\n"), 3, 0),
    (GOOD[:-1], 3, 0),
    (GOOD, 4, -1),
    (GOOD + b"\n", 3, -1),
    (GOOD.replace(b"1|", b"01|"), 3, 2),
    (GOOD.replace(b"2|", b"3|"), 3, 3),
    (GOOD.replace(b"1|", b"1,"), 3, 2),
    (GOOD[:-3] + b"\n", 3, 3),
    (GOOD[:-1] + b"0.1,\n", 3, 3),
    (GOOD.replace(b"0|0.0277778,", b"0|1.5,"), 3, 1),
    (GOOD.replace(b"0|0.0277778,", b"0|-0.1,"), 3, 1),
    (GOOD.replace(b"0|0.0277778,", b"0|nan,"), 3, 1),
    (GOOD.replace(b"0|0.0277778,", b"0|inf,"), 3, 1),
    (GOOD.replace(b"0|0.0277778,", b"0|,"), 3, 1),
    (GOOD.replace(b"0|0.0277778,", b"0|0.02x,"), 3, 1),
    (GOOD.replace(b"0|0.0277778,", b"0| 0.1,"), 3, 1),
])
def test_lines_that_are_not_results_are_named(data, markers, bad):
    values, found, _ = native.parse_results(data, markers, 1.0 + 1e-5)
    assert found == bad
    assert (values is None) == (bad != 0)


def test_rows_written_as_python_formats_them():
    values = np.array(sample_values(40000, 2)[:40000]).reshape(-1, 8)
    tails = [f"m{i},chr 1,\"p,{i}\"" if i % 7 else f"mé{i},X,{i}" for i in range(len(values))]
    text = native.format_rows(values, "SIM_é,", native.Tails(tails))
    expected = "".join(f"SIM_é,{tail}," + ",".join(f"{v:.6g}" for v in row) + "\n"
                       for tail, row in zip(tails, values.tolist()))
    assert text.decode("utf-8") == expected


def test_a_missing_library_says_how_to_build_it(tmp_path):
    with pytest.raises(InputError, match=r"not built yet; build it in the repository first: cmake "):
        native.check_library(str(tmp_path / native.LIBRARY_NAME))

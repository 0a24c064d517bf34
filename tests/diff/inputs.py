"""Input files for one differential case: a simulated strain and the edits
that turn it into the input a case needs (positions in bp, equal or unsorted
positions, damaged files)."""
import os
import subprocess


class Data:
    """What to simulate and how to edit it. kind: 'auto', 'xm' (male X) or
    'xf' (female X); edit: None or one of EDITS."""

    def __init__(self, kind="auto", generation=20, markers=300, length=None, seed=1,
                 error=0.002, missing=0.01, founder_missing=0.0, edit=None):
        self.kind, self.generation, self.markers = kind, generation, markers
        self.length = length if length is not None else max(1.0, markers / 30.0)
        self.seed, self.error, self.missing = seed, error, missing
        self.founder_missing, self.edit = founder_missing, edit

    def simulate_args(self):
        a = ["--markers", str(self.markers), "--length", "%g" % self.length,
             "--generation", str(self.generation), "--seed", str(self.seed),
             "--error", "%g" % self.error, "--missing", "%g" % self.missing,
             "--founder-missing", "%g" % self.founder_missing]
        if self.kind != "auto":
            a += ["--x", "--sex", "M" if self.kind == "xm" else "F"]
        return a


def cm_to_bp(line):
    """A cM position line as base pairs (one megabase per centimorgan)."""
    return "%d" % round(float(line) * 1e6)


def _lines(path):
    with open(path) as f:
        return f.read().splitlines()


def _write(path, lines):
    with open(path, "w") as f:
        f.write("".join(l + "\n" for l in lines))


def _equal_positions(d):
    """Every fourth marker at the position of the one before."""
    for name in ("positions.txt", "bp.txt"):
        p = _lines(os.path.join(d, name))
        for i in range(1, len(p), 4):
            p[i] = p[i - 1]
        _write(os.path.join(d, name), p)


def _unsorted_positions(d):
    """The middle two markers swapped (refused when they differ)."""
    for name in ("positions.txt", "bp.txt"):
        p = _lines(os.path.join(d, name))
        m = len(p) // 2
        p[m - 1], p[m] = p[m], p[m - 1]
        _write(os.path.join(d, name), p)


def _odd_calls(d):
    """Strain calls TARVEL reads only by their first character."""
    s = _lines(os.path.join(d, "strain.txt"))
    odd = ["n", "3", "-1", "2 extra", "x", "1\t0"]
    for i in range(0, len(s), 5):
        s[i] = odd[(i // 5) % len(odd)]
    _write(os.path.join(d, "strain.txt"), s)


def _short_strain(d):
    """A strain file with its last third of markers missing."""
    s = _lines(os.path.join(d, "strain.txt"))
    _write(os.path.join(d, "strain.txt"), s[: max(0, len(s) * 2 // 3)])


def _corrupt_founder(d):
    """Founder lines with a genotype too few or too many, and empty lines."""
    f = _lines(os.path.join(d, "founders.txt"))
    for i in range(len(f) // 3, len(f), 7):
        f[i] = f[i][:-2] if i % 2 else f[i] + " 1"
    f.insert(len(f) // 2, "")
    _write(os.path.join(d, "founders.txt"), f)


def _four_founders(d):
    f = _lines(os.path.join(d, "founders.txt"))
    _write(os.path.join(d, "founders.txt"), [" ".join(l.split()[:4]) for l in f])


def _funnel_repeat(d):
    _write(os.path.join(d, "funnel.txt"), ["1 2 3 4 5 6 7 7"])


def _few_positions(d):
    for name in ("positions.txt", "bp.txt"):
        p = _lines(os.path.join(d, name))
        _write(os.path.join(d, name), p[:-1])


def _bad_position(d):
    for name in ("positions.txt", "bp.txt"):
        p = _lines(os.path.join(d, name))
        p[len(p) // 2] = "abc"
        _write(os.path.join(d, name), p)


def _compact_founders(d):
    """Founder lines written without separators, and with commas."""
    f = _lines(os.path.join(d, "founders.txt"))
    f = ["".join(l.split()) if i % 2 else ",".join(l.split()) for i, l in enumerate(f)]
    _write(os.path.join(d, "founders.txt"), f)


EDITS = {
    "equal": _equal_positions, "unsorted": _unsorted_positions, "odd-calls": _odd_calls,
    "short-strain": _short_strain, "corrupt-founder": _corrupt_founder,
    "four-founders": _four_founders, "funnel-repeat": _funnel_repeat,
    "few-positions": _few_positions, "bad-position": _bad_position,
    "compact-founders": _compact_founders,
}


def make(data, simulate, out):
    """Writes founders.txt, strain.txt, funnel.txt, positions.txt (cM) and
    bp.txt into OUT with the simulator SIMULATE, then applies the edit."""
    r = subprocess.run([simulate, "--out", out] + data.simulate_args(),
                       capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("tarvel_simulate failed: " + r.stderr.strip())
    os.remove(os.path.join(out, "truth.txt"))
    cm = _lines(os.path.join(out, "positions.txt"))
    _write(os.path.join(out, "bp.txt"), [cm_to_bp(l) for l in cm])
    if data.edit:
        EDITS[data.edit](out)

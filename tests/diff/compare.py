"""Runs one case with the reference and the candidate, each in its own
directory over the same input files, and lists every difference in standard
output, exit status and results file. Exit status and results file must be
the same; standard output too, but for the lines listed in
STDOUT_MAY_DIFFER."""
import os
import subprocess

import inputs

RESULTS = "strain.txt.prob"
TIMEOUT = 600

# Lines of standard output the candidate may print in place of the
# reference's: (reference line, candidate line) pairs of bytes, without the
# line break. A message changed on purpose is listed here; none is today.
STDOUT_MAY_DIFFER = []


class Outcome:
    def __init__(self, status, stdout, results):
        self.status, self.stdout, self.results = status, stdout, results


def run_tarvel(binary, args, where):
    try:
        r = subprocess.run([binary] + args, cwd=where, stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=TIMEOUT)
        status, out = r.returncode, r.stdout
    except subprocess.TimeoutExpired as e:
        status, out = "timeout after %d s" % TIMEOUT, e.stdout or b""
    path = os.path.join(where, RESULTS)
    results = None
    if os.path.exists(path):
        with open(path, "rb") as f:
            results = f.read()
    return Outcome(status, out, results)


def _first_difference(a, b, allowed=()):
    """Line number (from 1) and the two lines where bytes A and B first
    differ, line pairs in ALLOWED aside; None when they do not."""
    la, lb = a.split(b"\n"), b.split(b"\n")
    for i in range(max(len(la), len(lb))):
        x = la[i] if i < len(la) else b"<end>"
        y = lb[i] if i < len(lb) else b"<end>"
        if x != y and (x, y) not in allowed:
            return "line %d: reference %r, candidate %r" % (i + 1, x[:120], y[:120])
    return None


def differences(ref, cand):
    d = []
    if ref.status != cand.status:
        d.append("exit status %s (reference) vs %s (candidate)" % (ref.status, cand.status))
    where = _first_difference(ref.stdout, cand.stdout, STDOUT_MAY_DIFFER)
    if where:
        d.append("standard output differs at " + where)
    if (ref.results is None) != (cand.results is None):
        d.append("results file written by the %s only"
                 % ("reference" if cand.results is None else "candidate"))
    elif ref.results != cand.results:
        d.append("results file differs at "
                 + (_first_difference(ref.results, cand.results) or "the same lines"))
    return d


def _place(data_dir, run_dir):
    os.makedirs(run_dir)
    for name in os.listdir(data_dir):
        os.symlink(os.path.join(data_dir, name), os.path.join(run_dir, name))


def check(case, reference, candidate, simulate, work):
    """The list of differences for CASE (empty when it passes)."""
    top = os.path.join(work, case.name)
    data_dir = os.path.join(top, "data")
    os.makedirs(data_dir)
    inputs.make(case.data, simulate, data_dir)
    runs = {}
    for who, binary in (("reference", reference), ("candidate", candidate)):
        _place(data_dir, os.path.join(top, who))
        runs[who] = run_tarvel(binary, case.args, os.path.join(top, who))
    d = differences(runs["reference"], runs["candidate"])
    ref = runs["reference"]
    if case.expect is not None and ref.status != case.expect:
        d.append("the reference exits with %s where this case expects %d" % (ref.status, case.expect))
    if ref.status != 0 and ref.results is not None:
        d.append("the reference refused the input but left a results file")
    return d

"""tarvel_engine against TARVEL run once per strain. On simulated chromosomes of
every configuration the panel runs (autosomes from #Generation 2 to 100, the X
as one copy and as two, missing founder genotypes and strain calls, error
rates 0, 0.001 and 0.05, positions in cM and in bp), with many strains per
engine run in mixed orders of generation and sex, the engine's results text
and its binary values formatted by TARVEL's number formatter are TARVEL's
results bytes. Bad input is refused with TARVEL's message after the list
line (or file) it concerns, leaving only the files of the strains finished
before it."""
import os
import re
import struct
import subprocess
from pathlib import Path

import numpy as np
import pytest

from conftest import REPO
from tarvel_panel import native

ENGINE = Path(os.environ.get("TARVEL_ENGINE", REPO / "build" / "tarvel_engine"))   # another build: a sanitizer's
SIMULATE = REPO / "build" / "tools" / "simulate" / "tarvel_simulate"
HEADER = struct.Struct("<8sIIQ")
MARKERS = 90

# (#Generation, sex, error rate) per strain, in list order
AUTOSOME_CM = [(20, "-", 0.001), (2, "-", 0.05), (100, "-", 0.001), (3, "-", 0), (5, "-", 0.001),
               (20, "-", 0.05), (4, "-", 0.001), (6, "-", 0), (57, "-", 0.001), (2, "-", 0.001),
               (20, "-", 0), (9, "-", 0.05), (100, "-", 0.05), (35, "-", 0.001)]
AUTOSOME_BP = [(6, "-", 0.001), (20, "-", 0.001), (3, "-", 0.05), (100, "-", 0), (4, "-", 0.05),
               (5, "-", 0.001), (11, "-", 0.001), (20, "-", 0.05)]
X_CM = [(20, "m", 0.001), (2, "f", 0.001), (6, "-", 0.05), (3, "m", 0.001), (20, "f", 0.001), (4, "f", 0.05),
        (5, "m", 0.001), (2, "m", 0.05), (20, "-", 0), (3, "f", 0.001), (6, "f", 0.001), (100, "m", 0.001),
        (5, "f", 0.05), (4, "m", 0.001)]
X_BP = [(6, "f", 0.001), (20, "m", 0.05), (2, "f", 0.05), (3, "m", 0.001), (100, "f", 0.001), (4, "-", 0.001)]


@pytest.fixture(scope="module")
def engine():
    if not os.access(ENGINE, os.X_OK):
        pytest.fail(f"{ENGINE} is missing: build it first (cmake --build build)")
    return ENGINE


def simulate(out, seed, generation, x=False, male=False, error=0.002, founder_missing=0.0, shared=None):
    command = [SIMULATE, "--out", out, "--seed", seed, "--generation", max(3, generation), "--markers", MARKERS,
               "--length", 80, "--error", error, "--missing", 0.05, "--founder-missing", founder_missing]
    if x:
        command += ["--x", "--sex", "M" if male else "F"]
    if shared:
        command += ["--founders", shared / "founders.txt", "--positions", shared / "positions.txt"]
    subprocess.run([str(c) for c in command], check=True, capture_output=True)


class Chromosome:
    """Founders and positions drawn once (some founder genotypes missing),
    and one simulated strain per (generation, sex, error rate)."""

    def __init__(self, root, x, unit, strains, seed):
        self.root, self.x, self.unit = root, x, unit
        simulate(root / "draw", seed, 20, x=x, founder_missing=0.05)
        self.founders = root / "draw" / "founders.txt"
        self.positions = root / "draw" / "positions.txt"
        if unit == "-bp":
            self.positions = root / "positions_bp.txt"
            cm = (root / "draw" / "positions.txt").read_text().split()
            self.positions.write_text("".join(f"{round(float(p) * 1e6)}\n" for p in cm))
        self.jobs = []
        for i, (generation, sex, rate) in enumerate(strains):
            d = root / f"s{i}"
            simulate(d, seed + i + 1, generation, x=x, male=sex != "f", error=rate, shared=root / "draw")
            if rate == 0:
                self.mask_untyped(d / "strain.txt")   # no call where a founder is untyped, as prepare does
            self.jobs.append([d / "strain.txt", d / "funnel.txt", generation, sex, rate, d / "values.bin",
                              d / "text.prob" if i % 2 == 0 else None])

    def mask_untyped(self, strain):
        untyped = ["-" in line for line in self.founders.read_text().splitlines()]
        calls = strain.read_text().splitlines()
        strain.write_text("".join(("N" if u else c) + "\n" for c, u in zip(calls, untyped)))

    def tarvel(self, tarvel, job):
        """TARVEL's run of a job: (status, last line of its output, results bytes or None)."""
        strain, funnel, generation, sex, rate = job[:5]
        command = [tarvel, self.founders, strain, funnel, generation, self.unit, self.positions, "-e", repr(rate)]
        if self.x:
            command += ["-x"] + (["-s", sex.upper()] if sex != "-" else [])
        done = subprocess.run([str(c) for c in command], capture_output=True, text=True)
        results = strain.with_name(strain.name + ".prob")
        return done.returncode, done.stdout.splitlines()[-1], results.read_bytes() if results.exists() else None

    def run_engine(self, engine, jobs, name="jobs.tsv", more=()):
        """(status, stdout lines) of the engine on these jobs, "done N" without its seconds."""
        listing = self.root / name
        listing.write_text("".join("\t".join(str(f) for f in job if f is not None) + "\n" for job in jobs))
        command = [engine, "--founders", self.founders, "--positions", self.positions, self.unit, *more,
                   "--jobs", listing]
        done = subprocess.run([str(c) for c in command + (["-x"] if self.x else [])], capture_output=True, text=True)
        assert done.stderr == ""
        said = done.stdout.splitlines()
        assert all(re.fullmatch(r"done \d+ \d+\.\d{6}", line) for line in said if line.startswith("done "))
        return done.returncode, [re.sub(r"^(done \d+) .*", r"\1", line) for line in said]


def values_as_text(path, markers):
    """The binary file's header checked, its values written as TARVEL writes
    a HAPPY line: "t|" then each number (TARVEL's formatter) and ","."""
    data = path.read_bytes()
    magic, version, per_line, count = HEADER.unpack_from(data)
    assert (magic, version, per_line, count) == (b"TARVPROB", 1, 36, markers)
    assert len(data) == HEADER.size + 8 * 36 * markers
    values = np.frombuffer(data, "<f8", offset=HEADER.size).reshape(markers, 36)
    rows = native.format_rows(values, "", native.Tails([f"{t}|" for t in range(markers)]))
    return re.sub(rb"\|,(.*)\n", rb"|\1,\n", rows)


@pytest.mark.parametrize("x, unit, strains", [(False, "-cm", AUTOSOME_CM), (False, "-bp", AUTOSOME_BP),
                                              (True, "-cm", X_CM), (True, "-bp", X_BP)],
                         ids=["autosome-cm", "autosome-bp", "x-cm", "x-bp"])
def test_every_strain_gets_tarvels_results_bytes(tmp_path, tarvel, engine, x, unit, strains):
    chrom = Chromosome(tmp_path, x, unit, strains, seed=len(strains) * 100 + x)
    warned = set()
    if unit == "-bp":
        # inconsistencies TARVEL warns about and runs on: a founder line short
        # of a genotype, a strain file short of its last calls
        lines = chrom.founders.read_text().splitlines()
        lines[7] = lines[7][:lines[7].rindex(" ")]
        chrom.founders.write_text("\n".join(lines) + "\n")
        short = chrom.jobs[1][0]
        short.write_text("".join(short.read_text().splitlines(keepends=True)[:-3]))
        warned = {f"{chrom.founders}: Error: input founder data corrupted.",
                  f"{tmp_path / 'jobs.tsv'}:2: Error: input genotype file corrupted."}
    status, said = chrom.run_engine(engine, chrom.jobs)
    assert status == 0, said
    assert sorted(said) == sorted(warned | {f"done {n}" for n in range(1, len(strains) + 1)})
    for job in chrom.jobs:
        tarvel_status, _, expected = chrom.tarvel(tarvel, job)
        assert tarvel_status == 0 and expected.count(b"\n") == MARKERS
        assert values_as_text(job[5], MARKERS) == expected, job
        if job[6]:
            assert job[6].read_bytes() == expected, job
    assert not list(tmp_path.rglob(".*.tmp-*"))


@pytest.mark.parametrize("x, strains", [(False, AUTOSOME_CM[:8]), (True, X_CM)], ids=["autosome", "x"])
def test_founder_values_are_the_panels_own_derivation_from_the_pairs_to_the_last_bit(tmp_path, engine, x, strains):
    from tarvel_panel.collect import derive
    from tarvel_panel.run import values_file
    chrom = Chromosome(tmp_path, x, "-cm", strains, seed=31 + x)
    pairs_jobs = [job[:6] for job in chrom.jobs]
    founder_jobs = [job[:5] + [job[5].with_name("founder.bin")] for job in chrom.jobs]
    assert chrom.run_engine(engine, pairs_jobs)[0] == 0
    assert chrom.run_engine(engine, founder_jobs, "founder-jobs.tsv", ["--founder-values"])[0] == 0
    for (_, _, _, sex, _, pairs_file), founder_file in zip(pairs_jobs, (j[5] for j in founder_jobs)):
        two_copy = x and sex == "f"   # the job's sex: the engine runs the two-copy model at any depth
        assert founder_file.stat().st_size == HEADER.size + 8 * 11 * MARKERS
        engine_lines = values_file.read_values(founder_file, MARKERS, two_copy, per_line=None)
        pairs = values_file.read_values(pairs_file, MARKERS, two_copy)
        from_engine, from_pairs = derive.strain_values(engine_lines), derive.strain_values(pairs)
        for mine, theirs in zip(from_engine[:4], from_pairs[:4]):
            assert mine.tobytes() == np.asarray(theirs, dtype=mine.dtype).tobytes()
        assert from_engine[4] is None


def test_a_values_file_of_the_other_kind_is_refused_naming_what_it_holds(tmp_path):
    from tarvel_panel.errors import InputError
    from tarvel_panel.run import values_file
    line = np.zeros((3, 11))
    line[:, 0], line[:, 9] = 1.0, 1.0   # founder A sure: pair AA (index 0) at 1
    path = tmp_path / "strain.values"
    path.write_bytes(HEADER.pack(b"TARVPROB", 1, 11, 3) + line.tobytes())
    assert values_file.read_values(path, 3, per_line=None).shape == (3, 11)
    with pytest.raises(InputError, match="with 11 values a line; this panel reads version 1 with 36"):
        values_file.read_values(path, 3)
    line[1, 0] = 0.5   # founder probabilities adding up to 0.5
    path.write_bytes(HEADER.pack(b"TARVPROB", 1, 11, 3) + line.tobytes())
    with pytest.raises(InputError, match="add up to 0.5, not 1") as refused:
        values_file.read_values(path, 3, per_line=None)
    assert refused.value.line == 2


@pytest.fixture
def small(tmp_path):
    """An autosome with four strains of one generation (so they run in list order)."""
    return Chromosome(tmp_path, False, "-cm", [(20, "-", 0.001)] * 4, seed=7)


def written(jobs):
    return [job[5].exists() or (job[6] is not None and job[6].exists()) for job in jobs]


def strain_fault(job, kind):
    strain, funnel = job[0], job[1]
    if kind == "no strain file":
        job[0] = strain.with_name("absent.txt")
    elif kind == "funnel repeats a founder":
        funnel.write_text("1 1 3 4 5 6 7 8\n")
    elif kind == "no state explains a call":
        job[4] = 0
        calls = strain.read_text().splitlines()
        calls[30] = "X"
        strain.write_text("\n".join(calls) + "\n")


@pytest.mark.parametrize("kind", ["no strain file", "funnel repeats a founder", "no state explains a call"])
def test_a_refused_strain_leaves_the_strains_before_it_complete(small, tarvel, engine, kind):
    jobs = small.jobs
    strain_fault(jobs[2], kind)
    status, message, results = small.tarvel(tarvel, jobs[2])
    assert (status, results) == (1, None)
    status, said = small.run_engine(engine, jobs)
    assert status == 1
    assert said == ["done 1", "done 2", f"{small.root / 'jobs.tsv'}:3: {message}"]
    assert written(jobs) == [True, True, False, False]
    assert not list(small.root.rglob(".*.tmp-*"))


@pytest.mark.parametrize("field, value, tarvels", [(4, 1.5, True), (2, 101, True), (2, "2O", False),
                                                   (3, "x", False), (2, 1, False), (6, "same", False)])
def test_a_bad_list_line_is_refused_before_any_strain_runs(small, tarvel, engine, field, value, tarvels):
    jobs = small.jobs
    jobs[3][field] = value
    if value == "same":
        jobs[3][6] = jobs[0][5]   # a file another line writes
    status, said = small.run_engine(engine, jobs)
    assert status == 1 and len(said) == 1 and said[0].startswith(f"{small.root / 'jobs.tsv'}:4: ")
    if tarvels:
        status, message, _ = small.tarvel(tarvel, jobs[3])
        assert status == 1 and said[0].endswith(": " + message)
    assert written(jobs) == [False] * 4


def test_bad_chromosome_files_are_refused_with_tarvels_messages(small, tarvel, engine):
    good_positions, good_founders = small.positions.read_text(), small.founders.read_text()
    lines = good_positions.splitlines()
    faults = [(small.positions, "\n".join(lines[:9] + [lines[3]] + lines[10:]) + "\n"),   # not sorted
              (small.positions, "\n".join(lines[:-1]) + "\n"),                            # one position short
              (small.founders, re.sub(r" -?\d -?\d -?\d -?\d\n", "\n", good_founders))]   # four founders
    for path, text in faults:
        path.write_text(text)
        status, message, _ = small.tarvel(tarvel, small.jobs[0])
        assert status == 1
        status, said = small.run_engine(engine, small.jobs)
        assert status == 1 and said[-1] == f"{path}: {message}"
        assert written(small.jobs) == [False] * 4
        small.positions.write_text(good_positions)
        small.founders.write_text(good_founders)


@pytest.mark.parametrize("field", [5, 6], ids=["values", "text"])
def test_an_output_that_cannot_be_created_is_named_and_left_nowhere(small, engine, field):
    jobs = small.jobs
    jobs[1][field] = small.root / "no such folder" / "out"
    status, said = small.run_engine(engine, jobs)
    assert status == 1
    assert said == ["done 1", f"{small.root / 'jobs.tsv'}:2: {jobs[1][field]}: cannot be created (No such file or directory)"]
    assert written(jobs) == [True, False, False, False]
    assert not list(small.root.rglob(".*.tmp-*"))

"""The benchmark's measuring and reporting: stage times from when progress
lines arrive, buffered output recognised, peak memory of the child."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import measure  # noqa: E402
import report  # noqa: E402

# Prints the four progress lines a tenth of a second apart (or holds them
# back to the end, HELD=1), then touches 40 MB.
FAKE = """import os, sys, time
held = []
for line in %r:
    held.append(line + "\\n")
    if not int(sys.argv[1]):
        os.write(1, held.pop().encode())
    time.sleep(0.1)
os.write(1, "".join(held).encode())
x = bytearray(40 << 20); x[::4096] = b"1" * len(x[::4096])
""" % (measure.STAGES,)


def _observe(tmp_path, terminal, held=False):
    script = tmp_path / "fake.py"
    script.write_text(FAKE)
    return measure.observe("/usr/bin/python3", [str(script), str(int(held))], str(tmp_path),
                           terminal)


def test_stages_are_timed_from_lines_on_a_terminal(tmp_path):
    obs = _observe(tmp_path, terminal=True)
    stages = measure.stage_seconds(obs)
    assert 0.08 < stages["emission"] < 0.3 and 0.08 < stages["backward"] < 0.3
    assert measure.lines_arrive_as_printed(obs)
    assert obs.stdout == ("\n".join(measure.STAGES) + "\n").encode()
    assert obs.status == 0 and obs.maxrss_kib > 40 * 1024


def test_peak_memory_is_the_programs_own_not_the_benchmarks(tmp_path):
    big = bytearray(200 * 1024 * 1024)  # this process now holds 200 MB
    big[::4096] = b"x" * len(big[::4096])
    obs = measure.observe("/bin/true", [], str(tmp_path))
    assert obs.status == 0 and obs.maxrss_kib < 20 * 1024


def test_output_held_in_a_pipe_buffer_is_recognised(tmp_path):
    assert measure.lines_arrive_as_printed(_observe(tmp_path, terminal=False))
    assert not measure.lines_arrive_as_printed(_observe(tmp_path, terminal=False, held=True))


def test_missing_progress_line_gives_no_stage_times():
    obs = measure.Observed(0, b"", 1.0, 0, [(0.1, measure.STAGES[0])])
    assert measure.stage_seconds(obs) is None


def test_tables_show_ratio_and_per_marker_times():
    row = dict(config="c", markers=1000, build="default", ref_s=2.0, cand_s=0.5, min_ratio=0.2,
               ref_kib=10240, cand_kib=2048, same=True)
    table = report.timing_table([row])
    assert "| c | 1000 | default | 2.000 | 0.500 | 0.250 | 0.200 | 10 | 2 | yes |" in table
    stages = dict(zip(measure.STAGE_NAMES, [0.001, 0.002, 0.003, 0.004, 0.0]))
    line = report.stage_table([("c", "candidate", 1000, stages)]).splitlines()[-1]
    assert line == "| c | candidate | 1.00 | 2.00 | 3.00 | 4.00 | 0.00 | 10.00 |"


# ---- bench/scale.sh: the projection from three runs ------------------------

def _scale_runs(memory, cpu, size):
    """Three runs of bench/scale's sizes whose figures follow memory(s, m) and cpu(s, m)."""
    import argparse
    import scale
    a = argparse.Namespace(strains=size[0], chromosomes=2, markers=size[1])
    runs = []
    for s, m in scale.sizes(a):
        kinds = {"batch": (2, 1.0, memory["batch"](s, m) * 1024),
                 "prepare": (1, 1.0, memory["prepare"](s, 2 * m) * 1024)}
        runs.append({"kinds": kinds, "cpu": cpu(s, 2 * m), "bytes": 1000.0 * s * 2 * m, "panel_bytes": 5.0 * s * m,
                     "runs_peak": 88.0 * s * m})   # one chromosome's founder values at a time
    return a, runs


def test_the_projection_follows_markers_and_strains_apart():
    import scale
    memory = {"batch": lambda s, m: 30 + 0.0005 * m,                 # grows with markers only
              "prepare": lambda s, m: 45 + 0.0001 * m + 0.00001 * s * m}   # and with strains x markers
    a, runs = _scale_runs(memory, lambda s, m: 2 + 1e-6 * s * m, (100, 100_000))
    proj = scale.projection(a, runs)
    strains, chromosomes, markers = scale.CLUSTER
    assert abs(proj["memory"]["batch"] - memory["batch"](strains, markers)) < 1e-3
    assert abs(proj["memory"]["prepare"] - memory["prepare"](strains, chromosomes * markers)) < 1e-2
    assert abs(proj["cpu_hours"] * 3600 - (2 + 1e-6 * strains * chromosomes * markers)) < 1e-2
    assert proj["largest"] == "prepare" and proj["largest_per_chromosome"] == "batch"
    # a batch's peak caught lower in the run of fewer strains is no growth with strains
    memory["batch"] = lambda s, m: 30 + 0.0005 * m - (20 if s < 100 else 0)
    a, runs = _scale_runs(memory, lambda s, m: 2 + 1e-6 * s * m, (100, 100_000))
    assert abs(scale.projection(a, runs)["memory"]["batch"] - (30 + 0.0005 * markers)) < 1e-3
    memory["batch"] = lambda s, m: 30 + 0.0005 * m
    assert abs(proj["out_bytes"] - 1000.0 * strains * chromosomes * markers) < 1.0
    assert abs(proj["runs_peak"] - 88.0 * strains * markers) < 1.0   # one chromosome's, not the panel's
    # a kind whose peak moves no more than the sampling's noise is taken as it was measured
    memory["batch"] = lambda s, m: 32 + (3 if m < 50_000 else 0)
    a, runs = _scale_runs(memory, lambda s, m: 2 + 1e-6 * s * m, (100, 100_000))
    assert scale.projection(a, runs)["memory"]["batch"] == 35


def test_scale_job_kinds_are_told_by_their_commands():
    import scale
    assert scale.job_kind("/bin/sh -c python3 -m tarvel_panel --log x prepare --config c.json") == "prepare"
    assert scale.job_kind("sh python3 -m tarvel_panel batch --tarvel build/TARVEL --out o tarvel_engine") == "batch"
    assert scale.job_kind("sh python3 -P -m tarvel_panel batch --engine build/tarvel_engine --out o") == "batch"
    assert scale.job_kind("sh python3 -m tarvel_panel --log l collect --out o --chr 1") == "collect"
    assert scale.job_kind("sh Rscript write.R") == "R" and scale.job_kind("sh sleep 1") == "other"
    assert scale.job_kind("sh python3 -m tarvel_panel --log l qtl2 --out o --kind alleleprobs --chr 2 R") == "qtl2-chr"
    assert scale.job_kind("sh python3 -m tarvel_panel --log l qtl2 --out o --kind alleleprobs --dest d.rds") == "qtl2"

"""Checks, from Slurm's own records, the jobs a Snakemake run submitted.

    slurm_jobs.py SNAKEMAKE_LOG

Reads every "Submitted job N with external jobid 'E'" from the log with the
rule, threads, mem_mb and runtime Snakemake printed for job N, asks scontrol
about job E and prints "<rule> <E>" for each job Slurm ran to completion with
that name, CPUs, memory and time limit. Anything else goes to stderr and the
exit status is 1. Needs the cluster's MinJobAge to outlast the run.
"""
import re
import subprocess
import sys

RULE = re.compile(r"^(?:local)?rule (\S+):$")
FIELD = re.compile(r"^\s+(jobid|threads|resources): (.*)$")
SUBMITTED = re.compile(r"^Submitted job (\d+) with external jobid '([^';]+)")


def submitted_jobs(log_lines):
    """(external id, rule, threads, mem_mb, runtime) per submission. A job
    submitted again after a failure (--restart-times) gets no block of its
    own in the log, so its memory and time are None: it asked for more."""
    jobs, block, seen = [], {}, {}
    for line in log_lines:
        if m := RULE.match(line):
            block = {"rule": m.group(1), "threads": "1"}
        elif m := FIELD.match(line):
            block[m.group(1)] = m.group(2)
        elif m := SUBMITTED.match(line):
            if block.get("jobid") != m.group(1) and m.group(1) not in seen:
                raise SystemExit(f"no job block before: {line.strip()}")
            if m.group(1) in seen:
                jobs.append((m.group(2), *seen[m.group(1)][:2], None, None))
                continue
            res = dict(kv.split("=", 1) for kv in block["resources"].split(", "))
            seen[m.group(1)] = (block["rule"], int(block["threads"]))
            jobs.append((m.group(2), block["rule"], int(block["threads"]),
                         int(res["mem_mb"]), int(res["runtime"])))
    return jobs


def slurm_record(ext_id):
    """scontrol's fields of one job as a dict."""
    out = subprocess.run(["scontrol", "show", "job", "--oneliner", ext_id],
                         capture_output=True, text=True).stdout
    return dict(f.split("=", 1) for f in out.split() if "=" in f)


def minutes(limit):
    """Slurm's [D-]HH:MM:SS as minutes."""
    days, _, hms = limit.rpartition("-")
    h, m, s = (int(x) for x in hms.split(":"))
    return (int(days or 0) * 24 + h) * 60 + m + (s > 0)


def problems(job, rec):
    ext_id, rule, threads, mem_mb, runtime = job
    expected = {"JobState": "COMPLETED", "JobName": f"smk.{rule}.", "CPUs/Task": str(threads)}
    if mem_mb is not None:
        expected["MinMemoryNode"] = f"{mem_mb}M"
    found = [f"{k}={rec.get(k)} (want {v})" for k, v in expected.items()
             if not (rec.get(k, "").startswith(v) if k == "JobName" else rec.get(k) == v)]
    if runtime is not None and ("TimeLimit" not in rec or minutes(rec["TimeLimit"]) != runtime):
        found.append(f"TimeLimit={rec.get('TimeLimit')} (want {runtime} min)")
    return found + killed_for_memory(rec.get("StdOut"))


def killed_for_memory(log_path):
    """Slurm's note in the job's log that it killed the job for its memory."""
    try:
        with open(log_path) as f:
            return [line.strip() for line in f if "exceeded memory limit" in line][:1]
    except (OSError, TypeError):
        return []


def main(log_path):
    with open(log_path) as f:
        jobs = submitted_jobs(f)
    if not jobs:
        print(f"{log_path}: no job was submitted", file=sys.stderr)
        return 1
    status = 0
    for job in jobs:
        if found := problems(job, slurm_record(job[0])):
            print(f"slurm job {job[0]} ({job[1]}): " + ", ".join(found), file=sys.stderr)
            status = 1
        else:
            print(job[1], job[0])
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))

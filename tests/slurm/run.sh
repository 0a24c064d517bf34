#!/usr/bin/env bash
# The panel workflow on Slurm for real: starts a private single-node cluster
# on this machine, runs the workflow on examples/panel through the shipped
# profile (workflow/profiles/slurm) from another working directory in batches
# of 3 strains with 2 TARVEL processes per job, checks from Slurm's records
# that its jobs ran as Slurm jobs with the resources they asked for, one per
# chromosome and batch, and compares the outputs with a local run (one batch
# per chromosome). Needs root,
# slurm-wlm and munge (tools/install-deps.sh). Ends with "N passed, M failed".
set -u
REPO=$(cd "$(dirname "$0")/../.." && pwd)
PROFILE=workflow/profiles/slurm
source "$REPO/tests/slurm/cluster.sh"
source "$REPO/tests/slurm/compare.sh"
source "$REPO/tests/slurm/interrupt.sh"

PASSED=0 FAILED=0
pass() { PASSED=$((PASSED + 1)); echo "ok: $*"; }
fail() { FAILED=$((FAILED + 1)); echo "FAIL: $*"; }
check() { # check WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
  echo "$PASSED passed, $FAILED failed"
  [ "$FAILED" -eq 0 ]
}

# The install script may still be putting Slurm in place.
for ((i = 0; i < 600; i += 10)); do command -v slurmctld >/dev/null && break; sleep 10; done
for tool in slurmctld slurmd munged sbatch scontrol /usr/bin/snakemake; do
  command -v "$tool" >/dev/null || { fail "$tool is not installed"; finish; exit; }
done
[ "$(id -u)" = 0 ] || { fail "must run as root (it starts slurmd)"; finish; exit; }

WORK=$(mktemp -d /tmp/tarvel-slurm.XXXXXX)
# The work folder stays for a look when a check failed.
trap 'cluster_stop; if [ "$FAILED" -eq 0 ]; then rm -rf "$WORK"; else echo "kept $WORK"; fi' EXIT
trap 'exit 1' INT TERM
PANEL=(--snakefile "$REPO/workflow/Snakefile"
  --config cross="$REPO/examples/panel/panel.yaml" plots=false)
# batches through the profile: strains per job and TARVEL processes per job
BATCH_SIZE=3
BATCHES=(batch_size=$BATCH_SIZE batch_threads=2)

# panel_run LOG ARGS...: the workflow on the example panel, started from the
# repository root (so the profile is given relative); ARGS begin with more
# --config values.
panel_run() {
  local log=$1
  shift
  (cd "$REPO" && exec /usr/bin/snakemake "${PANEL[@]}" "$@") >"$log" 2>&1
}

# status ID: the profile's status command, called as Snakemake calls it.
STATUS_CMD=$(/usr/bin/python3 -c 'import sys, yaml; print(yaml.safe_load(open(sys.argv[1]))["cluster-status"])' \
  "$REPO/$PROFILE/config.yaml")
status() { (cd "$WORK/slurm-work" && sh -c "$STATUS_CMD '$1'" 2>/dev/null); }
in_state() { scontrol show job --oneliner "$1" | grep -q "JobState=$2 "; }
settled() { [ "$(status "$1")" != running ]; }

check "single-node cluster starts and its node is idle" cluster_start "$WORK/cluster" || { finish; exit; }
mkdir -p "$WORK/slurm-work"

echo "== the profile's status command on jobs in known states"
done_id=$(sbatch --parsable --output=/dev/null --wrap true)
failed_id=$(sbatch --parsable --output=/dev/null --wrap 'exit 3')
sleeping_id=$(sbatch --parsable --output=/dev/null --wrap 'sleep 300')
wait_for "job $sleeping_id running" 30 in_state "$sleeping_id" RUNNING
check "a running job is running" test "$(status "$sleeping_id")" = running
wait_for "job $done_id" 30 settled "$done_id"
check "a completed job is success" test "$(status "$done_id")" = success
wait_for "job $failed_id" 30 settled "$failed_id"
check "a job that exited 3 is failed" test "$(status "$failed_id")" = failed
scancel "$sleeping_id"
wait_for "job $sleeping_id cancelled" 30 settled "$sleeping_id"
check "a cancelled job is failed" test "$(status "$sleeping_id")" = failed
check "a job Slurm never knew, without a log, is failed" test "$(status 999999)" = failed

echo "== the workflow locally and through the profile"
start=$SECONDS
check "local run (--cores 2) succeeds" panel_run "$WORK/local.log" out="$WORK/local" --cores 2
echo "   local run: $((SECONDS - start)) s"
start=$SECONDS
check "run through the Slurm profile with --directory succeeds" panel_run "$WORK/slurm.log" \
  out="$WORK/slurm" "${BATCHES[@]}" --profile "$PROFILE" --directory "$WORK/slurm-work"
echo "   Slurm run: $((SECONDS - start)) s"

echo "== Slurm's records of the run"
# slurm_jobs SNAKEMAKE_LOG OUT: every job of the run completed as it asked,
# TARVEL jobs among them; OUT gets "rule Slurm-id" lines.
slurm_jobs() {
  /usr/bin/python3 "$REPO/tests/slurm/slurm_jobs.py" "$1" >"$2" 2>"$2.err" && grep -q '^tarvel ' "$2"
  local rc=$?
  sed 's/^/   /' "$2.err"
  return $rc
}
check "every submitted job completed with the name, CPUs, memory and time it asked for" \
  slurm_jobs "$WORK/slurm.log" "$WORK/jobs.txt"
tarvel_jobs=$(grep -c '^tarvel ' "$WORK/jobs.txt")
expected=$(/usr/bin/python3 -c 'import json, sys; p = json.load(open(sys.argv[1]))
print(len(p["chromosomes"]) * -(-len(p["strains"]) // int(sys.argv[2])))' \
  "$WORK/slurm/prepared/panel.json" "$BATCH_SIZE" 2>/dev/null)
check "one Slurm job per chromosome and batch of $BATCH_SIZE strains ran TARVEL ($tarvel_jobs of ${expected:-?})" \
  test "$tarvel_jobs" = "${expected:-none}"
# completed_in_jobcomp CPUS ID...: how many of the jobs have a record in
# Slurm's job completion log as a TARVEL job completed with CPUS CPUs.
completed_in_jobcomp() {
  local cpus=$1 id n=0
  shift
  for id in "$@"; do
    grep "^JobId=$id " "$WORK/cluster/log/jobcomp.txt" | grep " Name=smk\.tarvel\." |
      grep " JobState=COMPLETED " | grep -q " ProcCnt=$cpus " && n=$((n + 1))
  done
  echo "$n"
}
comp_jobs=$(completed_in_jobcomp 2 $(awk '$1 == "tarvel" { print $2 }' "$WORK/jobs.txt"))
check "Slurm's job completion log has those $tarvel_jobs TARVEL jobs completed with 2 CPUs each ($comp_jobs)" \
  test "$comp_jobs" = "$tarvel_jobs"
# in_ctld_log ID...: slurmctld's log has each job started (by the main or
# the backfill scheduler) and done.
in_ctld_log() {
  local id ctld=$WORK/cluster/log/slurmctld.log
  [ $# -gt 0 ] || return 1
  for id in "$@"; do
    grep -qE "(sched: Allocate|_start_job: Started) JobId=$id " "$ctld" &&
      grep -q "_job_complete: JobId=$id done" "$ctld" ||
      { echo "   job $id missing from $ctld"; return 1; }
  done
}
check "slurmctld logged every TARVEL job allocated and done" \
  in_ctld_log $(awk '$1 == "tarvel" { print $2 }' "$WORK/jobs.txt")
first_tarvel=$(awk '$1 == "tarvel" { print $2; exit }' "$WORK/jobs.txt")
log=$(ls "$WORK"/slurm-work/.snakemake/slurm_logs/*/"${first_tarvel:-none}".log 2>/dev/null)
check "the job's Slurm log is in the working directory and shows it done" \
  grep -qs "steps (100%) done" "$log"
if [ -n "$log" ]; then cp "$log" "$WORK/slurm-work/.snakemake/slurm_logs/tarvel/999998.log"; fi
check "a job Slurm has forgotten whose log shows it done is success" test "$(status 999998)" = success

echo "== outputs equal the local run"
compare_outputs "$WORK/local" "$WORK/slurm"

echo "== a second run through the profile"
panel_run "$WORK/rerun.log" out="$WORK/slurm" "${BATCHES[@]}" --profile "$PROFILE" --directory "$WORK/slurm-work"
check "submits nothing when everything is present" \
  bash -c '! grep -q "Submitted job" "$1" && grep -q "Nothing to be done" "$1"' _ "$WORK/rerun.log"

echo "== an interrupted run through the profile, then the next run"
check_interrupted_run "$WORK/local"

echo "== the profile from the repository root, without --directory"
panel_run "$WORK/root.log" out="$WORK/root" strains=SIM01/Tv chromosomes=2 "${BATCHES[@]}" --profile "$PROFILE"
check "one strain and chromosome ran TARVEL as a Slurm job (of one CPU) as asked" \
  slurm_jobs "$WORK/root.log" "$WORK/root-jobs.txt"

if [ "$FAILED" -gt 0 ]; then
  for f in slurm.log local.log root.log interrupted.log resumed.log; do echo "--- tail of $f"; tail -n 30 "$WORK/$f"; done
fi
finish

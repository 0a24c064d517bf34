# An interrupted Slurm run, sourced by run.sh (uses its check, status,
# panel_run, BATCHES, BATCH_SIZE, PROFILE and WORK): Ctrl-C while TARVEL jobs are queued cancels them
# through the profile's cancel command, and the next run through the profile
# finishes the panel with the same outputs as the local run.

# run_in_background OUT WORKDIR LOG: the workflow through the profile in a
# process group of its own (job control), which takes Ctrl-C as from a
# terminal; sets RUN_PID.
run_in_background() {
  set -m
  panel_run "$3" out="$1" "${BATCHES[@]}" --profile "$PROFILE" --directory "$2" &
  RUN_PID=$!
  set +m
}

submitted_ids() { sed -n "s/^Submitted job [0-9]* with external jobid '\([^';]*\).*/\1/p" "$1"; }
submitted_at_least() { [ "$(submitted_ids "$1" | wc -l)" -ge "$2" ]; }
# gone PID: the process has ended (a child not yet waited for is a zombie).
gone() {
  local st
  st=$(ps -o stat= -p "$1" 2>/dev/null)
  [ -z "$st" ] || [[ $st == Z* ]]
}

# none_left_queued ID...: no job of the list is pending or running.
none_left_queued() {
  local id
  for id in "$@"; do
    [ "$(status "$id")" != running ] || { echo "   job $id still queued"; return 1; }
  done
}

any_cancelled() {
  local id
  for id in "$@"; do in_state "$id" CANCELLED && return 0; done
  return 1
}

check_interrupted_run() { # check_interrupted_run LOCAL_OUT
  local out=$WORK/interrupted work=$WORK/interrupted-work ids
  mkdir -p "$work"
  run_in_background "$out" "$work" "$WORK/interrupted.log"
  # every batch of the panel submitted (3 chromosomes, 8 strains in batches
  # of BATCH_SIZE), so Ctrl-C does not land in an sbatch call; with two CPUs
  # per job the node runs one at a time and the others are still queued
  wait_for "all TARVEL batches submitted" 120 submitted_at_least "$WORK/interrupted.log" \
    $((3 * ((8 + BATCH_SIZE - 1) / BATCH_SIZE)))
  kill -INT -- -"$RUN_PID"
  wait_for "snakemake to stop" 60 gone "$RUN_PID"
  wait "$RUN_PID"
  check "Ctrl-C stops the run with an error status" test $? -ne 0
  ids=$(submitted_ids "$WORK/interrupted.log")
  check "no job it submitted is left queued" none_left_queued $ids
  check "its unfinished jobs were cancelled" any_cancelled $ids
  check "the next run finishes the panel" \
    panel_run "$WORK/resumed.log" out="$out" "${BATCHES[@]}" --profile "$PROFILE" --directory "$work"
  compare_outputs "$1" "$out"
}

# A private single-node Slurm cluster on this machine, for tests. Sourced;
# needs root. cluster_start DIR writes a munge key and a slurm.conf under DIR
# and starts munged, slurmctld and slurmd with their own sockets, ports,
# state, spool, pid and log files there, so a system install is not touched.
# Memory requests are enforced (see JobAcctGatherParams below). Every job
# that ends is recorded in DIR/log/jobcomp.txt (JobCompType=jobcomp/filetxt,
# one line per job with its name, state and CPUs), no database needed.
# Clients find it through SLURM_CONF, which cluster_start exports.
# cluster_stop cancels its jobs and stops the daemons it started.

CLUSTER_PIDS=()

# free_port: a TCP port nothing listens on now.
free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# node_memory_mb: this machine's memory as slurmd measures it.
node_memory_mb() { slurmd -C | sed -n 's/.*RealMemory=\([0-9]*\).*/\1/p'; }

write_slurm_conf() { # write_slurm_conf DIR NODE
  local dir=$1 node=$2 ctld_port slurmd_port
  ctld_port=$(free_port)
  slurmd_port=$(free_port)
  while [ "$slurmd_port" = "$ctld_port" ]; do slurmd_port=$(free_port); done
  cat >"$dir/slurm.conf" <<EOF
ClusterName=tarveltest
SlurmctldHost=$node(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/run/slurmctld.pid
SlurmdPidFile=$dir/run/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
SlurmctldDebug=info
SlurmdDebug=info
PlugStackConfig=$dir/plugstack.conf
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
# No accounting storage. Jobs are sampled each second and killed when their
# processes together exceed the memory they asked for, as a cluster with
# memory limits would; without cgroups this is the way to get that.
JobAcctGatherType=jobacct_gather/linux
JobAcctGatherFrequency=task=1
JobAcctGatherParams=OverMemoryKill
AccountingStorageType=accounting_storage/none
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/log/jobcomp.txt
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
MpiDefault=none
ReturnToService=2
# Finished jobs stay visible to scontrol for the whole test.
MinJobAge=3600
KillWait=5
NodeName=$node NodeAddr=127.0.0.1 CPUs=2 RealMemory=$(node_memory_mb) State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
EOF
  : >"$dir/plugstack.conf"
}

start_munged() { # start_munged DIR
  local dir=$1/munge
  mkdir -p "$dir" && chmod 700 "$dir"
  dd if=/dev/urandom of="$dir/munge.key" bs=1024 count=1 status=none
  chmod 400 "$dir/munge.key"
  # --force: munged refuses root otherwise.
  munged --foreground --force --key-file="$dir/munge.key" --socket="$dir/munge.socket" \
    --pid-file="$dir/munged.pid" --log-file="$dir/munged.log" --seed-file="$dir/munged.seed" \
    >>"$dir/munged.out" 2>&1 &
  CLUSTER_PIDS+=($!)
  wait_for "munged socket" 20 test -S "$dir/munge.socket"
}

# wait_for WHAT SECONDS COMMAND...: retries COMMAND once a second.
wait_for() {
  local what=$1 seconds=$2 i
  shift 2
  for ((i = 0; i < seconds; i++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 1
  done
  echo "cluster: $what not ready after ${seconds}s" >&2
  return 1
}

node_idle() { [ "$(sinfo --noheader --nodes="$1" --format=%T 2>/dev/null)" = idle ]; }

cluster_start() { # cluster_start DIR
  local dir=$1 node
  node=$(hostname -s)
  mkdir -p "$dir"/{state,spool,run,log}
  write_slurm_conf "$dir" "$node"
  export SLURM_CONF=$dir/slurm.conf
  CLUSTER_DIR=$dir
  start_munged "$dir" || return 1
  slurmctld -D -f "$SLURM_CONF" >>"$dir/log/slurmctld.out" 2>&1 &
  CLUSTER_PIDS+=($!)
  wait_for slurmctld 30 scontrol ping || return 1
  slurmd -D -f "$SLURM_CONF" >>"$dir/log/slurmd.out" 2>&1 &
  CLUSTER_PIDS+=($!)
  wait_for "node $node idle" 60 node_idle "$node"
}

# cluster_stop: cancels every job of this cluster, waits for them to leave,
# then stops the daemons in reverse order of starting.
cluster_stop() {
  local i pid
  if [ -n "${CLUSTER_DIR:-}" ] && scontrol ping >/dev/null 2>&1; then
    scancel --full --partition=test >/dev/null 2>&1
    for ((i = 0; i < 30; i++)); do
      [ -z "$(squeue --noheader --states=PENDING,RUNNING,COMPLETING 2>/dev/null)" ] && break
      sleep 1
    done
  fi
  for ((i = ${#CLUSTER_PIDS[@]} - 1; i >= 0; i--)); do
    pid=${CLUSTER_PIDS[i]}
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  CLUSTER_PIDS=()
}

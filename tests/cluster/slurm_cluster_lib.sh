#!/usr/bin/env bash
# A real single-node Slurm cluster for the cluster tests, and the helpers they
# share: munged, slurmctld and slurmd on loopback, all state in $work, two GPUs
# as generic resources that EGL knows nothing of. The sourcing script sets
# build, work and submit (slurm_render.sh), then calls start_cluster, which
# stops the daemons again when the script exits.
fail() {
  echo "FAIL: $*"
  for log in "$work"/*.log "$work"/out*/*.log; do
    [ -f "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }
  done
  exit 1
}
for p in munged slurmctld slurmd sbatch; do
  command -v "$p" >/dev/null || fail "$p is not installed (tools/deps.sh test installs it)"
done

# Stops our own daemons by their pid files. PID 1 may not reap them, so a
# stopped daemon can linger as a zombie: wait for that state, not for the pid
# to vanish.
stop_daemon() {
  local pidfile=$1 pid state
  [ -f "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    state=$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null) || return 0
    [ "$state" = Z ] && return 0
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null
}
cleanup() {
  # Jobs still running would outlive slurmd and write into the next run's
  # folders.
  local jobs
  jobs=$(squeue -h -o %F 2>/dev/null | sort -u)
  if [ -n "$jobs" ]; then
    # shellcheck disable=SC2086 # one id a word
    scancel $jobs
    for _ in $(seq 100); do
      [ -z "$(squeue -h -o %A 2>/dev/null)" ] && break
      sleep 0.1
    done
  fi
  stop_daemon "$work/slurmd.pid"
  stop_daemon "$work/slurmctld.pid"
  stop_daemon "$work/munge/munged.pid"
}

start_cluster() {
  rm -rf "$work"
  mkdir -p "$work"/{etc,state,spool,munge}
  export SLURM_CONF="$work/etc/slurm.conf"

  trap cleanup EXIT

  # munged with its own key, socket and pid file, as the munge user.
  chown munge: "$work/munge"
  chmod 755 "$work/munge" # clients reach the socket through it
  dd if=/dev/urandom of="$work/munge/munge.key" bs=1024 count=1 status=none
  chown munge: "$work/munge/munge.key"
  chmod 400 "$work/munge/munge.key"
  socket="$work/munge/munge.socket"
  runuser -u munge -- munged --socket="$socket" --key-file="$work/munge/munge.key" \
    --pid-file="$work/munge/munged.pid" --log-file="$work/munge/munged.log" \
    --seed-file="$work/munge/munged.seed" || fail "munged did not start"

  node=$(hostname -s)
  memory=$(slurmd -C | sed -n 's/.*RealMemory=\([0-9]*\).*/\1/p')
  port=$((17000 + RANDOM % 2000))
  cat >"$SLURM_CONF" <<CONF
ClusterName=exegfx-test
SlurmctldHost=localhost
SlurmctldPort=$port
SlurmdPort=$((port + 1))
AuthType=auth/munge
# A requeued job waits out the credential lifetime (120 s by default) before it
# starts again.
AuthInfo=socket=$socket,cred_expire=5
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$work/state
SlurmdSpoolDir=$work/spool
SlurmctldPidFile=$work/slurmctld.pid
SlurmdPidFile=$work/slurmd.pid
SlurmctldLogFile=$work/slurmctld.log
SlurmdLogFile=$work/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/none
MailProg=/bin/true
ReturnToService=2
MinJobAge=600
GresTypes=gpu
NodeName=$node NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=${memory:-1000} Gres=gpu:2 State=UNKNOWN
PartitionName=test Nodes=$node Default=YES MaxTime=INFINITE State=UP
CONF
  cat >"$work/etc/gres.conf" <<CONF
AutoDetect=off
# Two character devices stand in for the GPUs' device files: Slurm only hands
# them out and sets CUDA_VISIBLE_DEVICES.
Name=gpu File=/dev/null
Name=gpu File=/dev/zero
CONF

  slurmctld -i || fail "slurmctld did not start"
  slurmd || fail "slurmd did not start"
  up=""
  for _ in $(seq 100); do
    [ "$(sinfo -h -o %T 2>/dev/null)" = idle ] && { up=1; break; }
    sleep 0.2
  done
  [ -n "$up" ] || fail "the node never became idle: $(sinfo 2>&1)"
}

# Job ids from the submit script's line "parts: job A (...), merge: job M -> ...".
submit_jobs() {
  local line
  line=$("$submit" "$@") || fail "submitting failed: $line"
  echo "$line" >&2
  parts_job=$(sed -n 's/^parts: job \([0-9]*\).*/\1/p' <<<"$line")
  merge_job=$(sed -n 's/.*merge: job \([0-9]*\).*/\1/p' <<<"$line")
  [ -n "$parts_job" ] && [ -n "$merge_job" ] || fail "no job ids in: $line"
}

# Waits until none of the jobs is pending or running; prints "id state" lines.
# sbatch --wait's exit code cannot tell a cancelled merge job from a done one.
wait_jobs() {
  local states
  for _ in $(seq 600); do
    states=$(squeue -h -t all -o "%i %T" 2>/dev/null | grep -E "^(${parts_job}_|$parts_job |$merge_job )")
    if [ -n "$states" ] && ! grep -qE "PENDING|RUNNING|CONFIGURING|COMPLETING|REQUEUED" <<<"$states"; then
      echo "$states"
      return 0
    fi
    sleep 0.2
  done
  fail "jobs still not done after 120 s: $states $(scontrol show job | grep -E "JobState|BeginTime|Reason|Restarts")"
}

# Waits until a log holds a line matching the pattern.
wait_log() {
  for _ in $(seq 600); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  fail "$1 never showed \"$2\""
}

#!/usr/bin/env bash
# The Slurm job array on a real single-node cluster that this test brings up
# and tears down itself (munged, slurmctld, slurmd on loopback, all state in
# WORKDIR; two GPUs as generic resources that EGL knows nothing of):
#  0. values that cannot succeed (size, frames past the cap, checkpoint,
#     picture, time, folder) are refused with exit status 2 and a message, and
#     nothing is submitted or left behind;
#  1. 64x36 with 8 frames as an array of 4 ranges, one GPU each, and a merge
#     job, into a folder with "%j" in its name: every job completes, each task
#     is given its GPU, and the merged picture equals one 8-frame run (mean
#     within a relative 1e-6, identical PNG bytes);
#  2. a task sent its time limit's warning (SIGTERM to the batch shell) writes
#     its frames, requeues itself and resumes while the other task runs on
#     undisturbed; the merge job waits for it, and the one command ends with
#     the picture of one uninterrupted run;
#  3. a task whose run gains no frame (its frame outlasts the warning, and the
#     limit's own signal follows) fails instead of requeueing, which cancels
#     the merge job;
#  4. a GPU task whose GPU does not open fails at once, saying why, without a
#     requeue (case 1 renders on the CPU with --allow-software);
#  5. adaptive parts stop at L sqrt(P) and merge into the picture.
# Usage: slurm_cluster_test.sh BUILD_DIR WORKDIR
set -uo pipefail
build=$(cd "$1" && pwd)
work=$2
here=$(cd "$(dirname "$0")" && pwd)
submit="$here/../../cluster/slurm_render.sh"
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

rm -rf "$work"
mkdir -p "$work"/{etc,state,spool,munge}
export SLURM_CONF="$work/etc/slurm.conf"

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
  stop_daemon "$work/slurmd.pid"
  stop_daemon "$work/slurmctld.pid"
  stop_daemon "$work/munge/munged.pid"
}
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

# 0. Values that cannot succeed are refused before anything is submitted or
#    left behind; exegfx-still --check judges those it takes.
refused() {
  local mention=$1 out rc=0
  shift
  out=$("$submit" --frames 8 --parts 2 --size 64x36 --bin "$build" "$@" 2>&1) || rc=$?
  [ "$rc" -eq 2 ] && grep -qF -- "$mention" <<<"$out" ||
    fail "slurm_render.sh $* exited $rc, not 2 naming \"$mention\": $out"
}
for c in "--size 0x0|--size" "--size abc|--size" "--frames 131073|131072" \
  "--frames 200000|131072" "--frames 99999999999999999999|--frames" \
  "--checkpoint-every abc|--checkpoint-every" "--checkpoint-every -5|--checkpoint-every" \
  "--picture hall.jpg|.jpg" "--picture merged.exr|--picture" "--time 1-|--time" \
  "--time 1:2:3:4|--time" "--parts 9|--parts" \
  "--until-noise 0.00000000000001|--until-noise 0.00000000000001 is too small" \
  "--until-noise 0.0000001 --picture hall.jpg|.jpg" \
  "--until-noise 1000000000 --picture hall.jpg|.jpg"; do
  read -ra args <<<"${c%|*}"
  refused "${c#*|}" "${args[@]}" "$work/refused/out"
done
refused "--picture needs a file name" --picture "" "$work/refused"
refused "backslash" "$work/refused\\out"
[ -z "$(squeue -h -t all)" ] || fail "a refused command submitted a job: $(squeue -t all)"
[ ! -e "$work/refused" ] || fail "a refused command left $work/refused behind"

# 1. Four ranges of two frames, a GPU each, merged, against one 8-frame run;
#    a leading zero is decimal, and % in the folder stays a character.
start=$(date +%s)
submit_jobs --frames 08 --parts 4 --size 64x36 --checkpoint-every 1 --gpus-per-task 1 \
  --allow-software --cpus-per-task 1 --bin "$build" "$work/out %j"
states=$(wait_jobs)
echo "$states"
[ "$(grep -c COMPLETED <<<"$states")" -eq 5 ] || fail "not every job completed: $states"
echo "array and merge done in $(($(date +%s) - start)) s"
for i in 0 1 2 3; do
  grep -q "Wrote .*part_$i.exr: 2 of 2 frames ($((2 * i + 1))-$((2 * i + 2)))" \
    "$work/out %j/part_$i.log" || fail "part $i did not render frames $((2 * i + 1))-$((2 * i + 2))"
  # Slurm's GPU reaches the renderer, which finds no such GPU in EGL and says so.
  grep -q "GPUs [01], 1 llvmpipe threads" "$work/out %j/part_$i.log" || fail "part $i got no GPU"
  grep -q "CUDA_VISIBLE_DEVICES names GPU [01], but EGL offers no GPU" "$work/out %j/part_$i.log" ||
    fail "part $i did not say which GPU it rendered on"
done
for f in single.pfm single.png; do
  "$build/exegfx-still" --size 64x36 --frames 8 -o "$work/$f" >/dev/null 2>&1 || fail "the single run failed"
done
"$build/exegfx-merge" -o "$work/merged.pfm" "$work/out %j/merged.exr" 2>/dev/null ||
  fail "the merged file does not merge again"
cmp "$work/out %j/hall.png" "$work/single.png" || fail "the merged PNG differs from the single run's"
python3 - "$work/merged.pfm" "$work/single.pfm" <<'PY' || fail "the merged mean differs"
import struct, sys
def floats(path):
    data = open(path, "rb").read()
    head = data.split(b"\n", 3)
    w, h = map(int, head[1].split())
    return struct.unpack("<%df" % (w * h * 3), head[3])
a, b = floats(sys.argv[1]), floats(sys.argv[2])
worst = max((abs(x - y) / max(abs(x), abs(y)) for x, y in zip(a, b) if x != y), default=0.0)
lit = sum(1 for v in b if v != 0)
print("max relative difference %.3g over %d values (%d non-zero)" % (worst, len(b), lit))
sys.exit(0 if len(a) == len(b) and worst <= 1e-6 and lit > 0 else 1)
PY

# 2. The time limit's warning (SIGTERM to the batch shell, which passes it on)
#    stops one part with its frames written; it requeues itself, resumes, and
#    the merge follows with no second command. The part warned is the task
#    whose job id is the array's own, so a requeue of that id would send the
#    whole array back: the other part must run once, undisturbed.
start=$(date +%s)
submit_jobs --frames 400 --parts 2 --size 64x36 --checkpoint-every 0.05 --bin "$build" "$work/out2"
for i in 0 1; do
  wait_log "$work/out2/part_$i.log" "^checkpoint frames="
done
# "TASK JOBID" lines; the array's own id goes to one of its tasks.
i=$(squeue -h -r -j "$parts_job" -o "%i %A" | sed -n "s/^${parts_job}_\([01]\) $parts_job\$/\1/p")
[ -n "$i" ] || fail "no task has the array's job id: $(squeue -h -r -j "$parts_job" -o "%i %A")"
other=$((1 - i))
scancel --signal=TERM --batch "${parts_job}_$i" || fail "could not signal part $i"
states=$(wait_jobs)
echo "$states"
[ "$(grep -c COMPLETED <<<"$states")" -eq 3 ] || fail "not every job completed: $states"
echo "stopped part $i, requeued, resumed and merged in $(($(date +%s) - start)) s"
grep -q "Interrupted: Wrote .*part_$i.exr" "$work/out2/part_$i.log" ||
  fail "the signalled part did not write its frames"
grep -q "^part $i: stopped at [0-9]* of 200 frames .*; requeueing" "$work/out2/part_$i.log" ||
  fail "part $i did not requeue itself"
! grep -q "could not requeue" "$work/out2/part_$i.log" || fail "part $i's requeue failed"
grep -q "Resuming .*part_$i.exr, which holds frames [0-9]*-" "$work/out2/part_$i.log" ||
  fail "part $i started again instead of resuming"
[ "$(grep -c "^part $other (frames" "$work/out2/part_$other.log")" -eq 1 ] &&
  grep -q "^part $other (frames .*, start 0," "$work/out2/part_$other.log" &&
  [ "$(grep -c "^Wrote .*part_$other.exr: 200 of 200 frames" "$work/out2/part_$other.log")" -eq 1 ] ||
  fail "part $other did not run once, undisturbed, beside the requeued part $i"
grep -q "Merged 2 parts: frames 1-400" "$work/out2/merge.log" || fail "no complete merge"
"$build/exegfx-still" --size 64x36 --frames 400 -o "$work/single400.png" >/dev/null 2>&1 ||
  fail "the single run failed"
cmp "$work/out2/hall.png" "$work/single400.png" ||
  fail "the picture differs from one uninterrupted run's"

# 3. A run that gains no frame: the warning comes during a long first frame,
#    and the limit's own signal follows before it ends, so the renderer quits
#    at once. The task fails rather than loop, and the merge is cancelled.
args=(--frames 2 --parts 1 --size 640x360 --cpus-per-task 1 --bin "$build" "$work/out3")
submit_jobs "${args[@]}"
wait_log "$work/out3/part_0.log" "^Rendering 2 frames"
scancel --signal=TERM --batch "${parts_job}_0" || fail "could not signal part 0"
wait_log "$work/out3/part_0.log" "SIGTERM: stopping after the frame in progress"
scancel --signal=TERM --batch "${parts_job}_0" || fail "could not signal part 0 again"
states=$(wait_jobs)
echo "$states"
grep -q "^${parts_job}_0 FAILED" <<<"$states" || fail "the part that gained nothing did not fail: $states"
grep -q "^$merge_job CANCELLED" <<<"$states" || fail "the merge job was not cancelled: $states"
grep -q "^part 0: this run added no frame (0 of 2); failing" "$work/out3/part_0.log" ||
  fail "part 0 did not say why it failed"
[ ! -e "$work/out3/hall.png" ] || fail "a picture was written from unfinished parts"

# 4. A GPU task whose GPU does not open (EGL knows none here) fails at once,
#    saying why, and is neither requeued nor left to crawl on the CPU.
submit_jobs --frames 2 --parts 1 --size 64x36 --gpus-per-task 1 --bin "$build" "$work/out4"
states=$(wait_jobs)
echo "$states"
grep -q "^${parts_job}_0 FAILED" <<<"$states" || fail "the GPU task that cannot render did not fail: $states"
grep -q "^$merge_job CANCELLED" <<<"$states" || fail "the merge job was not cancelled: $states"
log="$work/out4/part_0.log"
[ "$(grep -c "gives this process a GPU, but EGL offers no GPU" "$log")" -eq 1 ] &&
  [ "$(grep -c "^part 0 (frames" "$log")" -eq 1 ] && grep -q "not requeued" "$log" ||
  fail "part 0 did not fail once, saying why"
! grep -q "Rendering" "$log" && [ ! -e "$work/out4/part_0.exr" ] ||
  fail "part 0 rendered on the CPU"

# 5. Adaptive parts that stop at a noise level: each part at L sqrt(P), the
#    merge of parts that hold the start of their ranges, its figure reported.
submit_jobs --frames 1200 --parts 2 --size 32x18 --until-noise 40 --adaptive --bin "$build" \
  "$work/out5"
states=$(wait_jobs)
[ "$(grep -c COMPLETED <<<"$states")" -eq 3 ] || fail "not every adaptive job completed: $states"
for i in 0 1; do
  "$build/exegfx-merge" --info "$work/out5/part_$i.exr" | grep -q 'adaptive="level=56.5685 ' ||
    fail "part $i was not an adaptive render stopping at 40 sqrt(2)"
done
grep -q "^Merged 2 parts: .* noise_p95=" "$work/out5/merge.log" || fail "no merge of the adaptive parts"
echo "PASS"

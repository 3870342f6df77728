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
#     the samples of uninterrupted runs, bit for bit;
#  3. a task whose run gains no frame (its frame outlasts the warning, and the
#     limit's own signal follows) fails instead of requeueing, which cancels
#     the merge job;
#  4. a GPU task whose GPU does not open fails at once, saying why, without a
#     requeue (case 1 renders on the CPU with --allow-software);
#  5. adaptive parts stop at L sqrt(P), most pixels on their own before, and
#     merge into a picture whose noise figure is near L.
# Usage: slurm_cluster_test.sh BUILD_DIR WORKDIR SAME_SUMS
set -uo pipefail
build=$(cd "$1" && pwd)
work=$2 same_sums=$3
here=$(cd "$(dirname "$0")" && pwd)
submit="$here/../../cluster/slurm_render.sh"
# shellcheck source=slurm_cluster_lib.sh
source "$here/slurm_cluster_lib.sh"
start_cluster

# 0. Values that cannot succeed are refused before anything is submitted or
#    left behind; exegfx-still --check judges those it takes.
refused() {
  local mention=$1 out rc=0
  shift
  out=$("$submit" --frames 8 --parts 2 --size 64x36 --bin "$build" "$@" 2>&1) || rc=$?
  [ "$rc" -eq 2 ] && grep -qF -- "$mention" <<<"$out" ||
    fail "slurm_render.sh $* exited $rc, not 2 naming \"$mention\": $out"
}
for c in "--size 0x0|--size" "--size abc|--size" "--frames 300000|131072" \
  "--frames 1073741825|--frames" "--frames 99999999999999999999|--frames" \
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
# Each part as one uninterrupted run, merged: the same samples bit for bit.
for range in "1 0" "201 1"; do
  set -- $range
  "$build/exegfx-still" --size 64x36 --first-frame "$1" --frames 200 -o "$work/single_$2.exr" \
    >/dev/null 2>&1 || fail "the single run of part $2 failed"
done
"$build/exegfx-merge" -o "$work/single400.exr" "$work/single_0.exr" "$work/single_1.exr" \
  2>/dev/null || fail "the single runs do not merge"
"$same_sums" "$work/out2/merged.exr" "$work/single400.exr" ||
  fail "the merged samples differ from the uninterrupted runs'"

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

# 5. Adaptive parts that stop at a noise level: each part at L sqrt(P), past
#    the rule's first decisions (frame 256), so that most pixels stop before
#    the part does; the merge of the parts lands near L.
level=20
submit_jobs --frames 3000 --parts 2 --size 32x18 --until-noise "$level" --adaptive --bin "$build" \
  "$work/out5"
states=$(wait_jobs)
[ "$(grep -c COMPLETED <<<"$states")" -eq 3 ] || fail "not every adaptive job completed: $states"
for i in 0 1; do
  info=$("$build/exegfx-merge" --info "$work/out5/part_$i.exr")
  grep -q 'adaptive="level=28.2843 ' <<<"$info" ||
    fail "part $i was not an adaptive render stopping at $level sqrt(2): $info"
  # samples=MIN/MEDIAN/MAX: more than half the pixels stopped before the last.
  read -r median most < <(sed -n 's|.* samples=[0-9]*/\([0-9]*\)/\([0-9]*\) .*|\1 \2|p' <<<"$info")
  [ -n "$median" ] && [ "$median" -lt "$most" ] && [ "$most" -gt 256 ] ||
    fail "part $i's rule stopped no pixel: $info"
done
figure=$(sed -n 's/^Merged 2 parts: .* noise_p95=\([0-9.]*\).*/\1/p' "$work/out5/merge.log")
[ -n "$figure" ] || fail "no merge of the adaptive parts"
echo "adaptive parts at $level sqrt(2) merged to noise_p95=$figure"
awk -v f="$figure" -v l="$level" 'BEGIN { exit !(f <= 1.15 * l && f >= 0.6 * l) }' ||
  fail "the merged noise_p95=$figure is not near the level $level"
echo "PASS"

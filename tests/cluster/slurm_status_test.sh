#!/usr/bin/env bash
# cluster/slurm_status.sh on a real single-node Slurm cluster:
#  1. bad input exits 2 with a message and changes nothing: a folder that is
#     no farm's, no Slurm on the PATH, a damaged part;
#  2. parts running: the table and exit status 3; previews taken over and
#     over while the tasks replace their parts, some of them across a rename;
#     a part sent its time limit's warning shows as requeued; --watch on a log
#     prints its fixed-form lines and ends with 0 once the picture is written;
#     jobs that Slurm has forgotten are told from the files;
#  3. a part that fails and the merge job it cancels: exit 1, the part's last
#     log line and the command that continues.
# Usage: slurm_status_test.sh BUILD_DIR WORKDIR
set -uo pipefail
build=$(cd "$1" && pwd)
work=$2
here=$(cd "$(dirname "$0")" && pwd)
cluster=$(cd "$here/../../cluster" && pwd)
submit="$cluster/slurm_render.sh"
status="$cluster/slurm_status.sh"
# shellcheck source=slurm_cluster_lib.sh
source "$here/slurm_cluster_lib.sh"
start_cluster

# Runs the status command; its output in out, its exit status in rc.
run_status() {
  rc=0
  out=$("$status" "$@" 2>&1) || rc=$?
}
expect() {
  [ "$rc" -eq "$1" ] && grep -q -- "$2" <<<"$out" ||
    fail "slurm_status.sh exited $rc, not $1 with \"$2\": $out"
}
# A folder's names, sizes and times, to tell that nothing changed.
listing() { find "$1" -printf '%p %s %T@\n' | sort; }

# 1. Bad input, before any job: no farm folder, no Slurm, a damaged part.
mkdir -p "$work/plain"
run_status "$work/plain"
expect 2 "no farm folder"
[ -z "$(ls -A "$work/plain")" ] || fail "the status command wrote into a plain folder"
run_status --watch 0 "$work/plain"
expect 2 "--watch takes seconds"

# 2. Two parts of 300 frames, checkpointing all the time.
out2="$work/out2"
submit_jobs --frames 600 --parts 2 --size 64x36 --checkpoint-every 0.05 --bin "$build" "$out2"
for i in 0 1; do
  wait_log "$out2/part_$i.log" "^checkpoint frames=\\([5-9]\\|[1-9][0-9]\\+\\)/"
done
run_status "$out2"
expect 3 "^   0  running  *[0-9]*/300 "
grep -q "^   1  running  *[0-9]*/300 " <<<"$out" && grep -q "^merge job: waiting" <<<"$out" &&
  grep -q "^time left: about " <<<"$out" || fail "no running table: $out"

# The time limit's warning: the part writes its frames and requeues itself.
scancel --signal=TERM --batch "${parts_job}_0" || fail "could not signal part 0"
for _ in $(seq 100); do
  run_status "$out2"
  grep -q "^   0  requeued  *[0-9]*/300  *1 " <<<"$out" && break
  sleep 0.1
done
expect 3 "^   0  requeued  *[0-9]*/300  *1 "

# Previews while the tasks replace their parts: each is written whole, and
# those during which a part was replaced show that reads met a rename.
met=0
for n in $(seq 30); do
  before=$(stat -c %i "$out2/part_0.exr" "$out2/part_1.exr")
  run_status --preview "$work/preview.png" "$out2"
  [ "$rc" -eq 3 ] || [ "$rc" -eq 0 ] && grep -q "Merged 2 parts: .* noise_p95=" <<<"$out" ||
    fail "preview $n failed while the parts were written: $out"
  [ "$before" = "$(stat -c %i "$out2/part_0.exr" "$out2/part_1.exr")" ] || met=$((met + 1))
  python3 -c 'import sys; d = open(sys.argv[1], "rb").read(); sys.exit(d[:8] != b"\x89PNG\r\n\x1a\n" or not d.endswith(b"IEND\xaeB`\x82"))' \
    "$work/preview.png" || fail "preview $n is not a whole PNG"
  [ "$rc" -eq 3 ] || break
done
echo "$met of $n previews met a rename"
[ "$met" -gt 0 ] || fail "no preview met a rename: the test proves nothing"

# Bad input while it runs: no Slurm on the PATH, a damaged part (a copy of
# the folder, with the jobs' records), and nothing changed by either.
mkdir -p "$work/noslurm"
for f in /usr/bin/*; do
  case ${f##*/} in squeue | sacct) ;; *) ln -s "$f" "$work/noslurm/" ;; esac
done
PATH="$work/noslurm" run_status "$out2"
expect 2 "no squeue"
cp -a "$out2" "$work/damaged"
# Pixel data that does not decompress, which only the preview reads; then a
# header cut short.
size=$(stat -c %s "$work/damaged/part_0.exr")
printf '\xff\xff\xff\xff' |
  dd of="$work/damaged/part_0.exr" bs=1 seek=$((size - 100)) conv=notrunc status=none
before=$(listing "$work/damaged")
run_status --preview "$work/damaged.png" "$work/damaged"
expect 2 "^    \"$work/damaged/part_0.exr\" is damaged"
[ "$before" = "$(listing "$work/damaged")" ] ||
  fail "the damaged folder was changed: $(diff <(echo "$before") <(listing "$work/damaged"))"
head -c 200 "$out2/part_1.exr" >"$work/damaged/part_1.exr"
before=$(listing "$work/damaged")
run_status --preview "$work/damaged.png" "$work/damaged"
expect 2 "part_1.exr.* damaged"
[ ! -e "$work/damaged.png" ] || fail "a preview was written from a damaged part"
[ "$before" = "$(listing "$work/damaged")" ] ||
  fail "the damaged folder was changed: $(diff <(echo "$before") <(listing "$work/damaged"))"

# To the end, watched on a log.
rc=0
"$status" --watch 0.5 "$out2" >"$work/watch.log" 2>&1 || rc=$?
out=$(cat "$work/watch.log")
expect 0 "^Written: $out2/hall.png. Merged 2 parts"
grep -q "^farm time=.* frames=[0-9]*/600 running=[0-9] .* left_s=-\?[0-9]* noise_p95=" <<<"$out" &&
  grep -q "^   0  completed  *300/300  *1 " <<<"$out" ||
  fail "no log lines or final table: $out"

# Jobs that Slurm no longer knows (squeue forgets them, and this cluster
# keeps no accounting): the parts and the picture tell.
cp -a "$out2" "$work/forgotten"
sed -i 's/^array=.*/array=99998/; s/^merge=.*/merge=99999/' "$work/forgotten/slurm_jobs"
run_status "$work/forgotten"
expect 0 "^Written: $work/forgotten/hall.png"
[ "$(grep -c "^   [01]  completed  *300/300 " <<<"$out")" -eq 2 ] || fail "not told by the files: $out"

# 3. A GPU task whose GPU does not open fails at once; the merge is cancelled.
submit_jobs --frames 2 --parts 1 --size 64x36 --gpus-per-task 1 --bin "$build" "$work/out3"
wait_jobs >/dev/null
run_status "$work/out3"
expect 1 "^   0  failed "
grep -q "^merge job: cancelled" <<<"$out" && grep -q "^Part 0 failed" <<<"$out" &&
  grep -q "^    part 0: not rendered, .* not requeued" <<<"$out" &&
  grep -qF "    $submit --frames 2 --parts 1 --size 64x36 --gpus-per-task 1 --bin $build $work/out3" \
    <<<"$out" || fail "the failure and what to do are not said: $out"
echo "PASS"

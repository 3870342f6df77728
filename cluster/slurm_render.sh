#!/usr/bin/env bash
# Renders one picture on a Slurm cluster: a job array of frame ranges, one
# partial render (.exr) per task, and a merge job that runs once every task has
# succeeded and checks from the parts' metadata that no frame is missing.
#
#   cluster/slurm_render.sh [options] DIR
#
#   --frames N            frames of the picture (default 2048)
#   --parts P             array tasks, each a range of about N/P frames (default 16)
#   --size WxH            picture size (default 1920x1080)
#   --checkpoint-every S  seconds between a task's checkpoints (default 600)
#   --time T              each task's time limit, as sbatch --time takes it
#                         (default: the partition's)
#   --gpus-per-task G     GPUs per task (--gres=gpu:G); each task renders on the
#                         first GPU Slurm gives it (default: none)
#   --cpus-per-task C     cores per task; llvmpipe renders with C threads, so CPU
#                         tasks never crowd a node (default 1)
#   --until-noise L       stop each part once its noise figure is at most L times
#                         the square root of P, so that the merged picture lands
#                         near L (in 8-bit levels; --frames stays the cap)
#   --adaptive            with --until-noise: each pixel of a part stops on its
#                         own (exegfx-still --adaptive)
#   --allow-software      a task whose GPU does not open renders on the CPU,
#                         hundreds of times slower; without it such a task fails
#                         at once, saying what the node lacks, and is not requeued
#   --picture NAME        the merged picture in DIR: .png, .pfm or .exr (default hall.png)
#   --bin D               folder holding exegfx-still and exegfx-merge, on a file
#                         system every node sees (default: the bundle's bin/ when
#                         this script runs from an unpacked bundle, else the build
#                         folder beside it)
#   --sbatch ARGS         more sbatch options for both jobs, e.g. "--partition=gpu"
#
# DIR must be on a shared file system too: tasks write DIR/part_I.exr and
# DIR/part_I.log (appended to on every restart), the merge job DIR/merged.exr
# (the exact sum of all frames, which can be merged again) and DIR/NAME.
# Prints the two job ids and records them, with the values the jobs run with
# and the command that continues them, in DIR/slurm_jobs (replaced at each
# submission), from which cluster/slurm_status.sh DIR reports how far the
# picture is. Numbers are whole and decimal (a leading zero counts for
# nothing); a % in DIR is kept as it is; DIR may not hold a backslash, which
# sbatch takes as turning off its log names' patterns.
#
# Nothing is submitted unless every value is one the jobs can use: those the
# tasks and the merge hand on to exegfx-still and exegfx-merge (size, frames
# and their cap, checkpoint, picture format, writable files in DIR) are put to
# exegfx-still --check first. A refused command exits with status 2 and leaves
# no folder it made.
#
# One command ends with the picture, whatever time limits and preemptions the
# tasks meet: a task stops 60 s before its time limit (a quarter of the limit
# for limits under 4 minutes) with its frames written and requeues itself if
# it gained frames; a preempted task is requeued by Slurm; either continues
# from its file. A task requeues itself alone (its array job id and index;
# its own job id may be the array's, which names every task). A task that gains no frame in a run fails, and the merge job is
# then cancelled: running the same command again continues every part that did
# not finish; parts that did are recognised as complete at once.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
given=("$@")

frames=2048 parts=16 size=1920x1080 checkpoint=600 time="" picture=hall.png
gpus="" cpus=1 extra="" allow="" noise="" adaptive=""
bin="$here/../build"
[ -x "$here/../bin/exegfx-still" ] && bin="$here/../bin"
usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }
case " $* " in *" --help "* | *" -h "*) usage; exit 0 ;; esac
while [ $# -gt 1 ]; do
  case $1 in
  --allow-software) allow=1; shift; continue ;;
  --adaptive) adaptive=1; shift; continue ;;
  --until-noise) noise=$2 ;;
  --frames) frames=$2 ;;
  --parts) parts=$2 ;;
  --size) size=$2 ;;
  --checkpoint-every) checkpoint=$2 ;;
  --time) time=$2 ;;
  --gpus-per-task) gpus=$2 ;;
  --cpus-per-task) cpus=$2 ;;
  --picture) picture=$2 ;;
  --bin) bin=$2 ;;
  --sbatch) extra=$2 ;;
  *) usage >&2; exit 2 ;;
  esac
  shift 2
done
[ $# -eq 1 ] && [ "${1#-}" = "$1" ] || { usage >&2; exit 2; }
dir=$1

# Everything is checked before the first sbatch: an array that cannot succeed
# is never submitted.
refuse() {
  echo "slurm_render.sh: $*" >&2
  exit 2
}
# VAR holds a whole number: rewritten in base 10 without leading zeros (which
# the tasks' bash arithmetic would read as octal); past nine digits it is
# refused before any arithmetic wraps.
whole() {
  local text=${!1}
  case $text in "" | *[!0-9]*) refuse "$2 takes a whole number, like 16; got \"$text\"" ;; esac
  text=${text#"${text%%[!0]*}"}
  [ ${#text} -le 9 ] || refuse "$2 ${!1} is far too large"
  printf -v "$1" %d "${text:-0}"
}
whole frames --frames
whole parts --parts
whole cpus --cpus-per-task
[ -z "$adaptive" ] || [ -n "$noise" ] ||
  refuse "--adaptive needs --until-noise L: each pixel stops once it is within L levels"
# Each of P parts holds about 1/P of the samples, so its noise is about sqrt(P)
# times the merged picture's.
part_noise=""
if [ -n "$noise" ]; then
  [[ $noise =~ ^([0-9]+\.?[0-9]*|\.[0-9]+)$ ]] ||
    refuse "--until-noise takes a noise level above 0, like 2 or 0.5; got \"$noise\""
  # Six digits as before (a part's stopping rule records them, and resumes
  # only with the same), in plain decimals where that would take an exponent,
  # the only form exegfx-still takes; a level that rounds to 0 or overflows
  # is refused here, by the value as typed.
  part_noise=$(awk -v l="$noise" -v p="$parts" 'BEGIN { x = l * sqrt(p); v = sprintf("%.6g", x)
    if (v ~ /e/) { v = sprintf("%.12f", x); sub(/0+$/, "", v); sub(/\.$/, "", v) }
    print v }')
  [[ $part_noise =~ ^[0-9]+(\.[0-9]+)?$ ]] ||
    refuse "--until-noise $noise is far too large for a noise level in 8-bit levels"
  [[ $part_noise =~ [1-9] ]] ||
    refuse "--until-noise $noise is too small: each part stops at $noise x sqrt($parts) levels," \
      "which rounds to 0"
fi
[ -z "$gpus" ] || whole gpus --gpus-per-task
[ "$cpus" -ge 1 ] || refuse "--cpus-per-task must be at least 1"
[ "$gpus" != 0 ] || gpus=""
if [ "$parts" -lt 1 ] || [ "$frames" -lt "$parts" ]; then
  refuse "--parts must be from 1 to the frame count ($frames)"
fi
# A part is one run of exegfx-still, whose sums are 32-bit float: it holds at
# most 131072 frames (exegfx-still's --frames cap); the picture may hold more.
largest=$(((frames + parts - 1) / parts))
[ "$largest" -le 131072 ] || refuse "--frames $frames in $parts parts gives parts of \
$largest frames; a part holds at most 131072 (one run's 32-bit sums): ask for at \
least $(((frames + 131071) / 131072)) parts"
case $picture in
"") refuse "--picture needs a file name, like hall.png" ;;
merged.exr | part_[0-9]*.exr) refuse "--picture $picture would replace a file the jobs write in DIR" ;;
esac
# sbatch's --output expands %-patterns, which %% escapes, and takes a
# backslash as turning them all off, which nothing escapes.
case $dir in
"") refuse "DIR is empty" ;;
*\\*) refuse "DIR \"$dir\" holds a backslash, which sbatch's log names cannot take" ;;
esac
for p in exegfx-still exegfx-merge; do
  [ -x "$bin/$p" ] || refuse "no $bin/$p: build it, or give --bin"
done
# Seconds of sbatch's time forms: M, M:S, H:M:S, D-H, D-H:M, D-H:M:S.
seconds_of() {
  local t=$1 d=0 a b c
  case $t in *-*) d=${t%%-*} t=${t#*-} ;; esac
  IFS=: read -r a b c <<<"$t"
  case $1 in
  *-*) echo $((((10#$d * 24 + 10#$a) * 60 + 10#${b:-0}) * 60 + 10#${c:-0})) ;;
  *:*:*) echo $(((10#$a * 60 + 10#$b) * 60 + 10#$c)) ;;
  *:*) echo $((10#$a * 60 + 10#$b)) ;;
  *) echo $((10#$a * 60)) ;;
  esac
}
warn=60
case $time in
"" | UNLIMITED | unlimited | INFINITE | infinite) ;;
*)
  [[ $time =~ ^([0-9]{1,6}-)?[0-9]{1,6}(:[0-9]{1,6}){0,2}$ ]] ||
    refuse "--time: \"$time\" is not a time limit sbatch takes, like 90, 2:00:00 or 1-12"
  limit=$(seconds_of "$time")
  [ "$limit" -ge 240 ] || warn=$((limit / 4 > 5 ? limit / 4 : 5))
  ;;
esac

# DIR is made for exegfx-still's checks of the files in it, and the folders
# made are removed again if they fail.
made=()
d=$dir
while [ ! -e "$d" ] && [ ! -L "$d" ]; do
  made+=("$d")
  d=$(dirname "$d")
done
unmake() {
  for d in "${made[@]}"; do rmdir "$d" 2>/dev/null || true; done
  exit 2
}
mkdir -p "$dir" || unmake
dir=$(cd "$dir" && pwd)
bin=$(cd "$bin" && pwd)
# exegfx-still's own checks of the values a task or the merge job will use.
still_check() {
  "$bin/exegfx-still" --check --size "$size" --checkpoint-every "$checkpoint" \
    ${part_noise:+--until-noise "$part_noise"} ${adaptive:+--adaptive} "$@" || unmake
}
# The frames of part I, as render_part.sbatch splits them.
part_frames() {
  local base=$((frames / parts)) rest=$((frames % parts))
  count=$((base + ($1 < rest ? 1 : 0)))
  first=$((1 + $1 * base + ($1 < rest ? $1 : rest)))
}
# The picture (exegfx-merge takes the same output formats, and makes the same
# check of the path); the first part is the largest, the last the furthest.
still_check --frames 1 -o "$dir/$picture"
for i in 0 $((parts - 1)); do
  part_frames "$i"
  still_check --first-frame "$first" --frames "$count" --resume -o "$dir/part_$i.exr"
done
logs=${dir//[%]/%%}

# DIR/slurm_jobs, written whole: the jobs, the values they run with and the
# command that continues them, with the folder and --bin made absolute.
record_jobs() {
  local again=("$here/slurm_render.sh") k record command
  for ((k = 0; k < ${#given[@]} - 1; k++)); do
    again+=("${given[k]}")
    [ "${given[k]}" != --bin ] || { again+=("$bin"); k=$((k + 1)); }
  done
  again+=("$dir")
  command=$(printf '%q ' "${again[@]}")
  record="$dir/.slurm_jobs.$$"
  rm -f "$record" &&
    printf '%s\n' "# The jobs of the latest cluster/slurm_render.sh in this folder." \
      "array=$array" "merge=$merge" "parts=$parts" "frames=$frames" "size=$size" \
      "picture=$picture" "until_noise=$noise" "part_noise=$part_noise" "bin=$bin" \
      "submitted=$(date +%s)" "command=${command% }" >"$record" &&
    mv -f "$record" "$dir/slurm_jobs" || {
    rm -f "$record"
    echo "slurm_render.sh: warning: could not record the job ids in $dir/slurm_jobs;" \
      "cluster/slurm_status.sh cannot follow these jobs" >&2
  }
}

export EXEGFX_BIN="$bin" EXEGFX_DIR="$dir" EXEGFX_FRAMES="$frames" EXEGFX_PARTS="$parts" \
  EXEGFX_SIZE="$size" EXEGFX_CHECKPOINT="$checkpoint" EXEGFX_PICTURE="$picture" \
  EXEGFX_THREADS="$cpus" EXEGFX_ALLOW_SOFTWARE="$allow" EXEGFX_PART_NOISE="$part_noise" \
  EXEGFX_ADAPTIVE="$adaptive"
# shellcheck disable=SC2086 # extra holds several options
array=$(sbatch --parsable --job-name=exegfx-parts --array="0-$((parts - 1))" \
  --requeue --signal=B:TERM@"$warn" ${time:+--time="$time"} --cpus-per-task="$cpus" \
  ${gpus:+--gres=gpu:"$gpus"} \
  --output="$logs/part_%a.log" --open-mode=append --export=ALL $extra "$here/render_part.sbatch")
array=${array%%;*}
# An array without its merge job would render for nothing.
# shellcheck disable=SC2086
merge=$(sbatch --parsable --job-name=exegfx-merge --dependency="afterok:$array" \
  --kill-on-invalid-dep=yes --output="$logs/merge.log" --export=ALL $extra \
  "$here/merge_parts.sbatch") || {
  scancel "$array"
  echo "slurm_render.sh: the merge job was refused (see above); job $array is cancelled" >&2
  exit 1
}
merge=${merge%%;*}
record_jobs
echo "parts: job $array (array of $parts), merge: job $merge -> $dir/$picture"

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
# Prints the two job ids.
#
# One command ends with the picture, whatever time limits and preemptions the
# tasks meet: a task stops 60 s before its time limit (a quarter of the limit
# for limits under 4 minutes) with its frames written and requeues itself if
# it gained frames; a preempted task is requeued by Slurm; either continues
# from its file. A task that gains no frame in a run fails, and the merge job is
# then cancelled: running the same command again continues every part that did
# not finish; parts that did are recognised as complete at once.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

frames=2048 parts=16 size=1920x1080 checkpoint=600 time="" picture=hall.png
gpus="" cpus=1 extra=""
bin="$here/../build"
[ -x "$here/../bin/exegfx-still" ] && bin="$here/../bin"
usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }
case " $* " in *" --help "* | *" -h "*) usage; exit 0 ;; esac
while [ $# -gt 1 ]; do
  case $1 in
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
case "$frames$parts$gpus$cpus" in
*[!0-9]*) echo "--frames, --parts, --gpus-per-task and --cpus-per-task take whole numbers" >&2; exit 2 ;;
esac
[ "$cpus" -ge 1 ] || { echo "--cpus-per-task must be at least 1" >&2; exit 2; }
[ "$gpus" != 0 ] || gpus=""
if [ "$parts" -lt 1 ] || [ "$frames" -lt "$parts" ]; then
  echo "--parts must be from 1 to the frame count ($frames)" >&2
  exit 2
fi
for p in exegfx-still exegfx-merge; do
  [ -x "$bin/$p" ] || { echo "no $bin/$p: build it, or give --bin" >&2; exit 2; }
done
# Seconds of sbatch's time forms: M, M:S, H:M:S, D-H, D-H:M, D-H:M:S.
seconds_of() {
  local t=$1 d=0 a b c
  case $t in *-*) d=${t%%-*} t=${t#*-} ;; esac
  IFS=: read -r a b c <<<"$t"
  case $1 in
  *-*) echo $((((d * 24 + 10#$a) * 60 + 10#${b:-0}) * 60 + 10#${c:-0})) ;;
  *:*:*) echo $(((10#$a * 60 + 10#$b) * 60 + 10#$c)) ;;
  *:*) echo $((10#$a * 60 + 10#$b)) ;;
  *) echo $((10#$a * 60)) ;;
  esac
}
warn=60
case $time in
"" | UNLIMITED | unlimited | INFINITE | infinite) ;;
*[!0-9:-]*) echo "--time: \"$time\" is not a time limit sbatch takes, like 90 or 2:00:00" >&2; exit 2 ;;
*)
  limit=$(seconds_of "$time")
  [ "$limit" -ge 240 ] || warn=$((limit / 4 > 5 ? limit / 4 : 5))
  ;;
esac
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
bin=$(cd "$bin" && pwd)

export EXEGFX_BIN="$bin" EXEGFX_DIR="$dir" EXEGFX_FRAMES="$frames" EXEGFX_PARTS="$parts" \
  EXEGFX_SIZE="$size" EXEGFX_CHECKPOINT="$checkpoint" EXEGFX_PICTURE="$picture" \
  EXEGFX_THREADS="$cpus"
# shellcheck disable=SC2086 # extra holds several options
array=$(sbatch --parsable --job-name=exegfx-parts --array="0-$((parts - 1))" \
  --requeue --signal=B:TERM@"$warn" ${time:+--time="$time"} --cpus-per-task="$cpus" \
  ${gpus:+--gres=gpu:"$gpus"} \
  --output="$dir/part_%a.log" --open-mode=append --export=ALL $extra "$here/render_part.sbatch")
array=${array%%;*}
# shellcheck disable=SC2086
merge=$(sbatch --parsable --job-name=exegfx-merge --dependency="afterok:$array" \
  --kill-on-invalid-dep=yes --output="$dir/merge.log" --export=ALL $extra \
  "$here/merge_parts.sbatch")
merge=${merge%%;*}
echo "parts: job $array (array of $parts), merge: job $merge -> $dir/$picture"

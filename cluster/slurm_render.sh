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
#   --picture NAME        the merged picture in DIR: .png, .pfm or .exr (default hall.png)
#   --bin D               folder holding exegfx-still and exegfx-merge, on a file
#                         system every node sees (default: the build folder beside
#                         this script)
#   --sbatch ARGS         more sbatch options for both jobs, e.g. "--partition=gpu"
#
# DIR must be on a shared file system too: tasks write DIR/part_I.exr and
# DIR/part_I.log (appended to on every restart), the merge job DIR/merged.exr
# (the exact sum of all frames, which can be merged again) and DIR/NAME.
# Prints the two job ids.
#
# Each task stops 60 s before its time limit with its frames written, and a
# preempted or requeued task continues from its last checkpoint. Running the
# same command again continues every part that did not finish; parts that did
# are recognised as complete at once.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

frames=2048 parts=16 size=1920x1080 checkpoint=600 time="" picture=hall.png
bin="$here/../build" extra=""
usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }
case " $* " in *" --help "* | *" -h "*) usage; exit 0 ;; esac
while [ $# -gt 1 ]; do
  case $1 in
  --frames) frames=$2 ;;
  --parts) parts=$2 ;;
  --size) size=$2 ;;
  --checkpoint-every) checkpoint=$2 ;;
  --time) time=$2 ;;
  --picture) picture=$2 ;;
  --bin) bin=$2 ;;
  --sbatch) extra=$2 ;;
  *) usage >&2; exit 2 ;;
  esac
  shift 2
done
[ $# -eq 1 ] && [ "${1#-}" = "$1" ] || { usage >&2; exit 2; }
dir=$1
case "$frames$parts" in *[!0-9]*) echo "--frames and --parts take whole numbers" >&2; exit 2 ;; esac
if [ "$parts" -lt 1 ] || [ "$frames" -lt "$parts" ]; then
  echo "--parts must be from 1 to the frame count ($frames)" >&2
  exit 2
fi
for p in exegfx-still exegfx-merge; do
  [ -x "$bin/$p" ] || { echo "no $bin/$p: build it, or give --bin" >&2; exit 2; }
done
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
bin=$(cd "$bin" && pwd)

export EXEGFX_BIN="$bin" EXEGFX_DIR="$dir" EXEGFX_FRAMES="$frames" EXEGFX_PARTS="$parts" \
  EXEGFX_SIZE="$size" EXEGFX_CHECKPOINT="$checkpoint" EXEGFX_PICTURE="$picture"
# shellcheck disable=SC2086 # extra holds several options
array=$(sbatch --parsable --job-name=exegfx-parts --array="0-$((parts - 1))" \
  --requeue --signal=B:TERM@60 ${time:+--time="$time"} --cpus-per-task=1 \
  --output="$dir/part_%a.log" --open-mode=append --export=ALL $extra "$here/render_part.sbatch")
array=${array%%;*}
# shellcheck disable=SC2086
merge=$(sbatch --parsable --job-name=exegfx-merge --dependency="afterok:$array" \
  --kill-on-invalid-dep=yes --output="$dir/merge.log" --export=ALL $extra \
  "$here/merge_parts.sbatch")
merge=${merge%%;*}
echo "parts: job $array (array of $parts), merge: job $merge -> $dir/$picture"

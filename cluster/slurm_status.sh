#!/usr/bin/env bash
# How far a picture that cluster/slurm_render.sh submitted has come: a table of
# its parts, the total, the time left, and what needs you.
#
#   cluster/slurm_status.sh [--watch S] [--preview FILE.png] DIR
#
#   --watch S           report again every S seconds until the picture is
#                       written or something fails: redrawn on a terminal, one
#                       fixed-form line per report on a log
#   --preview FILE.png  also merge the parts as they are now into FILE.png, with
#                       its noise figure (parts that disagree are merged anyway,
#                       and named); the parts are only read
#
# It reads DIR/slurm_jobs (the jobs the latest submission recorded), the
# parts' headers (exegfx-merge --header: no pixels), their logs, and Slurm's
# squeue, or sacct for jobs that squeue has forgotten. One row per part: its
# Slurm state (a pending task that has run before shows as requeued), the
# frames it holds of its range, its restarts (runs its log shows, less one),
# the age of its last checkpoint and its noise figure (against its target L
# sqrt(P) under --until-noise). Then the total, the merge job's state and the
# time left, estimated as the frames still to render over the rate at which
# the running parts render them together now (each one's frames gained since
# its run started over the time to its last checkpoint), or the slowest
# running part's own time left where that is longer. It assumes as many parts
# keep running at once as now, and leaves out time spent waiting in the queue
# and restarting. Under --until-noise a part's frames still to render follow
# from noise falling as one over the square root of the frames.
#
# Exit status: 0 the picture is written, 3 still running (or waiting), 1
# something failed (the lines after the table say what to do), 2 bad input
# (no farm folder, no Slurm, a damaged part, a preview that cannot be
# written), with a message and nothing changed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() { sed -n '2,/^set -uo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }
refuse() {
  echo "slurm_status.sh: $*" >&2
  exit 2
}
case " $* " in *" --help "* | *" -h "*) usage; exit 0 ;; esac
watch="" preview=""
while [ $# -gt 1 ]; do
  case $1 in
  --watch) watch=$2 ;;
  --preview) preview=$2 ;;
  *) usage >&2; exit 2 ;;
  esac
  shift 2
done
[ $# -eq 1 ] && [ "${1#-}" = "$1" ] || { usage >&2; exit 2; }
dir=$1
[ -z "$watch" ] || [[ $watch =~ ^([0-9]+\.?[0-9]*|\.[0-9]+)$ && ! $watch =~ ^[0.]+$ ]] ||
  refuse "--watch takes seconds above 0, like 30; got \"$watch\""
# shellcheck source-path=SCRIPTDIR
source "$here/status_report.sh"
source "$here/status_preview.sh"

read_record
[ -z "$preview" ] || check_preview
command -v squeue >/dev/null ||
  refuse "no squeue here: run this where Slurm's commands work (a login node of the cluster)"

if [ -z "$watch" ]; then
  report
  status=$?
  echo "$table"
  [ -z "$preview" ] || write_preview || exit 2
  exit "$status"
fi
while :; do
  report
  status=$?
  if [ -t 1 ]; then
    printf '\033[H\033[2J%s\n' "$table"
  else
    echo "$line"
  fi
  [ -z "$preview" ] || write_preview || exit 2
  if [ "$status" -ne 3 ]; then
    [ -t 1 ] || echo "$table"
    exit "$status"
  fi
  sleep "$watch"
done

# shellcheck shell=bash
# The report of cluster/slurm_status.sh, sourced by it: what a farm's folder,
# its parts and Slurm say, in a table (table), one fixed-form line (line) and
# an exit status (0 written, 1 failed, 3 running).

# DIR/slurm_jobs, as slurm_render.sh wrote it: never run, only read.
read_record() {
  local file="$dir/slurm_jobs" l v
  [ -d "$dir" ] || refuse "no folder \"$dir\""
  [ -f "$file" ] || refuse "\"$dir\" is no farm folder: it has no slurm_jobs, which" \
    "cluster/slurm_render.sh writes there when it submits"
  array="" merge="" parts="" frames="" size="" picture="" until_noise="" part_noise=""
  bin="" submitted="" again=""
  while IFS= read -r l; do
    case $l in
    array=* | merge=* | parts=* | frames=* | size=* | picture=* | until_noise=* | \
      part_noise=* | bin=* | submitted=*) printf -v "${l%%=*}" %s "${l#*=}" ;;
    command=*) again=${l#command=} ;;
    esac
  done <"$file" || refuse "cannot read $file"
  for v in array merge parts frames submitted; do
    [[ ${!v} =~ ^[0-9]{1,12}$ ]] || refuse "$file is damaged: it holds no $v"
  done
  [ "$parts" -ge 1 ] && [ "$parts" -le "$frames" ] && [ -n "$picture" ] && [ -n "$bin" ] ||
    refuse "$file is damaged: its parts, frames, picture or bin do not fit together"
  for v in until_noise part_noise; do
    [[ -z ${!v} || ${!v} =~ ^[0-9.e+-]+$ ]] || refuse "$file is damaged: $v=${!v}"
  done
  [ -x "$bin/exegfx-merge" ] ||
    refuse "no $bin/exegfx-merge, the program the jobs run with, to read the parts with"
}

# Slurm's view into st_KEY, restarts_KEY and began_KEY (KEY: a task's index or
# "merge"): squeue, then sacct for the jobs squeue no longer lists.
read_slurm() {
  local out id s r b key v missing=""
  unset "${!st_@}" "${!restarts_@}" "${!began_@}"
  if ! out=$(squeue -h -r -t all -j "$array,$merge" \
    -O "JobArrayID:|,State:|,RestartCnt:|,StartTime:|" 2>&1); then
    # Every id forgotten is an error too.
    grep -q "Invalid job id" <<<"$out" || refuse "Slurm does not answer: ${out//$'\n'/ }"
    out=""
  fi
  while IFS='|' read -r id s r b; do
    key=$(slurm_key "$id") || continue
    printf -v "st_$key" %s "$s"
    [[ $r =~ ^[0-9]+$ ]] && printf -v "restarts_$key" %s "$r"
    printf -v "began_$key" %s "$b"
  done <<<"$out"
  for key in merge $(seq 0 $((parts - 1))); do
    v="st_$key"
    [ -n "${!v:-}" ] || missing=1
  done
  [ -n "$missing" ] || return 0
  out=$(sacct -n -P -X -j "$array,$merge" -o JobID,State 2>/dev/null) || return 0
  while IFS='|' read -r id s; do
    key=$(slurm_key "$id") || continue
    v="st_$key"
    [ -n "${!v:-}" ] || printf -v "st_$key" %s "${s%% *}" # "CANCELLED by 0"
  done <<<"$out"
}

# "ARRAY_I" to I, the merge job's id to "merge"; nothing else.
slurm_key() {
  case $1 in
  "$merge") echo merge ;;
  "${array}_"*) [[ ${1#"${array}_"} =~ ^[0-9]+$ ]] && echo "${1#"${array}_"}" ;;
  *) return 1 ;;
  esac
}

# Seconds as exegfx-still's progress line gives them: 45s, 3m 05s, 2h 10m.
duration() {
  local s=$1
  if [ "$s" -lt 60 ]; then
    echo "${s}s"
  elif [ "$s" -lt 3600 ]; then
    printf '%dm %02ds\n' $((s / 60)) $((s % 60))
  else
    printf '%dh %02dm\n' $((s / 3600)) $((s / 60 % 60))
  fi
}

# What the parts' headers say, into count_I and noise_I (for parts that exist);
# a header that does not read is a damaged part, and refused.
read_headers() {
  local files=() lines=() i k out err line
  unset "${!count_@}" "${!noise_@}"
  for ((i = 0; i < parts; i++)); do
    [ -e "$dir/part_$i.exr" ] && files+=("$dir/part_$i.exr")
  done
  [ ${#files[@]} -gt 0 ] || return 0
  err=$(mktemp) || refuse "no temporary file for exegfx-merge's messages"
  if ! out=$("$bin/exegfx-merge" --header "${files[@]}" 2>"$err"); then
    line=$(head -n 3 "$err")
    rm -f "$err"
    refuse "a part is damaged: ${line#exegfx-merge: } Delete it and run the same command" \
      "again to render it anew: $again"
  fi
  rm -f "$err"
  # One line per part, in the order given.
  mapfile -t lines <<<"$out"
  for k in "${!files[@]}"; do
    line=${lines[k]#"${files[k]}: "}
    i=${files[k]##*/part_} i=${i%.exr}
    [[ $line =~ \ count=([0-9]+)\  ]] && printf -v "count_$i" %s "${BASH_REMATCH[1]}"
    [[ $line =~ \ noise_p95=([^ ]+) ]] && printf -v "noise_$i" %s "${BASH_REMATCH[1]}"
  done
}

# The frames of part I, as render_part.sbatch splits them, into range.
part_range() {
  local base=$((frames / parts)) rest=$((frames % parts))
  range=$((base + ($1 < rest ? 1 : 0)))
}

# Slurm's state of part I in words; where Slurm has forgotten the task, from
# its files: a finished range or noise target, or the last line of a task
# that gave up.
part_state() {
  local i=$1 s r
  s="st_$i" r="restarts_$i"
  s=${!s:-} r=${!r:-0}
  case $s in
  PENDING) [ "$r" -gt 0 ] && s=REQUEUED ;;
  REQUEUE_HOLD | REQUEUE_FED) s=REQUEUED ;;
  "")
    s=UNKNOWN
    if [ "$count" -ge "$range" ] || { [ -n "$part_noise" ] && [ "$noise" != unknown ] &&
      awk -v n="$noise" -v t="$part_noise" 'BEGIN { exit !(n <= t) }'; }; then
      s=COMPLETED
    fi
    tail -n 1 "$dir/part_$i.log" 2>/dev/null |
      grep -q "not requeued\|failing rather than requeueing" && s=FAILED
    ;;
  esac
  echo "$s"
}

failed_state() {
  case $1 in FAILED | CANCELLED | TIMEOUT | NODE_FAIL | OUT_OF_MEMORY | BOOT_FAIL | DEADLINE) ;;
  *) return 1 ;; esac
}

# Part I's row of the table, and its figures for the total as "state count
# need rate checkpoint-time" on rows_data.
part_row() {
  local i=$1 log="$dir/part_$1.log" state c n r runs start held0 mtime began rate="" age="-" need
  part_range "$i"
  c="count_$i" n="noise_$i"
  count=${!c:-0} noise=${!n:-unknown}
  state=$(part_state "$i")
  runs=$(grep -c "^part $i (frames" "$log" 2>/dev/null) || runs=0
  # Its latest run: the frames it started with, and when (the log's start
  # line, or Slurm's start time for logs that do not give it).
  start=$(grep "^part $i (frames.*: holds [0-9]* frames" "$log" 2>/dev/null | tail -n 1)
  held0=$(sed -n 's/.*: holds \([0-9]*\) frames.*/\1/p' <<<"$start")
  began=$(sed -n 's/.* frames (started \(.*\))$/\1/p' <<<"$start")
  [ -n "$began" ] || [ "$state" != RUNNING ] || { began="began_$i" && began=${!began:-}; }
  began=$(date -d "${began:-none}" +%s 2>/dev/null) || began=""
  mtime=0
  if [ -e "$dir/part_$i.exr" ]; then
    mtime=$(stat -c %.3Y "$dir/part_$i.exr")
    age="$(duration $((now > ${mtime%.*} ? now - ${mtime%.*} : 0))) ago"
  fi
  # The rate of its latest run: frames gained since it started, over the time
  # to their checkpoint.
  if [ -n "$began" ] && [ -n "$held0" ] && [ "$count" -gt "$held0" ] &&
    [ "${mtime%.*}" -ge "$began" ]; then
    rate=$(awk -v f=$((count - held0)) -v s="$mtime" -v b="$began" \
      'BEGIN { r = s > b ? f / (s - b) : 0; printf "%.6g", r }')
  fi
  need=$range
  if [ -n "$part_noise" ] && [ "$noise" != unknown ] && [ "$count" -gt 0 ]; then
    need=$(awk -v c="$count" -v n="$noise" -v t="$part_noise" -v r="$range" 'BEGIN {
      x = c * (n / t) ^ 2; x = x == int(x) ? x : int(x) + 1
      x = x < c ? c : x > r ? r : x; print x }')
  fi
  [ "$state" != COMPLETED ] || need=$count
  [ "$noise" = unknown ] && noise=- || [ -z "$part_noise" ] || noise="$noise / $part_noise"
  # Restarts: the runs its log shows, or Slurm's requeues of this job if more.
  runs=$((runs > 0 ? runs - 1 : 0))
  r="restarts_$i"
  [ "${!r:-0}" -le "$runs" ] || runs=${!r}
  printf '%4d  %-10s %17s %8d  %-12s %s\n' "$i" "${state,,}" "$count/$range" "$runs" "$age" \
    "$noise"
  echo "$state $count $need ${rate:-0} $mtime ${!c:-0} ${!n:-unknown}" >>"$rows_data"
}

# The parts' figures summed: held needed running waiting completed failed
# left_s (-1 unknown) noise. A running part renders at its own rate, or, until
# its first checkpoint, at the mean rate of the parts that have one; its
# frames since its checkpoint count as done. The merged noise is that of the
# counts' weighted mean of the parts' figures.
totals() {
  awk -v now="$now" '
    NR == FNR { if ($4 > 0) { known += $4; rated++ } next }
    { c = $2; held += c; needed += $3 }
    c > 0 { if ($7 == "unknown") unknown = 1; else v += c * c * $7 * $7 }
    $1 == "COMPLETED" { completed++; next }
    $1 ~ /^(FAILED|CANCELLED|TIMEOUT|NODE_FAIL|OUT_OF_MEMORY|BOOT_FAIL|DEADLINE)$/ { failed++; next }
    $1 != "RUNNING" && $1 != "COMPLETING" { waiting++; work += $3 - c; next }
    { running++; left = $3 - c; r = $4 > 0 ? $4 : rated ? known / rated : 0
      if (r > 0) {
        if ($4 > 0) left -= r * (now - $5)
        if (left < 0) left = 0
        if (left / r > slowest) slowest = left / r
        rate += r
      }
      work += left }
    END {
      left = work <= 0 ? 0 : rate > 0 ? work / rate : -1
      if (rate > 0 && slowest > left) left = slowest
      noise = held > 0 && !unknown ? sprintf("%.3g", sqrt(v) / held) : "unknown"
      printf "%d %d %d %d %d %d %.0f %s\n", held, needed, running, waiting, completed, failed,
        left, noise }' \
    "$rows_data" "$rows_data"
}

# The merge job's state; where Slurm has forgotten it, from the picture and
# merge.log as they stand since the submission.
merge_state() {
  local s="${st_merge:-}" log="$dir/merge.log" out="$dir/$picture"
  case $s in
  PENDING) s=WAITING ;;
  "")
    s=UNKNOWN
    if [ -e "$out" ] && [ "$(stat -c %Y "$out")" -ge "$submitted" ]; then
      s=COMPLETED
    elif [ -e "$log" ] && [ "$(stat -c %Y "$log")" -ge "$submitted" ] && grep -q "exegfx-merge:" "$log"; then
      s=FAILED
    fi
    ;;
  esac
  echo "$s"
}

# What needs the user, and the exit status: 0 written, 1 failed, 3 running.
advice() {
  local i s log status=3
  for ((i = 0; i < parts; i++)); do
    s=$(awk -v k=$((i + 1)) 'NR == k { print $1 }' "$rows_data")
    failed_state "$s" || continue
    status=1
    log="$dir/part_$i.log"
    echo "Part $i ${s,,}. Its log, $log, ends:"
    echo "    $(tail -n 1 "$log" 2>/dev/null || echo "(no log)")"
  done
  case $merge_st in
  COMPLETED)
    if [ -e "$dir/$picture" ]; then
      echo "Written: $dir/$picture. $(grep -m 1 "^Merged" "$dir/merge.log" 2>/dev/null)"
      return 0
    fi
    echo "The merge job completed, but $dir/$picture is not there (moved or deleted since)."
    return 1
    ;;
  CANCELLED)
    echo "The merge job was cancelled, as a part did not finish."
    status=1
    ;;
  FAILED | TIMEOUT | NODE_FAIL | OUT_OF_MEMORY)
    echo "The merge job ${merge_st,,}; $dir/merge.log ends:"
    echo "    $(tail -n 1 "$dir/merge.log" 2>/dev/null || echo "(no log)")"
    status=1
    ;;
  UNKNOWN)
    if [ "$running$waiting" = 00 ] && [ "$status" != 1 ]; then
      echo "Slurm no longer knows the merge job, and it wrote no $picture."
      status=1
    fi
    ;;
  esac
  [ "$status" = 1 ] || return "$status"
  # A second writer of a part still rendering would be refused, and fail.
  [ "$running$waiting" = 00 ] ||
    echo "$((running + waiting)) parts still run or wait: let them finish (or scancel $array; they keep" \
      "their last checkpoint)."
  echo "Mend what the log says, then continue with the same command (finished parts are kept):"
  echo "    $again"
  return 1
}

# The report of the farm as it is now, into table and line; returns the exit
# status.
report() {
  local rows held needed running waiting completed failed left merged status what
  now=$(date +%s)
  read_slurm
  read_headers
  rows_data=$(mktemp) || refuse "no temporary file for the parts' figures"
  rows=$(for ((i = 0; i < parts; i++)); do part_row "$i"; done)
  read -r held needed running waiting completed failed left merged < <(totals)
  merge_st=$(merge_state)
  what=$(advice)
  status=$?
  rm -f "$rows_data"
  local goal="$held of $frames frames ($((held * 100 / frames))%)"
  [ -z "$until_noise" ] || goal="$held frames, about $needed needed for noise $until_noise ($frames at most)"
  local eta="unknown (no part has reached a checkpoint in its present run yet)"
  [ "$left" -lt 0 ] || eta="about $(duration "$left") (the frames left over the rate the running parts render at together)"
  local noise_text="about $merged levels from the parts' own figures"
  [ "$merged" != unknown ] || noise_text="not known yet"
  [ "$running$waiting" != 00 ] || eta="none for the parts; the merge job follows"
  [ "$status" = 3 ] || eta="-"
  table="$dir: $parts parts, frames 1-$frames at $size, to $picture (jobs $array, merge $merge)
part  state                 frames  restarts  checkpoint    noise_p95${part_noise:+ / target}
$rows
total: $goal; $running running, $waiting waiting, $completed completed, $failed failed
merge job: ${merge_st,,}; noise: $noise_text
time left: $eta${what:+
$what}"
  line="farm time=$(date -u -d "@$now" +%FT%TZ) frames=$held/$needed running=$running waiting=$waiting"
  line+=" completed=$completed failed=$failed merge=${merge_st,,} left_s=$left noise_p95=$merged"
  return "$status"
}

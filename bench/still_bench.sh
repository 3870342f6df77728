#!/usr/bin/env bash
# Frame time of the whole picture, through exegfx-still, at three sizes.
#
#   bench/still_bench.sh BUILD_DIR [FRAMES]
#
# Builds nothing: build the exegfx-still target in BUILD_DIR first. Each size is
# rendered twice, with 1 and with 1 + FRAMES frames (default 3); the difference
# is the steady frame time, free of the first frame's warm-up (drivers that
# finish compiling at the first draw). Sizes: STILL_BENCH_SIZES, default
# "1920x1080 960x540 480x270". To add a figure, add a size or a function below.
set -euo pipefail

build=${1:?usage: bench/still_bench.sh BUILD_DIR [FRAMES]}
frames=${2:-3}
read -r -a sizes <<<"${STILL_BENCH_SIZES:-1920x1080 960x540 480x270}"
still="$build/exegfx-still"
[ -x "$still" ] || {
  echo "no $still: build the exegfx-still target first" >&2
  exit 1
}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Renders SIZE for N frames; prints "device|total milliseconds".
render() {
  local log
  if ! log=$("$still" --size "$1" --frames "$2" -o "$work/bench.pfm" 2>&1 >/dev/null); then
    echo "$log" >&2
    exit 1
  fi
  local device ms done
  device=$(sed -n 's/^Rendering .* on \(.*\)$/\1/p' <<<"$log")
  ms=$(sed -n 's/.*(\([0-9.]*\) ms\/frame.*/\1/p' <<<"$log")
  done=$(sed -n 's/.*Wrote .*: \([0-9]*\) of .*/\1/p' <<<"$log")
  echo "$device|$(awk -v m="$ms" -v n="$done" 'BEGIN { printf "%.3f", m * n }')"
}

device=""
printf '%-10s %8s %14s %14s %16s\n' size frames "first ms" "ms/frame" "samples/s"
for size in "${sizes[@]}"; do
  one=$(render "$size" 1)
  more=$(render "$size" $((1 + frames)))
  device=${one%%|*}
  awk -v size="$size" -v n="$frames" -v t1="${one##*|}" -v t2="${more##*|}" 'BEGIN {
    split(size, wh, "x"); ms = (t2 - t1) / n
    if (ms <= 0) ms = t2 / (n + 1) # too fast to tell apart: the plain mean
    printf "%-10s %8d %14.1f %14.2f %16.0f\n", size, n, t1, ms, wh[1] * wh[2] * 1000 / ms
  }'
done
echo "device: $device"
echo "host: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"

#!/usr/bin/env bash
# What long renders in pieces cost, through the built programs:
#  1. a checkpoint at SIZE (default 1920x1080): the GL readback and file write
#     as exegfx-still does them, then write and read of the file alone, and a
#     checkpoint's share of the rendering time at a period of PERIOD seconds
#     (default 600, the Slurm script's);
#  2. an N-way split against one run of the same frames, in total CPU time
#     (user + system), at SPLIT_SIZE (default 480x270): the per-task start-up
#     (context, shader build, first draw) against the frames.
#
#   bench/partial_bench.sh BUILD_DIR
#   env: SIZE, PERIOD, SPLIT_SIZE, SPLIT_FRAMES (default 8), SPLIT_PARTS (default 4)
set -euo pipefail
build=${1:?usage: bench/partial_bench.sh BUILD_DIR}
size=${SIZE:-1920x1080} period=${PERIOD:-600}
split_size=${SPLIT_SIZE:-480x270} split_frames=${SPLIT_FRAMES:-8} parts=${SPLIT_PARTS:-4}
for p in exegfx-still exegfx-bench-partial; do
  [ -x "$build/$p" ] || { echo "no $build/$p: build it first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

echo "== checkpoint at $size"
# Three frames with a checkpoint after each of the first two.
log=$("$build/exegfx-still" --size "$size" --frames 3 --checkpoint-every 0.001 \
  -o "$work/p.exr" 2>&1 >/dev/null)
device=$(sed -n 's/^Rendering .* on \(.*\)$/\1/p' <<<"$log")
ms=$(sed -n 's/.*(\([0-9.]*\) ms\/frame.*/\1/p' <<<"$log")
cp=$(sed -n 's/^checkpoint .*write_s=\([0-9.]*\).*/\1/p' <<<"$log" | sort -n | head -1)
echo "device: $device"
echo "frame: $ms ms; checkpoint (readback + write + fsync): $cp s"
"$build/exegfx-bench-partial" "$work/p.exr" 3
awk -v c="$cp" -v p="$period" -v ms="$ms" 'BEGIN {
  printf "checkpoint every %d s: %.3f %% of the rendering time, one every %.0f frames\n",
    p, 100 * c / p, p * 1000 / ms }'

echo "== $parts-way split of $split_frames frames at $split_size, CPU time"
cpu() { # prints user+system seconds of the command
  local t
  TIMEFORMAT='%U %S'
  t=$({ time "$@" >/dev/null 2>&1; } 2>&1)
  awk '{ printf "%.2f", $1 + $2 }' <<<"$t"
}
# Each task on a fresh node builds the programs from scratch: Mesa's shader
# cache is off for the split. The warm figure is a rerun on the same machine.
cold=$(MESA_SHADER_CACHE_DISABLE=true cpu "$build/exegfx-still" --size 1x1 --frames 1 -o "$work/one.pfm")
cpu "$build/exegfx-still" --size 1x1 --frames 1 -o "$work/one.pfm" >/dev/null
warm=$(cpu "$build/exegfx-still" --size 1x1 --frames 1 -o "$work/one.pfm")
export MESA_SHADER_CACHE_DISABLE=true
single=$(cpu "$build/exegfx-still" --size "$split_size" --frames "$split_frames" -o "$work/s.exr")
per=$((split_frames / parts)) total=0
for ((i = 0; i < parts; i++)); do
  t=$(cpu "$build/exegfx-still" --size "$split_size" --first-frame $((1 + i * per)) \
    --frames "$per" -o "$work/part_$i.exr")
  total=$(awk -v a="$total" -v b="$t" 'BEGIN { print a + b }')
done
awk -v s="$single" -v t="$total" -v n="$parts" -v c="$cold" -v w="$warm" -v ms="$ms" 'BEGIN {
  printf "one run: %.2f s; %d parts: %.2f s in all; overhead %.2f s (%.1f %%), %.2f s per extra task\n",
    s, n, t, t - s, 100 * (t - s) / s, (t - s) / (n - 1)
  printf "start-up of one task (context, shader build, first draw, 1x1): %.2f s cold, %.2f s with the shader cache\n", c, w
  printf "2048 frames at the checkpoint size in 16 parts: %.3f %% more CPU time (cold start-ups)\n",
    100 * 15 * c / (2048 * ms / 1000) }'
echo "host: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), load $(cut -d' ' -f1-3 /proc/loadavg)"

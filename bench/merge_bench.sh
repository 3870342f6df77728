#!/usr/bin/env bash
# What exegfx-merge's checks of the parts against each other cost on very
# fragmented parts (two 1 x 1 parts whose frames 1 to 131072 interleave one
# by one): a merge that passes them, and one refused for a
# frame held twice, each with its wall time. The pixel work is nil at 1 x 1,
# so the times are the checks' (and the headers' parsing).
#
#   bench/merge_bench.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: bench/merge_bench.sh BUILD_DIR}
for p in exegfx-merge exegfx-bench-fragments; do
  [ -x "$build/$p" ] || { echo "no $build/$p: build it first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/exegfx-bench-fragments" "$work"
seconds() { # prints the wall seconds of the command; its status is ignored
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  end=$(date +%s%N)
  awk -v t=$((end - start)) 'BEGIN { printf "%.2f", t / 1e9 }'
}
echo "merge of odd.exr and even.exr: $(seconds "$build/exegfx-merge" -o "$work/m.pfm" \
  "$work/odd.exr" "$work/even.exr") s"
echo "refusal of odd.exr, even.exr and last.exr (a frame held twice): $(seconds \
  "$build/exegfx-merge" -o "$work/r.pfm" "$work/odd.exr" "$work/even.exr" "$work/last.exr") s"
echo "host: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"

#!/usr/bin/env bash
# Whether far frame numbers render the picture that the first frames do: N
# frames from each of several starting frames against frames 1..N, as a
# chi-squared per value (about 1 where only noise differs; see
# exegfx-bench-frame-distance), each render's own noise_p95 (the noise per
# sample: equal where the samples are as good) and exegfx-merge's agreement
# check; then, as a
# control of what the check can see at this size, the first far render with
# every sample 5 % brighter.
#
#   bench/far_frames.sh BUILD_DIR [SIZE] [N] [START...]
#   (default 32x18, 4096 frames, starts N+1 12289 61441 126977 1000001
#   16777217 and the last N frames below the cap)
set -euo pipefail
build=${1:?usage: bench/far_frames.sh BUILD_DIR [SIZE] [N] [START...]}
size=${2:-32x18}
n=${3:-4096}
shift $(($# < 3 ? $# : 3))
cap=1073741824
starts=("$@")
[ ${#starts[@]} -gt 0 ] || starts=($((n + 1)) 12289 61441 126977 1000001 16777217 $((cap - n + 1)))
for p in exegfx-still exegfx-merge exegfx-bench-frame-distance; do
  [ -x "$build/$p" ] || { echo "no $build/$p: build it first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
render() { "$build/exegfx-still" --size "$size" --first-frame "$1" --frames "$n" -o "$2" >/dev/null 2>&1; }

render 1 "$work/ref.exr"
p95() { "$build/exegfx-merge" --info "$1" | grep -o 'noise_p95=[0-9.]*'; }
echo "$size, $n frames each, against frames 1-$n ($(date -u +%F), $(nproc) cores)"
echo "frames | distance | own noise | exegfx-merge"
echo "1-$n | | $(p95 "$work/ref.exr") |"
for s in "${starts[@]}"; do
  render "$s" "$work/far.exr"
  [ -e "$work/first.exr" ] || cp "$work/far.exr" "$work/first.exr"
  d=$("$build/exegfx-bench-frame-distance" "$work/ref.exr" "$work/far.exr")
  m=$("$build/exegfx-merge" -o "$work/m.pfm" "$work/ref.exr" "$work/far.exr" 2>&1 | tail -1) || true
  echo "$s-$((s + n - 1)) | $d | $(p95 "$work/far.exr") | $m"
done
"$build/exegfx-bench-frame-distance" --scale 1.05 "$work/first.exr" "$work/bright.exr"
d=$("$build/exegfx-bench-frame-distance" "$work/ref.exr" "$work/bright.exr")
m=$("$build/exegfx-merge" -o "$work/m.pfm" "$work/ref.exr" "$work/bright.exr" 2>&1 | tail -1) || true
echo "control: ${starts[0]}.. x 1.05 | $d | | $m"

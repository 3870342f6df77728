#!/usr/bin/env bash
# Whether far frame numbers render the picture that the first frames do: N
# frames from each of several starting frames against frames 1..N, as a
# chi-squared per value (about 1 where only noise differs; see
# exegfx-bench-frame-distance) and exegfx-merge's agreement check.
#
#   bench/far_frames.sh BUILD_DIR [SIZE] [N] [START...]
#   (default 32x18, 4096 frames, starts 2049 4097 12289 61441 126977 1000001
#   16777217 and the last N frames below the cap)
set -euo pipefail
build=${1:?usage: bench/far_frames.sh BUILD_DIR [SIZE] [N] [START...]}
size=${2:-32x18}
n=${3:-4096}
shift $(($# < 3 ? $# : 3))
cap=1073741824
starts=("$@")
[ ${#starts[@]} -gt 0 ] || starts=(2049 4097 12289 61441 126977 1000001 16777217 $((cap - n + 1)))
for p in exegfx-still exegfx-merge exegfx-bench-frame-distance; do
  [ -x "$build/$p" ] || { echo "no $build/$p: build it first" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
render() { "$build/exegfx-still" --size "$size" --first-frame "$1" --frames "$n" -o "$2" 2>/dev/null; }

render 1 "$work/ref.exr"
echo "$size, $n frames each, against frames 1-$n ($(date -u +%F), $(nproc) cores)"
printf '%-24s %-52s %s\n' frames distance "merge's check"
for s in "${starts[@]}"; do
  render "$s" "$work/far.exr"
  d=$("$build/exegfx-bench-frame-distance" "$work/ref.exr" "$work/far.exr")
  m=$("$build/exegfx-merge" -o "$work/m.pfm" "$work/ref.exr" "$work/far.exr" 2>&1 | tail -1) || true
  printf '%-24s %-52s %s\n' "$s-$((s + n - 1))" "$d" "${m:0:90}"
done

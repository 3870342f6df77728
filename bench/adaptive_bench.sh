#!/usr/bin/env bash
# Uniform against adaptive, side by side in one run: each renders SIZE until
# noise_p95 is at most each LEVEL (capped at FRAMES), and the table gives the
# samples traced, the wall time and the noise figure at the end (median, p95,
# p99 and maximum of the traced pixels' errors, from each picture's own sum of
# squares). The gain is the uniform run's time over the adaptive one's.
#
#   bench/adaptive_bench.sh BUILD_DIR SIZE FRAMES LEVEL... [-- KEEP_DIR]
#
# KEEP_DIR keeps the renders (uniform_L.exr, adaptive_L.exr) for maps and
# for the agreement check (exegfx-merge --count-map, --noise-map).
set -euo pipefail
build=${1:?usage: bench/adaptive_bench.sh BUILD_DIR SIZE FRAMES LEVEL... [-- KEEP_DIR]}
size=${2:?size, like 160x90}
frames=${3:?the frame cap}
shift 3
levels=()
keep=""
while [ $# -gt 0 ]; do
  case $1 in
  --) keep=${2:?KEEP_DIR after --}; shift 2 ;;
  *) levels+=("$1"); shift ;;
  esac
done
[ ${#levels[@]} -gt 0 ] || { echo "no LEVEL given" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=${keep:-$work}
mkdir -p "$out"

# One render: prints "seconds samples frames" and leaves its .exr.
run() {
  local kind=$1 level=$2 file=$3 log=$work/log start end
  start=$(date +%s.%N)
  "$build/exegfx-still" --size "$size" --frames "$frames" --until-noise "$level" \
    ${kind:+--adaptive} -o "$file" >/dev/null 2>"$log" || { cat "$log" >&2; exit 1; }
  end=$(date +%s.%N)
  local held samples w h
  held=$("$build/exegfx-merge" --info "$file" | sed -n 's/.* count=\([0-9]*\) .*/\1/p')
  samples=$(sed -n 's/^Adaptive: \([0-9]*\) samples traced.*/\1/p' "$log")
  if [ -z "$samples" ]; then
    IFS=x read -r w h <<<"$size"
    samples=$((held * w * h))
  fi
  echo "$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.1f", b - a }') $samples $held"
}

printf '%-6s %-9s %8s %12s %8s %7s %7s %7s %7s %7s\n' level render frames samples seconds \
  median p95 p99 max gain
for level in "${levels[@]}"; do
  read -r us usamples uframes < <(run "" "$level" "$out/uniform_$level.exr")
  read -r as asamples aframes < <(run 1 "$level" "$out/adaptive_$level.exr")
  for kind in uniform adaptive; do
    if [ $kind = uniform ]; then s=$us n=$usamples f=$uframes; else s=$as n=$asamples f=$aframes; fi
    info=$("$build/exegfx-merge" --info "$out/${kind}_$level.exr")
    noise=""
    for fig in median p95 p99 max; do
      noise+=" $(sed -n "s/.* noise_$fig=\([^ ]*\).*/\1/p" <<<"$info")"
    done
    gain=$(awk -v u="$us" -v a="$s" 'BEGIN { printf "%.2fx", u / a }')
    # shellcheck disable=SC2086 # noise holds four figures
    printf '%-6s %-9s %8s %12s %8s %7s %7s %7s %7s %7s\n' "$level" $kind "$f" "$n" "$s" $noise \
      "$gain"
  done
done

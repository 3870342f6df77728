#!/usr/bin/env bash
# The GPU figures in one run, from an unpacked bundle on a GPU machine with no
# network and no packages:
#
#   bash bench/gpu_check.sh [--size WxH] [--part-size WxH] OUTDIR [SECONDS]
#
# Prints nvidia-smi and the EGL devices exegfx-still sees (--list-gpus, with
# CUDA_VISIBLE_DEVICES as given and as the UUID of GPU 0), runs
# exegfx-bench-pass at --size (default 1920x1080; both passes, 32 steady
# frames each), renders 2048 frames at --size with the compute pass timed from
# start to exit (capped at SECONDS, default 300: the line says the frames
# done), and renders 4 parts of 16 frames at --part-size (default 480x270)
# into OUTDIR (gpu_part_0..3.exr), to compare with the same parts on llvmpipe
# (bench/compare_parts.py, beside this script). The programs are those of the
# bundle this script came with (../bin), else of the checkout's build/.
set -uo pipefail
usage="usage: gpu_check.sh [--size WxH] [--part-size WxH] OUTDIR [SECONDS]"
size=1920x1080
part_size=480x270
while [ $# -gt 0 ]; do
  case $1 in
  --size) size=${2:?$usage} && shift 2 ;;
  --part-size) part_size=${2:?$usage} && shift 2 ;;
  -*) echo "$usage" >&2 && exit 2 ;;
  *) break ;;
  esac
done
out=${1:?$usage}
cap=${2:-300}
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$here/bin
[ -x "$bin/exegfx-still" ] || bin=$here/build
for program in exegfx-still exegfx-bench-pass exegfx-merge; do
  [ -x "$bin/$program" ] || {
    echo "gpu_check.sh: no $program in $here/bin or $here/build: run this from an unpacked" \
      "bundle (tools/bundle.sh), or build the checkout first" >&2
    exit 1
  }
done
mkdir -p "$out" || exit 1
echo "== programs from $bin"

echo "== nvidia-smi"
if command -v nvidia-smi >/dev/null; then
  nvidia-smi --query-gpu=index,name,uuid,driver_version,memory.total --format=csv 2>&1
else
  echo "(no nvidia-smi)"
fi
echo "== EGL devices"
"$bin/exegfx-still" --list-gpus
uuid=$(nvidia-smi --query-gpu=uuid --format=csv,noheader 2>/dev/null | head -1)
for v in 0 "$uuid"; do
  [ -n "$v" ] || continue
  echo "== EGL devices with CUDA_VISIBLE_DEVICES=$v"
  CUDA_VISIBLE_DEVICES=$v "$bin/exegfx-still" --list-gpus
done

echo "== exegfx-bench-pass"
"$bin/exegfx-bench-pass" --size "$size" --frames 32

echo "== 2048 frames at $size, compute pass (cap ${cap} s)"
start=$(date +%s%N)
"$bin/exegfx-still" --size "$size" --frames 2048 --pass compute --seconds "$cap" \
  -o "$out/gpu_2048.png" 2>&1 | grep -v '^progress'
echo "start to exit: $((($(date +%s%N) - start) / 1000000)) ms"

echo "== 4 parts of 16 frames at $part_size"
for i in 0 1 2 3; do
  "$bin/exegfx-still" --size "$part_size" --first-frame $((i * 16 + 1)) --frames 16 \
    -o "$out/gpu_part_$i.exr" 2>&1 | grep -v '^progress'
done
ls -l "$out"
echo "Render the same 4 parts on llvmpipe (the commands above, on a machine without a GPU), then:"
echo "  python3 $here/bench/compare_parts.py $bin/exegfx-merge --a $out/gpu_part_*.exr --b PARTS"

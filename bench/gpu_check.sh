#!/usr/bin/env bash
# The GPU figures in one run, from an unpacked bundle on a GPU machine with no
# network and no packages:
#
#   bash bench/gpu_check.sh OUTDIR [SECONDS]
#
# Prints nvidia-smi and the EGL devices exegfx-still sees (--list-gpus, with
# CUDA_VISIBLE_DEVICES as given and as the UUID of GPU 0), runs
# exegfx-bench-pass at 1920 x 1080 (both passes, 32 steady frames each),
# renders 2048 frames at 1920 x 1080 with the compute pass timed from start to
# exit (capped at SECONDS, default 300: the line says the frames done), and
# renders 4 parts of 16 frames at 480 x 270 into OUTDIR (gpu_part_0..3.exr),
# to compare with the same parts on llvmpipe (bench/compare_parts.py).
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$here/bin
[ -x "$bin/exegfx-still" ] || bin=$here/build
out=${1:?usage: gpu_check.sh OUTDIR [SECONDS]}
cap=${2:-300}
mkdir -p "$out"

echo "== nvidia-smi"
nvidia-smi --query-gpu=index,name,uuid,driver_version,memory.total --format=csv 2>&1 ||
  echo "(no nvidia-smi)"
echo "== EGL devices"
"$bin/exegfx-still" --list-gpus
uuid=$(nvidia-smi --query-gpu=uuid --format=csv,noheader 2>/dev/null | head -1)
for v in 0 "$uuid"; do
  [ -n "$v" ] || continue
  echo "== EGL devices with CUDA_VISIBLE_DEVICES=$v"
  CUDA_VISIBLE_DEVICES=$v "$bin/exegfx-still" --list-gpus
done

echo "== exegfx-bench-pass"
"$bin/exegfx-bench-pass" --size 1920x1080 --frames 32

echo "== 2048 frames at 1920 x 1080, compute pass (cap ${cap} s)"
start=$(date +%s%N)
"$bin/exegfx-still" --size 1920x1080 --frames 2048 --pass compute --seconds "$cap" \
  -o "$out/gpu_2048.png" 2>&1 | grep -v '^progress'
echo "start to exit: $((($(date +%s%N) - start) / 1000000)) ms"

echo "== 4 parts of 16 frames at 480 x 270"
for i in 0 1 2 3; do
  "$bin/exegfx-still" --size 480x270 --first-frame $((i * 16 + 1)) --frames 16 \
    -o "$out/gpu_part_$i.exr" 2>&1 | grep -v '^progress'
done
ls -l "$out"

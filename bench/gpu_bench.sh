#!/usr/bin/env bash
# The scene pass on a GPU, fragment against compute, as one command on a fresh
# machine that has the GPU's driver:
#
#   bash bench/gpu_bench.sh [exegfx-bench-pass options]
#
# Takes exegfx-bench-pass from the bundle this script came with (../bin), else
# from the repository's build/ (brought up to date where CMake is installed);
# only where neither has it does it install the packages the programs need
# (tools/deps.sh run) and build it alone in build/. Then it runs it: the GL
# renderer, ms per steady frame of both passes at 1920x1080 (default: 32
# steady frames each), the time 2048 frames would take, the ratio
# compute/fragment, whether the sums agree, and whether the EGL device
# platform opens an OpenGL 4.6 compatibility context. Options replace the
# defaults, e.g. on llvmpipe:
#
#   bash bench/gpu_bench.sh --size 480x270 --frames 3 --software-device
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -x bin/exegfx-bench-pass ]; then
  bench=bin/exegfx-bench-pass
elif [ -x build/exegfx-bench-pass ]; then
  bench=build/exegfx-bench-pass
  if command -v cmake >/dev/null; then
    cmake --build build -j "$(nproc)" --target exegfx-bench-pass >/dev/null
  fi
else
  bash tools/deps.sh run
  cmake -S . -B build -G Ninja >/dev/null
  cmake --build build -j "$(nproc)" --target exegfx-bench-pass
  bench=build/exegfx-bench-pass
fi

if command -v nvidia-smi >/dev/null; then
  nvidia-smi --query-gpu=name,driver_version,memory.total --format=csv,noheader
fi
echo "host: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
[ $# -gt 0 ] || set -- --size 1920x1080 --frames 32
exec "$bench" "$@"

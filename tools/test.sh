#!/usr/bin/env bash
# The test command: installs what is missing, builds exegfx (Linux) and
# exegfx.exe (mingw-w64), then runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh test

jobs=$(nproc)
cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
cmake --build build-mingw -j "$jobs"
cmake -S . -B build -G Ninja -DEXEGFX_WINDOWS_EXE="$PWD/build-mingw/exegfx.exe"
cmake --build build -j "$jobs"
cd build
ctest --output-on-failure -j "$jobs" --timeout 900

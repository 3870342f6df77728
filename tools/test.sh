#!/usr/bin/env bash
# The test command: installs what is missing, builds exegfx (Linux),
# exegfx.exe (mingw-w64), the file readers with sanitizers and a fuzz target
# (clang) and the web page (emscripten), then runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh test

jobs=$(nproc)
cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
cmake --build build-mingw -j "$jobs"
cmake -S tests/sanitize -B build-sanitize -G Ninja -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14
cmake --build build-sanitize -j "$jobs"
# puppeteer-core for the web page's browser test, into the build tree.
bash tools/web_test_deps.sh build/node
cmake -S . -B build -G Ninja -DEXEGFX_WINDOWS_EXE="$PWD/build-mingw/exegfx.exe" \
  -DEXEGFX_SANITIZE_BUILD="$PWD/build-sanitize"
cmake --build build -j "$jobs"
cd build
ctest --output-on-failure -j "$jobs" --timeout 900

#!/usr/bin/env bash
# The run command: installs what is missing, builds, then shows the picture.
# With a display it runs exegfx fullscreen (Esc quits); without one it renders
# a still with exegfx-still and says where the file is.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh run

cmake -S . -B build -G Ninja
cmake --build build -j "$(nproc)" --target exegfx exegfx-still

if [ -n "${DISPLAY:-}" ]; then
  exec build/exegfx
fi
echo "No display: rendering a still instead (480x270, 64 frames)."
build/exegfx-still --size 480x270 --frames 64 -o exegfx.png
echo "The picture is in $PWD/exegfx.png"

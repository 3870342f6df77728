#!/usr/bin/env bash
# The web command: installs what is missing, builds the web page (WebGL 2,
# emscripten) into build/web/ and serves it on 127.0.0.1 with Python's static
# server until Ctrl-C. The files are static: any web server can serve them.
#   tools/web.sh [PORT]    (default 8023)
set -euo pipefail
cd "$(dirname "$0")/.."
port=${1:-8023}
case "$port" in
  '' | *[!0-9]*) echo "tools/web.sh: the port must be a number, got \"$port\"" >&2; exit 2 ;;
esac
bash tools/deps.sh web

cmake -S . -B build -G Ninja
cmake --build build -j "$(nproc)" --target exegfx-web

echo "The page: http://127.0.0.1:$port/  (?size=960x540 for another size, ?frames=N to stop"
echo "after N frames; Ctrl-C stops the server)"
exec python3 -m http.server "$port" --bind 127.0.0.1 --directory build/web

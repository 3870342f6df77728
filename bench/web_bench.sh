#!/usr/bin/env bash
# The web page's ms per frame on SwiftShader (Chromium's software WebGL 2)
# against exegfx-still's llvmpipe at the same size, in one run, one after the
# other on the same machine. Needs a build with the page (tools/test.sh or
# tools/web.sh) and puppeteer-core (tools/web_test_deps.sh BUILD_DIR/node).
#   bench/web_bench.sh [BUILD_DIR] [SIZE] [FRAMES] [SCREENSHOT.png]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
size=${2:-240x135}
frames=${3:-5}
screenshot=${4:-}
[ -f "$build/web/index.wasm" ] || { echo "No page in $build/web: build the exegfx-web target" >&2; exit 1; }
modules="$build/node/node_modules"
[ -d "$modules/puppeteer-core" ] || bash "$here/../tools/web_test_deps.sh" "$build/node"

log=$(mktemp)
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$build/web" >"$log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; rm -f "$log"' EXIT
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^Serving HTTP on .* port \([0-9]*\) .*/\1/p' "$log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "The local server did not start" >&2; exit 1; }

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
out=$(node "$here/web_bench.mjs" "$modules" "$(command -v chromium)" "http://127.0.0.1:$port/" \
  "$size" "$frames" $screenshot)
echo "$out" | grep -v '^swiftshader_ms_per_frame='
swift=$(echo "$out" | sed -n 's/^swiftshader_ms_per_frame=//p')

# The same size on llvmpipe: the window's fragment pass, steady frames.
pass=$("$build/exegfx-bench-pass" --size "$size" --frames "$((frames - 1))" 2>&1 || true)
llvm=$(echo "$pass" | sed -n 's/^ *fragment first frame .* steady *\([0-9.]*\) ms\/frame.*/\1/p' | head -1)
echo "$pass" | grep '^GL renderer' || true
[ -n "$llvm" ] || { echo "exegfx-bench-pass gave no fragment figure:"; echo "$pass"; exit 1; }
echo "llvmpipe (exegfx-bench-pass, fragment pass, $size): $llvm ms/frame"
echo "SwiftShader with bands / llvmpipe: $(awk -v s="$swift" -v l="$llvm" 'BEGIN { printf "%.2f", s / l }')"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"

#!/usr/bin/env bash
# The web page end to end: serves the built page on 127.0.0.1, drives it in
# headless Chromium (page_test.mjs) and compares its picture, its PNG and a
# screenshot of it with exegfx-still's of the same frames (picture_check). The server is this
# script's child, stopped by its pid; puppeteer stops the browsers it starts.
# Usage: web_page_test.sh WEB_DIR EXEGFX_STILL PICTURE_CHECK NODE_MODULES CHROMIUM WORKDIR
set -euo pipefail
web=$1 still=$2 check=$3 modules=$4 chromium=$5 work=$6
here=$(cd "$(dirname "$0")" && pwd)
# The page and exegfx-still render frames 1-8; exegfx-still 56 more, so that
# the samples' spread is well known.
width=160 height=90 frames=8 more=56
rm -rf "$work"
mkdir -p "$work"

# Python's static server on a port the system picks.
python3 -u -m http.server 0 --bind 127.0.0.1 --directory "$web" >"$work/server.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
port=""
for _ in $(seq 100); do
  port=$(sed -n 's/^Serving HTTP on .* port \([0-9]*\) .*/\1/p' "$work/server.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "FAIL: the local server did not start"; cat "$work/server.log"; exit 1; }

for range in "1 $frames same" "$((frames + 1)) $more more"; do
  set -- $range
  "$still" --size "${width}x$height" --first-frame "$1" --frames "$2" -o "$work/$3.exr" \
    2>"$work/still.log" || { echo "FAIL: exegfx-still"; cat "$work/still.log"; exit 1; }
done
timeout 420 node "$here/page_test.mjs" "$modules" "$chromium" "http://127.0.0.1:$port/" "$work" \
  "${width}x$height" "$frames"
"$check" "$work/same.exr" "$work/more.exr" "$work/page_mean.f32" "$work/page.png" "$width" \
  "$height" "$frames" "$work/page_screenshot.png"

#!/usr/bin/env bash
# End-to-end test of the Windows program's failed starts under Wine on Xvfb,
# with Mesa's llvmpipe behind Wine's WGL:
#   exegfx_wine_test.sh <path of exegfx.exe> <work dir>
# 1. A 1920x1080x24 screen with Mesa held to GL 4.5: the version message, the
#    "Oh dear" box, a non-zero exit.
# 2. A 1280x720x24 screen (no 1920 x 1080 mode): the display switch fails,
#    lines 1 to 13 only, the "Oh dear" box, a non-zero exit.
# A full run, with its report and the mode switch, is the Xorg test's.
# Every wait is bounded, so a hang fails the test. The Wine prefix lives in the
# work dir and is made once; the Xorg test uses it too.
set -uo pipefail

[ $# -eq 2 ] || {
  echo "usage: $0 <exegfx.exe> <work dir>" >&2
  exit 2
}
exe=$(realpath "$1")
work=$2
here=$(cd "$(dirname "$0")" && pwd)
[ -f "$exe" ] || {
  echo "FAIL: no exe at $exe (build the mingw tree first)" >&2
  exit 1
}
mkdir -p "$work" && work=$(realpath "$work")

# Bounds, in seconds.
prefix_bound=300
box_bound=60

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# --- What the test needs, installed when missing (root or sudo).
t0=$(now)
packages=(wine64 xvfb xdotool x11-utils libgl1 libgl1-mesa-dri libxrandr2 libxrender1
  libxcursor1 libxi6 libxinerama1 libxcomposite1 libxxf86vm1 libxfixes3 fonts-wine perl-base)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q && $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" ||
    fail "cannot install ${missing[*]}"
fi
echo "time: install check $(since "$t0") s"

loader=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
[ -x "$loader" ] || loader=$(command -v wine64 || command -v wine) || fail "no Wine loader"
[ -x "$server" ] || server=$(command -v wineserver) || fail "no wineserver"

export WINEPREFIX="$work/prefix"
export WINELOADER="$loader"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export MESA_GL_VERSION_OVERRIDE=4.6COMPAT
export MESA_GLSL_VERSION_OVERRIDE=460
unset WAYLAND_DISPLAY

xvfb_pid=""
run_pid=""
cleanup() {
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null
  timeout 20 "$server" -k 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
}
trap cleanup EXIT

# Starts Xvfb on display $1 with screen $2 and waits until it answers.
start_xvfb() {
  Xvfb "$1" -screen 0 "$2" -nolisten tcp >"$work/xvfb${1#:}.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=$1
  for _ in $(seq 100); do
    xdpyinfo >/dev/null 2>&1 && return 0
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  cat "$work/xvfb${1#:}.log" >&2
  fail "Xvfb $1 did not start (display in use?)"
}

stop_xvfb() {
  timeout 20 "$server" -k 2>/dev/null
  timeout 30 "$server" -w 2>/dev/null
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
}

screen_size() { xdpyinfo | awk '/dimensions:/ { print $2 }'; }

# The id of the top-level window titled $1, empty when there is none. Without a
# window manager xdotool's search misses some of Wine's windows; xwininfo does not.
window_id() { xwininfo -root -tree 2>/dev/null | awk -v t=" \"$1\": " 'index($0, t) { print $1; exit }'; }

# Seconds to wait at most for $1 (a pid) to end; its exit code lands in $exit_code.
wait_exit() {
  local pid=$1 bound=$2 start
  start=$(now)
  while kill -0 "$pid" 2>/dev/null; do
    awk -v a="$start" -v b="$(now)" -v m="$bound" 'BEGIN { exit !(b - a > m) }' && return 1
    sleep 0.2
  done
  wait "$pid"
  exit_code=$?
  return 0
}

# A start that must fail: runs exegfx.exe (with the environment settings in
# "$@"), waits for the "Oh dear" notice, checks the render window is already
# gone when it shows, dismisses it, and checks lines 1 to 13 only, the reason
# ($2, a text on standard error) and a non-zero exit. $1 names the case.
expect_failed_start() {
  local name=$1 reason=$2 start box
  shift 2
  local out="$work/$name.stdout" err="$work/$name.stderr"
  start=$(now)
  : >"$out"
  env "$@" "$loader" "$exe" >"$out" 2>"$err" &
  run_pid=$!
  box=""
  until [ -n "$box" ]; do
    box=$(window_id "Oh dear")
    [ -n "$box" ] && break
    kill -0 "$run_pid" 2>/dev/null || {
      cat "$out" "$err" >&2
      fail "$name: exegfx.exe ended without showing the \"Oh dear\" notice"
    }
    awk -v a="$start" -v b="$(now)" -v m="$box_bound" 'BEGIN { exit !(b - a > m) }' && {
      cat "$out" "$err" >&2
      fail "$name: no \"Oh dear\" window within $box_bound s"
    }
    sleep 0.2
  done
  [ -z "$(window_id "exegfx by Vund")" ] || fail "$name: the notice shows before the teardown"
  # The notice is modal: the process waits for it.
  sleep 1
  kill -0 "$run_pid" 2>/dev/null || fail "$name: exegfx.exe did not wait for the notice"
  xdotool windowfocus "$box" && xdotool key Return || fail "$name: xdotool could not dismiss the notice"
  wait_exit "$run_pid" 30 || fail "$name: exegfx.exe still runs 30 s after the notice was dismissed"
  run_pid=""
  echo "time: $name $(since "$start") s"
  [ "$exit_code" -ne 0 ] || fail "$name: exit code 0 after a failed start"
  perl "$here/check_report.pl" failure "$out" || fail "$name: console report"
  grep -qF "$reason" "$err" || fail "$name: no \"$reason\" on standard error"
  grep -qF "Oh dear: Window init error! We're gonna have to abort..." "$err" ||
    fail "$name: the notice's text is not on standard error"
  echo "$name: \"Oh dear\" shown, exit code $exit_code; stderr:"
  sed 's/^/  /' "$err"
}

# --- The Wine prefix: made once, kept in the work dir.
start_xvfb :93 1920x1080x24
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  t0=$(now)
  timeout "$prefix_bound" "$loader" wineboot -i >"$work/wineboot.log" 2>&1 ||
    fail "wineboot did not make the prefix within $prefix_bound s (see $work/wineboot.log)"
  timeout 60 "$server" -w
  echo "time: prefix creation $(since "$t0") s"
else
  echo "time: prefix creation 0 s (kept from an earlier run)"
fi

# --- 1. A context below GL 4.6: a clear message, the notice, a non-zero exit.
expect_failed_start no-gl46 "exegfx needs an OpenGL 4.6 compatibility context" \
  MESA_GL_VERSION_OVERRIDE=4.5COMPAT MESA_GLSL_VERSION_OVERRIDE=450
stop_xvfb

# --- 2. No 1920 x 1080 mode: the switch fails before any window exists.
start_xvfb :94 1280x720x24
expect_failed_start no-mode "The display cannot switch to 1920 x 1080"
[ "$(screen_size)" = 1280x720 ] || fail "the screen is $(screen_size) after the failed start"
stop_xvfb
echo "PASS"


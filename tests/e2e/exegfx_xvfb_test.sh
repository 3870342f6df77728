#!/usr/bin/env bash
# exegfx end to end under Xvfb on Mesa's llvmpipe: a 1280x720 screen (no
# 1920x1080 mode) gives lines 1 to 13, the "Oh dear" notice, no shaders
# compiled, a non-zero exit. A full run, with its report, is the Xorg test's.
# Usage: exegfx_xvfb_test.sh EXEGFX WORKDIR
set -uo pipefail
exe=$1
work=$2
mkdir -p "$work"
here=$(cd "$(dirname "$0")" && pwd)
fail() { echo "FAIL: $*"; exit 1; }

xvfb_pid=""
exe_pid=""
cleanup() {
  [ -n "$exe_pid" ] && kill "$exe_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

start_xvfb() { # display size
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  Xvfb "$1" -screen 0 "$2" -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 50); do
    DISPLAY=$1 xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  fail "Xvfb $1 did not start"
}

wait_for() { # seconds description command...
  local limit=$1 what=$2
  shift 2
  for _ in $(seq $((limit * 5))); do
    "$@" && return 0
    kill -0 "$exe_pid" 2>/dev/null || { "$@" && return 0; fail "exegfx ended before $what"; }
    sleep 0.2
  done
  fail "timed out after ${limit}s waiting for $what"
}

wait_exit() { # seconds -> sets exit_code
  local limit=$1
  for _ in $(seq $((limit * 5))); do
    if ! kill -0 "$exe_pid" 2>/dev/null; then
      wait "$exe_pid"
      exit_code=$?
      exe_pid=""
      return 0
    fi
    sleep 0.2
  done
  fail "exegfx did not exit within ${limit}s"
}

# The report from the signature lines on; line 9 names whatever adapter the
# machine has, so only its label is fixed.
expected_report() {
  sed -n '/^-={ zorvane/,$p' "$here/expected_report.txt"
}
actual_report() { # file lines
  sed -n '/^-={ zorvane/,$p' "$1" | head -n "$2" |
    sed -E "s/^     What's inside: .*$/     What's inside: <adapter>/"
}

export MESA_GL_VERSION_OVERRIDE=4.6COMPAT MESA_GLSL_VERSION_OVERRIDE=460

# --- No 1920x1080 mode: the failure path.
start_xvfb :92 1280x720x24
out=$work/fail.out
DISPLAY=:92 "$exe" >"$out" 2>"$work/fail.err" &
exe_pid=$!
# The notice waits for the user: find it by its title and dismiss it.
notice_shown() { DISPLAY=:92 xwininfo -root -tree 2>/dev/null | grep -q '"Oh dear"'; }
wait_for 60 "the Oh dear notice" notice_shown
id=$(DISPLAY=:92 xwininfo -root -tree | grep '"Oh dear"' | head -1 | awk '{print $1}')
DISPLAY=:92 xdotool windowfocus "$id" 2>/dev/null
sleep 0.5
DISPLAY=:92 xdotool key Return
wait_exit 30
[ "$exit_code" -ne 0 ] || fail "the failure path exited with code 0"
head13=$(expected_report | head -n 8)
diff <(echo "$head13") <(actual_report "$out" 100) || fail "failure-path console differs"
grep -q "Compiling shaders" "$out" && fail "shaders were compiled after a failed window set-up"
grep -q "Oh dear: Window init error! We're gonna have to abort..." "$work/fail.err" ||
  fail "notice not on standard error"
echo "Failure path: exit $exit_code, notice shown and dismissed"
echo "PASS"

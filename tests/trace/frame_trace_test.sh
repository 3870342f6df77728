#!/usr/bin/env bash
# Records the GL calls of two frames with apitrace and checks each frame's
# passes call for call: target, input texture, program, uniforms, rectangle.
# Usage: frame_trace_test.sh FRAME_TRACE_PROGRAM WORKDIR
set -euo pipefail
program=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$work"
rm -f "$work/frames.trace"
export MESA_GL_VERSION_OVERRIDE=4.6COMPAT MESA_GLSL_VERSION_OVERRIDE=460
ids=$(timeout 120 apitrace trace --api egl -o "$work/frames.trace" "$program" 2>"$work/trace.log" |
  grep '^FB=')
[ -n "$ids" ] || { echo "FAIL: no GL object names printed"; cat "$work/trace.log"; exit 1; }
eval "$ids"

# The calls after the accumulation is set up (after the last texture clear),
# up to the end of the second frame, without call numbers and swaps.
apitrace dump --color=never "$work/frames.trace" |
  sed -n '/glClearTexImage/,$p' | grep -v glClearTexImage |
  grep -E '^[0-9]+ gl' | sed -E 's/^[0-9]+ //' |
  sed -E 's/(location = )-?[0-9]+/\1LOC/; s/(glGetUniformLocation\(.*\)) = -?[0-9]+$/\1 = LOC/' |
  head -n "$(wc -l <"$here/expected_frames.txt")" >"$work/actual_frames.txt"

sed -E "s/\bFB\b/$FB/g; s/\bT0\b/$T0/g; s/\bT1\b/$T1/g; s/\bP0\b/$P0/g; s/\bP1\b/$P1/g" \
  "$here/expected_frames.txt" >"$work/expected_frames.txt"
if diff -u "$work/expected_frames.txt" "$work/actual_frames.txt"; then
  echo "PASS: both frames made the expected GL calls"
else
  echo "FAIL: the frame passes' GL calls differ"
  exit 1
fi

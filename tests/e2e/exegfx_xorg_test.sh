#!/usr/bin/env bash
# exegfx on a real X server that switches modes: Xorg with the dummy driver on
# display :37, no window manager, the screen set to 1600x1200 before each run.
# For exegfx, then exegfx.exe under Wine (when given):
#   before: the mode is 1600x1200 and the cursor is shown;
#   during: the mode is 1920x1080, the window is 1920x1080+0+0, the cursor hidden;
#   after Esc: the mode is 1600x1200 again, the cursor shown, exit code 0, and
#   the console report through the "Rendering" line and the progress marks.
# The failure paths need a screen without the mode: the Xvfb and Wine tests.
# Usage: exegfx_xorg_test.sh EXEGFX WORKDIR [EXEGFX_EXE WINEPREFIX]
set -uo pipefail
exe=$1
work=$2
win_exe=${3:-}
mkdir -p "$work" && work=$(realpath "$work")
here=$(cd "$(dirname "$0")" && pwd)
display=:37
fail() {
  echo "FAIL: $*"
  exit 1
}

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }
# True once $2 seconds have passed since $1.
past() { awk -v a="$1" -v b="$(now)" -v m="$2" 'BEGIN { exit !(b - a > m) }'; }

xorg=/usr/lib/xorg/Xorg
[ -x "$xorg" ] || xorg=$(command -v Xorg) || fail "no Xorg (bash tools/deps.sh test installs it)"
server=/usr/lib/wine/wineserver
[ -x "$server" ] || server=$(command -v wineserver)

xorg_pid=""
run_pid=""
# Alive and not a zombie (nothing here may reap an orphan).
alive() { [ -r "/proc/$1/stat" ] && [ "$(cut -d' ' -f3 "/proc/$1/stat")" != Z ]; }
cleanup() {
  [ -n "$run_pid" ] && kill "$run_pid" 2>/dev/null
  [ -n "$win_exe" ] && [ -n "$server" ] && timeout 20 "$server" -k 2>/dev/null
  if [ -n "$xorg_pid" ]; then
    kill "$xorg_pid" 2>/dev/null
    for _ in $(seq 50); do alive "$xorg_pid" || break; sleep 0.2; done
    wait "$xorg_pid" 2>/dev/null
  fi
}
trap cleanup EXIT

export DISPLAY=$display
unset WAYLAND_DISPLAY
export MESA_GL_VERSION_OVERRIDE=4.6COMPAT MESA_GLSL_VERSION_OVERRIDE=460

# --- The server: its own config and log in the work dir.
cat >"$work/xorg.conf" <<'EOF'
Section "ServerFlags"
  Option "AutoAddDevices" "false"
  Option "DontVTSwitch" "true"
EndSection
Section "Device"
  Identifier "dummy"
  Driver "dummy"
  VideoRam 256000
EndSection
Section "Monitor"
  Identifier "monitor"
  HorizSync 5.0 - 1000.0
  VertRefresh 5.0 - 200.0
  Modeline "1600x1200" 161.00 1600 1712 1880 2160 1200 1203 1207 1245 -hsync +vsync
  Modeline "1920x1080" 173.00 1920 2048 2248 2576 1080 1083 1088 1120 -hsync +vsync
  Modeline "1280x720" 74.50 1280 1344 1472 1664 720 723 728 748 -hsync +vsync
EndSection
Section "Screen"
  Identifier "screen"
  Device "dummy"
  Monitor "monitor"
  DefaultDepth 24
  SubSection "Display"
    Depth 24
    Modes "1600x1200" "1920x1080" "1280x720"
    Virtual 1920 1200
  EndSubSection
EndSection
EOF
[ -e "/tmp/.X${display#:}-lock" ] && fail "display $display is in use (/tmp/.X${display#:}-lock)"
t0=$(now)
# -noreset: a server reset would put the mode back itself and hide a failed restore.
"$xorg" "$display" -config "$work/xorg.conf" -logfile "$work/xorg.log" -noreset -nolisten tcp \
  -sharevts -novtswitch >"$work/xorg.out" 2>&1 &
xorg_pid=$!
for _ in $(seq 150); do
  alive "$xorg_pid" || { tail -n 20 "$work/xorg.out"; fail "Xorg $display did not start"; }
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.2
done
xdpyinfo >/dev/null 2>&1 || fail "Xorg $display did not answer within 30 s"
echo "time: Xorg start $(since "$t0") s"

mode() { xrandr --current | awk '/\*/ { print $1; exit }'; }
window_id() { xwininfo -root -tree 2>/dev/null | awk '/ "exegfx by Vund": / { print $1; exit }'; }
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }
# Absolute geometry, WIDTHxHEIGHT+X+Y.
geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF }
    /^ *Width:/ { w = $NF } /^ *Height:/ { h = $NF } END { printf "%sx%s+%s+%s", w, h, x, y }'
}
cursor() { # 0 shown, 1 hidden
  python3 "$here/cursor_shown.py"
  case $? in 0) echo shown ;; 1) echo hidden ;; *) echo "unreadable" ;; esac
}

# The Linux console report from the signature lines on; line 9 names whatever
# adapter the machine has, so only its label is fixed.
expected_report() { sed -n '/^-={ zorvane/,$p' "$here/expected_report.txt"; }
actual_report() { # file lines
  sed -n '/^-={ zorvane/,$p' "$1" | head -n "$2" |
    sed -E "s/^     What's inside: .*$/     What's inside: <adapter>/"
}
linux_report() { # file
  local out=$1 scene line
  # Six logo lines and a blank line come first.
  [ "$(sed -n 7p "$out")" = "" ] || fail "line 7 of the console is not blank"
  diff <(expected_report) <(actual_report "$out" "$(expected_report | wc -l)") ||
    fail "report differs"
  [ "$(grep -c '^Shader prog [0-9]*: OK$' "$out")" -eq 2 ] || fail "expected two clean shader reports"
  scene=$(grep -n '^Shader prog [0-9]*: OK$' "$out" | head -1)
  [ "$(grep -n '^Compiling shaders...$' "$out" | cut -d: -f1)" -lt "${scene%%:*}" ] || fail "order"
  line=$(grep -nx 'Rendering (Close this window or Esc on render window to abort)' "$out" |
    cut -d: -f1)
  [ -n "$line" ] || fail "no Rendering line"
  [ -z "$(sed -n "$((line - 1))p" "$out")" ] && [ -z "$(sed -n "$((line + 1))p" "$out")" ] ||
    fail "Rendering line not between blank lines"
  [ "$line" -gt "${scene%%:*}" ] || fail "Rendering before the shader reports"
  sed -n "$((line + 2)),\$p" "$out" | grep -q '^\.\+' || fail "no progress marks after Rendering"
}
windows_report() { perl "$here/../wine/check_report.pl" run "$1" || fail "exegfx.exe report"; }

# check NAME REPORT-CHECK COMMAND...: one run of the program, ended with Esc.
check() {
  local name=$1 report=$2 start id state
  shift 2
  xrandr --output DUMMY0 --mode 1600x1200 || fail "$name: xrandr cannot set 1600x1200"
  [ "$(mode)" = 1600x1200 ] || fail "$name: the mode is $(mode) before the run"
  xdotool mousemove 800 600
  [ "$(cursor)" = shown ] || fail "$name: no cursor before the run"
  start=$(now)
  "$@" >"$work/$name.out" 2>"$work/$name.err" &
  run_pid=$!
  until id=$(window_id) && [ -n "$id" ] && viewable "$id"; do
    alive "$run_pid" || { cat "$work/$name.err"; fail "$name: ended before its window showed"; }
    past "$start" 180 && fail "$name: no window within 180 s"
    sleep 0.2
  done
  echo "time: $name start to window $(since "$start") s"
  [ "$(mode)" = 1920x1080 ] || fail "$name: the mode is $(mode) during the run"
  [ "$(geometry "$id")" = 1920x1080+0+0 ] || fail "$name: the window is $(geometry "$id")"
  # The cursor may follow the window by a moment.
  for _ in $(seq 25); do
    state=$(cursor)
    [ "$state" = hidden ] && break
    sleep 0.2
  done
  [ "$state" = hidden ] || fail "$name: the cursor shows over the window"
  xdotool windowfocus "$id" key Escape || fail "$name: xdotool could not send Esc"
  local sent
  sent=$(now)
  # Esc is read at a turn's start and that turn still renders: up to two frames
  # at 1920x1080 on llvmpipe, after the shaders compile.
  while alive "$run_pid"; do
    past "$sent" 600 && fail "$name: still runs 600 s after Esc"
    sleep 0.2
  done
  wait "$run_pid"
  local code=$?
  run_pid=""
  echo "time: $name Esc to exit $(since "$sent") s"
  [ "$code" -eq 0 ] || { cat "$work/$name.err"; fail "$name: exit code $code after Esc"; }
  [ -z "$(window_id)" ] || fail "$name: the window outlived the program"
  [ "$(mode)" = 1600x1200 ] || fail "$name: the mode is $(mode) after the run"
  [ "$(cursor)" = shown ] || fail "$name: no cursor after the run"
  "$report" "$work/$name.out"
  echo "$name: 1600x1200, then 1920x1080 with the window at +0+0 and no cursor, then 1600x1200; exit 0, report as expected"
}

check exegfx linux_report "$exe"

if [ -n "$win_exe" ]; then
  export WINEPREFIX=$4 WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  loader=/usr/lib/wine/wine64
  [ -x "$loader" ] || loader=$(command -v wine64 || command -v wine) || fail "no Wine loader"
  export WINELOADER=$loader
  # The Wine test's prefix when it is there, else made here once.
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    mkdir -p "$WINEPREFIX"
    timeout 300 "$loader" wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot failed"
    timeout 60 "$server" -w
  fi
  check exegfx.exe windows_report "$loader" "$(realpath "$win_exe")"
fi
echo "PASS"

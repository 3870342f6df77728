#!/usr/bin/env bash
# Frames the picture needs for a noise figure: renders SIZE for FRAMES frames,
# reads noise_p95 from the progress lines, fits p95 = c * frames^slope over the
# frames from 8 on, and prints the frames that noise_p95 = 2, 1 and 0.5 levels
# take, by the fit and by the one-over-square-root law from the last figure.
# Beyond the frames rendered these are extrapolations, and say so.
#
#   bench/noise_levels.sh BUILD_DIR SIZE FRAMES [OUT.exr]
#
# OUT.exr keeps the render (for exegfx-merge --noise-map). Needs python3.
set -euo pipefail

build=${1:?usage: bench/noise_levels.sh BUILD_DIR SIZE FRAMES [OUT.exr]}
size=${2:?size, like 480x270}
frames=${3:?frame count}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=${4:-$work/noise.exr}
# An unreachable level, so the run measures the figure as --until-noise does
# and reports what the measuring cost.
"$build/exegfx-still" --size "$size" --frames "$frames" --until-noise 0.001 -o "$out" \
  2>"$work/log" >/dev/null || {
  cat "$work/log" >&2
  exit 1
}
grep -E '^(Wrote|Time|Interrupted|The noise figure)' "$work/log"
python3 - "$work/log" "$frames" <<'PY'
import math, re, sys
points = []
for line in open(sys.argv[1]):
    m = re.match(r'progress frames=(\d+)/\d+ .* noise_p95=([0-9.]+)$', line.strip())
    if m:
        points.append((int(m[1]), float(m[2])))
m = re.search(r'Wrote .*: (\d+) of .*noise_p95=([0-9.]+)', open(sys.argv[1]).read())
if m:
    points.append((int(m[1]), float(m[2])))
fit = [(math.log(n), math.log(p)) for n, p in points if n >= 8]
if len(fit) < 2:
    sys.exit("too few progress lines from frame 8 on for a fit: render more frames")
mx = sum(x for x, _ in fit) / len(fit)
my = sum(y for _, y in fit) / len(fit)
slope = sum((x - mx) * (y - my) for x, y in fit) / sum((x - mx) ** 2 for x, _ in fit)
c = math.exp(my - slope * mx)
n0, p0 = points[-1]
print("noise_p95 by frames:", ", ".join(f"{n}: {p:g}" for n, p in points))
print(f"fit over frames 8 to {n0}: noise_p95 = {c:.1f} * frames^{slope:.3f}")
for level in (2.0, 1.0, 0.5):
    by_fit = (level / c) ** (1.0 / slope)
    by_root = n0 * (p0 / level) ** 2
    note = "" if max(by_fit, by_root) <= n0 else "  (extrapolated)"
    print(f"noise_p95 <= {level:g}: about {by_fit:,.0f} frames by the fit, "
          f"{by_root:,.0f} by 1/sqrt(frames){note}")
PY

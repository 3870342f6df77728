#!/usr/bin/env python3
"""Whether two sets of partial renders show the same picture, statistically.

    bench/compare_parts.py EXEGFX_MERGE --a A0.exr A1.exr ... --b B0.exr B1.exr ...

Renderers whose sin() differs (GPUs against llvmpipe) draw different samples
for the same frame numbers, so their sums are not bit-identical; the same
picture is. Each part's mean is cut into tiles (16 x 16 pixels, red + green +
blue); per tile, the means of the two sets are compared with a z-score whose
standard error comes from the spread across each set's parts (Welch). Prints
the tiles compared, the mean |z| against what it would be for one picture
(Student's t with nA + nB - 2 degrees of freedom), the share of tiles beyond
|z| = 4 and the worst tile.
"""
import math
import os
import struct
import subprocess
import sys
import tempfile

TILE = 16


def mean_image(merge, part, tmp):
    pfm = os.path.join(tmp, os.path.basename(part) + ".pfm")
    subprocess.run([merge, "-o", pfm, part], check=True, capture_output=True)
    data = open(pfm, "rb").read()
    head = data.split(b"\n", 3)
    w, h = map(int, head[1].split())
    values = struct.unpack("<%df" % (w * h * 3), head[3][: w * h * 12])
    return w, h, values


def tile_means(w, h, values):
    tiles = {}
    for y in range(h):
        for x in range(w):
            k = (y * w + x) * 3
            key = (x // TILE, y // TILE)
            tiles[key] = tiles.get(key, 0.0) + values[k] + values[k + 1] + values[k + 2]
    return {key: s / (TILE * TILE) for key, s in tiles.items()}


def stats(sets):
    n = len(sets)
    mean = {k: sum(s[k] for s in sets) / n for k in sets[0]}
    var = {k: sum((s[k] - mean[k]) ** 2 for s in sets) / (n - 1) for k in sets[0]}
    return n, mean, var


def expected_abs_t(df):
    return (2 * math.sqrt(df / math.pi) * math.gamma((df + 1) / 2)
            / (math.gamma(df / 2) * (df - 1)))


def main(argv):
    if len(argv) < 6 or "--a" not in argv or "--b" not in argv:
        sys.exit(__doc__)
    merge = argv[1]
    ia, ib = argv.index("--a"), argv.index("--b")
    a, b = argv[ia + 1 : ib], argv[ib + 1 :]
    if len(a) < 2 or len(b) < 2:
        sys.exit("each set needs at least two parts for its spread")
    with tempfile.TemporaryDirectory() as tmp:
        ta = [tile_means(*mean_image(merge, p, tmp)) for p in a]
        tb = [tile_means(*mean_image(merge, p, tmp)) for p in b]
    na, ma, va = stats(ta)
    nb, mb, vb = stats(tb)
    z = {}
    for k in ma:
        se = math.sqrt(va[k] / na + vb[k] / nb)
        if se > 0:
            z[k] = (ma[k] - mb[k]) / se
        elif ma[k] != mb[k]:
            z[k] = math.inf
    if not z:
        sys.exit("no tile has any spread: nothing to compare")
    worst = max(z, key=lambda k: abs(z[k]))
    mean_abs = sum(abs(v) for v in z.values()) / len(z)
    beyond = sum(1 for v in z.values() if abs(v) > 4) / len(z)
    print("tiles compared: %d of %d (%d x %d pixels)" % (len(z), len(ma), TILE, TILE))
    print("mean |z|: %.3f (one picture: %.3f)" % (mean_abs, expected_abs_t(na + nb - 2)))
    print("tiles beyond |z| = 4: %.2f%%" % (100 * beyond))
    print("worst tile: x %d-%d, y %d-%d (from the bottom), z = %.2f, means %.4g and %.4g"
          % (worst[0] * TILE, worst[0] * TILE + TILE - 1, worst[1] * TILE,
             worst[1] * TILE + TILE - 1, z[worst], ma[worst], mb[worst]))


if __name__ == "__main__":
    main(sys.argv)

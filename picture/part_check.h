// Whether the parts of a merge show the same picture: each part's tile means
// against those of a reference made of the other parts, in z-scores from the
// reference's variance, and each part's variance against the others'. Parts
// of one picture differ only by noise, whatever renderer or pass made them; a
// broken driver or a changed scene under the same identity shows as tiles far
// beyond that noise, and a broken sum of squares as a variance out of line
// with the other parts'.
#pragma once

#include "picture.h"

#include <cstddef>
#include <string>
#include <vector>

// Tiles of tileSide x tileSide pixels; a part needs minCheckFrames frames for
// a variance good enough to test with (calibrated in docs/still.md).
inline constexpr unsigned tileSide = 8;
inline constexpr unsigned minCheckFrames = 16;

// One part's figures per tile and channel (red, green, blue of each tile,
// tiles row by row from the bottom), over all its pixels: the frames its
// pixels hold (their mean over the tile: a uniform part's frames, an adaptive
// part's own per tile), the tile's mean, the variance of that mean, and the
// sum of its pixels' squared means over the square of their count (pixels
// that trace nothing give every frame the same sample, and their variance
// stays below a small multiple of this). A pixel of fewer than minCheckFrames
// samples has no variance to test with: its tile is left out (frames 0), as
// a tile of fewer pixels would shift its mean against the other parts'.
// Empty (not tested) without a sum of squares or with every tile left out.
struct TileStats {
  double most = 0.0; // the most samples a pixel holds
  std::vector<double> frames, mean, variance, level;
  std::size_t fewPixels = 0, tilesLeftOut = 0, tiles = 0;
};
TileStats tileStats(const Picture &picture);

// A part's figures against the reference: the mean |z| and the mean z over
// the tiles, the share of tiles beyond |z| = 4, the worst tile (its pixels,
// rows counted from the top as viewers show them), and its variance over the
// others' (the median over the tiles).
struct PartAgreement {
  bool checked = false;
  std::size_t tiles = 0; // tile channels compared
  double meanAbsZ = 0.0, meanZ = 0.0, shareBeyond4 = 0.0, worstZ = 0.0;
  unsigned worstX = 0, worstY = 0; // top-left pixel of the worst tile
  double varianceRatio = 1.0;
  bool varianceOutOfLine = false; // the ratio far from 1: a sum of squares scaled
  bool noVariance = false;        // flat where the other parts vary: a sum of squares left at zero
  bool consistent = true;
};

// Tests every part in parts; parts without stats (empty mean: too few frames
// or no sum of squares) are neither tested nor in any reference. A part whose
// variance is out of line, and then, one by one, the part that disagrees
// most, are left out of the reference, so that a bad part among good ones is
// the only one refused. With only two parts to compare, either disagreeing
// refuses both: which one is wrong cannot be told. Fewer than two parts, or
// no other part with variance in its tiles: the part is not checked.
std::vector<PartAgreement> checkAgreement(const std::vector<TileStats> &parts, unsigned width,
                                          unsigned height);

// "variance 1.02 times the others', mean |z| 0.81, mean z -0.02, 0.01% of
// 4050 tile channels beyond |z| 4, worst z -4.3 at the tile from pixel (40, 8)"
std::string agreementText(const PartAgreement &a);

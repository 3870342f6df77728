// Whether the parts of a merge show the same picture: each part's tile means
// against those of the other parts together, in z-scores from the parts' own
// variances. Parts of one picture differ only by noise, whatever renderer or
// pass made them; a broken driver or a changed scene under the same identity
// shows as tiles far beyond that noise.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

// Tiles of tileSide x tileSide pixels; a part needs minCheckFrames frames for
// a variance good enough to test with (calibrated in docs/still.md).
inline constexpr unsigned tileSide = 8;
inline constexpr unsigned minCheckFrames = 16;

// One part's tile means and the variances of those means, per tile and channel
// (red, green, blue of each tile, tiles row by row from the bottom), over the
// traced pixels only (traced: width x height, false for pixels that trace
// nothing).
struct TileStats {
  double frames = 0.0;
  std::vector<double> mean, variance;
};
TileStats tileStats(const float *sum, const float *squares, unsigned width, unsigned height,
                    double frames, const std::vector<bool> &traced);

// A part's figures against the rest: the mean |z| and the mean z over the
// tiles, the share of tiles beyond |z| = 4, and the worst tile (its pixels,
// rows counted from the top as viewers show them).
struct PartAgreement {
  bool checked = false;
  std::size_t tiles = 0; // tile channels compared
  double meanAbsZ = 0.0, meanZ = 0.0, shareBeyond4 = 0.0, worstZ = 0.0;
  unsigned worstX = 0, worstY = 0; // top-left pixel of the worst tile
  bool consistent = true;
};

// Tests every part in parts against all the others; parts without stats
// (empty mean: too few frames or no sum of squares) are neither tested nor in
// the others. Fewer than two such parts: nothing is checked.
std::vector<PartAgreement> checkAgreement(const std::vector<TileStats> &parts, unsigned width,
                                          unsigned height);

// "mean |z| 0.81, mean z -0.02, 0.01% of 4050 tile channels beyond |z| 4,
// worst z -4.3 at the tile from pixel (40, 8)"
std::string agreementText(const PartAgreement &a);

#include "part_check.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// A part is refused when its tiles stray from the rest beyond what noise
// does. Consistent parts give a mean |z| near 0.8 (a normal's), a mean z
// near 0 (within a few times one over the square root of the number of
// tiles) and no tile far out; a sum off by a few percent shifts every tile
// one way, a changed scene moves some tiles by far more than noise can. The
// bounds are calibrated in docs/still.md.
static constexpr double maxMeanAbsZ = 1.5, meanZTiles = 8.0, maxWorstZ = 6.0,
                        maxShareBeyond4 = 0.005;

TileStats tileStats(const float *sum, const float *squares, unsigned width, unsigned height,
                    double frames, const std::vector<bool> &traced) {
  TileStats stats;
  stats.frames = frames;
  if (frames < minCheckFrames) return stats;
  const unsigned tx = (width + tileSide - 1) / tileSide, ty = (height + tileSide - 1) / tileSide;
  std::vector<double> count(std::size_t{tx} * ty, 0.0);
  stats.mean.assign(count.size() * 3, 0.0);
  stats.variance.assign(count.size() * 3, 0.0);
  const double n = frames;
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      const std::size_t p = std::size_t{y} * width + x;
      if (!traced[p]) continue;
      const std::size_t t = std::size_t{y / tileSide} * tx + x / tileSide;
      count[t] += 1.0;
      for (int ch = 0; ch < 3; ++ch) {
        const double s = sum[p * 3 + ch], q = squares[p * 3 + ch], mean = s / n;
        stats.mean[t * 3 + ch] += mean;
        // The variance of the pixel's mean: its samples' variance over n.
        stats.variance[t * 3 + ch] += std::max((q - s * mean) / (n - 1.0), 0.0) / n;
      }
    }
  for (std::size_t t = 0; t < count.size(); ++t)
    for (int ch = 0; ch < 3; ++ch)
      if (count[t] > 0.0) {
        stats.mean[t * 3 + ch] /= count[t];
        stats.variance[t * 3 + ch] /= count[t] * count[t];
      }
  return stats;
}

std::vector<PartAgreement> checkAgreement(const std::vector<TileStats> &parts, unsigned width,
                                          unsigned height) {
  std::vector<PartAgreement> result(parts.size());
  std::vector<std::size_t> tested;
  for (std::size_t k = 0; k < parts.size(); ++k)
    if (!parts[k].mean.empty()) tested.push_back(k);
  if (tested.size() < 2) return result;
  const std::size_t units = parts[tested[0]].mean.size();
  const unsigned tx = (width + tileSide - 1) / tileSide;
  // The frame-weighted sums of all tested parts; the rest is them less the part.
  // weightedVariance over all frames is the variance of one frame's tile
  // sample, pooled over the parts.
  double frames = 0.0;
  std::vector<double> weighted, weightedVariance;
  weighted.assign(units, 0.0);
  weightedVariance.assign(units, 0.0);
  for (std::size_t k : tested) {
    const TileStats &s = parts[k];
    frames += s.frames;
    for (std::size_t u = 0; u < units; ++u) {
      weighted[u] += s.frames * s.mean[u];
      weightedVariance[u] += s.frames * s.frames * s.variance[u];
    }
  }
  for (std::size_t k : tested) {
    const TileStats &s = parts[k];
    PartAgreement &a = result[k];
    a.checked = true;
    const double restFrames = frames - s.frames;
    double sumAbs = 0.0, sumZ = 0.0;
    std::size_t beyond = 0;
    for (std::size_t u = 0; u < units; ++u) {
      const double restMean = (weighted[u] - s.frames * s.mean[u]) / restFrames;
      const double restVariance =
          std::max(weightedVariance[u] - s.frames * s.frames * s.variance[u], 0.0) /
          (restFrames * restFrames);
      // Path-traced samples are skewed: a part that missed a tile's rare bright
      // paths has a low mean and a low variance of its own, and its own
      // variance alone would make that look significant. Neither side's
      // variance is taken below what the pooled variance gives its frames.
      const double pooled = weightedVariance[u] / frames;
      const double spread =
          std::max(s.variance[u], pooled / s.frames) + std::max(restVariance, pooled / restFrames);
      if (!(spread > 0.0)) continue; // nothing traced there
      const double z = (s.mean[u] - restMean) / std::sqrt(spread);
      ++a.tiles;
      sumAbs += std::fabs(z);
      sumZ += z;
      beyond += std::fabs(z) > 4.0;
      if (std::fabs(z) > std::fabs(a.worstZ)) {
        a.worstZ = z;
        const std::size_t t = u / 3;
        a.worstX = static_cast<unsigned>(t % tx) * tileSide;
        // Tiles count from the bottom row; people count from the top.
        const unsigned bottom = static_cast<unsigned>(t / tx) * tileSide;
        a.worstY = height - std::min(height, bottom + tileSide);
      }
    }
    if (a.tiles == 0) continue;
    a.meanAbsZ = sumAbs / a.tiles;
    a.meanZ = sumZ / a.tiles;
    a.shareBeyond4 = static_cast<double>(beyond) / a.tiles;
    // A tile's three channels see the same paths: the tiles count, not the channels.
    const double tiles = a.tiles / 3.0;
    a.consistent = a.meanAbsZ <= maxMeanAbsZ &&
                   std::fabs(a.meanZ) <= meanZTiles / std::sqrt(std::max(tiles, 1.0)) &&
                   std::fabs(a.worstZ) <= maxWorstZ && a.shareBeyond4 <= maxShareBeyond4;
  }
  return result;
}

std::string agreementText(const PartAgreement &a) {
  char text[200];
  std::snprintf(text, sizeof text,
                "mean |z| %.2f, mean z %+.2f, %.2f%% of %zu tile channels beyond |z| 4, worst z "
                "%+.1f at the tile from pixel (%u, %u)",
                a.meanAbsZ, a.meanZ, 100.0 * a.shareBeyond4, a.tiles, a.worstZ, a.worstX, a.worstY);
  return text;
}

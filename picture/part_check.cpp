#include "part_check.h"

#include "noise.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// A part is refused when its tiles stray from the reference beyond what noise
// does, or when its variance is out of line with the other parts'.
// Consistent parts give a mean |z| near 0.8 (a normal's), a mean z near 0
// (within a few times one over the square root of the number of tiles) and no
// tile far out; a sum off by a few percent shifts every tile one way, a
// changed scene moves some tiles by far more than noise can. Their variances
// agree to within a few percent over the median tile, while a sum of squares
// scaled by a broken pass is off in every tile. The bounds are calibrated in
// docs/still.md.
static constexpr double maxMeanAbsZ = 1.5, meanZTiles = 8.0, maxWorstZ = 6.0,
                        maxShareBeyond4 = 0.005, maxVarianceRatio = 2.0;

TileStats tileStats(const Picture &picture) {
  TileStats stats;
  const unsigned width = picture.width, height = picture.height;
  if (!picture.hasSquares() || picture.pixels() == 0) return stats;
  stats.most = *std::max_element(picture.mean.count.begin(), picture.mean.count.end());
  const unsigned tx = (width + tileSide - 1) / tileSide, ty = (height + tileSide - 1) / tileSide;
  stats.tiles = std::size_t{tx} * ty;
  std::vector<double> count(stats.tiles, 0.0);
  std::vector<char> out(stats.tiles, 0);
  for (std::vector<double> *v : {&stats.frames, &stats.mean, &stats.variance, &stats.level})
    v->assign(count.size() * 3, 0.0);
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x) {
      const std::size_t p = std::size_t{y} * width + x;
      const std::size_t t = std::size_t{y / tileSide} * tx + x / tileSide;
      const double n = picture.mean.count[p];
      if (n < minCheckFrames) {
        ++stats.fewPixels;
        stats.tilesLeftOut += !out[t];
        out[t] = 1;
        continue;
      }
      count[t] += 1.0;
      for (int ch = 0; ch < 3; ++ch) {
        const double s = picture.mean.sum[p * 3 + ch], q = picture.mean.squares[p * 3 + ch];
        const double mean = s / n;
        stats.frames[t * 3 + ch] += n;
        stats.mean[t * 3 + ch] += mean;
        // The variance of the pixel's mean: its samples' variance over n.
        stats.variance[t * 3 + ch] += std::max((q - s * mean) / (n - 1.0), 0.0) / n;
        stats.level[t * 3 + ch] += mean * mean;
      }
    }
  if (stats.tilesLeftOut == stats.tiles) {
    stats.frames.clear(), stats.mean.clear(), stats.variance.clear(), stats.level.clear();
    return stats;
  }
  for (std::size_t t = 0; t < count.size(); ++t)
    for (int ch = 0; ch < 3; ++ch) {
      if (out[t]) {
        stats.frames[t * 3 + ch] = stats.mean[t * 3 + ch] = stats.variance[t * 3 + ch] =
            stats.level[t * 3 + ch] = 0.0;
        continue;
      }
      stats.frames[t * 3 + ch] /= count[t];
      stats.mean[t * 3 + ch] /= count[t];
      stats.variance[t * 3 + ch] /= count[t] * count[t];
      stats.level[t * 3 + ch] /= count[t] * count[t];
    }
  return stats;
}

namespace {

// The variance of one frame's tile mean.
double perFrame(const TileStats &s, std::size_t u) {
  return s.frames[u] * s.variance[u];
}

// Whether a part has the tile (it is left out where a pixel has too few samples).
bool present(const TileStats &s, std::size_t u) {
  return s.frames[u] > 0.0;
}

// Whether a part's tile varies beyond what rounding gives pixels that trace
// nothing.
bool varies(const TileStats &s, std::size_t u) {
  return perFrame(s, u) > constantBound(s.frames[u]) * s.level[u];
}

template <class T> double medianOf(std::vector<T> &values) {
  auto mid = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), mid, values.end());
  if (values.size() % 2) return *mid;
  return 0.5 * (double{*mid} + *std::max_element(values.begin(), mid));
}

// Parts flat in most tiles where at least half of the other parts vary: a
// sum of squares left at zero. Whatever the others hold, such a part is wrong.
void markNoVariance(const std::vector<TileStats> &parts, const std::vector<std::size_t> &tested,
                    std::vector<PartAgreement> &result) {
  const std::size_t units = parts[tested[0]].mean.size();
  std::vector<std::size_t> counted(parts.size(), 0), flat(parts.size(), 0);
  for (std::size_t u = 0; u < units; ++u) {
    std::size_t varying = 0, there = 0;
    for (std::size_t k : tested) {
      varying += varies(parts[k], u);
      there += present(parts[k], u);
    }
    for (std::size_t k : tested) {
      const bool own = varies(parts[k], u);
      const std::size_t others = varying - own;
      if (!present(parts[k], u) || others == 0 || 2 * others < there - 1) continue;
      ++counted[k];
      flat[k] += !own;
    }
  }
  for (std::size_t k : tested)
    result[k].noVariance = counted[k] > 0 && 2 * flat[k] > counted[k];
}

// Each part's per-frame variance over the reference's, tile by tile where at
// least half of the live parts vary, and the median of that over the tiles.
// The reference is the median of the live parts, which a minority of bad
// parts cannot move; of two live parts, the other one.
void varianceRatios(const std::vector<TileStats> &parts, const std::vector<std::size_t> &tested,
                    const std::vector<std::size_t> &live, std::vector<PartAgreement> &result) {
  const std::size_t units = parts[tested[0]].mean.size();
  std::vector<std::vector<float>> ratios(parts.size());
  std::vector<double> values;
  for (std::size_t u = 0; u < units; ++u) {
    values.clear();
    std::size_t varying = 0;
    for (std::size_t j : live) {
      if (!present(parts[j], u)) continue;
      values.push_back(perFrame(parts[j], u));
      varying += varies(parts[j], u);
    }
    if (varying == 0 || 2 * varying < values.size()) continue;
    const double median = medianOf(values);
    for (std::size_t k : tested) {
      if (!present(parts[k], u)) continue;
      double reference = median;
      if (live.size() == 2 && (k == live[0] || k == live[1]))
        reference = perFrame(parts[k == live[0] ? live[1] : live[0]], u);
      if (reference > 0.0)
        ratios[k].push_back(static_cast<float>(perFrame(parts[k], u) / reference));
    }
  }
  for (std::size_t k : tested)
    if (!ratios[k].empty()) result[k].varianceRatio = medianOf(ratios[k]);
}

bool varianceInLine(const PartAgreement &a) {
  return !a.noVariance && a.varianceRatio <= maxVarianceRatio &&
         a.varianceRatio >= 1.0 / maxVarianceRatio;
}

// How far the z figures stray, in multiples of their bounds: over 1 refuses.
double badness(const PartAgreement &a) {
  if (a.tiles == 0) return 0.0;
  // A tile's three channels see the same paths: the tiles count, not the channels.
  const double tiles = std::max(a.tiles / 3.0, 1.0);
  return std::max({a.meanAbsZ / maxMeanAbsZ, std::fabs(a.meanZ) * std::sqrt(tiles) / meanZTiles,
                   std::fabs(a.worstZ) / maxWorstZ, a.shareBeyond4 / maxShareBeyond4});
}

// The frame-weighted sums of the reference parts' frames, means, per-frame
// variances and levels, per tile channel (an adaptive part's frames differ
// from tile to tile); a member is taken out again when it is the part tested.
struct Reference {
  std::vector<double> frames, mean, variance, level;
};

Reference referenceOf(const std::vector<TileStats> &parts, const std::vector<std::size_t> &members,
                      std::size_t units) {
  Reference r;
  for (std::vector<double> *v : {&r.frames, &r.mean, &r.variance, &r.level})
    v->assign(units, 0.0);
  for (std::size_t k : members) {
    const TileStats &s = parts[k];
    for (std::size_t u = 0; u < units; ++u) {
      r.frames[u] += s.frames[u];
      r.mean[u] += s.frames[u] * s.mean[u];
      r.variance[u] += s.frames[u] * perFrame(s, u);
      r.level[u] += s.frames[u] * s.level[u];
    }
  }
  return r;
}

// Part s's tiles against the reference (less s, when a member): z from the
// reference's variance. Path-traced samples are skewed: a part that caught a
// tile's rare bright paths has a high mean and a high variance of its own, and
// the reference's variance alone would make that look significant. So the
// part's own variance counts where larger, once its excess over the others'
// as a whole (a sum of squares scaled up) is taken out, and neither side is
// taken below the variance pooled over both.
struct Grid {
  unsigned width, height;
  double bound; // constantBound of the most frames a part holds
};

void against(const TileStats &s, const Reference &ref, bool member, const Grid &picture,
             PartAgreement &a) {
  const double scale = std::max(a.varianceRatio, 1.0);
  const unsigned tx = (picture.width + tileSide - 1) / tileSide;
  a = {.varianceRatio = a.varianceRatio, .noVariance = a.noVariance};
  double sumAbs = 0.0, sumZ = 0.0;
  std::size_t beyond = 0;
  for (std::size_t u = 0; u < s.mean.size(); ++u) {
    const double frames = s.frames[u], own = member ? frames : 0.0;
    const double restFrames = ref.frames[u] - own;
    if (!present(s, u) || !(restFrames > 0.0)) continue;
    const double restMean = (ref.mean[u] - own * s.mean[u]) / restFrames;
    const double restVariance = std::max(ref.variance[u] - own * perFrame(s, u), 0.0) / restFrames;
    const double restLevel = std::max(ref.level[u] - own * s.level[u], 0.0) / restFrames;
    const double variance = perFrame(s, u) / scale;
    const double pooled = (frames * variance + restFrames * restVariance) / (frames + restFrames);
    const double floor = std::max(restVariance, pooled);
    if (!(floor > picture.bound * restLevel)) continue; // pixels that trace nothing
    const double spread = std::max(variance, pooled) / frames + floor / restFrames;
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
      a.worstY = picture.height - std::min(picture.height, bottom + tileSide);
    }
  }
  if (a.tiles == 0) return;
  a.checked = true;
  a.meanAbsZ = sumAbs / a.tiles;
  a.meanZ = sumZ / a.tiles;
  a.shareBeyond4 = static_cast<double>(beyond) / a.tiles;
}

bool holds(const std::vector<std::size_t> &set, std::size_t k) {
  return std::find(set.begin(), set.end(), k) != set.end();
}

} // namespace

std::vector<PartAgreement> checkAgreement(const std::vector<TileStats> &parts, unsigned width,
                                          unsigned height) {
  std::vector<PartAgreement> result(parts.size());
  std::vector<std::size_t> tested, live, active;
  Grid picture{width, height, 0.0};
  for (std::size_t k = 0; k < parts.size(); ++k)
    if (!parts[k].mean.empty()) {
      tested.push_back(k);
      picture.bound = std::max(picture.bound, constantBound(parts[k].most));
    }
  if (tested.size() < 2) return result;
  const std::size_t units = parts[tested[0]].mean.size();
  markNoVariance(parts, tested, result);
  for (std::size_t k : tested)
    if (!result[k].noVariance) live.push_back(k);
  varianceRatios(parts, tested, live, result);
  // The reference: the live parts whose variance is in line (of two, both:
  // neither can be preferred), less the part that disagrees most while one
  // does and more than two are left.
  for (std::size_t k : live)
    if (live.size() <= 2 || varianceInLine(result[k])) active.push_back(k);
  if (active.size() < 2) active = live;
  while (active.size() > 2) {
    const Reference ref = referenceOf(parts, active, units);
    std::size_t worst = 0;
    double most = 0.0;
    for (std::size_t i = 0; i < active.size(); ++i) {
      PartAgreement a = result[active[i]];
      against(parts[active[i]], ref, true, picture, a);
      if (badness(a) > most) most = badness(a), worst = i;
    }
    if (most <= 1.0) break;
    active.erase(active.begin() + static_cast<std::ptrdiff_t>(worst));
  }
  const Reference ref = referenceOf(parts, active, units);
  for (std::size_t k : tested) {
    PartAgreement &a = result[k];
    against(parts[k], ref, holds(active, k), picture, a);
    a.checked = a.checked || a.noVariance;
    a.varianceOutOfLine = !a.noVariance && !varianceInLine(a);
    a.consistent = badness(a) <= 1.0 && varianceInLine(a);
  }
  if (live.size() == 2 && !(result[live[0]].consistent && result[live[1]].consistent))
    result[live[0]].consistent = result[live[1]].consistent = false;
  return result;
}

std::string agreementText(const PartAgreement &a) {
  char text[240];
  std::snprintf(text, sizeof text,
                "variance %.2f times the others', mean |z| %.2f, mean z %+.2f, %.2f%% of %zu "
                "tile channels beyond |z| 4, worst z %+.1f at the tile from pixel (%u, %u)",
                a.varianceRatio, a.meanAbsZ, a.meanZ, 100.0 * a.shareBeyond4, a.tiles, a.worstZ,
                a.worstX, a.worstY);
  return text;
}

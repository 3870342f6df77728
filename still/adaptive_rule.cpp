#include "adaptive_rule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

AdaptiveRule adaptiveRule(double level) {
  AdaptiveRule rule;
  rule.level = level;
  rule.minFrames = 256;
  return rule;
}

// Each pixel's held-out mean and per-sample variance, and whether it varies.
struct Spread {
  std::vector<double> mean, variance;
  std::vector<char> varies;
};

static Spread heldSpread(const Picture &picture) {
  const std::size_t pixels = picture.pixels();
  Spread s{std::vector<double>(pixels * 3, 0.0), std::vector<double>(pixels * 3, 0.0),
           std::vector<char>(pixels, 0)};
  for (std::size_t p = 0; p < pixels; ++p)
    if (picture.held.count[p] >= 2.0 &&
        !(s.varies[p] = sampleSpread(&picture.held.sum[p * 3], &picture.held.squares[p * 3],
                                     picture.held.count[p], &s.mean[p * 3], &s.variance[p * 3])))
      for (int ch = 0; ch < 3; ++ch)
        s.variance[p * 3 + ch] = 0.0; // the rounding of a constant's sums
  return s;
}

// The error in levels that a pixel stops by: 255 standard errors of a mean of
// n samples, per channel, the largest. The picture shows a channel above 1 as
// white, and the error of that clamped value reads near 0; but a held-out
// mean above 1 may owe it to one bright sample, so a channel counts as white
// only when its held-out mean exceeds 1 by 3 standard errors of its own.
static double stopLevels(const double mean[3], const double variance[3], double n, double held) {
  double worst = 0.0;
  for (int ch = 0; ch < 3; ++ch) {
    const double m[3] = {mean[ch], 0.0, 0.0}, v[3] = {variance[ch], 0.0, 0.0};
    const bool white = mean[ch] - 3.0 * std::sqrt(variance[ch] / held) > 1.0;
    worst = std::max(worst, white ? levelsOf(m, v, n) : 255.0 * std::sqrt(variance[ch] / n));
  }
  return worst;
}

// The samples pixel p's mean needs for the level. A few dozen held-out
// samples miss the rare bright paths (a flame's reflection) that dominate a
// pixel's variance, and a pixel that missed them would stop far too early; its
// neighbours see the same light, so the variance taken is the largest of the
// pixel's own and its neighbours' within rule.pool. A pixel whose held-out
// samples were all the same (dark but for the rare path) takes its
// neighbours'; 0 where nothing around varies (the letterbox, the outline).
static double need(const Picture &picture, const AdaptiveRule &rule, const Spread &s,
                   std::size_t p) {
  const long w = picture.width, h = picture.height, r = rule.pool;
  const long x = static_cast<long>(p % picture.width), y = static_cast<long>(p / picture.width);
  double v[3] = {s.variance[p * 3], s.variance[p * 3 + 1], s.variance[p * 3 + 2]};
  for (long yy = std::max(y - r, 0L); yy <= std::min(y + r, h - 1); ++yy)
    for (long xx = std::max(x - r, 0L); xx <= std::min(x + r, w - 1); ++xx)
      for (int ch = 0; ch < 3; ++ch)
        v[ch] = std::max(v[ch], s.variance[static_cast<std::size_t>(yy * w + xx) * 3 + ch]);
  const double n = picture.mean.count[p];
  if (v[0] == 0.0 && v[1] == 0.0 && v[2] == 0.0) {
    // Nothing around varies. A flat colour (the outline) or a letterbox row
    // traces nothing; a pixel that stayed black may yet meet a rare path, and
    // stops only once darkness is likely (no light in 64 held-out samples
    // means a chance under 5% per sample).
    const double *m = &s.mean[p * 3];
    const double uvY = (static_cast<double>(y) + 0.5) / static_cast<double>(h);
    const bool flat = m[0] != 0.0 || m[1] != 0.0 || m[2] != 0.0 || uvY < 0.057 || uvY > 0.943;
    return flat || picture.held.count[p] >= 64.0 ? 0.0 : INFINITY;
  }
  const double at =
      stopLevels(&s.mean[p * 3], v, n, picture.held.count[p]) / (rule.level * rule.margin);
  return n * at * at;
}

// The need below which no traced pixel stops: the floor share of the traced
// pixels' needs. A pixel that looks quieter than that has most likely not met
// its rare paths yet.
static double needFloor(const std::vector<double> &needs, double share) {
  std::vector<double> traced;
  for (double n : needs)
    if (n > 0.0 && std::isfinite(n)) traced.push_back(n);
  if (traced.empty() || share <= 0.0) return 0.0;
  auto at = traced.begin() + static_cast<std::ptrdiff_t>(share * double(traced.size() - 1));
  std::nth_element(traced.begin(), at, traced.end());
  return *at;
}

std::vector<std::uint32_t> runningPixels(const Picture &picture, const AdaptiveRule &rule,
                                         unsigned k) {
  const std::size_t pixels = picture.pixels();
  std::vector<std::uint32_t> running;
  const bool decide = k >= rule.minFrames && k % rule.every == 0;
  std::vector<double> needs;
  double floor = 0.0;
  if (decide) {
    Spread spread = heldSpread(picture);
    needs.resize(pixels);
    for (std::size_t p = 0; p < pixels; ++p)
      needs[p] = need(picture, rule, spread, p);
    floor = needFloor(needs, rule.floor);
  }
  for (std::size_t p = 0; p < pixels; ++p) {
    if (picture.mean.count[p] + picture.held.count[p] != k) continue; // stopped before
    if (decide && (needs[p] == 0.0 || picture.mean.count[p] >= std::max(needs[p], floor))) continue;
    const unsigned x = static_cast<unsigned>(p % picture.width);
    const unsigned y = static_cast<unsigned>(p / picture.width);
    running.push_back(x | (y << 16));
  }
  return running;
}

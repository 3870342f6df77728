#include "adaptive_rule.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

AdaptiveRule adaptiveRule(double level) {
  AdaptiveRule rule;
  rule.level = level;
  rule.minFrames = 64;
  return rule;
}

std::string ruleText(const AdaptiveRule &rule) {
  char text[128];
  std::snprintf(text, sizeof text, "level=%.17g min=%u every=%u neighbours=%s", rule.level,
                rule.minFrames, rule.every, rule.neighbours ? "median3x3" : "none");
  return text;
}

bool parseRuleText(const std::string &text, AdaptiveRule &rule) {
  char neighbours[32] = "";
  AdaptiveRule r;
  int used = 0;
  if (std::sscanf(text.c_str(), "level=%lf min=%u every=%u neighbours=%31s%n", &r.level,
                  &r.minFrames, &r.every, neighbours, &used) != 4 ||
      used != static_cast<int>(text.size()) || !(r.level > 0.0) || !std::isfinite(r.level) ||
      r.every < 2)
    return false;
  std::string n = neighbours;
  if (n != "median3x3" && n != "none") return false;
  r.neighbours = n == "median3x3";
  rule = r;
  return true;
}

// The samples pixel p's mean needs for the level, judged from its held-out
// samples alone; 0 for a pixel whose held-out samples do not vary.
static double need(const Picture &picture, const AdaptiveRule &rule, std::size_t p) {
  const double held = picture.held.count[p], n = picture.mean.count[p];
  if (held < 2.0 || n < 1.0) return INFINITY;
  double mean[3], variance[3];
  if (!sampleSpread(&picture.held.sum[p * 3], &picture.held.squares[p * 3], held, mean, variance))
    return 0.0;
  const double at = levelsOf(mean, variance, n) / rule.level;
  return n * at * at;
}

std::vector<std::uint32_t> runningPixels(const Picture &picture, const AdaptiveRule &rule,
                                         unsigned k) {
  const std::size_t pixels = picture.pixels();
  std::vector<std::uint32_t> running;
  const bool decide = k >= rule.minFrames && k % rule.every == 0;
  std::vector<double> needs;
  if (decide) {
    needs.resize(pixels);
    for (std::size_t p = 0; p < pixels; ++p)
      needs[p] = need(picture, rule, p);
  }
  const unsigned w = picture.width, h = picture.height;
  for (std::size_t p = 0; p < pixels; ++p) {
    if (picture.mean.count[p] + picture.held.count[p] != k) continue; // stopped before
    const unsigned x = static_cast<unsigned>(p % w), y = static_cast<unsigned>(p / w);
    if (decide) {
      double n = needs[p];
      if (rule.neighbours) {
        // The median of the 3 x 3 neighbourhood's needs where it is higher:
        // a lone noisy pixel keeps its own need, a noisy patch its pixels'.
        double around[9];
        int m = 0;
        for (unsigned yy = y ? y - 1 : 0; yy <= std::min(y + 1, h - 1); ++yy)
          for (unsigned xx = x ? x - 1 : 0; xx <= std::min(x + 1, w - 1); ++xx)
            around[m++] = needs[std::size_t{yy} * w + xx];
        std::nth_element(around, around + m / 2, around + m);
        n = std::max(n, around[m / 2]);
      }
      if (picture.mean.count[p] >= n) continue;
    }
    running.push_back(x | (y << 16));
  }
  return running;
}

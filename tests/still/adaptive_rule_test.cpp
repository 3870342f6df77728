// The stopping rule of adaptive renders on pictures made to order, and
// replayed on synthetic pixels whose rare bright samples are the picture's
// noise: it decides from held-out samples only, at decision frames only,
// over a pool of fixed radius, and leaves the mean unbiased.
#include "adaptive_rule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

// A picture after k frames of which every pixel ran all, with the held-out and
// the mean samples of each pixel given their own variance (0: constant).
Picture made(unsigned k, const std::vector<double> &heldVariance,
             const std::vector<double> &meanVariance, double constant = 0.5) {
  Picture p;
  p.width = 12;
  p.height = 40; // rows 0-1 and 38-39 are letterbox rows
  const std::size_t n = p.pixels();
  const double heldCount = k / 8, meanCount = k - heldCount;
  for (Samples *s : {&p.mean, &p.held}) {
    const bool held = s == &p.held;
    const double c = held ? heldCount : meanCount;
    s->count.assign(n, c);
    s->sum.assign(n * 3, 0.0);
    s->squares.assign(n * 3, 0.0);
    for (std::size_t q = 0; q < n; ++q)
      for (int ch = 0; ch < 3; ++ch) {
        const double v = held ? heldVariance[q] : meanVariance[q];
        const double m = v == 0.0 ? constant : 0.5;
        s->sum[q * 3 + ch] = m * c;
        s->squares[q * 3 + ch] = v * (c - 1) + m * m * c; // (n - 1) v + n m^2
      }
  }
  return p;
}

Picture made(unsigned k, const std::vector<double> &variance, double constant = 0.5) {
  return made(k, variance, variance, constant);
}

bool runs(const std::vector<std::uint32_t> &list, unsigned x, unsigned y) {
  for (std::uint32_t q : list)
    if (q == (x | (y << 16))) return true;
  return false;
}

TEST(AdaptiveRule, StopsByTheHeldOutSpreadAtFixedFramesOnly) {
  AdaptiveRule rule = adaptiveRule(4.0);
  // A noisy column among quiet ones: its neighbours within the pool's reach
  // (2 pixels) keep running with it, the ones beyond stop.
  std::vector<double> variance(12 * 40, 1e-4);
  for (unsigned y = 0; y < 40; ++y)
    variance[y * 12 + 11] = 4.0;
  Picture p = made(rule.minFrames, variance);
  auto running = runningPixels(p, rule, rule.minFrames);
  EXPECT_FALSE(runs(running, 0, 20)) << "quiet, far from the noise";
  EXPECT_FALSE(runs(running, 8, 20)) << "quiet, 3 pixels from the noise";
  EXPECT_TRUE(runs(running, 9, 20)) << "quiet, 2 pixels from the noise";
  EXPECT_TRUE(runs(running, 11, 20));

  // Only the held-out samples count: quiet ones stop a pixel whose mean's
  // samples are noisy, noisy ones keep a pixel with a quiet mean running.
  std::vector<double> quiet(12 * 40, 1e-4), noisy(12 * 40, 4.0);
  EXPECT_TRUE(runningPixels(made(rule.minFrames, quiet, noisy), rule, rule.minFrames).empty());
  EXPECT_EQ(runningPixels(made(rule.minFrames, variance, quiet), rule, rule.minFrames), running);

  // No decision before the minimum, nor after a frame that is not a decision
  // frame, whatever every is.
  EXPECT_EQ(runningPixels(made(rule.minFrames - 8, quiet), rule, rule.minFrames - 8).size(),
            12u * 40u);
  EXPECT_EQ(runningPixels(made(rule.minFrames + 1, quiet), rule, rule.minFrames + 1).size(),
            12u * 40u);
  AdaptiveRule sixteen = rule;
  sixteen.every = 16;
  EXPECT_EQ(runningPixels(made(rule.minFrames + 8, quiet), sixteen, rule.minFrames + 8).size(),
            12u * 40u);
  EXPECT_TRUE(
      runningPixels(made(rule.minFrames + 16, quiet), sixteen, rule.minFrames + 16).empty());
  EXPECT_EQ(runningPixels(made(rule.minFrames, variance), rule, rule.minFrames + 1).size(), 0u)
      << "no pixel ran k";

  // The rule is what a file records, and reads back.
  AdaptiveRule back;
  ASSERT_TRUE(parseRuleText(ruleText(rule), back));
  EXPECT_EQ(ruleText(back), ruleText(rule));
  EXPECT_FALSE(parseRuleText(ruleText(rule) + " x", back));
}

TEST(AdaptiveRule, BlackPixelsRunUntilDarknessIsLikelyFlatOnesStop) {
  AdaptiveRule rule = adaptiveRule(4.0);
  std::vector<double> none(12 * 40, 0.0);
  Picture black = made(rule.minFrames, none, 0.0);
  auto running = runningPixels(black, rule, rule.minFrames);
  EXPECT_TRUE(runs(running, 2, 20)) << "black, 32 held-out samples";
  EXPECT_FALSE(runs(running, 2, 0)) << "a letterbox row";
  Picture longer = made(64 * 8, none, 0.0);
  EXPECT_TRUE(runningPixels(longer, rule, 64 * 8).empty()) << "black after 64 held-out samples";
  Picture flat = made(rule.minFrames, none, 0.5);
  EXPECT_TRUE(runningPixels(flat, rule, rule.minFrames).empty()) << "a flat colour";
}

// Synthetic pixels replayed frame by frame through runningPixels: every
// third pixel of every third row takes a bright sample (8) with chance 1/128
// and 0.1 otherwise, beyond the pool's reach of the others; the rest are a
// flat 0.5. At level 8 such a pixel needs about 1000 frames. Held-out and mean samples are drawn
// independently. Returns the bright pixels' relative errors of the mean (estimate / truth - 1).
// `naive` decides instead from the mean's own samples (scaled to the held-out count), the rule that
// this one replaced.
std::vector<double> replay(const AdaptiveRule &rule, unsigned frames, std::uint32_t seed,
                           bool naive) {
  const unsigned w = 90, h = 90;
  const double bright = 8.0, dark = 0.1, chance = 1.0 / 128.0;
  const double truth = chance * bright + (1.0 - chance) * dark;
  std::mt19937 random(seed);
  Picture p;
  p.width = w;
  p.height = h;
  for (Samples *s : {&p.mean, &p.held}) {
    s->count.assign(w * h, 0.0);
    s->sum.assign(w * h * 3, 0.0);
    s->squares.assign(w * h * 3, 0.0);
  }
  auto noisy = [](unsigned x, unsigned y) { return x % 3 == 1 && y % 3 == 1; };
  Picture view = p;
  std::vector<std::uint32_t> running = runningPixels(p, rule, 0);
  for (unsigned k = 1; k <= frames && !running.empty(); ++k) {
    Samples &s = heldFrame(rule, k) ? p.held : p.mean;
    for (std::uint32_t q : running) {
      const unsigned x = q & 0xffff, y = q >> 16;
      const std::size_t at = std::size_t{y} * w + x;
      // A 32-bit draw against the chance: the same numbers on every library.
      const double v = !noisy(x, y) ? 0.5 : random() < 0x2000000u ? bright : dark;
      s.count[at] += 1.0;
      for (int ch = 0; ch < 3; ++ch) {
        s.sum[at * 3 + ch] += v;
        s.squares[at * 3 + ch] += v * v;
      }
    }
    if (naive) { // the held-out statistics replaced by the mean's own
      view.mean = p.mean;
      view.held.count = p.held.count;
      for (std::size_t at = 0; at < p.pixels(); ++at) {
        const double scale = p.mean.count[at] > 0.0 ? p.held.count[at] / p.mean.count[at] : 0.0;
        for (int ch = 0; ch < 3; ++ch) {
          view.held.sum[at * 3 + ch] = p.mean.sum[at * 3 + ch] * scale;
          view.held.squares[at * 3 + ch] = p.mean.squares[at * 3 + ch] * scale;
        }
      }
    }
    running = runningPixels(naive ? view : p, rule, k);
  }
  std::vector<double> errors;
  for (unsigned y = 0; y < h; ++y)
    for (unsigned x = 0; x < w; ++x)
      if (noisy(x, y))
        errors.push_back(p.mean.sum[(y * w + x) * 3] / p.mean.count[y * w + x] / truth - 1.0);
  return errors;
}

struct Bias {
  double mean = 0.0, error = 0.0; // the mean relative error and its standard error
};

Bias bias(bool naive, unsigned trials) {
  const AdaptiveRule rule = adaptiveRule(8.0);
  std::vector<double> all;
  for (unsigned t = 0; t < trials; ++t)
    for (double e : replay(rule, 1024, 1000 + t, naive))
      all.push_back(e);
  Bias b;
  double squares = 0.0;
  for (double e : all)
    b.mean += e / double(all.size());
  for (double e : all)
    squares += (e - b.mean) * (e - b.mean);
  b.error = std::sqrt(squares / double(all.size() - 1) / double(all.size()));
  return b;
}

// The rule's mean is unbiased: its stops are independent of the mean's
// samples. The naive rule, fed the same pixels, stops first the pixels that
// have not yet met their bright samples, and shows its bias (-5.3%). 10800
// pixels give a standard error of 0.25%: a bias beyond about 1% fails.
TEST(AdaptiveRule, LeavesTheMeanUnbiasedWhereTheNaiveRuleIsNot) {
  Bias rule = bias(false, 12), naive = bias(true, 12);
  std::printf("relative bias: rule %+.4f, naive %+.4f (standard error %.4f, %.4f)\n", rule.mean,
              naive.mean, rule.error, naive.error);
  EXPECT_LT(std::abs(rule.mean), 4.0 * rule.error);
  EXPECT_LT(rule.error, 0.003) << "too little power to see a bias of 1.2%";
  EXPECT_LT(naive.mean, -8.0 * naive.error) << "the control shows no bias";
}

} // namespace

// Adaptive renders: the pass over a list of running pixels on headless GL,
// and the stopping rule on pictures made to order.
#include "adaptive_pass.h"
#include "adaptive_rule.h"
#include "still_core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

const unsigned W = 24, H = 14;

std::vector<float> uniformSum(unsigned frames) {
  testing::internal::CaptureStdout();
  EXPECT_TRUE(stillOpen(W, H, ScenePass::Compute));
  testing::internal::GetCapturedStdout();
  for (unsigned k = 0; k < frames; ++k)
    stillRenderFrame();
  std::vector<float> sum(W * H * 3);
  stillReadSum(sum.data());
  stillClose();
  return sum;
}

// Every pixel running gives the compute pass's sums bit for bit, with the
// frames counted in alpha; pixels left off the list keep what they hold, and
// held-out frames go to their own sums.
TEST(AdaptivePass, TracesTheListedPixelsExactlyAsTheUniformPass) {
  std::vector<float> uniform = uniformSum(3);
  testing::internal::CaptureStdout();
  ASSERT_TRUE(stillOpenAdaptive(W, H));
  testing::internal::GetCapturedStdout();
  std::vector<std::uint32_t> all, some;
  for (unsigned y = 0; y < H; ++y)
    for (unsigned x = 0; x < W; ++x)
      for (auto *list : {&all, x % 3 ? nullptr : &some})
        if (list) list->push_back(x | (y << 16));
  adaptiveSetRunning(all);
  for (unsigned f = 1; f <= 3; ++f)
    ASSERT_TRUE(adaptiveFrame(f, false));
  adaptiveSetRunning(some);
  adaptiveFrame(4, true);
  std::vector<float> mean(W * H * 4), held(W * H * 4);
  adaptiveRead(AdaptiveSum::Mean, mean.data());
  adaptiveRead(AdaptiveSum::Held, held.data());
  stillClose();
  for (std::size_t p = 0; p < W * H; ++p) {
    for (int ch = 0; ch < 3; ++ch)
      ASSERT_EQ(mean[p * 4 + ch], uniform[p * 3 + ch]) << "pixel " << p;
    EXPECT_EQ(mean[p * 4 + 3], 3.0f);
    EXPECT_EQ(held[p * 4 + 3], p % W % 3 ? 0.0f : 1.0f) << "pixel " << p;
  }
}

// A picture after k frames of which every pixel ran all, with the held-out
// samples each pixel's variance gives (0: constant).
Picture made(unsigned k, const std::vector<double> &variance, double heldMean = 0.5) {
  Picture p;
  p.width = 12;
  p.height = 40; // rows 0-1 and 38-39 are letterbox rows
  const std::size_t n = p.pixels();
  const double heldCount = k / 8, meanCount = k - heldCount;
  for (Samples *s : {&p.mean, &p.held}) {
    const double c = s == &p.held ? heldCount : meanCount;
    s->count.assign(n, c);
    s->sum.assign(n * 3, 0.0);
    s->squares.assign(n * 3, 0.0);
    for (std::size_t q = 0; q < n; ++q)
      for (int ch = 0; ch < 3; ++ch) {
        const double m = variance[q] == 0.0 ? heldMean : 0.5, v = variance[q];
        s->sum[q * 3 + ch] = m * c;
        s->squares[q * 3 + ch] = v * (c - 1) + m * m * c; // (n - 1) v + n m^2
      }
  }
  return p;
}

bool runs(const std::vector<std::uint32_t> &list, unsigned x, unsigned y) {
  for (std::uint32_t q : list)
    if (q == (x | (y << 16))) return true;
  return false;
}

TEST(AdaptiveRule, StopsByTheHeldOutSpreadAtFixedFramesOnly) {
  AdaptiveRule rule = adaptiveRule(4.0);
  // A noisy column among quiet ones: its neighbours keep running with it.
  std::vector<double> variance(12 * 40, 1e-4);
  for (unsigned y = 0; y < 40; ++y)
    variance[y * 12 + 11] = 4.0;
  Picture p = made(rule.minFrames, variance);
  auto running = runningPixels(p, rule, rule.minFrames);
  EXPECT_FALSE(runs(running, 0, 20)) << "quiet, far from the noise";
  EXPECT_TRUE(runs(running, 9, 20)) << "within reach of the noisy column";
  EXPECT_TRUE(runs(running, 11, 20));
  // No decision between decision frames or before the minimum.
  Picture early = made(rule.minFrames - 8, variance);
  EXPECT_EQ(runningPixels(early, rule, rule.minFrames - 8).size(), 12u * 40u);
  Picture between = made(rule.minFrames, variance);
  EXPECT_EQ(runningPixels(between, rule, rule.minFrames + 1).size(), 0u) << "no pixel ran k";
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

} // namespace

// The stopping rule and white pixels: a pixel whose held-out mean is above 1
// (white on screen) stops only when it surely is, not when one bright sample
// lifted its mean there.
#include "adaptive_rule.h"

#include <gtest/gtest.h>

namespace {

// Every pixel after k frames: held-out samples of this mean and variance,
// and a mean of the same.
Picture uniformly(unsigned k, double mean, double variance) {
  Picture p;
  p.width = 12;
  p.height = 40;
  for (Samples *s : {&p.mean, &p.held}) {
    const double c = s == &p.held ? k / 8 : k - k / 8;
    s->count.assign(p.pixels(), c);
    s->sum.assign(p.pixels() * 3, mean * c);
    s->squares.assign(p.pixels() * 3, variance * (c - 1) + mean * mean * c);
  }
  return p;
}

TEST(WhiteStop, OnlySurelyWhitePixelsStopByTheirClampedValue) {
  const AdaptiveRule rule = adaptiveRule(8.0);
  const unsigned k = rule.minFrames;
  // One sample of 72.5 among 32 dark ones: a mean of 2.2, far from surely white.
  const double mean = 72.5 / 33, variance = (72.5 * 72.5 - 33 * mean * mean) / 32;
  EXPECT_EQ(runningPixels(uniformly(k, mean, variance), rule, k).size(), 12u * 40u);
  // A flame: bright in every sample.
  EXPECT_TRUE(runningPixels(uniformly(k, 5.0, 1.0), rule, k).empty());
}

} // namespace

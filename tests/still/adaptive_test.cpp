// Adaptive renders: the pass over a list of running pixels on headless GL
// (the stopping rule is in adaptive_rule_test.cpp).
#include "adaptive_pass.h"
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

} // namespace

// The frame passes' limit guard on headless GL, for the limits setting this
// test is built with.
#include "accumulation.h"
#include "config.h"
#include "still_core.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const char *countingShader = R"(#version 460
uniform vec3 u;
uniform sampler2D fr;
out vec3 c;
void main() { c = texture(fr, gl_FragCoord.xy / u.xy).xyz + vec3(1); }
)";

TEST(FrameGuard, StopsAtTheLimitsOnlyWhenEnforced) {
  testing::internal::CaptureStdout();
  bool opened = stillOpenWith(countingShader, nullptr, 2, 2);
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(opened);

  // At 60 seconds the guard skips the whole frame.
  renderFrame(60.0f);
  EXPECT_EQ(accumulationView().frameCount, RunConfig::limitsEnforced ? 0.0f : 1.0f);
  renderFrame(59.99f);
  EXPECT_EQ(accumulationView().frameCount, RunConfig::limitsEnforced ? 1.0f : 2.0f);

  // The frame that reaches 2048 is drawn; none after it.
  while (accumulationView().frameCount < 2047.0f)
    renderFrame(0.0f);
  renderFrame(0.0f);
  EXPECT_EQ(accumulationView().frameCount, 2048.0f);
  renderFrame(0.0f);
  renderFrame(0.0f);
  float expected = RunConfig::limitsEnforced ? 2048.0f : 2050.0f;
  EXPECT_EQ(accumulationView().frameCount, expected);

  // The texture keeps the sum of the frames drawn, so the mean stays 1.
  std::vector<float> mean(2 * 2 * 3);
  stillReadMean(mean.data());
  for (float m : mean)
    EXPECT_EQ(m, 1.0f);
  stillClose();
}

} // namespace

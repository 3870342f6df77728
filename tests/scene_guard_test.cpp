// A sample that is not finite adds nothing to the running sum: the scene's own
// main runs with a path tracer that returns NaN or infinity.
#include "shaders.h"
#include "still_core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

TEST(SceneGuard, NonFiniteSamplesAddNothing) {
  const std::string library = sceneLibrarySource;
  const std::string whole = sceneShaderSource;
  ASSERT_EQ(whole.compare(0, library.size(), library), 0);
  // Left half NaN, right half infinity; main calls pt after the outline test.
  const std::string source = library +
                             "\n#define pt(o, d) vec3(uintBitsToFloat(gl_FragCoord.x < u.x * .5 ? "
                             "0x7fc00000u : 0x7f800000u))\n" +
                             whole.substr(library.size());
  constexpr unsigned w = 64, h = 36;
  ASSERT_TRUE(stillOpenWith(source.c_str(), nullptr, w, h));
  for (int k = 0; k < 3; ++k)
    stillRenderFrame();
  std::vector<float> mean(w * h * 3);
  stillReadMean(mean.data());
  stillClose();
  std::size_t zero = 0;
  for (float v : mean) {
    ASSERT_TRUE(std::isfinite(v));
    zero += v == 0.0f;
  }
  // Everything but the outline's pixels stays black.
  EXPECT_GT(zero, mean.size() * 9 / 10);
}

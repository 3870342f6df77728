// The complete picture, headless at a small size: its brightest points are the
// flames and their light on the fixtures, and the large emitters that only the
// later bounces meet stay unseen.
#include "still_core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr unsigned kWidth = 192, kHeight = 108, kFrames = 4;

TEST(SceneCompleteImage, BrightestPixelsAreFlames) {
  ASSERT_TRUE(stillOpen(kWidth, kHeight)) << "no headless GL 4.6 context";
  for (unsigned k = 0; k < kFrames; ++k)
    stillRenderFrame();
  std::vector<float> mean(std::size_t{kWidth} * kHeight * 3);
  stillReadMean(mean.data());
  stillClose();

  // A flame met by the camera ray in one of the frames adds (37, 33, 30) / 4:
  // far above what the backdrop or the fill light give in a frame or two.
  const float flame = (37.f + 33.f + 30.f) / kFrames;
  // Screen areas of the fixtures, as fractions of the picture: the chandelier
  // hangs top centre, the candelabras stand near the left and right edges.
  auto area = [](unsigned x, unsigned y) {
    float fx = (x + .5f) / kWidth, fy = (y + .5f) / kHeight;
    if (fx > .38f && fx < .62f && fy > .7f && fy < .95f) return 0;
    if (fy > .4f && fy < .65f && (fx < .2f || fx > .8f)) return fx < .5f ? 1 : 2;
    return -1;
  };
  unsigned bright = 0, flames[3] = {0, 0, 0};
  for (unsigned y = 0; y < kHeight; ++y)
    for (unsigned x = 0; x < kWidth; ++x) {
      const float *v = &mean[(std::size_t{y} * kWidth + x) * 3];
      if (v[0] + v[1] + v[2] < .9f * flame) continue;
      ++bright;
      // Flame light comes only from the fixtures: flames, and the beads, wax
      // and gold around them lit by the light spheres.
      int a = area(x, y);
      EXPECT_GE(a, 0) << "bright pixel (" << x << ", " << y << ") = (" << v[0] << ", " << v[1]
                      << ", " << v[2] << ") away from the fixtures";
      // A flame seen directly keeps the flame's hue exactly.
      if (a >= 0 && std::fabs(v[1] / v[0] - 33.f / 37.f) < 1e-3f &&
          std::fabs(v[2] / v[0] - 30.f / 37.f) < 1e-3f)
        ++flames[a];
    }
  EXPECT_GT(flames[0], 0u) << "no chandelier flame";
  EXPECT_GT(flames[1], 0u) << "no flame on the left candelabra";
  EXPECT_GT(flames[2], 0u) << "no flame on the right candelabra";
  // The light spheres are for later bounces only: the chandelier's alone
  // would light up some 280 of these pixels if the camera met it.
  EXPECT_LE(bright, 150u);
}

} // namespace

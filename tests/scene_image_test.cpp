// The whole picture rendered headless at a small size through the still
// renderer's core: letterbox, outline, backdrop and repeatability.
#include "shaders.h"
#include "still_core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr unsigned kWidth = 192, kHeight = 108, kFrames = 4;

std::vector<float> render(unsigned frames) {
  std::vector<float> mean(std::size_t{kWidth} * kHeight * 3);
  for (unsigned k = 0; k < frames; ++k)
    stillRenderFrame();
  stillReadMean(mean.data());
  return mean;
}

class SceneImage : public testing::Test {
protected:
  static void SetUpTestSuite() {
    opened = stillOpen(kWidth, kHeight);
    if (opened) image = new std::vector<float>(render(kFrames));
  }
  static void TearDownTestSuite() {
    delete image;
    image = nullptr;
    stillClose();
  }
  void SetUp() override {
    if (!opened) GTEST_FAIL() << "no headless GL 4.6 context";
  }
  static const float *pixel(unsigned x, unsigned y) { return &(*image)[(y * kWidth + x) * 3]; }

  static bool opened;
  static std::vector<float> *image;
};
bool SceneImage::opened = false;
std::vector<float> *SceneImage::image = nullptr;

TEST_F(SceneImage, LetterboxRowsHoldExactlyZero) {
  // uv.y < .057 or > .943: rows 0 to 5 and 102 to 107 of 108.
  for (unsigned y = 0; y < kHeight; ++y) {
    double v = (y + .5) / kHeight;
    bool band = v < .057 || v > .943;
    float peak = 0;
    for (unsigned x = 0; x < kWidth; ++x)
      for (int c = 0; c < 3; ++c)
        peak = std::max(peak, std::fabs(pixel(x, y)[c]));
    if (band)
      EXPECT_EQ(peak, 0.0f) << "row " << y;
    else
      EXPECT_GT(peak, 0.0f) << "row " << y;
  }
}

TEST_F(SceneImage, OutlineInteriorShowsItsColour) {
  // (90, 23) maps to about (.07, .28) in the outline's plane, well inside.
  const float expected[3] = {.013f, .016f, .017f};
  for (unsigned x : {89u, 90u, 91u})
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(pixel(x, 23)[c], expected[c], 1e-7f);
}

TEST_F(SceneImage, WindowShowsTheBackdropGradient) {
  // (133, 24) looks through the right opening, between a drape and a net
  // curtain, onto the backdrop.
  double w = std::pow(1.0 - (24 + .5) / kHeight, 12.0);
  const double expected[3] = {.14 * (1 - w) + 4.88 * w, .35 * (1 - w) + 4.08 * w,
                              .46 * (1 - w) + 3.76 * w};
  for (int c = 0; c < 3; ++c)
    EXPECT_NEAR(pixel(133, 24)[c], expected[c], 1e-5 * expected[c]);
}

TEST_F(SceneImage, SameFrameCountGivesTheSameImage) {
  stillClose();
  ASSERT_TRUE(stillOpen(kWidth, kHeight));
  std::vector<float> again = render(kFrames);
  std::size_t differ = 0;
  for (std::size_t k = 0; k < again.size(); ++k)
    differ += again[k] != (*image)[k];
  EXPECT_EQ(differ, 0u);
  float peak = 0;
  for (float v : again) {
    EXPECT_TRUE(std::isfinite(v));
    peak = std::max(peak, v);
  }
  EXPECT_GT(peak, 0.0f);
}

} // namespace

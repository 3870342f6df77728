// The noise map picture: its size, orientation, colour scale and legend.
#include "noise_map.h"
#include "still_image_read.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

using Pixel = std::array<int, 3>;

Pixel at(const ReadImage &png, unsigned x, unsigned y) {
  const std::uint8_t *p = &png.bytes[(std::size_t{y} * png.width + x) * 3];
  return {p[0], p[1], p[2]};
}

int luma(Pixel p) {
  return 2126 * p[0] + 7152 * p[1] + 722 * p[2];
}

ReadImage written(unsigned w, unsigned h, const std::vector<float> &levels) {
  std::string path = tempDir("noise_map") + "/map.png";
  std::string error;
  EXPECT_TRUE(writeNoiseMap(path, w, h, levels.data(), error)) << error;
  ReadImage png = readPng(path);
  EXPECT_TRUE(png.ok);
  return png;
}

TEST(NoiseMap, MapsTheFixedLogScaleWithGreyForNothingTraced) {
  // One row, so the legend also has to fit a picture far too small for it.
  std::vector<float> levels = {0.0f, 0.01f, -1.0f, 0.1f, 0.3f,     1.0f,
                               3.0f, 10.0f, 30.0f, 1e3f, INFINITY, NAN};
  ReadImage png = written(12, 1, levels);
  ASSERT_EQ(png.width, 12u);
  ASSERT_GE(png.height, 1u + 24) << "a legend strip tall enough to read";
  Pixel bottom = at(png, 3, 0), top = at(png, 8, 0);
  for (unsigned x : {0u, 1u, 2u})
    EXPECT_EQ(at(png, x, 0), bottom) << "below 0.1 takes the bottom colour: " << levels[x];
  for (unsigned x : {9u, 10u})
    EXPECT_EQ(at(png, x, 0), top) << "above 30 takes the top colour: " << levels[x];
  for (unsigned x = 4; x <= 8; ++x)
    EXPECT_GT(luma(at(png, x, 0)), luma(at(png, x - 1, 0))) << "brighter at " << levels[x];
  EXPECT_LT(luma(bottom), 60 * 10000) << "clean is dark";
  EXPECT_TRUE(top[0] > 200 && top[1] > 200 && top[2] < 100) << "noisy is bright yellow";
  Pixel grey = at(png, 11, 0);
  EXPECT_TRUE(grey[0] == grey[1] && grey[1] == grey[2] && grey[0] > 64 && grey[0] < 192);
}

TEST(NoiseMap, ShowsTheBottomRowLastAndALegendStripBelow) {
  // Bottom up: the lowest row is clean, the top row traces nothing.
  unsigned w = 480, h = 270;
  std::vector<float> levels(std::size_t{w} * h, 30.0f);
  std::fill(levels.begin(), levels.begin() + w, 0.1f);
  std::fill(levels.end() - w, levels.end(), NAN);
  ReadImage png = written(w, h, levels);
  ASSERT_EQ(png.width, w);
  ASSERT_GE(png.height, h + 24);
  EXPECT_LE(png.height, h + 40);
  Pixel grey = at(png, 0, 0), clean = at(png, 0, h - 1), noisy = at(png, 0, h / 2);
  EXPECT_EQ(grey[0], grey[2]);
  EXPECT_LT(luma(clean), luma(noisy));

  // The strip holds the whole scale and the grey swatch.
  std::set<Pixel> strip;
  for (unsigned y = h; y < png.height; ++y)
    for (unsigned x = 0; x < w; ++x)
      strip.insert(at(png, x, y));
  EXPECT_TRUE(strip.count(clean) && strip.count(noisy) && strip.count(grey));

  // A tall picture's strip is about a tenth of it.
  png = written(1000, 1000, std::vector<float>(1000 * 1000, 1.0f));
  EXPECT_EQ(png.width, 1000u);
  EXPECT_NEAR(png.height, 1100.0, 10.0);
}

// The count map: samples from 1 to 100000 on the same colours, with a legend
// of its own (samples, not levels).
TEST(NoiseMap, TheCountMapShowsSamplesOnTheirOwnScaleAndLegend) {
  const unsigned w = 480, h = 270;
  std::vector<float> counts(std::size_t{w} * h, 1000.0f), levels(counts.size(), 1.0f);
  const float row[] = {0.5f, 1.0f, 10.0f, 100.0f, 1000.0f, 10000.0f, 100000.0f, 1e6f, NAN};
  for (unsigned x = 0; x < 9; ++x) {
    counts[x] = row[x];
    // The level at the same place on the noise map's scale (0.1 to 30).
    levels[x] = std::isnan(row[x]) ? NAN : 0.1f * std::pow(300.0f, std::log10(row[x]) / 5.0f);
  }
  std::string path = tempDir("count_map") + "/counts.png", error;
  ASSERT_TRUE(writeCountMap(path, w, h, counts.data(), error)) << error;
  ReadImage map = readPng(path), noise = written(w, h, levels);
  ASSERT_TRUE(map.ok);
  ASSERT_EQ(map.width, noise.width);
  ASSERT_EQ(map.height, noise.height);
  for (unsigned x = 0; x < 9; ++x)
    EXPECT_EQ(at(map, x, h - 1), at(noise, x, h - 1)) << row[x] << " samples";
  EXPECT_EQ(at(map, 0, h - 1), at(map, 1, h - 1)) << "below 1 takes the bottom colour";
  EXPECT_EQ(at(map, 7, h - 1), at(map, 6, h - 1)) << "above 100000 takes the top colour";
  for (unsigned x = 2; x <= 6; ++x)
    EXPECT_GT(luma(at(map, x, h - 1)), luma(at(map, x - 1, h - 1))) << row[x];
  // Its legend holds the whole scale and the grey swatch, with labels of its own.
  std::set<Pixel> strip;
  long differ = 0;
  for (unsigned y = h; y < map.height; ++y)
    for (unsigned x = 0; x < w; ++x) {
      strip.insert(at(map, x, y));
      differ += at(map, x, y) != at(noise, x, y);
    }
  EXPECT_TRUE(strip.count(at(map, 1, h - 1)) && strip.count(at(map, 6, h - 1)) &&
              strip.count(at(map, 8, h - 1)));
  EXPECT_GT(differ, 100) << "the count map's legend is the noise map's";
}

TEST(NoiseMap, AFailedWriteKeepsTheOldFile) {
  std::string dir = tempDir("noise_map");
  std::string path = dir + "/map.png";
  std::ofstream(path) << "old map";
  std::string error;
  EXPECT_FALSE(writeNoiseMap(path, 0, 4, nullptr, error));
  EXPECT_NE(error.find("is unchanged"), std::string::npos) << error;
  EXPECT_EQ(contents(path), "old map");
  EXPECT_EQ(entries(dir), std::vector<std::string>{"map.png"});

  float level = 1.0f;
  error.clear();
  EXPECT_FALSE(writeNoiseMap(dir + "/missing/map.png", 1, 1, &level, error));
  EXPECT_NE(error.find("missing/map.png"), std::string::npos) << error;
}

} // namespace

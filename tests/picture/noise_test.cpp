// The noise figure and the check that parts agree, on sums made here: sample
// by sample as the squares pass adds them, in 32-bit floats.
#include "noise.h"
#include "part_check.h"
#include "frame_limits.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

// One pixel's running sum and sum of squares after the given samples, as the
// GL keeps them: the sample is the new sum less the old.
struct Pixel {
  float sum[3] = {}, squares[3] = {};
  void add(float r, float g, float b) {
    const float v[3] = {r, g, b};
    for (int ch = 0; ch < 3; ++ch) {
      float before = sum[ch];
      sum[ch] += v[ch];
      float d = sum[ch] - before;
      squares[ch] += d * d;
    }
  }
};

std::vector<float> errors(const std::vector<Pixel> &pixels, double frames) {
  std::vector<float> s, q, levels;
  for (const Pixel &p : pixels) {
    s.insert(s.end(), p.sum, p.sum + 3);
    q.insert(q.end(), p.squares, p.squares + 3);
  }
  pixelErrors(s.data(), q.data(), pixels.size(), frames, levels);
  return levels;
}

TEST(Noise, PixelsThatTraceNothingAreLeftOutUpToTheFrameCap) {
  // Letterbox (zero), the outline's flat colour, a traced pixel (0 and 0.2 by
  // turns: mean 0.1, one standard error 0.01 * sqrt(n / (n - 1)) / ...), and a
  // flame far above white, whose byte is 255 whatever its spread.
  for (unsigned n : {2u, 2048u, maxRunFrames}) {
    std::vector<Pixel> px(4);
    for (unsigned f = 0; f < n; ++f) {
      px[1].add(.013f, .016f, .017f);
      float v = f % 2 ? 0.2f : 0.0f;
      px[2].add(v, v, v);
      px[3].add(5.0f + 10 * v, 5.0f + 10 * v, 5.0f + 10 * v);
    }
    std::vector<float> levels = errors(px, n);
    ASSERT_EQ(levels.size(), 4u);
    EXPECT_TRUE(std::isnan(levels[0])) << n;
    EXPECT_TRUE(std::isnan(levels[1])) << n;
    double se = 0.1 * std::sqrt(n / (n - 1.0)) / std::sqrt(double(n));
    EXPECT_NEAR(levels[2], 255.0 * se, 1e-3 * 255.0 * se) << n;
    EXPECT_EQ(levels[3], 0.0f) << n;
  }
  EXPECT_TRUE(errors(std::vector<Pixel>(3), 1).empty()); // one frame: no variance
}

TEST(Noise, FigureIsTheMedianAndP95OfTheTracedPixels) {
  std::vector<float> levels(300, NAN);
  for (int k = 1; k <= 100; ++k)
    levels[static_cast<std::size_t>(k) * 2] = static_cast<float>(101 - k);
  NoiseFigure figure = noiseFigure(levels);
  ASSERT_TRUE(figure.known);
  EXPECT_EQ(figure.traced, 100u);
  EXPECT_EQ(figure.median, 50.0);
  EXPECT_EQ(figure.p95, 95.0);
  std::vector<float> none(5, NAN), empty;
  EXPECT_FALSE(noiseFigure(none).known);
  EXPECT_FALSE(noiseFigure(empty).known);
  EXPECT_STREQ(noiseText(noiseFigure(empty)), "unknown");
}

// Parts of a 64 x 64 picture of independent samples, uniform on [0, 2 m]
// about each pixel's own mean m, under a letterbox row of tiles (zero) and a
// flat outline that ends inside tiles (the same sample every frame).
class Agreement : public testing::Test {
protected:
  static constexpr unsigned W = 64, H = 64;
  std::mt19937 random{7};

  struct Sums {
    std::vector<float> sum, squares;
    unsigned frames;
  };
  Sums sums(unsigned frames, float scale = 1.0f, unsigned bumpX = W, unsigned bumpY = H) {
    std::vector<Pixel> px(W * H);
    std::uniform_real_distribution<float> u(0.0f, 2.0f);
    for (unsigned f = 0; f < frames; ++f)
      for (unsigned p = 0; p < W * H; ++p) {
        const unsigned x = p % W, y = p / W;
        if (y >= H - 8) continue;
        if (x >= 52 && y < 20) {
          px[p].add(.013f, .016f, .017f);
          continue;
        }
        float m = 0.05f + 0.4f * float(x) / W;
        // A brighter patch: a light that moved in a changed scene.
        if (x / 4 == bumpX / 4 && y / 4 == bumpY / 4) m *= 3.0f;
        float v = scale * m * u(random);
        px[p].add(v, 0.5f * v, 0.25f * v);
      }
    Sums out{{}, {}, frames};
    for (const Pixel &p : px) {
      out.sum.insert(out.sum.end(), p.sum, p.sum + 3);
      out.squares.insert(out.squares.end(), p.squares, p.squares + 3);
    }
    return out;
  }
  // The tile figures of a part, its sums and squares scaled as a broken pass might.
  static TileStats stats(Sums p, float sums = 1.0f, float squares = 1.0f) {
    for (float &v : p.sum)
      v *= sums;
    for (float &v : p.squares)
      v *= squares;
    return tileStats(uniformPicture(W, H, {{1, static_cast<unsigned>(p.frames)}}, p.sum.data(),
                                    p.squares.data()));
  }
  TileStats part(unsigned frames, float scale = 1.0f, unsigned bumpX = W, unsigned bumpY = H) {
    return stats(sums(frames, scale, bumpX, bumpY));
  }
};

TEST_F(Agreement, ConsistentPartsPassAndDifferentOnesAreCaught) {
  std::vector<TileStats> parts = {part(32), part(16), part(64), part(32)};
  for (const PartAgreement &a : checkAgreement(parts, W, H)) {
    EXPECT_TRUE(a.checked);
    EXPECT_TRUE(a.consistent) << agreementText(a);
    EXPECT_NEAR(a.meanAbsZ, 0.8, 0.15);
  }
  parts[1] = part(32, 1.05f); // a sum 5% off
  std::vector<PartAgreement> off = checkAgreement(parts, W, H);
  EXPECT_FALSE(off[1].consistent) << agreementText(off[1]);
  EXPECT_GT(off[1].meanZ, 0.5);
  parts[1] = part(32, 1.0f, 0, 0); // a patch at the bottom left changed
  std::vector<PartAgreement> moved = checkAgreement(parts, W, H);
  EXPECT_FALSE(moved[1].consistent) << agreementText(moved[1]);
  EXPECT_EQ(moved[1].worstX, 0u);
  EXPECT_EQ(moved[1].worstY, H - tileSide); // counted from the top
}

TEST_F(Agreement, PartsWithTooFewFramesAreNotChecked) {
  std::vector<TileStats> parts = {part(32), part(minCheckFrames - 1), part(32)};
  std::vector<PartAgreement> a = checkAgreement(parts, W, H);
  EXPECT_TRUE(parts[1].mean.empty());
  EXPECT_TRUE(a[0].checked && a[2].checked);
  EXPECT_FALSE(a[1].checked);
  parts.pop_back();
  EXPECT_FALSE(checkAgreement(parts, W, H)[0].checked); // nothing to compare with
}

// A bad part among good ones is the only one refused, wherever it is listed;
// of two parts that disagree both are, as nothing tells which one is wrong,
// but a part with no variance is wrong whatever the other holds.
TEST_F(Agreement, ABadPartIsRefusedAloneAndOfTwoBothAre) {
  const Sums raw = sums(32);
  const std::vector<TileStats> good = {part(32), part(64), part(16)};
  struct Bad {
    float sums, squares;
    bool flat, varianceOff;
  };
  for (Bad bad : {Bad{2.0f, 0.0f, true, false}, Bad{2.0f, 1000.0f, false, true},
                  Bad{1.05f, 4.0f, false, true}, Bad{1.2f, 1.44f, false, false}})
    for (std::size_t at : {0, 3}) {
      std::vector<TileStats> parts = good;
      parts.insert(parts.begin() + at, stats(raw, bad.sums, bad.squares));
      std::vector<PartAgreement> a = checkAgreement(parts, W, H);
      for (std::size_t k = 0; k < parts.size(); ++k)
        EXPECT_EQ(a[k].consistent, k != at) << bad.sums << " " << k << " " << agreementText(a[k]);
      EXPECT_EQ(a[at].noVariance, bad.flat);
      EXPECT_EQ(a[at].varianceOutOfLine, bad.varianceOff) << agreementText(a[at]);
      std::vector<PartAgreement> two = checkAgreement({parts[at], good[0]}, W, H);
      EXPECT_FALSE(two[0].consistent);
      EXPECT_EQ(two[1].consistent, bad.flat) << agreementText(two[1]);
    }
}

} // namespace

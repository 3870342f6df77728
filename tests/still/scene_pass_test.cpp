// The scene as a compute pass against the fragment pass on headless GL: the
// same pieces must give the same sums, bit for bit, at any size.
#include "accumulation.h"
#include "glproc.h"
#include "still_core.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Texels = std::vector<float>; // RGBA, rows from the bottom up

Texels readTexture(GLuint texture, unsigned w, unsigned h) {
  Texels texels(std::size_t{w} * h * 4);
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, texels.data());
  return texels;
}

struct Sums {
  Texels first, last; // the sum after frame 1 and after the last frame
};

// Renders frames through pass; before frame 1 its target is filled with -1 so
// a pixel the pass leaves unwritten shows.
Sums render(ScenePass pass, unsigned w, unsigned h, int frames) {
  testing::internal::CaptureStdout();
  bool opened = stillOpen(w, h, pass);
  testing::internal::GetCapturedStdout();
  if (!opened || stillPass() != pass) {
    ADD_FAILURE() << "no " << (pass == ScenePass::Compute ? "compute" : "fragment") << " pass";
    stillClose();
    return {};
  }
  AccumulationView view = accumulationView();
  const float marker[4] = {-1, -1, -1, -1};
  glFn<PFNGLCLEARTEXIMAGEPROC>("glClearTexImage")(view.textures[0], 0, GL_RGBA, GL_FLOAT, marker);
  for (int k = 0; k < frames; ++k)
    stillRenderFrame();
  view = accumulationView();
  Sums sums{readTexture(view.textures[0], w, h),
            readTexture(view.textures[1 - view.pingPong], w, h)};
  stillClose();
  return sums;
}

// Both passes over 2 frames; the compute pass writes every pixel, the picture
// is not empty (most paths meet no light in two frames), and its RGB sums equal the fragment pass's
// bit for bit.
void expectSamePasses(unsigned w, unsigned h) {
  Sums fragment = render(ScenePass::Fragment, w, h, 2);
  Sums compute = render(ScenePass::Compute, w, h, 2);
  ASSERT_EQ(compute.last.size(), std::size_t{w} * h * 4);
  ASSERT_EQ(fragment.last.size(), compute.last.size());
  std::size_t unwritten = 0, differing = 0, lit = 0;
  bool rightEdgeLit = false;
  for (std::size_t k = 0; k < compute.last.size(); k += 4) {
    for (int ch = 0; ch < 3; ++ch) {
      unwritten += compute.first[k + ch] == -1.0f;
      differing += std::memcmp(&compute.last[k + ch], &fragment.last[k + ch], sizeof(float)) != 0;
    }
    bool on = compute.last[k] + compute.last[k + 1] + compute.last[k + 2] > 0;
    lit += on;
    rightEdgeLit = rightEdgeLit || (on && k / 4 % w == w - 1);
  }
  EXPECT_EQ(unwritten, 0u) << w << "x" << h;
  EXPECT_EQ(differing, 0u) << w << "x" << h;
  EXPECT_GT(lit, std::size_t{w} * h / 8) << w << "x" << h;
  EXPECT_TRUE(rightEdgeLit) << w << "x" << h;
}

TEST(ScenePass, ComputeSumsEqualFragmentSums) {
  expectSamePasses(64, 36);
}

// 67 x 37 is no multiple of the 8 x 8 tile: the last tiles overhang it.
TEST(ScenePass, ComputeCoversSizesOffTheTile) {
  expectSamePasses(67, 37);
}

// The sums and the sums of squares after each frame of a 32 x 18 run.
struct Frames {
  std::vector<std::vector<float>> sums, squares;
};

// Runs frames through pass, from frame first on a sum and its squares that
// held first - 1 frames. A sum given without squares (an older file's) must
// leave the noise unknown.
Frames run(ScenePass pass, bool squares, unsigned first, unsigned frames,
           const std::vector<float> &sum = {}, const std::vector<float> &sumSquares = {}) {
  const unsigned w = 32, h = 18;
  testing::internal::CaptureStdout();
  bool opened = stillOpenWith(nullptr, nullptr, w, h, pass, nullptr, squares);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(opened);
  if (!sum.empty()) {
    stillStartAt(first, sum.data(), first - 1, nullptr);
    EXPECT_FALSE(stillHasSquares());
    stillStartAt(first, sum.data(), first - 1, sumSquares.data());
  }
  EXPECT_EQ(stillHasSquares(), squares);
  Frames out;
  for (unsigned k = 0; k < frames; ++k) {
    stillRenderFrame();
    out.sums.emplace_back(std::size_t{w} * h * 3);
    stillReadSum(out.sums.back().data());
    out.squares.emplace_back(out.sums.back().size());
    if (squares) stillReadSquares(out.squares.back().data());
  }
  stillClose();
  return out;
}

TEST(ScenePass, SumOfSquaresLeavesTheSumAsItIsAndResumes) {
  for (ScenePass pass : {ScenePass::Fragment, ScenePass::Compute}) {
    Frames plain = run(pass, false, 1, 3), kept = run(pass, true, 1, 3);
    EXPECT_EQ(0, std::memcmp(plain.sums[2].data(), kept.sums[2].data(), plain.sums[2].size() * 4));
    // Each frame's sample is the difference of the sums around it.
    std::vector<float> expected(kept.sums[0].size(), 0.0f);
    for (int f = 0; f < 3; ++f)
      for (std::size_t k = 0; k < expected.size(); ++k) {
        float d = kept.sums[f][k] - (f ? kept.sums[f - 1][k] : 0.0f);
        expected[k] += d * d;
      }
    std::size_t off = 0, traced = 0;
    for (std::size_t k = 0; k < expected.size(); ++k) {
      off += std::abs(kept.squares[2][k] - expected[k]) > 1e-6f * expected[k];
      traced += expected[k] > 0.0f;
    }
    EXPECT_EQ(off, 0u);
    EXPECT_GT(traced, expected.size() / 8);
    // Resumed after frame 2 with its squares: the same squares as one run.
    Frames resumed = run(pass, true, 3, 1, kept.sums[1], kept.squares[1]);
    EXPECT_EQ(resumed.sums[0], kept.sums[2]);
    EXPECT_EQ(resumed.squares[0], kept.squares[2]);
  }
}

TEST(ScenePass, ComputeThatDoesNotBuild) {
  const char *broken = "#version 460\nlayout(local_size_x = 8) in;\nvoid main() { x; }\n";
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  // Asked for: refused with a message.
  bool opened = stillOpenWith(nullptr, nullptr, 4, 4, ScenePass::Compute, broken);
  stillClose();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_FALSE(opened);
  EXPECT_NE(err.find("compute scene pass is not available"), std::string::npos) << err;
  // Auto: the fragment pass renders, with a note.
  testing::internal::CaptureStderr();
  opened = stillOpenWith(nullptr, nullptr, 4, 4, ScenePass::Auto, broken);
  err = testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(opened);
  EXPECT_EQ(std::string(stillPassName()), "fragment");
  EXPECT_NE(err.find("using the fragment pass"), std::string::npos) << err;
  stillRenderFrame();
  EXPECT_EQ(stillFrames(), 1u);
  stillClose();
}

} // namespace

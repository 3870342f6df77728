// exegfx-merge's check that parts agree, against parts made bad on purpose
// from rendered ones: a sum of squares left at zero or scaled, sums scaled.
// Only the bad part is refused, wherever it is listed; of two parts, both are
// named, since nothing tells which is wrong.
#include "partial_file.h"

#include "program_run.h"

#include <gtest/gtest.h>

namespace {

class MergeAgreement : public ProgramTest {
protected:
  Outcome merge(std::vector<std::string> args) {
    args.insert(args.begin(), {"-o", "out.png"});
    return finish(startProgram(EXEGFX_MERGE_PATH, args));
  }
  // A copy of a part with its sums and sums of squares scaled.
  void scaled(const std::string &from, const std::string &to, float sums, float squares) {
    PartialInfo info;
    std::vector<float> sum, square;
    std::string error;
    ASSERT_TRUE(readPartial(dir + "/" + from, info, sum, error, &square)) << error;
    for (float &v : sum)
      v *= sums;
    for (float &v : square)
      v *= squares;
    ASSERT_TRUE(writePartial(dir + "/" + to, info, sum.data(), sum.data(), error, square.data()))
        << error;
  }
};

TEST_F(MergeAgreement, OnlyTheBadPartIsRefusedWhereverItIsListed) {
  const std::vector<std::string> good = {"a.exr", "b.exr", "c.exr", "d.exr"};
  for (std::size_t k = 0; k < good.size(); ++k) {
    Outcome r = finish(startProgram(EXEGFX_STILL_PATH,
                                    {"--size", "160x90", "--first-frame",
                                     std::to_string(1 + 64 * k), "--frames", "64", "-o", good[k]}));
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  Outcome agree = merge(good);
  EXPECT_EQ(agree.exitCode, 0) << agree.err;
  EXPECT_TRUE(has(agree.err, "the 4 parts checked agree")) << agree.err;

  // Each stands in for a.exr (the same frames): squares left at zero with the
  // sums doubled, squares inflated to hide a bias, a plain bias.
  struct Bad {
    const char *name;
    float sums, squares;
    const char *why;
  };
  for (Bad bad : {Bad{"zero.exr", 2.0f, 0.0f, " shows no variance in the tiles where"},
                  Bad{"inflated.exr", 2.0f, 1000.0f, "'s variance is out of line"},
                  Bad{"scaled.exr", 1.05f, 4.0f, "'s variance is out of line"},
                  Bad{"bright.exr", 1.2f, 1.44f, " disagrees with the other parts"}}) {
    scaled("a.exr", bad.name, bad.sums, bad.squares);
    const std::string named = std::string("\"") + bad.name + "\"" + bad.why;
    for (bool first : {true, false}) {
      std::vector<std::string> parts = {"b.exr", "c.exr", "d.exr"};
      parts.insert(first ? parts.begin() : parts.end(), bad.name);
      Outcome r = merge(parts);
      EXPECT_EQ(r.exitCode, 1) << r.err;
      EXPECT_TRUE(has(r.err, named)) << r.err;
      EXPECT_TRUE(has(r.err, "refused 1 of 4 parts")) << r.err;
      for (const char *name : {"\"b.exr\"", "\"c.exr\"", "\"d.exr\""})
        EXPECT_FALSE(has(r.err, name)) << r.err;
    }
  }

  // Of two parts that disagree, either may be the wrong one; a part with no
  // variance is wrong whatever the other holds.
  Outcome pair = merge({"b.exr", "bright.exr"});
  EXPECT_EQ(pair.exitCode, 1);
  EXPECT_TRUE(has(pair.err, "\"b.exr\" and \"bright.exr\" disagree with each other")) << pair.err;
  EXPECT_TRUE(has(pair.err, "which one is wrong cannot be told")) << pair.err;
  Outcome flat = merge({"zero.exr", "b.exr"});
  EXPECT_EQ(flat.exitCode, 1);
  EXPECT_TRUE(has(flat.err, "\"zero.exr\" shows no variance")) << flat.err;
  EXPECT_TRUE(has(flat.err, "refused 1 of 2 parts")) << flat.err;
}

} // namespace

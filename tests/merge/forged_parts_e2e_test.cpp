// Adaptive partials through exegfx-merge and exegfx-still --resume: counts
// kept beside a part without squares, counts and rules that no render makes
// refused by every reader, and the agreement check that leaves out a pixel
// with too few samples, never its part.
#include "partial_file.h"

#include "program_run.h"
#include "read_back.h"
#include "still_image_read.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::string> adaptive = {"--size",        "48x27", "--frames",   "272",
                                           "--until-noise", "0.5",   "--adaptive", "--resume"};

class ForgedParts : public ProgramTest {
protected:
  Outcome run(const char *program, std::vector<std::string> args) {
    return finish(startProgram(program, args));
  }
  Picture picture(const std::string &name) { return readBack(dir + "/" + name); }
  // A copy of a part, changed by edit and written with fresh checksums.
  template <class Edit> void forge(const std::string &from, const std::string &to, Edit edit) {
    PartialInfo info;
    std::vector<float> sum, squares, counts;
    std::string error;
    ASSERT_TRUE(readPartial(dir + "/" + from, info, sum, error, &squares, &counts)) << error;
    edit(info, sum, squares, counts);
    ASSERT_TRUE(writePartial(dir + "/" + to, info, sum.data(), sum.data(), error,
                             squares.empty() ? nullptr : squares.data(),
                             counts.empty() ? nullptr : counts.data()))
        << error;
  }
};

TEST_F(ForgedParts, CountsSurviveAMergeWithAnOlderPart) {
  std::vector<std::string> args = adaptive;
  args.insert(args.end(), {"-o", "ad.exr"});
  ASSERT_EQ(run(EXEGFX_STILL_PATH, args).exitCode, 0) << contents(logs + "/err");
  Outcome u = run(EXEGFX_STILL_PATH,
                  {"--size", "48x27", "--first-frame", "273", "--frames", "16", "-o", "u.exr"});
  ASSERT_EQ(u.exitCode, 0) << u.err;
  forge("u.exr", "old.exr", [](PartialInfo &, auto &, auto &squares, auto &) { squares.clear(); });

  Outcome m = run(EXEGFX_MERGE_PATH, {"-o", "mix.exr", "ad.exr", "old.exr"});
  ASSERT_EQ(m.exitCode, 0) << m.err;
  Picture ad = picture("ad.exr"), mix = picture("mix.exr");
  ASSERT_TRUE(mix.adaptive());
  for (std::size_t p = 0; p < ad.pixels(); ++p)
    ASSERT_EQ(mix.mean.count[p], ad.mean.count[p] + 16.0) << p;
  // Merged again, the mean is the one of the parts.
  ASSERT_EQ(run(EXEGFX_MERGE_PATH, {"-o", "direct.pfm", "ad.exr", "old.exr"}).exitCode, 0);
  ASSERT_EQ(run(EXEGFX_MERGE_PATH, {"-o", "again.pfm", "mix.exr"}).exitCode, 0);
  ReadImage again = readPfm(dir + "/again.pfm"), direct = readPfm(dir + "/direct.pfm");
  ASSERT_EQ(again.floats.size(), direct.floats.size());
  for (std::size_t k = 0; k < direct.floats.size(); ++k) // the merged sum is rounded to 32 bits
    ASSERT_NEAR(again.floats[k], direct.floats[k], 1e-6f * direct.floats[k]) << k;

  // Resumed, the pixels that stopped keep their samples and the rest go on.
  args = adaptive;
  args[3] = "296";
  args.insert(args.end(), {"-o", "mix.exr"});
  Outcome r = run(EXEGFX_STILL_PATH, args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  Picture more = picture("mix.exr");
  std::size_t stopped = 0;
  for (std::size_t p = 0; p < mix.pixels(); ++p) {
    if (mix.mean.count[p] + mix.held.count[p] == 288.0) {
      EXPECT_GT(more.mean.count[p] + more.held.count[p], 288.0) << p;
      continue;
    }
    ++stopped;
    ASSERT_EQ(more.mean.count[p], mix.mean.count[p]) << p;
    for (int ch = 0; ch < 3; ++ch)
      ASSERT_EQ(more.mean.sum[p * 3 + ch], mix.mean.sum[p * 3 + ch]) << p;
  }
  EXPECT_GT(stopped, 0u);
}

TEST_F(ForgedParts, CountsAndRulesNoRenderMakesAreRefusedByEveryReader) {
  std::vector<std::string> args = adaptive;
  args.insert(args.end(), {"-o", "ad.exr"});
  ASSERT_EQ(run(EXEGFX_STILL_PATH, args).exitCode, 0) << contents(logs + "/err");
  struct Forgery {
    const char *name, *why;
    std::function<void(PartialInfo &, std::vector<float> &)> edit;
  };
  const Forgery forgeries[] = {
      {"zero.exr", "pixel (0, 0) holds 0 samples in its mean and 0 held out",
       [](PartialInfo &, std::vector<float> &c) {
         for (std::size_t p = 0; p < c.size(); p += adaptiveChannels)
           c[p] = c[p + 7] = 0.0f;
       }},
      {"one.exr", "pixel (5, 26) holds 0 samples",
       [](PartialInfo &, std::vector<float> &c) { c[5 * adaptiveChannels] = 0.0f; }},
      {"between.exr", "pixel (0, 26) holds 230 samples in its mean and 29 held out",
       [](PartialInfo &, std::vector<float> &c) { c[0] = 230.0f, c[7] = 29.0f; }},
      {"negative.exr", "pixel (0, 26) holds counts or held-out sums that are negative",
       [](PartialInfo &, std::vector<float> &c) { c[1] = -5.0f; }},
      {"nan.exr", "stopping rule \"level=nan",
       [](PartialInfo &i, std::vector<float> &) { i.adaptive.replace(0, 9, "level=nan"); }},
      {"empty.exr", "stopping rule \"\"",
       [](PartialInfo &i, std::vector<float> &) { i.adaptive.clear(); }},
  };
  for (const Forgery &f : forgeries) {
    forge("ad.exr", f.name, [&](PartialInfo &i, auto &, auto &, auto &c) { f.edit(i, c); });
    const std::string before = contents(dir + "/" + f.name);
    std::vector<std::string> resume = adaptive;
    resume.insert(resume.end(), {"-o", f.name});
    for (Outcome r : {run(EXEGFX_MERGE_PATH, {"-o", "m.exr", f.name}),
                      run(EXEGFX_MERGE_PATH, {"--info", f.name}), run(EXEGFX_STILL_PATH, resume)}) {
      EXPECT_EQ(r.exitCode, 1) << f.name;
      EXPECT_TRUE(has(r.err, f.why)) << r.err;
    }
    EXPECT_TRUE(contents(dir + "/" + f.name) == before) << f.name << " changed";
  }
}

// One pixel with too few samples for a variance: left out with its tile,
// while the rest of the part is still checked.
TEST_F(ForgedParts, APixelWithFewSamplesLeavesItsTileOutNotItsPart) {
  for (int k = 0; k < 4; ++k) {
    Outcome r =
        run(EXEGFX_STILL_PATH, {"--size", "96x54", "--first-frame", std::to_string(1 + 32 * k),
                                "--frames", "32", "-o", "p" + std::to_string(k) + ".exr"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  // p0 made brighter, and adaptive under a rule that lets a pixel stop after 8 frames.
  forge("p0.exr", "bright.exr", [](PartialInfo &i, auto &sum, auto &squares, auto &counts) {
    i.isAdaptive = true;
    i.adaptive = "level=1 min=8 every=8 pool=2 margin=0.9 floor=0.5";
    i.runs = 2;
    counts.assign(sum.size() / 3 * adaptiveChannels, 0.0f);
    for (std::size_t p = 0; p < sum.size() / 3; ++p)
      counts[p * adaptiveChannels] = p == 100 ? 8.0f : 32.0f;
    for (std::size_t k = 0; k < sum.size(); ++k) {
      const float scale = k / 3 == 100 ? 0.25f : 1.0f;
      sum[k] *= 1.2f * scale;
      squares[k] *= 1.44f * scale;
    }
  });
  Outcome r = run(EXEGFX_MERGE_PATH, {"-o", "m.png", "bright.exr", "p1.exr", "p2.exr", "p3.exr"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_TRUE(has(r.err, "\"bright.exr\" disagrees with the other parts")) << r.err;
  EXPECT_TRUE(has(r.err, "1 pixel with fewer than 16 samples")) << r.err;
}

} // namespace

// The scene's samples across frame numbers, through the programs: the first
// 2048 frames are those of earlier versions bit for bit (their checksums were
// taken before the random numbers past 2048 changed), far frames render the
// same picture as the first ones, and files of earlier versions are taken
// where their samples are today's and refused where they are not.
#include "partial_file.h"
#include "frame_limits.h"

#include "program_run.h"
#include "require_all.h"

#include <gtest/gtest.h>

namespace {

// The scene identity of the version whose samples past frame 2048 differ.
const char *const earlierScene =
    "sha256:f35ce0aba935c6c3d2b29955457278787e2873db93eb830162bafc194859c846";

// The renderer the checksums below were taken on (Debian 12's Mesa).
const char *const checksummedOn = "llvmpipe (LLVM 15.0.6, 256 bits)";

class Sampler : public ProgramTest {
protected:
  Outcome still(std::vector<std::string> args) {
    return finish(startProgram(EXEGFX_STILL_PATH, args));
  }
  Outcome merge(std::vector<std::string> args) {
    return finish(startProgram(EXEGFX_MERGE_PATH, args));
  }
  PartialInfo info(const std::string &name) {
    PartialInfo i;
    std::string error;
    EXPECT_TRUE(readPartialInfo(dir + "/" + name, i, error)) << error;
    return i;
  }
  // Rewrites a file as an earlier version would have labelled it.
  void labelEarlier(const std::string &name) {
    PartialInfo i;
    std::vector<float> sum, squares;
    std::string error;
    ASSERT_TRUE(readPartial(dir + "/" + name, i, sum, error, &squares)) << error;
    i.scene = earlierScene;
    ASSERT_TRUE(writePartial(dir + "/" + name, i, sum.data(), sum.data(), error, squares.data()))
        << error;
  }
};

TEST_F(Sampler, TheFirst2048FramesKeepTheirSumsBitForBit) {
  const std::string first =
      "sha256:a4c8af556d8b1129d33670d99fdb768e0aecd7d825092b87bedbf44dd400c32c";
  const std::string last =
      "sha256:8975b04969e39bc7d464a4d43fdd2f9f9b711f1f13c5d629c3b577eb281d2e9f";
  for (const char *pass : {"fragment", "compute"}) {
    SCOPED_TRACE(pass);
    for (auto [from, sum] : {std::pair{"1", first}, {"2045", last}}) {
      Outcome r = still({"--pass", pass, "--size", "48x27", "--first-frame", from, "--frames", "4",
                         "-o", "p.exr"});
      ASSERT_EQ(r.exitCode, 0) << r.err;
      // Other GL implementations compute sin differently: their sums are
      // another picture's, compared statistically elsewhere.
      if (info("p.exr").renderers != std::vector<std::string>{checksummedOn})
        SKIP_UNLESS_REQUIRED("the checksums were taken on " << checksummedOn);
      EXPECT_EQ(info("p.exr").sumChecksum, sum) << "frames from " << from;
    }
  }
  // The adaptive pass over frames 1793-2048, its counts and held samples too.
  Outcome r = still({"--size", "32x18", "--adaptive", "--until-noise", "30", "--first-frame",
                     "1793", "--frames", "256", "-o", "a.exr"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  PartialInfo a = info("a.exr");
  EXPECT_EQ(a.sumChecksum,
            "sha256:7ed5b9fc41839e4a2ac245fd487544ee613d4b0a680a96cf4d30ad7104ea4080");
  EXPECT_EQ(a.squaresChecksum,
            "sha256:17d65e918af4c0013e9de8430c7ea94e06631bdec2fc16762903e012341e6fe0");
  EXPECT_EQ(a.countsChecksum,
            "sha256:8400cddb1df7eb1258114fed1d65a04fe10d414b891a103a4dcae260e9f7f366");
}

// exegfx-merge's agreement check, tile by tile with the parts' variance,
// between the first frames and frames up to the cap.
TEST_F(Sampler, FarFramesRenderTheFirstFramesPicture) {
  const std::string cap = std::to_string(maxStillFrames - 127);
  std::vector<std::string> parts;
  for (const std::string from : {"1", "1000001", cap.c_str()}) {
    parts.push_back("f" + from + ".exr");
    Outcome r =
        still({"--size", "48x27", "--first-frame", from, "--frames", "128", "-o", parts.back()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  std::vector<std::string> args = {"-o", "m.pfm"};
  args.insert(args.end(), parts.begin(), parts.end());
  Outcome m = merge(args);
  EXPECT_EQ(m.exitCode, 0) << m.err;
  EXPECT_TRUE(has(m.err, "the 3 parts checked agree")) << m.err;
}

TEST_F(Sampler, EarlierFilesAreTakenOnlyWhereTheirSamplesAreTodays) {
  ASSERT_EQ(still({"--size", "32x18", "--frames", "2", "-o", "old.exr"}).exitCode, 0);
  ASSERT_EQ(still({"--size", "32x18", "--first-frame", "3001", "--frames", "2", "-o", "late.exr"})
                .exitCode,
            0);
  ASSERT_EQ(
      still({"--size", "32x18", "--first-frame", "5", "--frames", "2", "-o", "new.exr"}).exitCode,
      0);
  labelEarlier("old.exr");
  labelEarlier("late.exr");

  // Frames 1-2 hold today's samples: resumed, and merged with today's.
  Outcome resumed = still({"--size", "32x18", "--frames", "3", "--resume", "-o", "old.exr"});
  EXPECT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_EQ(formatFrameRanges(info("old.exr").frames), "1-3");
  Outcome merged = merge({"-o", "m.exr", "old.exr", "new.exr"});
  EXPECT_EQ(merged.exitCode, 0) << merged.err;
  EXPECT_NE(info("m.exr").scene, earlierScene);

  // Frames 3001-3002 were drawn with other numbers: read, never added to.
  const std::string before = contents(dir + "/late.exr");
  Outcome resume = still(
      {"--size", "32x18", "--first-frame", "3001", "--frames", "4", "--resume", "-o", "late.exr"});
  EXPECT_EQ(resume.exitCode, 1);
  EXPECT_TRUE(has(resume.err, "\"late.exr\" holds frames 3001-3002 from an earlier version"))
      << resume.err;
  Outcome refused = merge({"-o", "x.exr", "new.exr", "late.exr"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(has(refused.err, "past frame 2048")) << refused.err;
  EXPECT_TRUE(contents(dir + "/late.exr") == before) << "late.exr changed";
  Outcome shown = merge({"--info", "late.exr"});
  EXPECT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_TRUE(has(shown.out, earlierScene)) << shown.out;
}

} // namespace

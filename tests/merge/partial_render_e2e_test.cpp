// Long renders in pieces, run as a user runs them: frame ranges that merge to
// the single run's picture, stops by signal and resumes that lose nothing, and
// the files that resuming and merging must refuse.
#include "partial_file.h"
#include "scene_identity.h"
#include "still_image_read.h"

#include "program_run.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <regex>

namespace {

class PartialRender : public ProgramTest {
protected:
  Outcome still(std::vector<std::string> args) {
    args.insert(args.begin(), {"--size", "64x36"});
    return finish(startProgram(EXEGFX_STILL_PATH, args));
  }
  Outcome merge(std::vector<std::string> args) {
    return finish(startProgram(EXEGFX_MERGE_PATH, args));
  }
  PartialInfo info(const std::string &name, std::vector<float> *sum = nullptr) {
    PartialInfo i;
    std::vector<float> s;
    std::string error;
    EXPECT_TRUE(readPartial(dir + "/" + name, i, s, error)) << error;
    if (sum) *sum = s;
    return i;
  }
  // A partial of this scene with made-up sums, for the refusals.
  void fake(const std::string &name, unsigned w, unsigned h, FrameRanges frames,
            std::string scene = sceneIdentity, std::string renderer = "llvmpipe") {
    PartialInfo i;
    i.width = w;
    i.height = h;
    i.frames = frames;
    i.scene = scene;
    i.version = "test";
    i.renderers = {renderer};
    i.passes = {"fragment"};
    std::vector<float> v(std::size_t{w} * h * 3, 1.0f);
    std::string error;
    ASSERT_TRUE(writePartial(dir + "/" + name, i, v.data(), v.data(), error)) << error;
  }
  bool noTemporaryFiles() {
    for (const std::string &e : entries(dir))
      if (has(e, ".partial-")) return false;
    return true;
  }
};

double maxRelativeDifference(const std::vector<float> &a, const std::vector<float> &b) {
  double worst = a.size() == b.size() ? 0.0 : INFINITY;
  for (std::size_t k = 0; k < a.size() && k < b.size(); ++k)
    if (a[k] != b[k])
      worst =
          std::max(worst, std::abs(double{a[k]} - b[k]) / std::max(std::abs(a[k]), std::abs(b[k])));
  return worst;
}

TEST_F(PartialRender, FrameRangesMergeToTheSingleRunsPicture) {
  ASSERT_EQ(still({"--frames", "4", "-o", "whole.pfm"}).exitCode, 0);
  // Parts made with different scene passes add up as well.
  ASSERT_EQ(still({"--frames", "2", "--pass", "fragment", "-o", "a.exr"}).exitCode, 0);
  // A scheduler's GPU that Mesa does not have, with the software renderer
  // allowed: rendered there, said so.
  setenv("CUDA_VISIBLE_DEVICES", "0", 1);
  Outcome b = still({"--first-frame", "3", "--frames", "2", "--pass", "compute", "--allow-software",
                     "-o", "b.exr"});
  unsetenv("CUDA_VISIBLE_DEVICES");
  ASSERT_EQ(b.exitCode, 0) << b.err;
  EXPECT_TRUE(has(b.err, "Rendering 2 frames (3-4) of 64 x 36 to b.exr with the compute pass"))
      << b.err;
  EXPECT_TRUE(has(b.err, "CUDA_VISIBLE_DEVICES names GPU 0, but EGL offers no GPU")) << b.err;
  EXPECT_TRUE(has(b.err, "(no GPU, Mesa surfaceless)")) << b.err;
  std::vector<float> sumA, sumB;
  PartialInfo a = info("a.exr", &sumA), bi = info("b.exr", &sumB);
  EXPECT_EQ(formatFrameRanges(a.frames), "1-2");
  EXPECT_EQ(formatFrameRanges(bi.frames), "3-4");
  EXPECT_EQ(a.passes, std::vector<std::string>{"fragment"});
  EXPECT_EQ(bi.passes, std::vector<std::string>{"compute"});
  EXPECT_EQ(bi.devices, std::vector<std::string>{"no GPU, Mesa surfaceless"});
  EXPECT_NE(sumA, sumB) << "frames 3 and 4 have samples of their own";

  Outcome m = merge({"-o", "merged.pfm", "a.exr", "b.exr"});
  ASSERT_EQ(m.exitCode, 0) << m.err;
  ReadImage whole = readPfm(dir + "/whole.pfm"), merged = readPfm(dir + "/merged.pfm");
  ASSERT_TRUE(whole.ok && merged.ok);
  EXPECT_LE(maxRelativeDifference(merged.floats, whole.floats), 1e-6);

  // A merged .exr merges again, and the output may be one of its parts.
  ASSERT_EQ(merge({"-o", "a.exr", "a.exr", "b.exr"}).exitCode, 0);
  PartialInfo both = info("a.exr");
  EXPECT_EQ(formatFrameRanges(both.frames), "1-4");
  EXPECT_EQ(both.passes, (std::vector<std::string>{"fragment", "compute"}));
  ASSERT_EQ(merge({"-o", "again.pfm", "a.exr"}).exitCode, 0);
  EXPECT_EQ(readPfm(dir + "/again.pfm").floats, merged.floats);
  EXPECT_TRUE(noTemporaryFiles());
}

TEST_F(PartialRender, StopsBySignalAndResumesBitForBit) {
  const std::vector<std::string> cmd = {
      "--size", "64x36",    "--frames", "100000", "--checkpoint-every",
      "0.05",   "--resume", "-o",       "r.exr"};
  // SIGTERM after a checkpoint: the frames done are written, exit 143.
  pid_t pid = startProgram(EXEGFX_STILL_PATH, cmd);
  ASSERT_TRUE(waitForErr("checkpoint frames="));
  kill(pid, SIGTERM);
  Outcome first = finish(pid);
  EXPECT_EQ(first.exitCode, 143) << first.err;
  EXPECT_FALSE(first.killed);
  EXPECT_TRUE(has(first.err, "Interrupted: Wrote r.exr")) << first.err;
  // A log gets progress in a fixed form, from the first frame on.
  std::smatch progress;
  EXPECT_TRUE(std::regex_search(first.err, progress,
                                std::regex("\nprogress frames=1/100000 samples_per_s=[0-9]+ "
                                           "left_s=[0-9]+ elapsed_s=[0-9]+ noise_p95=unknown\n")))
      << first.err;
  std::uint32_t k1 = info("r.exr").frames.at(0).last;

  // The same command continues it; SIGHUP stops it the same way.
  pid = startProgram(EXEGFX_STILL_PATH, cmd);
  ASSERT_TRUE(waitForErr("checkpoint frames="));
  kill(pid, SIGHUP);
  Outcome second = finish(pid);
  EXPECT_EQ(second.exitCode, 129) << second.err;
  EXPECT_TRUE(has(second.err, "Resuming r.exr, which holds frames 1-" + std::to_string(k1)))
      << second.err;
  std::vector<float> resumed;
  PartialInfo held = info("r.exr", &resumed);
  ASSERT_EQ(held.frames.size(), 1u);
  std::uint32_t k2 = held.frames[0].last;
  EXPECT_GT(k2, k1);

  // Bit for bit the sum of one uninterrupted run of as many frames.
  ASSERT_EQ(still({"--frames", std::to_string(k2), "-o", "ref.exr"}).exitCode, 0);
  std::vector<float> reference;
  info("ref.exr", &reference);
  EXPECT_EQ(resumed, reference);
  // And so is the sum of squares, which every checkpoint carried along.
  std::vector<float> sum, squares, referenceSquares;
  PartialInfo i;
  std::string error;
  ASSERT_TRUE(readPartial(dir + "/r.exr", i, sum, error, &squares)) << error;
  ASSERT_TRUE(readPartial(dir + "/ref.exr", i, sum, error, &referenceSquares)) << error;
  EXPECT_FALSE(squares.empty());
  EXPECT_EQ(squares, referenceSquares);

  // A second signal quits at once; the last checkpoint stays whole. The
  // frames are larger here, so the second signal comes within a frame.
  pid = startProgram(EXEGFX_STILL_PATH, {"--size", "480x270", "--frames", "100000",
                                         "--checkpoint-every", "0.05", "-o", "big.exr"});
  ASSERT_TRUE(waitForErr("checkpoint frames="));
  kill(pid, SIGTERM);
  ASSERT_TRUE(waitForErr("a second signal quits at once"));
  kill(pid, SIGTERM);
  Outcome third = finish(pid);
  EXPECT_TRUE(third.killed) << third.err;
  EXPECT_FALSE(has(third.err, "Wrote big.exr")) << third.err;
  EXPECT_GE(info("big.exr").frames.at(0).last, 1u);
  EXPECT_TRUE(noTemporaryFiles());
}

TEST_F(PartialRender, ResumeRefusesFilesItCannotUseAndLeavesThemAsTheyAre) {
  fake("small.exr", 32, 18, {{1, 2}});
  fake("other.exr", 64, 36, {{1, 2}}, "sha256:another scene");
  fake("late.exr", 64, 36, {{2, 3}});
  fake("long.exr", 64, 36, {{1, 9}});
  fake("holes.exr", 64, 36, {{1, 2}, {4, 5}});
  fake("good.exr", 64, 36, {{1, 4}});
  std::string good = contents(dir + "/good.exr");
  std::ofstream(dir + "/cut.exr", std::ios::binary) << good.substr(0, good.size() / 2);
  std::ofstream(dir + "/text.exr") << "a note, not a picture";
  struct Case {
    const char *file, *mention;
  } cases[] = {{"small.exr", "is 32x18, not the asked 64x36"},
               {"other.exr", "another scene"},
               {"late.exr", "holds frames 2-3"},
               {"long.exr", "holds frames 1-9"},
               {"holes.exr", "holds frames 1-2,4-5"},
               {"cut.exr", "damaged"},
               {"text.exr", "not an OpenEXR file"}};
  for (const Case &c : cases) {
    std::string before = contents(dir + "/" + c.file);
    Outcome r = still({"--frames", "8", "--resume", "-o", c.file});
    EXPECT_EQ(r.exitCode, 1) << c.file;
    EXPECT_TRUE(has(r.err, "cannot resume")) << r.err;
    EXPECT_TRUE(has(r.err, c.mention)) << c.mention << " not in: " << r.err;
    EXPECT_FALSE(has(r.out, "Shader prog")) << "nothing is compiled for " << c.file;
    EXPECT_TRUE(contents(dir + "/" + c.file) == before) << c.file << " changed";
  }
  // A file that already holds the whole range is done.
  Outcome done = still({"--frames", "4", "--resume", "-o", "good.exr"});
  EXPECT_EQ(done.exitCode, 0);
  EXPECT_TRUE(has(done.err, "already holds frames 1-4")) << done.err;
  EXPECT_TRUE(contents(dir + "/good.exr") == good) << "good.exr changed";
  EXPECT_EQ(still({"--frames", "4", "--resume", "-o", "x.png"}).exitCode, 1);
  // The highest frame number renders; one more is refused before any GL work.
  Outcome cap = still({"--first-frame", "1073741824", "--frames", "1", "-o", "cap.exr"});
  ASSERT_EQ(cap.exitCode, 0) << cap.err;
  EXPECT_EQ(formatFrameRanges(info("cap.exr").frames), "1073741824");
  Outcome past = still({"--first-frame", "1073741824", "--frames", "2", "-o", "x.exr"});
  EXPECT_EQ(past.exitCode, 1);
  EXPECT_TRUE(has(past.err, "goes past frame 1073741824")) << past.err;
}

// The figure a line of the programs reports ("noise_p95=12.3 levels").
double noiseIn(const std::string &text) {
  std::smatch m;
  std::regex figure("noise_p95=([0-9.]+)");
  return std::regex_search(text, m, figure) ? std::stod(m[1]) : -1.0;
}

TEST_F(PartialRender, NoiseIsReportedStopsTheRenderAndTravelsThroughMerges) {
  Outcome four = still({"--frames", "4", "-o", "four.exr"});
  ASSERT_EQ(four.exitCode, 0) << four.err;
  EXPECT_TRUE(has(four.err, "progress frames=1/4 ")) << four.err;
  EXPECT_TRUE(has(four.err, " noise_p95=unknown\n")) << four.err; // one frame: no variance yet
  double after4 = noiseIn(four.err.substr(four.err.find("Wrote")));
  ASSERT_GT(after4, 0.0) << four.err;
  EXPECT_NEAR(info("four.exr").noiseP95, after4, 0.01);
  // The error falls as one over the square root of the frames: 0.8 of it
  // takes about 6 frames, far fewer than the cap.
  const std::string level = std::to_string(after4 * 0.8);
  Outcome clean = still({"--frames", "64", "--until-noise", level, "-o", "a.exr"});
  ASSERT_EQ(clean.exitCode, 0) << clean.err;
  EXPECT_TRUE(has(clean.err, "Noise level reached: Wrote a.exr")) << clean.err;
  PartialInfo a = info("a.exr");
  EXPECT_LE(a.noiseP95, after4 * 0.8);
  EXPECT_LT(frameCount(a.frames), 32u);
  Outcome again = still({"--frames", "64", "--until-noise", level, "--resume", "-o", "a.exr"});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_TRUE(has(again.err, "nothing to render")) << again.err;

  // Merged with parts of their own, the sums of squares add up too; parts
  // with enough frames for a variance are checked against each other.
  ASSERT_EQ(still({"--first-frame", "33", "--frames", "16", "-o", "b.exr"}).exitCode, 0);
  ASSERT_EQ(still({"--first-frame", "49", "--frames", "16", "-o", "c.exr"}).exitCode, 0);
  Outcome merged = merge({"-o", "m.exr", "--noise-map", "map.png", "a.exr", "b.exr", "c.exr"});
  ASSERT_EQ(merged.exitCode, 0) << merged.err;
  EXPECT_TRUE(has(merged.err, "the 2 parts checked agree")) << merged.err;
  EXPECT_TRUE(has(merged.err, "\"a.exr\" holds " + std::to_string(frameCount(a.frames)) +
                                  " frames, too few for a variance"))
      << merged.err;
  EXPECT_GT(noiseIn(merged.err), 0.0) << merged.err;
  EXPECT_LT(noiseIn(merged.err), info("b.exr").noiseP95);
  ReadImage map = readPng(dir + "/map.png");
  EXPECT_EQ(map.width, 64u);
  EXPECT_GT(map.height, 36u); // the legend below the map

  // A part that shows another picture, and an older part without squares.
  std::vector<float> sum, squares;
  PartialInfo bi;
  std::string error;
  ASSERT_TRUE(readPartial(dir + "/b.exr", bi, sum, error, &squares)) << error;
  for (float &v : sum)
    v *= 2.0f;
  for (float &v : squares)
    v *= 4.0f;
  bi.frames = {{101, 116}};
  ASSERT_TRUE(writePartial(dir + "/bright.exr", bi, sum.data(), sum.data(), error, squares.data()));
  ASSERT_TRUE(writePartial(dir + "/old.exr", bi, sum.data(), sum.data(), error));
  std::ofstream(dir + "/out.png") << "the last good picture";
  Outcome refused = merge({"-o", "out.png", "b.exr", "bright.exr"});
  EXPECT_EQ(refused.exitCode, 1);
  // Of two parts, nothing tells which one is wrong: both are named.
  EXPECT_TRUE(has(refused.err, "\"b.exr\" and \"bright.exr\" disagree with each other"))
      << refused.err;
  EXPECT_TRUE(has(refused.err, "mean |z|")) << refused.err;
  EXPECT_EQ(contents(dir + "/out.png"), "the last good picture");
  Outcome forced = merge({"-o", "out.png", "--force", "b.exr", "bright.exr"});
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_TRUE(has(forced.err, "--force: merging although \"b.exr\" and \"bright.exr\""))
      << forced.err;
  Outcome old = merge({"-o", "out.exr", "a.exr", "old.exr"});
  EXPECT_EQ(old.exitCode, 0) << old.err;
  EXPECT_TRUE(has(old.err, "\"old.exr\" has no sum of squares")) << old.err;
  EXPECT_TRUE(has(old.err, "noise_p95=unknown")) << old.err;
  EXPECT_FALSE(info("out.exr").hasSquares);
  EXPECT_EQ(merge({"-o", "x.exr", "--noise-map", "x.png", "a.exr", "old.exr"}).exitCode, 1);
  // An older file resumes, its noise unknown, but cannot stop at a noise level.
  const std::vector<std::string> resume = {"--first-frame", "101", "--frames", "18",
                                           "--resume",      "-o",  "old.exr"};
  std::vector<std::string> atLevel = resume;
  atLevel.insert(atLevel.end(), {"--until-noise", "1"});
  Outcome refusedLevel = still(atLevel);
  EXPECT_EQ(refusedLevel.exitCode, 1);
  EXPECT_TRUE(has(refusedLevel.err, "has no sum of squares")) << refusedLevel.err;
  Outcome resumed = still(resume);
  ASSERT_EQ(resumed.exitCode, 0) << resumed.err;
  EXPECT_TRUE(has(resumed.err, "noise_p95=unknown levels.")) << resumed.err;
  EXPECT_EQ(formatFrameRanges(info("old.exr").frames), "101-118");
}

TEST_F(PartialRender, MergeRefusesWhatWouldBiasTheMeanAndNotesTheRest) {
  fake("a.exr", 64, 36, {{1, 2}});
  fake("b.exr", 64, 36, {{2, 3}});
  fake("c.exr", 64, 36, {{5, 6}}, sceneIdentity, "another GL");
  fake("small.exr", 32, 18, {{7, 8}});
  fake("other.exr", 64, 36, {{7, 8}}, "sha256:another scene");
  fake("late.exr", 64, 36, {{1073741824, 1073741825}});
  ASSERT_EQ(mkfifo((dir + "/fifo.exr").c_str(), 0600), 0);
  std::ofstream(dir + "/out.png") << "the last good picture";
  struct Case {
    std::vector<std::string> args;
    const char *mention;
  } cases[] = {{{"a.exr", "b.exr"}, "both hold frame 2"},
               {{"a.exr", "a.exr"}, "both hold frame 1"},
               {{"a.exr", "small.exr"}, "\"small.exr\" is 32x18"},
               {{"a.exr", "other.exr"}, "different scenes"},
               {{"a.exr", "missing.exr"}, "missing.exr"},
               {{"--expect-frames", "1-6", "a.exr", "c.exr"}, "missing 3-4"},
               {{"--expect-frames", "", "a.exr"}, "--expect-frames wants FIRST-LAST"},
               {{"--expect-frames=1-1073741825", "a.exr"}, "goes past frame 1073741824"},
               {{"a.exr", "late.exr"}, "past frame 1073741824"},
               {{"a.exr", "fifo.exr"}, "\"fifo.exr\" is a FIFO"},
               {{}, "no parts"}};
  for (const Case &c : cases) {
    std::vector<std::string> args = {"-o", "out.png"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome r = merge(args);
    EXPECT_EQ(r.exitCode, 1) << c.mention;
    EXPECT_TRUE(has(r.err, c.mention)) << c.mention << " not in: " << r.err;
    EXPECT_EQ(contents(dir + "/out.png"), "the last good picture");
  }
  Outcome gaps = merge({"-o", "out.exr", "c.exr", "a.exr"});
  ASSERT_EQ(gaps.exitCode, 0) << gaps.err;
  EXPECT_TRUE(has(gaps.err, "note: no part holds frames 3-4")) << gaps.err;
  EXPECT_TRUE(has(gaps.err, "different GL renderers (another GL; llvmpipe)")) << gaps.err;
  PartialInfo merged = info("out.exr");
  EXPECT_EQ(formatFrameRanges(merged.frames), "1-2,5-6");
  EXPECT_EQ(merged.renderers, (std::vector<std::string>{"another GL", "llvmpipe"}));
}

} // namespace

// exegfx-still --adaptive end to end, at a level where traced pixels stop
// within the run: a render stopped by a signal after a decision and resumed
// is the uninterrupted one bit for bit, and its picture passes exegfx-merge's
// agreement check against a uniform render of other frame numbers. That check
// sees only gross faults (a shift of several percent passes it); the rule's
// unbiasedness is measured in adaptive_rule_test.cpp.
#include "partial_file.h"

#include "program_run.h"
#include "read_back.h"
#include "still_image_read.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <map>
#include <set>

#include <string>

namespace {

const std::vector<std::string> adaptive = {"--size",        "48x27", "--frames",   "320",
                                           "--until-noise", "16",    "--adaptive", "--resume"};

class AdaptiveRender : public ProgramTest {
protected:
  Outcome still(std::vector<std::string> args) {
    return finish(startProgram(EXEGFX_STILL_PATH, args));
  }
  // Waits for a checkpoint that holds at least `frames` frames.
  bool waitForCheckpoint(unsigned frames) {
    for (int k = 0; k < 3000; ++k) {
      std::string err = contents(logs + "/err");
      for (std::size_t at = err.find("checkpoint frames="); at != std::string::npos;
           at = err.find("checkpoint frames=", at + 1))
        if (std::stoul(err.substr(at + 18)) >= frames) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // Whether a pixel whose held-out samples vary (not the letterbox, not a
  // flat colour) stopped before the run's frames.
  static bool tracedPixelStopped(const Picture &p, unsigned frames) {
    for (std::size_t q = 0; q < p.pixels(); ++q) {
      double mean[3], variance[3];
      if (p.mean.count[q] + p.held.count[q] < frames && p.held.count[q] >= 2.0 &&
          sampleSpread(&p.held.sum[q * 3], &p.held.squares[q * 3], p.held.count[q], mean, variance))
        return true;
    }
    return false;
  }
  Picture picture(const std::string &name) { return readBack(dir + "/" + name); }
};

TEST_F(AdaptiveRender, StoppedAndResumedIsTheUninterruptedRunBitForBit) {
  Outcome r = still({"--size", "8x8", "--adaptive", "-o", "x.exr"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(has(r.err, "--adaptive needs --until-noise")) << r.err;

  std::vector<std::string> args = adaptive;
  args.insert(args.end(), {"-o", "a.exr"});
  ASSERT_EQ(still(args).exitCode, 0) << contents(logs + "/err");
  // Stopped after a checkpoint past the first decision, then resumed.
  args.back() = "b.exr";
  args.insert(args.end(), {"--checkpoint-every", "0.01"});
  pid_t pid = startProgram(EXEGFX_STILL_PATH, args);
  ASSERT_TRUE(waitForCheckpoint(264)) << contents(logs + "/err");
  kill(pid, SIGTERM);
  EXPECT_EQ(finish(pid).exitCode, 143);
  Picture stopped = picture("b.exr");
  const unsigned held = stopped.frames.empty() ? 0 : stopped.frames.back().last;
  ASSERT_GE(held, 264u);
  ASSERT_LT(held, 320u) << "the stop came after the last frame";
  EXPECT_TRUE(tracedPixelStopped(stopped, held)) << "the decisions made before the stop";
  r = still(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(has(r.err, "Resuming b.exr, which holds frames 1-" + std::to_string(held) + ": "))
      << r.err;
  Picture a = picture("a.exr"), b = picture("b.exr");
  EXPECT_EQ(a.mean.sum, b.mean.sum);
  EXPECT_EQ(a.mean.squares, b.mean.squares);
  EXPECT_EQ(a.mean.count, b.mean.count);
  EXPECT_EQ(a.held.sum, b.held.sum);
  EXPECT_EQ(a.held.squares, b.held.squares);
  EXPECT_EQ(a.held.count, b.held.count);
  EXPECT_TRUE(tracedPixelStopped(a, 320));

  // A file made one way continues only the same way.
  for (std::vector<std::string> other :
       {std::vector<std::string>{"--size", "48x27", "--frames", "330", "--resume"},
        {"--size", "48x27", "--frames", "330", "--until-noise", "1", "--adaptive", "--resume"}}) {
    other.insert(other.end(), {"-o", "a.exr"});
    r = still(other);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.err, "cannot resume")) << r.err;
  }
}

TEST_F(AdaptiveRender, AgreesWithAUniformRenderOfOtherFrames) {
  std::vector<std::string> args = adaptive;
  args.insert(args.end(), {"-o", "a.exr"});
  ASSERT_EQ(still(args).exitCode, 0) << contents(logs + "/err");
  ASSERT_EQ(
      still({"--size", "48x27", "--first-frame", "321", "--frames", "320", "-o", "u.exr"}).exitCode,
      0);
  Outcome m = finish(
      startProgram(EXEGFX_MERGE_PATH, {"--count-map", "c.png", "-o", "m.exr", "a.exr", "u.exr"}));
  EXPECT_EQ(m.exitCode, 0) << m.err;
  EXPECT_TRUE(has(m.err, "the 2 parts checked agree")) << m.err;
  EXPECT_TRUE(has(m.err, "Wrote the count map c.png")) << m.err;
  // Per pixel, the merged counts are the parts' added.
  Picture a = picture("a.exr"), merged = picture("m.exr");
  for (std::size_t p = 0; p < a.pixels(); ++p)
    ASSERT_EQ(merged.mean.count[p], a.mean.count[p] + 320.0) << p;
  // The count map shows them (held-out samples included): more samples, a
  // brighter colour, the top row first; grey where nothing is traced.
  ReadImage map = readPng(dir + "/c.png");
  ASSERT_TRUE(map.ok && map.width == 48 && map.height > 27);
  std::map<double, std::set<int>> lumas; // by count
  for (std::size_t p = 0; p < a.pixels(); ++p) {
    const std::uint8_t *c = &map.bytes[((26 - p / 48) * 48 + p % 48) * 3];
    if (c[0] == 128 && c[1] == 128 && c[2] == 128) continue;
    lumas[merged.mean.count[p] + merged.held.count[p]].insert(2126 * c[0] + 7152 * c[1] +
                                                              722 * c[2]);
  }
  ASSERT_GT(lumas.size(), 2u);
  for (auto k = lumas.begin(), next = std::next(k); next != lumas.end(); k = next++)
    EXPECT_LE(*k->second.rbegin(), *next->second.begin() + 7152)
        << k->first << " against " << next->first; // a level of rounding
  EXPECT_LT(*lumas.begin()->second.rbegin(), *lumas.rbegin()->second.begin());
  Outcome info = finish(startProgram(EXEGFX_MERGE_PATH, {"--info", "a.exr"}));
  EXPECT_TRUE(has(info.out, " samples=256/") && has(info.out, "/320 adaptive=\"level=16 "))
      << info.out;
}

} // namespace

// The entry sequence and the main loop against a scripted platform.
#include "config.h"
#include "fake_platform.h"
#include "host.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

struct HostRun {
  int exitCode;
  std::string out;
};

HostRun runHost() {
  testing::internal::CaptureStdout();
  int code = exegfxMain();
  return {code, testing::internal::GetCapturedStdout()};
}

std::vector<std::string> lines(const std::string &text) {
  std::vector<std::string> result;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    result.push_back(line);
  return result;
}

int count(const std::string &text, const std::string &what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++n;
  return n;
}

const char *limitsLine() {
  return RunConfig::limitsEnforced ? "            Limits: Enforced\n"
                                   : "            Limits: NOT enforced\n";
}

std::string report(const char *adapterLine) {
  return std::string("-={ zorvane basecode 2024-08-04 }=-\n"
                     "-={         Vund / NoXA         }=-\n\n") +
         adapterLine +
         " Render resolution: 1920 x 1080\n"
         "  Max precalc time: 60.00 secs\n"
         "        Max frames: 2048\n" +
         limitsLine();
}

const char *renderingLine = "\nRendering (Close this window or Esc on render window to abort)\n\n";

class Host : public testing::Test {
protected:
  void SetUp() override { resetFake(); }
};

TEST_F(Host, ReportIsExactAndAligned) {
  fake.quitOnTurn = 1;
  HostRun run = runHost();
  EXPECT_EQ(run.exitCode, 0);

  // Six lines of logo, a blank line, then the report.
  std::vector<std::string> all = lines(run.out);
  ASSERT_GE(all.size(), 16u);
  EXPECT_EQ(all[6], "");
  std::string expected = report("     What's inside: Test Adapter 9000\n") +
                         "\nCompiling shaders...\n" + renderingLine + ".";
  std::size_t banner = run.out.find("-={ zorvane");
  ASSERT_NE(banner, std::string::npos);
  EXPECT_EQ(run.out.substr(banner), expected);

  // The colon of every configuration line stands in column 19.
  for (int k = 10; k <= 14; ++k)
    EXPECT_EQ(all[k].find(':'), 18u) << all[k];
}

TEST_F(Host, UnknownAdapter) {
  fake.adapterKnown = false;
  HostRun run = runHost();
  EXPECT_NE(run.out.find(report("     What's inside: Unknown!\n")), std::string::npos);
}

TEST_F(Host, FailedWindowShowsNoticeAndFails) {
  fake.createSucceeds = false;
  HostRun run = runHost();
  EXPECT_NE(run.exitCode, 0);
  // Lines 1 to 13 and nothing after them.
  EXPECT_EQ(run.out.substr(run.out.find("-={ zorvane")),
            report("     What's inside: Test Adapter 9000\n"));
  EXPECT_EQ(fake.inits, 0);
  ASSERT_EQ(fake.notices.size(), 1u);
  EXPECT_EQ(fake.notices[0], "Oh dear|Window init error! We're gonna have to abort...");
  // Teardown (which restores the display mode) runs before the notice.
  EXPECT_EQ(fake.events, (std::vector<std::string>{"create", "destroy", "notice"}));
}

TEST_F(Host, QuitEndsTheLoopAfterTheCurrentTurn) {
  fake.quitOnTurn = 3;
  HostRun run = runHost();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(fake.events,
            (std::vector<std::string>{"create", "init", "drain", "render", "swap", "drain",
                                      "render", "swap", "drain", "render", "swap", "destroy"}));
  EXPECT_TRUE(run.out.ends_with(std::string(renderingLine) + "..."));
}

TEST_F(Host, FirstTurnPassesZeroThenThePreviousMeasurement) {
  fake.quitOnTurn = 4;
  // 250 ms per frame pass, from a start tick of 5000.
  fake.clock = [](int passes) { return 5000u + 250u * static_cast<unsigned>(passes); };
  runHost();
  EXPECT_EQ(fake.renderArgs, (std::vector<float>{0.0f, 0.25f, 0.5f, 0.75f}));
}

TEST_F(Host, FpsLineEveryFortyFrames) {
  fake.quitOnTurn = 80;
  fake.clock = [](int passes) { return 25u * static_cast<unsigned>(passes); }; // 40 fps
  HostRun run = runHost();
  std::string marks(40, '.');
  EXPECT_NE(run.out.find(std::string(renderingLine) + marks + " [40, 40.000 fps]\n" + marks +
                         " [80, 40.000 fps]\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(count(run.out, "fps]"), 2);
}

TEST_F(Host, TickWrapDoesNotDisturbElapsedTime) {
  fake.quitOnTurn = 3;
  // The counter wraps between the start and the second frame.
  fake.clock = [](int passes) { return 0xFFFFFE0Cu + 500u * static_cast<unsigned>(passes); };
  runHost();
  EXPECT_EQ(fake.renderArgs, (std::vector<float>{0.0f, 0.5f, 1.0f}));
}

TEST_F(Host, TimeLimitAtExactlySixtySecondsPrintsOnce) {
  fake.quitOnTurn = 64;
  fake.clock = [](int passes) { return 1000u * static_cast<unsigned>(passes); }; // 1 s per frame
  HostRun run = runHost();
  EXPECT_EQ(count(run.out, "[LIMIT HIT"), 1);
  // The 60th turn measures exactly 60.000 s and reports it.
  std::string message = "\n[LIMIT HIT: 60/2048 frames, 60.00/60.00 secs]\n";
  ASSERT_NE(run.out.find(message), std::string::npos);
  std::string after = run.out.substr(run.out.find(message) + message.size());
  if (RunConfig::limitsEnforced) {
    EXPECT_EQ(after, "\n\nDone; close window to quit\n");
  } else {
    // Marks and fps lines go on: frames 61 to 64, with no fps line due.
    EXPECT_EQ(after, "....");
  }
  // The guard is in the frame passes, so the loop calls them every turn.
  EXPECT_EQ(fake.renderArgs.size(), 64u);
}

TEST_F(Host, FrameLimitAtTurn2048PrintsOnce) {
  fake.quitOnTurn = 2100;
  HostRun run = runHost();
  EXPECT_EQ(count(run.out, "[LIMIT HIT"), 1);
  EXPECT_NE(run.out.find("[2040, "), std::string::npos);
  std::string message = "\n[LIMIT HIT: 2048/2048 frames, 0.00/60.00 secs]\n";
  ASSERT_NE(run.out.find(message), std::string::npos);
  // The turn of the message printed its own mark first.
  EXPECT_EQ(run.out[run.out.find(message) - 1], '.');
  std::string after = run.out.substr(run.out.find(message) + message.size());
  if (RunConfig::limitsEnforced) {
    EXPECT_EQ(after, "\n\nDone; close window to quit\n");
  } else {
    EXPECT_EQ(count(after, "."), 2100 - 2048); // marks go on; the fps line has no dot
  }
}

TEST_F(Host, BothLimitsInOneTurnPrintOneMessage) {
  fake.quitOnTurn = 2050;
  // No time passes until the 2048th frame, which takes 61 s.
  fake.clock = [](int passes) { return passes >= 2048 ? 61000u : 0u; };
  HostRun run = runHost();
  EXPECT_EQ(count(run.out, "[LIMIT HIT"), 1);
  EXPECT_NE(run.out.find("\n[LIMIT HIT: 2048/2048 frames, 61.00/60.00 secs]\n"), std::string::npos);
}

} // namespace

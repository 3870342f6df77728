// The web page's bands: every pixel of a frame exactly once, and each band
// near the time asked of it on a simulated GPU whose rows cost what the
// scene's do (cheap letterbox, costly middle, noise from frame to frame).
#include "bands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

// Milliseconds a pixel of each row costs: software-GPU figures, the
// letterbox 50 times cheaper than the picture, its middle three times dearer
// than its edges.
std::vector<double> sceneRowCosts(int height) {
  std::vector<double> cost(static_cast<std::size_t>(height));
  for (int y = 0; y < height; ++y) {
    double v = (y + 0.5) / height;
    bool letterbox = v < 0.057 || v > 0.943;
    cost[static_cast<std::size_t>(y)] =
        letterbox ? 0.0008 : 0.04 * (1.0 + 2.0 * (1.0 - 2.0 * std::abs(v - 0.5)));
  }
  return cost;
}

struct FrameRun {
  std::vector<int> covered; // times each pixel was rendered
  double longestMs = 0.0;
  int bands = 0;
};

// One frame, each band measured at once, or `lag` bands later as when bands
// are queued ahead; the first band's measure has warmUpMs more.
FrameRun runFrame(BandPlanner &planner, const std::vector<double> &rowCost, std::mt19937 &noise,
                  int lag = 0, double warmUpMs = 0.0) {
  FrameRun run;
  run.covered.assign(static_cast<std::size_t>(planner.width) * planner.height, 0);
  std::uniform_real_distribution<double> jitter(0.8, 1.2);
  std::vector<std::pair<BandRect, double>> pending;
  bandsNewFrame(planner);
  while (!bandsFrameDone(planner)) {
    BandRect r = bandsNext(planner);
    EXPECT_GT(r.width, 0);
    EXPECT_GT(r.height, 0);
    double ms = 0.0;
    for (int y = r.y; y < r.y + r.height; ++y)
      for (int x = r.x; x < r.x + r.width; ++x) {
        ++run.covered[static_cast<std::size_t>(y) * planner.width + x];
        ms += rowCost[static_cast<std::size_t>(y)];
      }
    ms *= jitter(noise);
    run.longestMs = std::max(run.longestMs, ms);
    ++run.bands;
    pending.emplace_back(r, ms + (run.bands == 1 ? warmUpMs : 0.0));
    if (static_cast<int>(pending.size()) > lag) {
      bandsMeasured(planner, pending.front().first, planner.frame, pending.front().second);
      pending.erase(pending.begin());
    }
  }
  for (auto &[r, ms] : pending)
    bandsMeasured(planner, r, planner.frame, ms);
  return run;
}

bool eachOnce(const FrameRun &run) {
  return std::all_of(run.covered.begin(), run.covered.end(), [](int n) { return n == 1; });
}

TEST(WebBands, CoverEveryPixelOnceAtAnySize) {
  std::mt19937 noise(1);
  for (auto [w, h] : {std::pair{1, 1}, {7, 3}, {3, 200}, {240, 135}, {1920, 1080}}) {
    BandPlanner planner;
    bandsStart(planner, w, h, 20.0);
    std::vector<double> cost = sceneRowCosts(h);
    for (int frame = 0; frame < 3; ++frame)
      EXPECT_TRUE(eachOnce(runFrame(planner, cost, noise, frame))) << w << "x" << h;
  }
}

TEST(WebBands, KeepNearTheTargetOnASlowGpu) {
  std::mt19937 noise(2);
  BandPlanner planner;
  bandsStart(planner, 1920, 1080, 20.0);
  std::vector<double> cost = sceneRowCosts(1080);
  // The first frame learns the strips' costs, its first band has the
  // shader's warm-up (seconds that say nothing of a pixel); no band may run away.
  FrameRun first = runFrame(planner, cost, noise, 2, 3000.0);
  EXPECT_TRUE(eachOnce(first));
  EXPECT_LT(first.longestMs, 3 * 20.0);
  for (int frame = 0; frame < 3; ++frame) {
    FrameRun run = runFrame(planner, cost, noise, 2);
    EXPECT_TRUE(eachOnce(run));
    EXPECT_LT(run.longestMs, 1.5 * 20.0);
    // Few more bands than the frame's time over the target.
    double total = 0.0;
    for (double c : cost)
      total += c * 1920;
    EXPECT_LT(run.bands, 2.0 * total / 20.0);
  }
}

TEST(WebBands, AFastGpuDrawsAFrameInTwoBands) {
  std::mt19937 noise(3);
  BandPlanner planner;
  bandsStart(planner, 1920, 1080, 20.0);
  std::vector<double> cost(1080, 2e-6); // 4 ms a frame
  for (int frame = 0; frame < 4; ++frame)
    runFrame(planner, cost, noise);
  FrameRun run = runFrame(planner, cost, noise);
  // From the middle row up, then from the bottom: two bands.
  EXPECT_EQ(run.bands, 2);
}

} // namespace

// Prints what a frame of the scene costs on this GL implementation:
// milliseconds per frame at the given sizes, and how often a path evaluates
// the field h (against the bound 348 that the march budgets set). The build
// time of the programs is exegfx-bench-compile's figure.
//
//   exegfx-bench-scene [--frames N] [WxH ...]   (default: 4 frames, 1920x1080 480x270)
#include "shaders.h"
#include "still_core.h"

#include "bench_args.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The scene shader with a counter of h's evaluations: every traced pixel
// writes (count, 1, 0), so green tells traced pixels from the outline's.
std::string countingScene() {
  std::string scene = sceneShaderSource;
  const std::string head = "vec2 h(vec3 p, int i)\n{\n";
  const std::string trace = "vec3 s = pt(ro, normalize(rd));\n";
  std::size_t at = scene.find(head);
  if (at == std::string::npos) return {};
  scene.insert(at + head.size(), "    hn += 1.;\n");
  scene.insert(at, "float hn = 0.;\n");
  at = scene.find(trace);
  if (at == std::string::npos) return {};
  scene.insert(at + trace.size(), "    s = vec3(hn, 1, 0);\n");
  return scene;
}

// Opens, renders frames and reports; false when no context could be made.
bool timeSize(unsigned w, unsigned h, unsigned frames) {
  Clock::time_point start = Clock::now();
  if (!stillOpen(w, h)) return false;
  std::vector<float> mean(std::size_t{w} * h * 3);
  double open = secondsSince(start);
  // The first frame includes the driver's deferred compile work.
  start = Clock::now();
  stillRenderFrame();
  stillReadMean(mean.data());
  double first = secondsSince(start);
  start = Clock::now();
  for (unsigned k = 0; k < frames; ++k)
    stillRenderFrame();
  stillReadMean(mean.data());
  double steady = secondsSince(start) / frames;
  stillClose();
  std::printf("%ux%u: open and build %.2f s, first frame %.0f ms, then %.0f ms per frame "
              "(%u frames), %.2f Msamples/s\n",
              w, h, open, first * 1e3, steady * 1e3, frames, w * double(h) / steady / 1e6);
  return true;
}

bool countEvaluations(unsigned w, unsigned h, unsigned frames) {
  std::string scene = countingScene();
  if (scene.empty()) {
    std::fprintf(stderr, "The scene shader no longer has the text the counter hooks into\n");
    return false;
  }
  if (!stillOpenWith(scene.c_str(), displayShaderSource, w, h)) return false;
  for (unsigned k = 0; k < frames; ++k)
    stillRenderFrame();
  std::vector<float> mean(std::size_t{w} * h * 3);
  stillReadMean(mean.data());
  stillClose();
  double sum = 0;
  float peak = 0;
  std::size_t paths = 0;
  for (std::size_t k = 0; k < mean.size(); k += 3) {
    if (mean[k + 1] != 1.0f) continue; // letterbox or outline
    sum += mean[k];
    peak = std::max(peak, mean[k]);
    ++paths;
  }
  if (!paths) return false;
  std::printf("h per path at %ux%u over %u frames: mean %.1f, highest pixel mean %.0f, bound 348 "
              "(mean %.0f %% of it)\n",
              w, h, frames, sum / paths, peak, sum / paths / 3.48);
  return true;
}

} // namespace

int main(int argc, char **argv) {
  unsigned frames = 4;
  std::vector<std::pair<unsigned, unsigned>> sizes;
  for (int k = 1; k < argc; ++k) {
    unsigned w = 0, h = 0;
    if (!std::strcmp(argv[k], "--frames") && k + 1 < argc) {
      if (!parseBenchFrames(argv[++k], frames)) return 1;
    } else if (parseBenchSize(argv[k], w, h)) {
      sizes.emplace_back(w, h);
    } else {
      std::fprintf(stderr, "usage: %s [--frames N] [WxH ...]\n", argv[0]);
      return 1;
    }
  }
  if (sizes.empty()) sizes = {{1920, 1080}, {480, 270}};
  setenv("MESA_SHADER_CACHE_DISABLE", "true", 0); // a fresh build for every size
  for (auto [w, h] : sizes)
    if (!timeSize(w, h, frames)) {
      std::fprintf(stderr, "No headless GL 4.6 context\n");
      return 1;
    }
  if (!countEvaluations(sizes.back().first, sizes.back().second, frames)) return 1;
  return 0;
}

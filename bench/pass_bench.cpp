// The scene pass as a fragment pass and as a compute pass, side by side: the
// GL renderer, milliseconds per steady frame of each (every frame waited for
// with glFinish, the first one reported apart), what 2048 frames would take,
// the ratio compute / fragment and whether both gave the same sums; then
// whether the EGL device platform (the NVIDIA driver's headless path) opens an
// OpenGL 4.6 compatibility context. For each pass also the cost of what the
// still renderer adds to a frame: the sum of squares' pass (included in the
// frame times) and one measurement of the noise figure (read back and
// ranked), which exegfx-still runs at most once per 99 times its cost.
//
//   exegfx-bench-pass [--size WxH]... [--frames N] [--software-device]
//
// Defaults: 1920x1080, 16 steady frames per pass. --software-device lets the
// device check take Mesa's software device, so the check runs without a GPU.
// Exit status: 0 all done, 1 a pass could not run, 2 bad usage, 3 the device
// check failed.
#include "accumulation.h"
#include "noise.h"
#include "platform.h"
#include "platform_egl.h"
#include "squares_pass.h"
#include "still_core.h"

#include "bench_args.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct PassTimes {
  bool ran = false;
  double first = 0, mean = 0, low = 0, high = 0; // ms
  double squares = 0, noise = 0;                 // ms: the squares pass, a noise figure
  std::vector<float> sum;                        // RGBA after the last frame
};

PassTimes timePass(ScenePass pass, unsigned w, unsigned h, unsigned frames) {
  PassTimes t;
  if (!stillOpen(w, h, pass)) {
    stillClose();
    return t;
  }
  // The first frame carries the driver's deferred compile work.
  Clock::time_point start = Clock::now();
  stillRenderFrame();
  stillFinish();
  t.first = msSince(start);
  std::vector<double> each;
  for (unsigned k = 0; k < frames; ++k) {
    start = Clock::now();
    stillRenderFrame();
    stillFinish();
    each.push_back(msSince(start));
  }
  for (double ms : each)
    t.mean += ms / frames;
  t.low = *std::min_element(each.begin(), each.end());
  t.high = *std::max_element(each.begin(), each.end());
  AccumulationView view = accumulationView();
  const std::size_t pixels = std::size_t{w} * h;
  std::vector<float> sum(pixels * 3), squares(pixels * 3);
  start = Clock::now();
  stillReadSum(sum.data());
  stillReadSquares(squares.data());
  noiseFigure(sum.data(), squares.data(), pixels, stillFrames());
  t.noise = msSince(start);
  // The squares pass alone (what it adds is of no use after this).
  start = Clock::now();
  for (unsigned k = 0; k < frames; ++k)
    squaresAdd(view.textures[1 - view.pingPong], view.textures[view.pingPong]);
  stillFinish();
  t.squares = msSince(start) / frames;
  t.sum.resize(pixels * 4);
  glBindTexture(GL_TEXTURE_2D, view.textures[1 - view.pingPong]);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, t.sum.data());
  stillClose();
  t.ran = true;
  return t;
}

void printPass(const char *name, const PassTimes &t) {
  std::printf("  %-8s first frame %9.1f ms, steady %9.2f ms/frame (min %.2f, max %.2f), "
              "2048 frames %8.1f s\n",
              name, t.first, t.mean, t.low, t.high, (t.first + 2047 * t.mean) / 1e3);
  std::printf("  %-8s squares pass %.3f ms/frame (%.2f%% of a frame), noise figure %.1f ms\n", "",
              t.squares, 100.0 * t.squares / t.mean, t.noise);
}

// True when the pass ran; prints the size's block.
bool benchSize(unsigned w, unsigned h, unsigned frames) {
  std::printf("%ux%u, %u steady frames per pass:\n", w, h, frames);
  std::fflush(stdout);
  PassTimes fragment = timePass(ScenePass::Fragment, w, h, frames);
  if (!fragment.ran) return false;
  printPass("fragment", fragment);
  std::fflush(stdout);
  PassTimes compute = timePass(ScenePass::Compute, w, h, frames);
  if (!compute.ran) return false;
  printPass("compute", compute);
  std::size_t differing = 0, values = 0;
  for (std::size_t k = 0; k < compute.sum.size(); k += 4)
    for (int ch = 0; ch < 3; ++ch, ++values)
      differing += std::memcmp(&compute.sum[k + ch], &fragment.sum[k + ch], sizeof(float)) != 0;
  std::printf("  ratio compute/fragment %.3f; sums after %u frames: ", compute.mean / fragment.mean,
              frames + 1);
  if (differing)
    std::printf("differ in %zu of %zu values\n", differing, values);
  else
    std::printf("bit-identical\n");
  std::fflush(stdout);
  return true;
}

bool deviceCheck(bool softwareDevice) {
  std::printf("EGL device platform: ");
  std::fflush(stdout);
  eglUsePath(EglPath::Device, softwareDevice);
  RenderWindow probe{};
  probe.width = probe.height = 1;
  // createRenderWindow asks for 4.6 compatibility and checks what it got.
  bool ok = createRenderWindow(probe);
  if (ok)
    std::printf("OpenGL 4.6 compatibility context OK (%s)\n", stillGlDescription());
  else
    std::printf("FAILED: no OpenGL 4.6 compatibility context (the reason is above)\n");
  destroyRenderWindow(probe);
  eglUsePath(EglPath::Any);
  return ok;
}

void printLoad(const char *when) {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) == 3)
    std::printf("load average %s: %.2f %.2f %.2f\n", when, load[0], load[1], load[2]);
}

} // namespace

int main(int argc, char **argv) {
  unsigned frames = 16;
  bool softwareDevice = false;
  std::vector<std::pair<unsigned, unsigned>> sizes;
  for (int k = 1; k < argc; ++k) {
    unsigned w = 0, h = 0;
    if (!std::strcmp(argv[k], "--frames") && k + 1 < argc) {
      if (!parseBenchFrames(argv[++k], frames)) return 2;
    } else if (!std::strcmp(argv[k], "--size") && k + 1 < argc &&
               parseBenchSize(argv[k + 1], w, h)) {
      sizes.emplace_back(w, h);
      ++k;
    } else if (!std::strcmp(argv[k], "--software-device")) {
      softwareDevice = true;
    } else {
      std::fprintf(stderr, "usage: %s [--size WxH]... [--frames N] [--software-device]\n", argv[0]);
      return 2;
    }
  }
  if (sizes.empty()) sizes = {{1920, 1080}};

  // The renderer and the path the benchmark's own contexts take.
  if (!stillOpen(1, 1, ScenePass::Compute)) {
    stillClose();
    std::fprintf(stderr, "No headless GL 4.6 context with compute shaders\n");
    return 1;
  }
  std::printf("GL renderer: %s\nEGL path: %s\n", stillGlDescription(),
              eglPathTaken() == EglPath::Device ? "device platform" : "Mesa surfaceless");
  stillClose();
  printLoad("at start");
  for (auto [w, h] : sizes)
    if (!benchSize(w, h, frames)) {
      std::fprintf(stderr, "A pass could not run at %ux%u\n", w, h);
      return 1;
    }
  printLoad("at end");
  return deviceCheck(softwareDevice) ? 0 : 3;
}

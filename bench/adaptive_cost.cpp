// What a frame of the adaptive pass costs against the share of pixels still
// running. The running pixels are those an adaptive render keeps longest: the
// noisiest of a partial render's picture (FILE.exr), the given share of them,
// in scanline order, as exegfx-still would list them.
//
//   exegfx-bench-adaptive-cost FILE.exr [--frames F]   (default 8 frames a share)
//
// Prints, per share, ms per frame, ms per million running pixels, and both
// against the uniform compute pass over the whole picture.
#include "adaptive_pass.h"
#include "bench_args.h"
#include "partial_file.h"
#include "still_core.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

static double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

int main(int argc, char **argv) {
  unsigned frames = 8;
  if (argc < 2 || (argc == 4 && !parseBenchFrames(argv[3], frames))) {
    std::fprintf(stderr, "usage: %s FILE.exr [--frames F]\n", argv[0]);
    return 2;
  }
  PartialInfo info;
  Picture picture;
  std::string error;
  if (!readPicture(argv[1], info, picture, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const unsigned w = picture.width, h = picture.height;
  std::vector<float> levels = pictureLevels(picture);
  std::vector<std::size_t> order(picture.pixels());
  std::iota(order.begin(), order.end(), std::size_t{0});
  auto level = [&](std::size_t p) { return std::isnan(levels[p]) ? -1.0f : levels[p]; };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return level(a) > level(b); });

  // The uniform compute pass over the whole picture, first.
  if (!stillOpen(w, h, ScenePass::Compute)) return 1;
  stillRenderFrame(); // the first frame compiles
  stillFinish();
  auto start = std::chrono::steady_clock::now();
  for (unsigned f = 0; f < frames; ++f)
    stillRenderFrame();
  stillFinish();
  const double uniform = 1000.0 * seconds(start) / frames;
  stillClose();
  std::printf("%ux%u, %u frames a share; uniform compute pass %.1f ms/frame\n", w, h, frames,
              uniform);
  std::printf("%8s %10s %12s %12s %14s\n", "running", "ms/frame", "vs uniform", "ms/Mpixel",
              "per pixel vs");
  if (!stillOpenAdaptive(w, h)) return 1;
  adaptiveSetRunning({0});
  adaptiveFrame(1, false);
  stillFinish();
  for (double share : {1.0, 0.5, 0.25, 0.1, 0.05, 0.02, 0.01}) {
    std::size_t n = std::max<std::size_t>(1, static_cast<std::size_t>(share * order.size()));
    std::vector<std::size_t> chosen(order.begin(), order.begin() + static_cast<long>(n));
    std::sort(chosen.begin(), chosen.end()); // scanline order
    std::vector<std::uint32_t> list;
    for (std::size_t p : chosen)
      list.push_back(static_cast<std::uint32_t>(p % w) | static_cast<std::uint32_t>(p / w) << 16);
    adaptiveSetRunning(list);
    start = std::chrono::steady_clock::now();
    for (unsigned f = 0; f < frames; ++f)
      adaptiveFrame(2 + f, false);
    stillFinish();
    const double ms = 1000.0 * seconds(start) / frames;
    const double perMillion = ms / (static_cast<double>(n) / 1e6);
    const double uniformPerMillion = uniform / (static_cast<double>(order.size()) / 1e6);
    std::printf("%7.0f%% %10.2f %11.3fx %12.1f %13.2fx\n", 100 * share, ms, ms / uniform,
                perMillion, perMillion / uniformPerMillion);
  }
  stillClose();
  return 0;
}

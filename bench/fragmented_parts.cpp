// Writes very fragmented parts, for timing exegfx-merge's checks of the parts
// against each other (bench/merge_bench.sh): DIR/odd.exr and DIR/even.exr hold
// frames 1, 3, 5 ... and 2, 4, 6 ... up to frame 131072, one range per frame;
// DIR/last.exr holds the last frame, which odd.exr or even.exr holds too. All
// 1 x 1.
//
//   exegfx-bench-fragments DIR
#include "partial_file.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  PartialInfo odd;
  odd.width = odd.height = 1;
  odd.scene = "sha256:bench";
  odd.version = "bench";
  PartialInfo even = odd, last = odd;
  // 2^17 ranges, headers of about a megabyte each.
  constexpr std::uint32_t lastFrame = 131072;
  for (std::uint32_t f = 1; f <= lastFrame; ++f)
    (f % 2 ? odd : even).frames.push_back({f, f});
  last.frames = {{lastFrame, lastFrame}};
  const float pixel[3] = {1, 1, 1};
  std::string error;
  for (auto [name, info] : {std::pair{"odd", &odd}, {"even", &even}, {"last", &last}})
    if (!writePartial(dir + "/" + name + ".exr", *info, pixel, pixel, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  std::printf("odd.exr and even.exr: %zu and %zu ranges\n", odd.frames.size(), even.frames.size());
  return 0;
}

// Prints what a checkpoint costs in file work: the time to write and to read
// back a partial render like the given one (an exegfx-still .exr), and its size.
// The GL readback that a checkpoint also does is in exegfx-still's own
// "checkpoint ... write_s=" lines.
//
//   exegfx-bench-partial FILE.exr [REPEATS]   (default 5; medians are printed)
#include "partial_file.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

static double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

static double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

int main(int argc, char **argv) {
  int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
  if (argc < 2 || repeats < 1) {
    std::fprintf(stderr, "usage: %s FILE.exr [REPEATS]\n", argv[0]);
    return 2;
  }
  std::string path = argv[1], copy = path + ".bench.exr", error;
  PartialInfo info;
  std::vector<float> sum;
  std::vector<double> reads, writes;
  for (int k = 0; k < repeats; ++k) {
    auto start = std::chrono::steady_clock::now();
    if (!readPartial(path, info, sum, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    reads.push_back(secondsSince(start));
    std::vector<float> mean(sum.size());
    float n = static_cast<float>(frameCount(info.frames));
    for (std::size_t i = 0; i < sum.size(); ++i)
      mean[i] = sum[i] / n;
    start = std::chrono::steady_clock::now();
    if (!writePartial(copy, info, sum.data(), mean.data(), error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    writes.push_back(secondsSince(start));
  }
  struct stat st {};
  stat(copy.c_str(), &st);
  unlink(copy.c_str());
  std::printf("partial %u x %u: %.1f MB, write %.3f s (with fsync), read %.3f s (medians of %d)\n",
              info.width, info.height, st.st_size / 1e6, median(writes), median(reads), repeats);
  return 0;
}

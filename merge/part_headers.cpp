#include "part_headers.h"

#include "frame_ranges.h"
#include "partial_file.h"

#include <cstdio>

// A figure as the header records it: negative where the file has none.
static std::string figure(double value) {
  if (value < 0.0) return "unknown";
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value);
  return text;
}

int printPartHeaders(const std::vector<std::string> &paths) {
  int status = 0;
  for (const std::string &path : paths) {
    PartialInfo info;
    std::string error;
    if (!readPartialInfo(path, info, error)) {
      std::fflush(stdout);
      std::fprintf(stderr, "exegfx-merge: %s\n", error.c_str());
      status = 1;
      continue;
    }
    std::string adaptive = info.isAdaptive ? " adaptive=\"" + info.adaptive + "\"" : "";
    std::printf("%s: frames=%s count=%llu size=%ux%u scene=%s noise_p95=%s noise_median=%s%s\n",
                path.c_str(), formatFrameRanges(info.frames).c_str(),
                static_cast<unsigned long long>(frameCount(info.frames)), info.width, info.height,
                info.scene.c_str(), figure(info.noiseP95).c_str(), figure(info.noiseMedian).c_str(),
                adaptive.c_str());
  }
  std::fflush(stdout);
  return status;
}

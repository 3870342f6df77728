#include "part_info.h"

#include "merge_messages.h"
#include "noise.h"
#include "picture.h"

#include <cstdio>
#include <string>

int printInfo(const std::vector<Part> &parts) {
  int status = 0;
  for (const Part &p : parts) {
    PartialInfo info;
    Picture picture;
    std::string error;
    if (!readPicture(p.path, info, picture, error)) {
      std::fflush(stdout);
      std::fprintf(stderr, "exegfx-merge: %s\n", error.c_str());
      status = 1;
      continue;
    }
    NoiseFigure noise = pictureNoise(picture);
    CountSpread counts = countSpread(picture);
    std::string tail = std::string(" noise_median=") + noiseText(noise, false);
    char figures[96];
    std::snprintf(figures, sizeof figures, " noise_p99=%.3g noise_max=%.3g", noise.p99, noise.max);
    tail += noise.known ? figures : " noise_p99=unknown noise_max=unknown";
    std::snprintf(figures, sizeof figures, " samples=%.0f/%.0f/%.0f", counts.min, counts.median,
                  counts.max);
    tail += figures;
    if (info.isAdaptive) tail += " adaptive=\"" + info.adaptive + "\"";
    std::printf("%s: frames=%s count=%llu size=%ux%u scene=%s version=%s passes=%s "
                "renderers=%s devices=%s noise_p95=%s%s\n",
                p.path.c_str(), formatFrameRanges(info.frames).c_str(),
                static_cast<unsigned long long>(frameCount(info.frames)), info.width, info.height,
                info.scene.c_str(), info.version.c_str(), joined(info.passes).c_str(),
                joined(info.renderers).c_str(), joined(info.devices).c_str(), noiseText(noise),
                tail.c_str());
  }
  return status;
}

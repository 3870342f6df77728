#include "still_progress.h"

#include <algorithm>
#include <cstdio>

std::string duration(double seconds) {
  char text[32];
  long s = static_cast<long>(seconds + 0.5);
  if (seconds < 1.0)
    std::snprintf(text, sizeof text, "%.2fs", seconds);
  else if (seconds < 10.0)
    std::snprintf(text, sizeof text, "%.1fs", seconds);
  else if (s < 60)
    std::snprintf(text, sizeof text, "%lds", s);
  else if (s < 3600)
    std::snprintf(text, sizeof text, "%ldm %02lds", s / 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ldh %02ldm", s / 3600, s / 60 % 60);
  return text;
}

std::string rate(double perSecond) {
  char text[32];
  if (perSecond >= 1e9)
    std::snprintf(text, sizeof text, "%.2fG", perSecond / 1e9);
  else if (perSecond >= 1e6)
    std::snprintf(text, sizeof text, "%.2fM", perSecond / 1e6);
  else if (perSecond >= 1e3)
    std::snprintf(text, sizeof text, "%.1fk", perSecond / 1e3);
  else
    std::snprintf(text, sizeof text, "%.0f", perSecond);
  return text;
}

// Frames of the run the noise figure asks for: the standard error falls as
// one over the square root of the frames.
static double framesForNoise(const NoiseWatch &watch, double level) {
  double ratio = watch.figure.p95 / level;
  return watch.frames * ratio * ratio;
}

void showProgress(Progress &progress, const StillOptions &options, unsigned held, unsigned rendered,
                  double samples, double elapsed, const NoiseWatch &watch, bool finished) {
  double interval = progress.terminal ? 0.25 : 5.0;
  if (elapsed - progress.lastShown < interval && !finished) return;
  if (!progress.terminal && finished) return; // the final line follows
  progress.lastShown = elapsed;
  double perFrame = elapsed / std::max(rendered, 1u);
  double target = options.frames;
  if (options.untilNoise > 0.0 && watch.figure.known)
    target = std::min(target, std::max(framesForNoise(watch, options.untilNoise), double(held)));
  double left = perFrame * (target - held);
  if (options.seconds > 0.0 && options.seconds - elapsed < left)
    left = options.seconds > elapsed ? options.seconds - elapsed : 0.0;
  double perSecond = samples / elapsed;
  if (progress.terminal)
    std::fprintf(stderr, "\r%u/%u frames, %s samples/s, noise p95 %s, %s left\033[K", held,
                 options.frames, rate(perSecond).c_str(), noiseText(watch.figure),
                 duration(left).c_str());
  else
    std::fprintf(stderr,
                 "progress frames=%u/%u samples_per_s=%.0f left_s=%.0f elapsed_s=%.0f "
                 "noise_p95=%s\n",
                 held, options.frames, perSecond, left, elapsed, noiseText(watch.figure));
  std::fflush(stderr);
}

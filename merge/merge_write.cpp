#include "merge_write.h"

#include "image_write.h"
#include "noise_map.h"
#include "partial_file.h"
#include "whole_file.h"

#include <cmath>

#ifndef EXEGFX_VERSION
#define EXEGFX_VERSION "unknown"
#endif

// The merged file: the picture, or an .exr partial that merges again.
static bool writeMerged(const MergeOptions &o, const Picture &total, const NoiseFigure &noise,
                        std::string &error) {
  if (o.format != ImageFormat::Exr)
    return writeImage(o.output, o.format, total.width, total.height, pictureMean(total).data(),
                      error);
  PartialInfo info;
  info.scene = o.parts.front().info.scene;
  info.version = std::string("exegfx-merge ") + EXEGFX_VERSION;
  unsigned runs = 0;
  for (const Part &p : o.parts) {
    addUnique(info.renderers, p.info.renderers);
    addUnique(info.passes, p.info.passes);
    addUnique(info.devices, p.info.devices);
    if (p.info.isAdaptive && info.adaptive.find(p.info.adaptive) == std::string::npos)
      info.adaptive += (info.adaptive.empty() ? "" : "; ") + p.info.adaptive;
    runs += p.info.isAdaptive ? p.info.runs : 1;
  }
  info.runs = runs;
  if (noise.known) {
    info.noiseMedian = noise.median;
    info.noiseP95 = noise.p95;
  }
  return writePicture(o.output, info, total, error);
}

bool writeAll(const MergeOptions &o, const Picture &total, const NoiseFigure &noise,
              const std::vector<float> &levels, std::string &error) {
  const bool maps = !o.noiseMap.empty() || !o.countMap.empty();
  if (maps) holdWholeFiles();
  bool ok = writeMerged(o, total, noise, error);
  if (ok && !o.noiseMap.empty())
    ok = writeNoiseMap(o.noiseMap, total.width, total.height, levels.data(), error);
  if (ok && !o.countMap.empty()) {
    // Samples per pixel, held-out ones included; grey where nothing is traced.
    std::vector<float> counts(total.pixels());
    for (std::size_t p = 0; p < counts.size(); ++p)
      counts[p] = std::isnan(levels[p])
                      ? NAN
                      : static_cast<float>(total.mean.count[p] +
                                           (total.adaptive() ? total.held.count[p] : 0.0));
    ok = writeCountMap(o.countMap, total.width, total.height, counts.data(), error);
  }
  if (maps && ok) return commitHeldFiles(error);
  if (maps) {
    dropHeldFiles();
    error += " Nothing was written.";
  }
  return ok;
}

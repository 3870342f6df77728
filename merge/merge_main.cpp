// exegfx-merge: adds the running sums of partial renders (exegfx-still's .exr
// files, each a set of frames of the same picture) and writes their mean.
// Every sample depends only on its pixel and its frame number, so sums of
// disjoint frame sets add up exactly to the sum of one run of their union.
#include "merge_add.h"
#include "merge_agreement.h"
#include "merge_check.h"
#include "merge_messages.h"
#include "merge_options.h"
#include "merge_write.h"
#include "part_headers.h"
#include "part_info.h"
#include "process_guard.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

static int merge(MergeOptions &o) {
  std::string error;
  if (o.expectGiven && !parseExpected(o, error)) return fail(error);
  if (!checkOutputs(o, error)) return fail(error);
  if (!checkParts(o.parts, error)) return fail(error + " Nothing was written.");
  // The noise needs every part's sum of squares; older versions wrote none.
  const Part *noSquares = nullptr;
  for (const Part &p : o.parts)
    if (!p.info.hasSquares && !noSquares) noSquares = &p;
  if (noSquares && (!o.noiseMap.empty() || !o.countMap.empty()))
    return fail("the maps need every part's sum of squares, and \"" + noSquares->path +
                "\" has none (an older version wrote it). Nothing was written.");
  FrameRanges all;
  if (!checkFrames(o, all, error)) return fail(error);
  Picture total;
  std::vector<TileStats> tiles(o.parts.size());
  if (!addParts(o.parts, total, tiles, error)) return fail(error);
  if (!agreeOrForced(o.parts, tiles, total.width, total.height, o.force)) return 1;
  const std::vector<float> levels = pictureLevels(total);
  std::vector<float> ranked = levels; // noiseFigure reorders what it ranks
  NoiseFigure noise = levels.empty() ? NoiseFigure{} : noiseFigure(ranked);
  if (noSquares)
    std::fprintf(stderr,
                 "exegfx-merge: note: \"%s\" has no sum of squares (an older version wrote "
                 "it): the noise is unknown, and the parts are not checked against each "
                 "other.\n",
                 noSquares->path.c_str());
  if (!writeAll(o, total, noise, levels, error)) return fail(error);
  std::string median = noise.known ? std::string(", median ") + noiseText(noise, false) : "";
  std::fprintf(stderr,
               "Merged %zu part%s: frames %s (%llu frames) at %u x %u to %s, noise_p95=%s "
               "levels%s\n",
               o.parts.size(), o.parts.size() == 1 ? "" : "s", shortRanges(all).c_str(),
               static_cast<unsigned long long>(frameCount(all)), total.width, total.height,
               o.output.c_str(), noiseText(noise), median.c_str());
  if (!o.noiseMap.empty()) std::fprintf(stderr, "Wrote the noise map %s\n", o.noiseMap.c_str());
  if (!o.countMap.empty()) std::fprintf(stderr, "Wrote the count map %s\n", o.countMap.c_str());
  return 0;
}

int main(int argc, char **argv) {
  if (!guardProcess()) return 1;
  MergeOptions o;
  if (int status = parseMergeOptions(argc, argv, o); status >= 0) return status;
  if (o.info || o.header) {
    if (o.info && o.header) return fail("--info and --header are two kinds of listing; give one.");
    if (!o.output.empty() || o.expectGiven || !o.noiseMap.empty() || !o.countMap.empty() || o.force)
      return fail(std::string(o.info ? "--info" : "--header") +
                  " writes nothing; it takes no -o, --expect-frames, --noise-map, --count-map or "
                  "--force.");
    if (o.parts.empty())
      return fail(std::string(o.info ? "--info" : "--header") + " needs the parts to describe.");
    if (o.header) {
      std::vector<std::string> paths;
      for (const Part &p : o.parts)
        paths.push_back(p.path);
      return printPartHeaders(paths);
    }
    return printInfo(o.parts);
  }
  if (o.output.empty()) return fail("no output: give -o OUT. See exegfx-merge --help.");
  if (o.parts.empty()) return fail("no parts to merge. See exegfx-merge --help.");
  try {
    return merge(o);
  } catch (const std::bad_alloc &) {
    return fail("out of memory for the merged picture; nothing was written.");
  }
}

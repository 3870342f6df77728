// exegfx-merge: adds the running sums of partial renders (exegfx-still's .exr
// files, each a set of frames of the same picture) and writes their mean.
// Every sample depends only on its pixel and its frame number, so sums of
// disjoint frame sets add up exactly to the sum of one run of their union.
#include "frame_ranges.h"
#include "image_write.h"
#include "noise.h"
#include "noise_map.h"
#include "output_lock.h"
#include "part_check.h"
#include "partial_file.h"
#include "process_guard.h"
#include "still_options.h"
#include "whole_file.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#ifndef EXEGFX_VERSION
#define EXEGFX_VERSION "unknown"
#endif

static const char usage[] =
    "Usage: exegfx-merge [--expect-frames FIRST-LAST] [--noise-map MAP.png] [--force]\n"
    "                    -o OUT PART.exr...\n"
    "       exegfx-merge --info PART.exr...\n"
    "Adds the running sums of partial renders (exegfx-still's .exr files) and\n"
    "writes the mean of all their frames.\n"
    "\n"
    "  -o, --output OUT  .png (8-bit), .pfm (32-bit float mean) or .exr (mean and\n"
    "                    sum, which can be merged again); OUT may be one of the parts\n"
    "  --expect-frames FIRST-LAST\n"
    "                    refuse unless the parts hold exactly these frames\n"
    "  --noise-map MAP.png\n"
    "                    also write a picture of each pixel's error (one standard\n"
    "                    error in 8-bit levels) on a fixed colour scale\n"
    "  --force           merge parts that disagree with the others (figures printed)\n"
    "  --info            print what each part holds, one line each, and merge\n"
    "                    nothing: PART: frames=1-64 count=64 size=WxH ... noise_p95=N\n"
    "                    noise_median=N noise_p99=N noise_max=N samples=MIN/MEDIAN/MAX\n"
    "                    (samples per pixel, held-out ones included) [adaptive=\"RULE\"]\n"
    "  --help, --version\n"
    "\n"
    "Parts must share size and scene and hold no frame twice. Frames that no\n"
    "part holds are reported as a note: the mean of any set of frames is valid.\n"
    "Each part with 16 or more frames is tested against the others, tile by tile,\n"
    "with the variance of its samples: a part that shows another picture (a\n"
    "broken driver, a changed scene) is refused unless --force is given.\n"
    "Exit status: 0 written, 1 refused or failed (nothing written).\n";

static int fail(const std::string &message) {
  std::fprintf(stderr, "exegfx-merge: %s\n", message.c_str());
  return 1;
}

struct Part {
  std::string path;
  PartialInfo info;
};

// A part's frames for a message: the first few ranges of a long list.
static std::string shortRanges(const FrameRanges &frames) {
  const std::size_t shown = 4;
  if (frames.size() <= shown) return formatFrameRanges(frames);
  return formatFrameRanges(FrameRanges(frames.begin(), frames.begin() + shown)) + ",... (" +
         std::to_string(frames.size()) + " ranges)";
}

// The parts' headers, checked against each other before any pixel is read.
static bool checkParts(std::vector<Part> &parts, std::string &error) {
  for (Part &p : parts)
    if (!readPartialInfo(p.path, p.info, error)) return false;
  const Part &first = parts.front();
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const Part &p = parts[k];
    if (p.info.width != first.info.width || p.info.height != first.info.height) {
      error = "\"" + p.path + "\" is " + std::to_string(p.info.width) + "x" +
              std::to_string(p.info.height) + " but \"" + first.path + "\" is " +
              std::to_string(first.info.width) + "x" + std::to_string(first.info.height) +
              "; only parts of one picture add up.";
      return false;
    }
    if (p.info.scene != first.info.scene) {
      error = "\"" + p.path + "\" and \"" + first.path +
              "\" were rendered from different scenes (" + p.info.scene + " and " +
              first.info.scene + ").";
      return false;
    }
  }
  std::vector<const FrameRanges *> sets;
  for (const Part &p : parts)
    sets.push_back(&p.info.frames);
  SharedFrame shared{};
  if (firstSharedFrame(sets, shared)) {
    const Part &a = parts[shared.a], &b = parts[shared.b];
    error = "\"" + a.path + "\" and \"" + b.path + "\" both hold frame " +
            std::to_string(shared.frame) + " (" + shortRanges(a.info.frames) + " and " +
            shortRanges(b.info.frames) + "); a frame counted twice biases the mean.";
    return false;
  }
  return true;
}

// Why a part is refused, with its figures.
static std::string refusal(const Part &part, const PartAgreement &a) {
  const std::string name = "\"" + part.path + "\"", figures = agreementText(a);
  if (a.noVariance)
    return name + " shows no variance in the tiles where the other parts vary: " + figures +
           ". Its sum of squares was left at zero (a broken squares pass or driver).";
  if (a.varianceOutOfLine)
    return name + "'s variance is out of line with the other parts': " + figures +
           ". Its sum of squares is wrong (a broken squares pass or driver).";
  return name + " disagrees with the other parts beyond their noise: " + figures +
         ". It shows another picture (a broken driver, or a changed scene under the same "
         "identity).";
}

// Each part against the others: false, with the figures on standard error,
// when one disagrees and --force was not given.
static bool agreeOrForced(const std::vector<Part> &parts, const std::vector<TileStats> &tiles,
                          unsigned width, unsigned height, bool force) {
  std::vector<PartAgreement> agreement = checkAgreement(tiles, width, height);
  const char *forced = force ? "--force: merging although " : "";
  std::size_t tested = 0, checked = 0, refused = 0, flat = 0;
  std::vector<std::size_t> off; // refused for their tiles or variance, not for being flat
  double worstMean = 0.0;
  for (std::size_t k = 0; k < parts.size(); ++k) {
    const PartAgreement &a = agreement[k];
    tested += !tiles[k].mean.empty();
    flat += a.noVariance;
    if (!a.checked) continue;
    ++checked;
    worstMean = std::max(worstMean, a.meanAbsZ);
    if (a.consistent) continue;
    ++refused;
    if (a.noVariance)
      std::fprintf(stderr, "exegfx-merge: %s%s\n", forced, refusal(parts[k], a).c_str());
    else
      off.push_back(k);
  }
  // Two parts that disagree: nothing tells which one is wrong.
  if (off.size() == 2 && tested - flat == 2) {
    const Part &a = parts[off[0]], &b = parts[off[1]];
    std::fprintf(stderr,
                 "exegfx-merge: %s\"%s\" and \"%s\" disagree with each other beyond their "
                 "noise (%s: %s; %s: %s). With only two parts to compare, which one is wrong "
                 "cannot be told: render a third part of the picture to merge with them, or one "
                 "of them again.\n",
                 forced, a.path.c_str(), b.path.c_str(), a.path.c_str(),
                 agreementText(agreement[off[0]]).c_str(), b.path.c_str(),
                 agreementText(agreement[off[1]]).c_str());
    off.clear();
  }
  for (std::size_t k : off)
    std::fprintf(stderr, "exegfx-merge: %s%s\n", forced, refusal(parts[k], agreement[k]).c_str());
  for (std::size_t k = 0; k < parts.size() && parts.size() > 1; ++k) {
    if (agreement[k].checked || !parts[k].info.hasSquares) continue;
    const std::string frames = std::to_string(frameCount(parts[k].info.frames));
    const std::string why = tiles[k].mean.empty()
                                ? "holds " + frames + " frames, too few for a variance (" +
                                      std::to_string(minCheckFrames) + " or more)"
                                : "(" + frames +
                                      " frames) has no other part that varies in its "
                                      "tiles to compare with";
    std::fprintf(stderr, "exegfx-merge: note: \"%s\" %s: not checked against the other parts.\n",
                 parts[k].path.c_str(), why.c_str());
  }
  if (refused > 0 && !force) {
    std::fprintf(stderr,
                 "exegfx-merge: refused %zu of %zu parts; nothing was written (--force merges "
                 "them anyway).\n",
                 refused, tested);
    return false;
  }
  if (refused == 0 && checked > 0)
    std::fprintf(stderr, "exegfx-merge: the %zu parts checked agree (mean |z| at most %.2f).\n",
                 checked, worstMean);
  return true;
}

static std::string joined(const std::vector<std::string> &values) {
  std::string text;
  for (const std::string &v : values)
    text += (text.empty() ? "" : "; ") + v;
  return "\"" + text + "\"";
}

// One line per part, in a fixed form for scripts (the Slurm tasks read count=
// to tell whether a run gained frames). Each part is read whole, so that what
// is printed is what a merge would take: a damaged part is refused here too,
// and the noise figure is the one its sums give.
static int printInfo(const std::vector<Part> &parts) {
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

int main(int argc, char **argv) {
  if (!guardProcess()) return 1;
  std::string output, expect, noiseMap;
  std::vector<Part> parts;
  bool info = false, expectGiven = false, force = false;
  for (int k = 1; k < argc; ++k) {
    std::string_view arg = argv[k];
    if (arg == "--help" || arg == "-h") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("exegfx-merge %s\n", EXEGFX_VERSION);
      return 0;
    }
  }
  for (int k = 1; k < argc; ++k) {
    std::string_view arg = argv[k];
    std::string *value = arg == "-o" || arg == "--output" ? &output
                         : arg == "--expect-frames"       ? &expect
                         : arg == "--noise-map"           ? &noiseMap
                                                          : nullptr;
    if (value) {
      if (k + 1 >= argc) return fail(std::string(arg) + " needs a value. See exegfx-merge --help.");
      *value = argv[++k];
      expectGiven = expectGiven || value == &expect;
    } else if (arg == "--info") {
      info = true;
    } else if (arg == "--force") {
      force = true;
    } else if (arg.starts_with("--noise-map=")) {
      noiseMap = arg.substr(12);
    } else if (arg.starts_with("--output=")) {
      output = arg.substr(9);
    } else if (arg.starts_with("--expect-frames=")) {
      expect = arg.substr(16);
      expectGiven = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return fail("Unknown option \"" + std::string(arg) + "\". See exegfx-merge --help.");
    } else {
      parts.push_back({std::string(arg), {}});
    }
  }
  if (info) {
    if (!output.empty() || expectGiven || !noiseMap.empty() || force)
      return fail("--info writes nothing; it takes no -o, --expect-frames, --noise-map or "
                  "--force.");
    if (parts.empty()) return fail("--info needs the parts to describe.");
    return printInfo(parts);
  }
  if (output.empty()) return fail("no output: give -o OUT. See exegfx-merge --help.");
  if (parts.empty()) return fail("no parts to merge. See exegfx-merge --help.");
  FrameRanges expected;
  if (expectGiven) {
    // FIRST-LAST, also for a single frame ("5-5"); an empty value (an unset
    // variable in a script) would otherwise skip the check unnoticed.
    std::size_t dash = expect.find('-');
    std::string first = expect.substr(0, dash),
                last = dash == std::string::npos ? "" : expect.substr(dash + 1);
    FrameRanges a, b;
    if (!parseFrameRanges(first, a) || !parseFrameRanges(last, b) || a.size() != 1 ||
        b.size() != 1 || a[0].last != a[0].first || b[0].last != b[0].first ||
        b[0].first < a[0].first)
      return fail("--expect-frames wants FIRST-LAST, like 1-2048; got \"" + expect + "\".");
    if (b[0].first > maxStillFrames)
      return fail("--expect-frames " + expect + " goes past frame " +
                  std::to_string(maxStillFrames) + ", the last frame exegfx-still renders.");
    expected = {{a[0].first, b[0].first}};
  }
  ImageFormat format;
  std::string error;
  if (!imageFormatFor(output, format, error) || !checkOutputPath(output, error)) return fail(error);
  std::string note;
  if (!lockOutput(output, note, error)) return fail(error + " Nothing was written.");
  if (!note.empty()) std::fprintf(stderr, "exegfx-merge: note: %s\n", note.c_str());
  if (!noiseMap.empty()) {
    ImageFormat mapFormat;
    if (!imageFormatFor(noiseMap, mapFormat, error) || !checkOutputPath(noiseMap, error))
      return fail(error);
    if (mapFormat != ImageFormat::Png)
      return fail("--noise-map writes a .png picture; \"" + noiseMap + "\" is not one.");
    if (sameOutputFile(noiseMap, output))
      return fail("--noise-map and -o name the same file, \"" + output + "\".");
    for (const Part &p : parts)
      if (sameOutputFile(noiseMap, p.path))
        return fail("--noise-map names the part \"" + p.path +
                    "\": the map would replace its frames. Nothing was written.");
    if (!lockOutput(noiseMap, note, error)) return fail(error + " Nothing was written.");
  }
  if (!checkParts(parts, error)) return fail(error + " Nothing was written.");
  // The noise needs every part's sum of squares; older versions wrote none.
  const Part *noSquares = nullptr;
  for (const Part &p : parts)
    if (!p.info.hasSquares && !noSquares) noSquares = &p;
  if (noSquares && !noiseMap.empty())
    return fail("--noise-map needs every part's sum of squares, and \"" + noSquares->path +
                "\" has none (an older version wrote it). Nothing was written.");

  FrameRanges all;
  std::vector<std::string> renderers, passes, devices;
  for (const Part &p : parts) {
    all.insert(all.end(), p.info.frames.begin(), p.info.frames.end());
    addUnique(renderers, p.info.renderers);
    addUnique(passes, p.info.passes);
    addUnique(devices, p.info.devices);
  }
  all = normalizeFrameRanges(all);
  if (!expected.empty()) {
    FrameRanges missing = missingFrames(all, expected[0].first, expected[0].last);
    FrameRanges extra;
    for (const FrameRange &r : all)
      for (const FrameRange &x : missingFrames(expected, r.first, r.last))
        extra.push_back(x);
    if (!missing.empty() || !extra.empty())
      return fail("the parts hold frames " + shortRanges(all) + ", not " + expect +
                  (missing.empty() ? "" : ": missing " + shortRanges(missing)) +
                  (extra.empty() ? "" : ": not asked for " + shortRanges(extra)) +
                  ". Nothing was written.");
  }
  FrameRanges gaps = missingFrames(all, all.front().first, all.back().last);
  if (!gaps.empty())
    std::fprintf(stderr,
                 "exegfx-merge: note: no part holds frames %s; the mean is of the %llu "
                 "frames given.\n",
                 shortRanges(gaps).c_str(), static_cast<unsigned long long>(frameCount(all)));
  if (renderers.size() > 1) {
    std::string list;
    for (const std::string &r : renderers)
      list += (list.empty() ? "" : "; ") + r;
    std::fprintf(stderr,
                 "exegfx-merge: note: the parts come from different GL renderers (%s); "
                 "their samples may differ in the last bits.\n",
                 list.c_str());
  }

  // Sums and sums of squares add in double precision, part by part; only one
  // part is in memory, with each part's tile statistics for the check.
  const unsigned w = parts.front().info.width, h = parts.front().info.height;
  const std::size_t pixels = std::size_t{w} * h;
  std::vector<double> total, totalSquares;
  std::vector<TileStats> tiles(parts.size());
  try {
    total.assign(pixels * 3, 0.0);
    if (!noSquares) totalSquares.assign(pixels * 3, 0.0);
    std::vector<float> sum, squares;
    auto read = [&](const Part &p) {
      PartialInfo again;
      if (!readPartial(p.path, again, sum, error, &squares)) {
        error += " Nothing was written.";
        return false;
      }
      if (formatFrameRanges(again.frames) != formatFrameRanges(p.info.frames) ||
          again.scene != p.info.scene || again.width != w || again.height != h ||
          again.hasSquares != p.info.hasSquares) {
        error = "\"" + p.path + "\" changed while it was being merged. Nothing was written.";
        return false;
      }
      return true;
    };
    // Each part's tile figures, for the check against the others.
    const bool check = !noSquares && parts.size() > 1;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      const Part &p = parts[i];
      if (!read(p)) return fail(error);
      for (std::size_t k = 0; k < total.size(); ++k)
        total[k] += sum[k];
      if (noSquares) continue;
      for (std::size_t k = 0; k < totalSquares.size(); ++k)
        totalSquares[k] += squares[k];
      if (check)
        tiles[i] = tileStats(sum.data(), squares.data(), w, h,
                             static_cast<double>(frameCount(p.info.frames)));
    }
  } catch (const std::bad_alloc &) {
    return fail("out of memory for a " + std::to_string(w) + " x " + std::to_string(h) +
                " picture; nothing was written.");
  }
  if (!agreeOrForced(parts, tiles, w, h, force)) return 1;
  const double n = static_cast<double>(frameCount(all));
  std::vector<float> mean(total.size()), sum(total.size()), squares(totalSquares.size());
  for (std::size_t k = 0; k < total.size(); ++k) {
    mean[k] = static_cast<float>(total[k] / n);
    sum[k] = static_cast<float>(total[k]);
  }
  for (std::size_t k = 0; k < totalSquares.size(); ++k)
    squares[k] = static_cast<float>(totalSquares[k]);
  NoiseFigure noise;
  std::vector<float> levels;
  if (!noSquares) {
    pixelErrors(total.data(), totalSquares.data(), pixels, n, levels);
    std::vector<float> ranked = levels;
    noise = noiseFigure(ranked);
  } else {
    std::fprintf(stderr,
                 "exegfx-merge: note: \"%s\" has no sum of squares (an older version wrote "
                 "it): the noise is unknown, and the parts are not checked against each "
                 "other.\n",
                 noSquares->path.c_str());
  }
  // The picture and its map are written both or neither: a map that fails
  // must not leave a picture that a rerun of the same command would refuse.
  if (!noiseMap.empty()) holdWholeFiles();
  bool ok;
  if (format == ImageFormat::Exr) {
    PartialInfo info;
    info.width = w;
    info.height = h;
    info.frames = all;
    info.scene = parts.front().info.scene;
    info.version = std::string("exegfx-merge ") + EXEGFX_VERSION;
    info.renderers = renderers;
    info.passes = passes;
    info.devices = devices;
    if (noise.known) {
      info.noiseMedian = noise.median;
      info.noiseP95 = noise.p95;
    }
    ok = writePartial(output, info, sum.data(), mean.data(), error,
                      noSquares ? nullptr : squares.data());
  } else {
    ok = writeImage(output, format, w, h, mean.data(), error);
  }
  if (ok && !noiseMap.empty()) {
    ok = writeNoiseMap(noiseMap, w, h, levels.data(), error);
    if (ok) ok = commitHeldFiles(error);
    dropHeldFiles();
  }
  if (!ok) return fail(error + (noiseMap.empty() ? "" : " Neither file was written."));
  std::string median = noise.known ? std::string(", median ") + noiseText(noise, false) : "";
  std::fprintf(stderr,
               "Merged %zu part%s: frames %s (%llu frames) at %u x %u to %s, noise_p95=%s "
               "levels%s\n",
               parts.size(), parts.size() == 1 ? "" : "s", shortRanges(all).c_str(),
               static_cast<unsigned long long>(frameCount(all)), w, h, output.c_str(),
               noiseText(noise), median.c_str());
  if (!noiseMap.empty()) std::fprintf(stderr, "Wrote the noise map %s\n", noiseMap.c_str());
  return 0;
}

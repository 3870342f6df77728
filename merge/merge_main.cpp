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
#include "part_headers.h"
#include "partial_file.h"
#include "picture.h"
#include "process_guard.h"
#include "scene_identity.h"
#include "scene_samples.h"
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
    "Usage: exegfx-merge [--expect-frames FIRST-LAST] [--noise-map MAP.png]\n"
    "                    [--count-map MAP.png] [--force] -o OUT PART.exr...\n"
    "       exegfx-merge --info PART.exr...\n"
    "       exegfx-merge --header PART.exr...\n"
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
    "  --count-map MAP.png\n"
    "                    also write a picture of where the samples went (each\n"
    "                    pixel's count, adaptive renders' held-out samples\n"
    "                    included) on a fixed colour scale\n"
    "  --force           merge parts that disagree with the others (figures printed)\n"
    "  --info            print what each part holds, one line each, and merge\n"
    "                    nothing: PART: frames=1-64 count=64 size=WxH ... noise_p95=N\n"
    "                    noise_median=N noise_p99=N noise_max=N samples=MIN/MEDIAN/MAX\n"
    "                    (samples per pixel, held-out ones included) [adaptive=\"RULE\"]\n"
    "  --header          print what each part's header says, reading no pixels (as\n"
    "                    its writer left it, unchecked): PART: frames=1-64 count=64\n"
    "                    size=WxH scene=... noise_p95=N noise_median=N [adaptive=\"RULE\"]\n"
    "  --help, --version\n"
    "\n"
    "Parts must share size and scene and hold no frame twice. Frames that no\n"
    "part holds are reported as a note: the mean of any set of frames is valid.\n"
    "Each part with 16 or more frames is tested against the others, tile by tile,\n"
    "with the variance of their samples, and its own variance against theirs: a\n"
    "part that shows another picture (a broken driver, a changed scene) or whose\n"
    "sum of squares is wrong is refused, alone, unless --force is given. Adaptive\n"
    "parts add pixel by pixel, each pixel with its own count.\n"
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
    if (!readPartialInfo(p.path, p.info, error) ||
        !adoptEarlierScene(p.info, sceneIdentity, p.path, error))
      return false;
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
    const TileStats &t = tiles[k];
    if (t.fewPixels > 0 && !t.mean.empty())
      std::fprintf(stderr,
                   "exegfx-merge: note: \"%s\" has %zu pixel%s with fewer than %u samples, too "
                   "few for a variance: %zu of its %zu tiles are left out of the check.\n",
                   parts[k].path.c_str(), t.fewPixels, t.fewPixels == 1 ? "" : "s", minCheckFrames,
                   t.tilesLeftOut, t.tiles);
    if (agreement[k].checked || !parts[k].info.hasSquares) continue;
    const std::string frames = std::to_string(frameCount(parts[k].info.frames));
    const std::string why =
        !t.mean.empty()
            ? "(" + frames + " frames) has no other part that varies in its tiles to compare with"
        : t.fewPixels < parts[k].info.width * std::size_t{parts[k].info.height}
            ? "has a pixel of fewer than " + std::to_string(minCheckFrames) +
                  " samples in every tile, too few for a variance"
            : "holds " + frames + " frames, too few for a variance (" +
                  std::to_string(minCheckFrames) + " or more)";
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

// What the command line asks for.
struct MergeOptions {
  std::string output, expect, noiseMap, countMap;
  std::vector<Part> parts;
  bool info = false, header = false, expectGiven = false, force = false;
  FrameRanges expected; // from --expect-frames
  ImageFormat format = ImageFormat::Png;
};

// -1 to go on, else the exit status (--help, --version, or a bad option).
static int parseMergeOptions(int argc, char **argv, MergeOptions &o) {
  for (int k = 1; k < argc; ++k) {
    std::string_view arg = argv[k];
    if (arg == "--help" || arg == "-h") return std::fputs(usage, stdout), 0;
    if (arg == "--version") return std::printf("exegfx-merge %s\n", EXEGFX_VERSION), 0;
  }
  const std::pair<std::string_view, std::string *> valued[] = {{"-o", &o.output},
                                                               {"--output", &o.output},
                                                               {"--expect-frames", &o.expect},
                                                               {"--noise-map", &o.noiseMap},
                                                               {"--count-map", &o.countMap}};
  for (int k = 1; k < argc; ++k) {
    std::string_view arg = argv[k];
    std::string *value = nullptr;
    for (auto [name, into] : valued) {
      if (arg == name) {
        if (k + 1 >= argc)
          return fail(std::string(arg) + " needs a value. See exegfx-merge --help.");
        value = into;
        *into = argv[++k];
      } else if (name.starts_with("--") && arg.starts_with(std::string(name) + "=")) {
        value = into;
        *into = arg.substr(name.size() + 1);
      }
    }
    if (value) {
      o.expectGiven = o.expectGiven || value == &o.expect;
    } else if (arg == "--info" || arg == "--force" || arg == "--header") {
      (arg == "--info" ? o.info : arg == "--force" ? o.force : o.header) = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return fail("Unknown option \"" + std::string(arg) + "\". See exegfx-merge --help.");
    } else {
      o.parts.push_back({std::string(arg), {}});
    }
  }
  return -1;
}

// FIRST-LAST, also for a single frame ("5-5"); an empty value (an unset
// variable in a script) would otherwise skip the check unnoticed.
static bool parseExpected(MergeOptions &o, std::string &error) {
  std::size_t dash = o.expect.find('-');
  std::string first = o.expect.substr(0, dash),
              last = dash == std::string::npos ? "" : o.expect.substr(dash + 1);
  FrameRanges a, b;
  if (!parseFrameRanges(first, a) || !parseFrameRanges(last, b) || a.size() != 1 || b.size() != 1 ||
      a[0].last != a[0].first || b[0].last != b[0].first || b[0].first < a[0].first) {
    error = "--expect-frames wants FIRST-LAST, like 1-2048; got \"" + o.expect + "\".";
    return false;
  }
  if (b[0].first > maxStillFrames) {
    error = "--expect-frames " + o.expect + " goes past frame " + std::to_string(maxStillFrames) +
            ", the last frame exegfx-still renders.";
    return false;
  }
  o.expected = {{a[0].first, b[0].first}};
  return true;
}

// A map beside the output: a .png that can be written, that is neither the
// output nor a part, locked like the output.
static bool checkMap(const MergeOptions &o, const std::string &map, const char *option,
                     std::string &error) {
  ImageFormat format;
  std::string note;
  if (!imageFormatFor(map, format, error) || !checkOutputPath(map, error)) return false;
  if (format != ImageFormat::Png)
    error = std::string(option) + " writes a .png picture; \"" + map + "\" is not one.";
  else if (sameOutputFile(map, o.output))
    error = std::string(option) + " and -o name the same file, \"" + o.output + "\".";
  for (const Part &p : o.parts)
    if (error.empty() && sameOutputFile(map, p.path))
      error = std::string(option) + " names the part \"" + p.path +
              "\": the map would replace its frames. Nothing was written.";
  if (!error.empty()) return false;
  if (!lockOutput(map, note, error)) return error += " Nothing was written.", false;
  return true;
}

// The outputs: formats, paths, maps, one writer each. False with a message.
static bool checkOutputs(MergeOptions &o, std::string &error) {
  std::string note;
  if (!imageFormatFor(o.output, o.format, error) || !checkOutputPath(o.output, error)) return false;
  if (!lockOutput(o.output, note, error)) return error += " Nothing was written.", false;
  if (!note.empty()) std::fprintf(stderr, "exegfx-merge: note: %s\n", note.c_str());
  if (!o.noiseMap.empty() && !checkMap(o, o.noiseMap, "--noise-map", error)) return false;
  if (!o.countMap.empty() && !checkMap(o, o.countMap, "--count-map", error)) return false;
  if (!o.noiseMap.empty() && !o.countMap.empty() && sameOutputFile(o.noiseMap, o.countMap)) {
    error = "--noise-map and --count-map name the same file, \"" + o.noiseMap + "\".";
    return false;
  }
  return true;
}

// The frames of all parts, against --expect-frames; notes gaps and mixed
// renderers. False with a message.
static bool checkFrames(const MergeOptions &o, FrameRanges &all, std::string &error) {
  std::vector<std::string> renderers;
  for (const Part &p : o.parts) {
    all.insert(all.end(), p.info.frames.begin(), p.info.frames.end());
    addUnique(renderers, p.info.renderers);
  }
  all = normalizeFrameRanges(all);
  if (!o.expected.empty()) {
    FrameRanges missing = missingFrames(all, o.expected[0].first, o.expected[0].last);
    FrameRanges extra;
    for (const FrameRange &r : all)
      for (const FrameRange &x : missingFrames(o.expected, r.first, r.last))
        extra.push_back(x);
    if (!missing.empty() || !extra.empty()) {
      error = "the parts hold frames " + shortRanges(all) + ", not " + o.expect +
              (missing.empty() ? "" : ": missing " + shortRanges(missing)) +
              (extra.empty() ? "" : ": not asked for " + shortRanges(extra)) +
              ". Nothing was written.";
      return false;
    }
  }
  FrameRanges gaps = missingFrames(all, all.front().first, all.back().last);
  if (!gaps.empty())
    std::fprintf(stderr,
                 "exegfx-merge: note: no part holds frames %s; the mean is of the %llu "
                 "frames given.\n",
                 shortRanges(gaps).c_str(), static_cast<unsigned long long>(frameCount(all)));
  if (renderers.size() > 1)
    std::fprintf(stderr,
                 "exegfx-merge: note: the parts come from different GL renderers (%s); "
                 "their samples may differ in the last bits.\n",
                 joined(renderers).substr(1, joined(renderers).size() - 2).c_str());
  return true;
}

// Adds every part into total, pixel by pixel in double precision, with each
// part's tile figures for the check; only one part is in memory besides.
static bool addParts(const std::vector<Part> &parts, Picture &total, std::vector<TileStats> &tiles,
                     std::string &error) {
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const Part &p = parts[i];
    PartialInfo again;
    Picture part;
    if (!readPicture(p.path, again, part, error) ||
        !adoptEarlierScene(again, sceneIdentity, p.path, error))
      return error += " Nothing was written.", false;
    if (formatFrameRanges(again.frames) != formatFrameRanges(p.info.frames) ||
        again.scene != p.info.scene || again.width != parts[0].info.width ||
        again.height != parts[0].info.height || again.hasSquares != p.info.hasSquares ||
        again.isAdaptive != p.info.isAdaptive) {
      error = "\"" + p.path + "\" changed while it was being merged. Nothing was written.";
      return false;
    }
    if (parts.size() > 1) tiles[i] = tileStats(part);
    addPicture(total, part);
  }
  return true;
}

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

// The picture and its maps, all or none: a map that fails must not leave a
// picture that a rerun of the same command would refuse.
static bool writeAll(const MergeOptions &o, const Picture &total, const NoiseFigure &noise,
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

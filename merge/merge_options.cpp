#include "merge_options.h"

#include "frame_limits.h"
#include "merge_messages.h"

#include <cstdio>
#include <string_view>
#include <utility>

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

int parseMergeOptions(int argc, char **argv, MergeOptions &o) {
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
bool parseExpected(MergeOptions &o, std::string &error) {
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

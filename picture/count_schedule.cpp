#include "count_schedule.h"

#include "partial_file.h"
#include "frame_limits.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

bool parseRules(const std::string &text, std::vector<AdaptiveRule> &rules, std::string &error) {
  rules.clear();
  for (std::size_t at = 0;;) {
    const std::size_t end = text.find("; ", at);
    AdaptiveRule rule;
    const std::string one = text.substr(at, end == std::string::npos ? end : end - at);
    // No pixel stops before its first held-out sample.
    if (!parseRuleText(one, rule) || rule.minFrames < rule.every ||
        rule.minFrames > maxStillFrames) {
      error = "has the stopping rule \"" + text +
              "\", which is not one exegfx writes (level=L min=N every=N pool=N margin=M "
              "floor=F, each in range): it is damaged or was changed.";
      return false;
    }
    rules.push_back(rule);
    if (end == std::string::npos) return true;
    at = end + 2;
  }
}

namespace {

// What the rules allow a pixel: exactly one render's schedule, or a merge's bounds.
struct Schedule {
  bool oneRun = true;
  std::uint64_t frames = 0, least = 0; // frames run; the fewest samples any pixel holds
  unsigned every = 8, minFrames = 0;   // one render's; a merge's smallest
};

bool allowed(const Schedule &s, double mean, double held) {
  const double t = mean + held;
  if (s.oneRun) {
    if (!(t <= static_cast<double>(s.frames))) return false; // and a count no integer holds
    const std::uint64_t n = static_cast<std::uint64_t>(t);
    const bool stop = n == s.frames || (n >= s.minFrames && n % s.every == 0 && n < s.frames);
    return stop && held == static_cast<double>(n / s.every);
  }
  return t >= static_cast<double>(s.least) && t <= static_cast<double>(s.frames) &&
         held <= std::floor(t / s.every);
}

} // namespace

bool checkSchedule(const std::vector<float> &adaptive, unsigned width, unsigned height,
                   const FrameRanges &frames, const std::string &ruleText, unsigned runs,
                   std::string &error) {
  std::vector<AdaptiveRule> rules;
  if (!parseRules(ruleText, rules, error)) return false;
  Schedule s;
  s.frames = frameCount(frames);
  s.oneRun = runs == 1;
  if (s.oneRun && (rules.size() != 1 || frames.size() != 1)) {
    error = "it says it holds one render, yet it has the frames " + formatFrameRanges(frames) +
            " and the stopping rules \"" + ruleText + "\".";
    return false;
  }
  s.every = rules[0].every;
  s.minFrames = rules[0].minFrames;
  for (const AdaptiveRule &r : rules) {
    s.every = std::min(s.every, r.every);
    s.minFrames = std::min(s.minFrames, r.minFrames);
  }
  s.least = std::min<std::uint64_t>(s.frames, s.minFrames);
  // From the top row down, so that the pixel named is the first a viewer finds.
  for (std::size_t q = 0; q < std::size_t{width} * height; ++q) {
    const std::size_t p = (height - 1 - q / width) * std::size_t{width} + q % width;
    const float *v = &adaptive[p * adaptiveChannels];
    bool ok = v[0] >= 0.0f && v[0] == std::floor(v[0]) && v[7] >= 0.0f && v[7] == std::floor(v[7]);
    for (int k = 1; k < 7; ++k)
      ok = ok && std::isfinite(v[k]) && v[k] >= 0.0f;
    if (ok && allowed(s, v[0], v[7])) continue;
    const std::size_t x = q % width, y = q / width;
    char counts[96];
    std::snprintf(counts, sizeof counts, "%g samples in its mean and %g held out", v[0], v[7]);
    error = "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") holds " +
            (ok ? std::string(counts)
                : "counts or held-out sums that are negative or not whole "
                  "or finite numbers") +
            ", which the stopping rule \"" + ruleText + "\" never leaves after frames " +
            formatFrameRanges(frames) +
            (s.oneRun ? " (a pixel stops at a decision frame, every " + std::to_string(s.every) +
                            "th from frame " + std::to_string(s.minFrames) +
                            ", or runs them all, with one sample in " + std::to_string(s.every) +
                            " held out)."
                      : " (every pixel holds at least " + std::to_string(s.least) +
                            " samples, at most one in " + std::to_string(s.every) + " held out).");
    return false;
  }
  return true;
}

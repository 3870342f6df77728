#include "frame_ranges.h"

#include <algorithm>

std::string formatFrameRanges(const FrameRanges &ranges) {
  std::string text;
  for (const FrameRange &r : ranges) {
    if (!text.empty()) text += ',';
    text += std::to_string(r.first);
    if (r.last != r.first) text += '-' + std::to_string(r.last);
  }
  return text;
}

// A frame number of at most ten digits, no sign, no leading zero.
static bool parseFrame(const std::string &text, std::size_t &at, std::uint32_t &frame) {
  std::size_t start = at;
  std::uint64_t value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9' && at - start < 10)
    value = value * 10 + static_cast<unsigned>(text[at++] - '0');
  if (at == start || text[start] == '0' || value > UINT32_MAX) return false;
  frame = static_cast<std::uint32_t>(value);
  return true;
}

bool parseFrameRanges(const std::string &text, FrameRanges &ranges) {
  ranges.clear();
  std::size_t at = 0;
  while (at < text.size()) {
    if (!ranges.empty() && text[at++] != ',') return false;
    FrameRange r{};
    if (!parseFrame(text, at, r.first)) return false;
    r.last = r.first;
    if (at < text.size() && text[at] == '-' && !parseFrame(text, ++at, r.last)) return false;
    // Strictly increasing and apart: one way to write each set.
    if (r.last < r.first || (!ranges.empty() && r.first <= ranges.back().last + 1ull)) return false;
    ranges.push_back(r);
  }
  return !ranges.empty();
}

std::uint64_t frameCount(const FrameRanges &ranges) {
  std::uint64_t n = 0;
  for (const FrameRange &r : ranges)
    n += std::uint64_t{r.last} - r.first + 1;
  return n;
}

FrameRanges normalizeFrameRanges(FrameRanges ranges) {
  std::sort(ranges.begin(), ranges.end(),
            [](const FrameRange &a, const FrameRange &b) { return a.first < b.first; });
  FrameRanges joined;
  for (const FrameRange &r : ranges) {
    if (!joined.empty() && r.first <= std::uint64_t{joined.back().last} + 1)
      joined.back().last = std::max(joined.back().last, r.last);
    else
      joined.push_back(r);
  }
  return joined;
}

bool firstSharedFrame(const std::vector<const FrameRanges *> &sets, SharedFrame &shared) {
  struct Owned {
    FrameRange range;
    std::size_t set;
  };
  std::vector<Owned> all;
  for (std::size_t k = 0; k < sets.size(); ++k)
    for (const FrameRange &r : *sets[k])
      all.push_back({r, k});
  std::sort(all.begin(), all.end(),
            [](const Owned &x, const Owned &y) { return x.range.first < y.range.first; });
  // By first frame: the first range that starts before the furthest end so far
  // shares its first frame with that range, and no lower frame is shared. The
  // two are of different sets, as a set's own ranges are apart.
  const Owned *furthest = nullptr;
  for (const Owned &o : all) {
    if (furthest && o.range.first <= furthest->range.last) {
      shared = {std::min(furthest->set, o.set), std::max(furthest->set, o.set), o.range.first};
      return true;
    }
    if (!furthest || o.range.last > furthest->range.last) furthest = &o;
  }
  return false;
}

FrameRanges missingFrames(const FrameRanges &ranges, std::uint32_t first, std::uint32_t last) {
  FrameRanges missing;
  std::uint64_t next = first; // the first frame not yet accounted for
  for (const FrameRange &r : normalizeFrameRanges(ranges)) {
    if (r.last < next) continue;
    if (r.first > last) break;
    if (r.first > next) missing.push_back({static_cast<std::uint32_t>(next), r.first - 1});
    next = std::uint64_t{r.last} + 1;
  }
  if (next <= last) missing.push_back({static_cast<std::uint32_t>(next), last});
  return missing;
}

// Sets of frame numbers as sorted lists of inclusive ranges, the way partial
// files record which frames their sums hold ("1-64,129-192").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FrameRange {
  std::uint32_t first, last; // inclusive, first <= last
};
using FrameRanges = std::vector<FrameRange>;

// "1-64,129-192"; a range of one frame is written as a single number.
std::string formatFrameRanges(const FrameRanges &ranges);

// Parses the text formatFrameRanges writes. False for anything else,
// including ranges that are out of order, touch or overlap, or hold frame 0.
bool parseFrameRanges(const std::string &text, FrameRanges &ranges);

// The number of frames in the ranges.
std::uint64_t frameCount(const FrameRanges &ranges);

// Sorted and joined: touching or overlapping ranges become one.
FrameRanges normalizeFrameRanges(FrameRanges ranges);

// The lowest frame that two of the sets (each as parseFrameRanges gives it)
// both hold, and two sets that hold it (a < b); false when no frame is held
// twice. A sort and a sweep: n log n in the number of ranges.
struct SharedFrame {
  std::size_t a, b;
  std::uint32_t frame;
};
bool firstSharedFrame(const std::vector<const FrameRanges *> &sets, SharedFrame &shared);

// The frames from first to last that ranges does not hold.
FrameRanges missingFrames(const FrameRanges &ranges, std::uint32_t first, std::uint32_t last);

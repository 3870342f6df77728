// Frame ranges: the text partial files record, and the set arithmetic that
// merging and resuming rely on.
#include "frame_ranges.h"

#include <gtest/gtest.h>

namespace {

FrameRanges parsed(const std::string &text) {
  FrameRanges r;
  EXPECT_TRUE(parseFrameRanges(text, r)) << text;
  return r;
}

TEST(FrameRanges, TextRoundTripsAndOnlyOneSpellingIsAccepted) {
  for (const char *text : {"1", "1-64", "1-4,9,11-12", "16777216", "3-4294967295"})
    EXPECT_EQ(formatFrameRanges(parsed(text)), text);
  EXPECT_EQ(frameCount(parsed("1-4,9,11-12")), 7u);
  FrameRanges r;
  for (const char *bad : {"", "0", "0-3", "4-3", "1-4,3-6", "1-4,5-6", "5,1", "1-", "-3", "1,,2",
                          "01", "1-4 ", " 1", "+1", "1-4,", "4294967296"})
    EXPECT_FALSE(parseFrameRanges(bad, r)) << '"' << bad << '"';
}

TEST(FrameRanges, UnionOverlapAndGaps) {
  EXPECT_EQ(formatFrameRanges(normalizeFrameRanges({{9, 12}, {1, 4}, {5, 6}, {11, 14}})),
            "1-6,9-14");
  EXPECT_EQ(formatFrameRanges(missingFrames(parsed("3-4,7,12-20"), 1, 14)), "1-2,5-6,8-11");
  EXPECT_TRUE(missingFrames(parsed("1-8"), 2, 7).empty());
  EXPECT_EQ(formatFrameRanges(missingFrames(parsed("1-2"), 5, 6)), "5-6");
}

TEST(FrameRanges, FirstSharedFrameIsTheLowestOfAnyTwoSets) {
  auto shared = [](std::vector<std::string> texts) {
    std::vector<FrameRanges> sets;
    for (const std::string &t : texts)
      sets.push_back(parsed(t));
    std::vector<const FrameRanges *> pointers;
    for (const FrameRanges &s : sets)
      pointers.push_back(&s);
    SharedFrame f{};
    if (!firstSharedFrame(pointers, f)) return std::string("none");
    return std::to_string(f.a) + "," + std::to_string(f.b) + ":" + std::to_string(f.frame);
  };
  EXPECT_EQ(shared({"1-4,9-12", "5-8,13"}), "none");
  EXPECT_EQ(shared({"1-4,9-12", "5-8,11-20"}), "0,1:11");
  // The lowest shared frame wins over the pair order; a range inside another.
  EXPECT_EQ(shared({"1-2,30-40", "20-35", "3-10,12"}), "0,1:30");
  EXPECT_EQ(shared({"1-100", "50", "7"}), "0,2:7");
  EXPECT_EQ(shared({"5-9", "5-9"}), "0,1:5");
  EXPECT_EQ(shared({"1", "2", "3", "4-4294967295", "4294967295"}), "3,4:4294967295");
}

} // namespace

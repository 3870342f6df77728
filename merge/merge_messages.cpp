#include "merge_messages.h"

#include <cstdio>

int fail(const std::string &message) {
  std::fprintf(stderr, "exegfx-merge: %s\n", message.c_str());
  return 1;
}

std::string shortRanges(const FrameRanges &frames) {
  const std::size_t shown = 4;
  if (frames.size() <= shown) return formatFrameRanges(frames);
  return formatFrameRanges(FrameRanges(frames.begin(), frames.begin() + shown)) + ",... (" +
         std::to_string(frames.size()) + " ranges)";
}

std::string joined(const std::vector<std::string> &values) {
  std::string text;
  for (const std::string &v : values)
    text += (text.empty() ? "" : "; ") + v;
  return "\"" + text + "\"";
}

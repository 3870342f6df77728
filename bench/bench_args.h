// Command-line values the benchmark programs share.
#pragma once

#include <cstdio>
#include <cstdlib>

// "WxH" with both sides from 1 to 16384.
inline bool parseBenchSize(const char *text, unsigned &w, unsigned &h) {
  char tail = 0;
  return std::sscanf(text, "%ux%u%c", &w, &h, &tail) == 2 && w > 0 && h > 0 && w <= 16384 &&
         h <= 16384;
}

// A frame count from 1 to 100000; false with a message on standard error.
inline bool parseBenchFrames(const char *text, unsigned &frames) {
  char *end = nullptr;
  long n = std::strtol(text, &end, 10);
  if (*end || n < 1 || n > 100000) {
    std::fprintf(stderr, "--frames takes a whole number from 1 to 100000\n");
    return false;
  }
  frames = static_cast<unsigned>(n);
  return true;
}

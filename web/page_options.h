// What the address asks of the page: ?size=WxH, ?frames=N and ?band-ms=MS.
#pragma once

#include <string>

// One run's running sum is 32-bit float: the page stops where exegfx-still
// stops one run.
inline constexpr unsigned maxPageFrames = 131072;

struct PageOptions {
  unsigned width = 1920, height = 1080;
  unsigned frames = maxPageFrames; // the page stops after this many frames
  unsigned bandMs = 20;            // what one band of a frame should cost the GPU
};

// One parameter of the address: how often it is given (0: not at all), and
// its first value, every byte of it (a NUL included).
struct PageParam {
  unsigned count = 0;
  std::string value;
};

// Reads size, frames and band-ms. A parameter given twice, or with a NUL or
// a value far longer than any it takes, is refused. False with a message for
// the page, short enough for its box, that names the bad value.
bool parsePageOptions(const PageParam &size, const PageParam &frames, const PageParam &bandMs,
                      PageOptions &options, std::string &error);
// The same from plain values, null where the address has none.
bool parsePageOptions(const char *size, const char *frames, const char *bandMs,
                      PageOptions &options, std::string &error);

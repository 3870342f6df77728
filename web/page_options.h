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

// Reads the values of size, frames and band-ms (null where the address has
// none). False with a message for the page that names the bad value.
bool parsePageOptions(const char *size, const char *frames, const char *bandMs,
                      PageOptions &options, std::string &error);

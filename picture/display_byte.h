// The byte a PNG holds for a mean: what the window shows, and what every
// exegfx PNG (exegfx-still's, exegfx-merge's, the web page's "Save PNG") writes.
#pragma once

#include <cmath>
#include <cstdint>

// Clamped to [0, 1], times 255, rounded; NaN is 0.
inline std::uint8_t displayByte(float mean) {
  if (!(mean > 0.0f)) return 0;
  if (mean >= 1.0f) return 255;
  return static_cast<std::uint8_t>(std::lround(mean * 255.0f));
}

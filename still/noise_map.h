// A picture of where a merged picture is still noisy: each pixel's error on a
// fixed logarithmic colour scale, so that maps of different renders compare,
// with a legend strip below the map.
#pragma once

#include <string>

// levels: width x height floats, rows from the bottom up (as the GL reads them back):
// each pixel's standard error of the mean in 8-bit levels of the PNG picture; NaN for
// a pixel that traces nothing (letterbox rows, the foreground outline).
// Writes an 8-bit RGB PNG: the map at the picture's size, with a legend strip below it.
// Whole or not at all (through writeWholeFile, as the other writers). False with a message.
bool writeNoiseMap(const std::string &path, unsigned width, unsigned height, const float *levels,
                   std::string &error);

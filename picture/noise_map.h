// Pictures of a merged picture: where it is still noisy (each pixel's error)
// and where its samples went (each pixel's count), on fixed logarithmic
// colour scales, so that maps of different renders compare, with a legend
// strip below the map.
#pragma once

#include <string>

// levels: width x height floats, rows from the bottom up (as the GL reads them back):
// each pixel's standard error of the mean in 8-bit levels of the PNG picture; NaN for
// a pixel that traces nothing (letterbox rows, the foreground outline).
// Writes an 8-bit RGB PNG: the map at the picture's size, with a legend strip below it.
// Whole or not at all (through writeWholeFile, as the other writers). False with a message.
bool writeNoiseMap(const std::string &path, unsigned width, unsigned height, const float *levels,
                   std::string &error);

// The same for counts (samples per pixel, NaN for a pixel that traces
// nothing), on a scale from 1 to 100000 samples.
bool writeCountMap(const std::string &path, unsigned width, unsigned height, const float *counts,
                   std::string &error);

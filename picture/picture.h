// The accumulated picture: what a render holds, per pixel, and what every
// tool reads, writes, adds and measures. exegfx-still reads it back from the
// GPU, partial files hold it, exegfx-merge adds pictures, and the noise
// figure, the maps and the agreement check are computed from it.
//
// Per pixel: the sum of its samples and the sum of their squares (red, green,
// blue) and how many samples they hold. A uniform render gives every pixel
// one sample per frame; an adaptive one stops each pixel on its own, so the
// counts differ. An adaptive render also keeps the samples of its decision
// frames apart ("held"): they decide when a pixel stops and are never in its
// mean, which keeps the mean unbiased.
//
// Pixels run row by row from the bottom, as the GL reads them back. Sums are
// doubles: the merge adds parts without rounding, and a 32-bit sum read from a
// file or the GPU converts exactly.
#pragma once

#include "frame_ranges.h"
#include "noise.h"

#include <cstddef>
#include <vector>

struct Samples {
  std::vector<double> sum, squares; // 3 per pixel; squares empty where unknown
  std::vector<double> count;        // 1 per pixel
};

struct Picture {
  unsigned width = 0, height = 0;
  FrameRanges frames; // the frame numbers the render ran (an adaptive pixel holds a prefix)
  Samples mean;       // the samples in the mean
  Samples held;       // adaptive renders' decision samples; empty otherwise

  std::size_t pixels() const { return std::size_t{width} * height; }
  bool hasSquares() const { return !mean.squares.empty(); }
  bool adaptive() const { return !held.count.empty(); }
};

// A uniform render's picture: every pixel holds one sample of each of the
// frames. sum and squares: 3 floats per pixel (squares null where unknown).
Picture uniformPicture(unsigned width, unsigned height, const FrameRanges &frames, const float *sum,
                       const float *squares);

// Adds part into total, pixel by pixel, and the frames to its frames (an
// empty total takes part's size). Squares stay known only where both know
// them. The sum is adaptive (per-pixel counts, held-out samples) where either
// is.
void addPicture(Picture &total, const Picture &part);

// The mean of each pixel (3 floats per pixel); 0 where a pixel holds nothing.
std::vector<float> pictureMean(const Picture &picture);

// Each pixel's error in 8-bit levels from its own samples and count (NaN for
// a pixel that traces nothing, or holds fewer than 2 samples); empty without
// squares.
std::vector<float> pictureLevels(const Picture &picture);
// The picture's noise figure from those errors.
NoiseFigure pictureNoise(const Picture &picture);

// The spread of the per-pixel counts, for --info and the logs.
struct CountSpread {
  double min = 0, median = 0, max = 0, total = 0;
};
CountSpread countSpread(const Picture &picture);

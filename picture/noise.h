// How noisy a running sum still is, from its sum of squares.
//
// Each pixel's error is the standard error of its mean, in 8-bit levels of the
// picture as the PNG shows it (the mean clamped to [0, 1], times 255): half
// the width of the interval mean +- one standard error once clamped to what
// the PNG can show, so a flame that stays white whatever its spread has none.
// The largest of the three channels. Pixels that trace nothing (letterbox
// rows, the outline's inside) give every frame the same sample; they have no
// error and are left out of the picture's figure.
#pragma once

#include <cstddef>
#include <vector>

// The picture's figure: the median and the 95th percentile of the traced
// pixels' errors, in 8-bit levels.
struct NoiseFigure {
  bool known = false; // false: no sum of squares, fewer than 2 frames, or nothing traced
  double median = 0.0, p95 = 0.0;
  double p99 = 0.0, max = 0.0; // the tail, for benchmarks and --info
  std::size_t traced = 0;      // the pixels counted
};

// One pixel's samples: the mean and the variance of one sample, per channel,
// from n samples' sum and sum of squares; false for a pixel that traces
// nothing (every sample the same, to the rounding of the sums).
bool sampleSpread(const double sum[3], const double squares[3], double n, double mean[3],
                  double variance[3]);
// One pixel's error in levels, the largest of its channels: one standard
// error of a mean of n samples of these variances, around these means.
double levelsOf(const double mean[3], const double variance[3], double n);

// The errors of pixels pixels (sum and squares: 3 values per pixel, any
// order of pixels) after frames frames, into levels: one per pixel, NaN for
// a pixel that traces nothing. Empty levels for fewer than 2 frames.
void pixelErrors(const float *sum, const float *squares, std::size_t pixels, double frames,
                 std::vector<float> &levels);
void pixelErrors(const double *sum, const double *squares, std::size_t pixels, double frames,
                 std::vector<float> &levels);

// The relative variance (over the squared mean) below which a pixel counts as
// tracing nothing after frames frames: what the rounding of 32-bit sums gives
// a sample repeated every frame.
double constantBound(double frames);

// The figure of pixelErrors' levels (reorders them).
NoiseFigure noiseFigure(std::vector<float> &levels);

// The same from the sums directly.
NoiseFigure noiseFigure(const float *sum, const float *squares, std::size_t pixels, double frames);

// The figure for logs and attributes: "0.83", or "unknown".
const char *noiseText(const NoiseFigure &figure, bool p95 = true);

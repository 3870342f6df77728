#include "noise.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

// A sample repeated n times still shows a spread, from the rounding of the
// 32-bit sum of squares: each addition rounds by up to half an ulp, so the
// relative variance comes out at most about n * 2^-24. This bound is twice
// that; measured, the outline gives 1.2e-5 after 1024 frames, while traced
// pixels start at 0.03 (every path is random).
double constantBound(double frames) {
  return 1e-6 + frames * 1.2e-7;
}

double levelsOf(const double mean[3], const double variance[3], double n) {
  double worst = 0.0;
  for (int ch = 0; ch < 3; ++ch) {
    const double se = std::sqrt(variance[ch] / n);
    const double lo = std::max(mean[ch] - se, 0.0), hi = std::min(mean[ch] + se, 1.0);
    worst = std::max(worst, (hi - lo) * 0.5 * 255.0);
  }
  return worst;
}

bool sampleSpread(const double sum[3], const double squares[3], double n, double mean[3],
                  double variance[3]) {
  const double bound = constantBound(n);
  bool varies = false;
  for (int ch = 0; ch < 3; ++ch) {
    mean[ch] = sum[ch] / n;
    variance[ch] = std::max((squares[ch] - sum[ch] * mean[ch]) / (n - 1.0), 0.0);
    if (variance[ch] > bound * mean[ch] * mean[ch]) varies = true;
  }
  return varies;
}

template <class T>
static void errorsOf(const T *sum, const T *squares, std::size_t pixels, double n,
                     std::vector<float> &levels) {
  levels.clear();
  if (n < 2.0) return;
  levels.resize(pixels);
  for (std::size_t p = 0; p < pixels; ++p) {
    double s[3], q[3], mean[3], variance[3];
    for (int ch = 0; ch < 3; ++ch) {
      s[ch] = static_cast<double>(sum[p * 3 + ch]);
      q[ch] = static_cast<double>(squares[p * 3 + ch]);
    }
    bool varies = sampleSpread(s, q, n, mean, variance);
    levels[p] = varies ? static_cast<float>(levelsOf(mean, variance, n)) : NAN;
  }
}

void pixelErrors(const float *sum, const float *squares, std::size_t pixels, double frames,
                 std::vector<float> &levels) {
  errorsOf(sum, squares, pixels, frames, levels);
}

void pixelErrors(const double *sum, const double *squares, std::size_t pixels, double frames,
                 std::vector<float> &levels) {
  errorsOf(sum, squares, pixels, frames, levels);
}

NoiseFigure noiseFigure(std::vector<float> &levels) {
  auto end = std::remove_if(levels.begin(), levels.end(), [](float v) { return std::isnan(v); });
  NoiseFigure figure;
  figure.traced = static_cast<std::size_t>(end - levels.begin());
  if (figure.traced == 0) return figure;
  // The nearest rank: the value that share of the pixels do not exceed.
  auto rank = [&](double share) {
    std::size_t k = static_cast<std::size_t>(std::ceil(share * figure.traced));
    auto at = levels.begin() + static_cast<std::ptrdiff_t>(k > 0 ? k - 1 : 0);
    std::nth_element(levels.begin(), at, end);
    return static_cast<double>(*at);
  };
  figure.max = rank(1.0);
  figure.p99 = rank(0.99);
  figure.p95 = rank(0.95);
  figure.median = rank(0.5);
  figure.known = true;
  return figure;
}

NoiseFigure noiseFigure(const float *sum, const float *squares, std::size_t pixels, double frames) {
  std::vector<float> levels;
  pixelErrors(sum, squares, pixels, frames, levels);
  return noiseFigure(levels);
}

const char *noiseText(const NoiseFigure &figure, bool p95) {
  static char text[32];
  if (!figure.known) return "unknown";
  double v = p95 ? figure.p95 : figure.median;
  std::snprintf(text, sizeof text, v < 10.0 ? "%.2f" : "%.1f", v);
  return text;
}

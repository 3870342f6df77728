#include "picture.h"

#include <algorithm>
#include <cmath>

Picture uniformPicture(unsigned width, unsigned height, const FrameRanges &frames, const float *sum,
                       const float *squares) {
  Picture p;
  p.width = width;
  p.height = height;
  p.frames = frames;
  const std::size_t values = p.pixels() * 3;
  p.mean.sum.assign(sum, sum + values);
  if (squares) p.mean.squares.assign(squares, squares + values);
  p.mean.count.assign(p.pixels(), static_cast<double>(frameCount(frames)));
  return p;
}

static void addSamples(Samples &total, const Samples &part) {
  for (std::size_t k = 0; k < total.sum.size(); ++k)
    total.sum[k] += part.sum[k];
  if (part.squares.empty()) total.squares.clear();
  for (std::size_t k = 0; k < total.squares.size(); ++k)
    total.squares[k] += part.squares[k];
  for (std::size_t k = 0; k < total.count.size(); ++k)
    total.count[k] += part.count[k];
}

// No held-out samples, as a uniform picture adds to an adaptive one.
static Samples noHeld(const Picture &p) {
  return {std::vector<double>(p.pixels() * 3, 0.0), std::vector<double>(p.pixels() * 3, 0.0),
          std::vector<double>(p.pixels(), 0.0)};
}

void addPicture(Picture &total, const Picture &part) {
  if (total.mean.count.empty()) {
    total = part;
    return;
  }
  addSamples(total.mean, part.mean);
  // Counts that differ from pixel to pixel stay in the picture: a uniform
  // part adds no held-out samples to an adaptive one.
  if (part.adaptive() || total.adaptive()) {
    if (!total.adaptive()) total.held = noHeld(total);
    addSamples(total.held, part.adaptive() ? part.held : noHeld(part));
  }
  total.frames.insert(total.frames.end(), part.frames.begin(), part.frames.end());
  total.frames = normalizeFrameRanges(total.frames);
}

std::vector<float> pictureMean(const Picture &picture) {
  std::vector<float> mean(picture.pixels() * 3, 0.0f);
  for (std::size_t p = 0; p < picture.pixels(); ++p) {
    const double n = picture.mean.count[p];
    if (n > 0.0)
      for (int ch = 0; ch < 3; ++ch)
        mean[p * 3 + ch] = static_cast<float>(picture.mean.sum[p * 3 + ch] / n);
  }
  return mean;
}

std::vector<float> pictureLevels(const Picture &picture) {
  std::vector<float> levels;
  if (!picture.hasSquares()) return levels;
  levels.assign(picture.pixels(), NAN);
  for (std::size_t p = 0; p < picture.pixels(); ++p) {
    const double n = picture.mean.count[p];
    double mean[3], variance[3];
    if (n >= 2.0 &&
        sampleSpread(&picture.mean.sum[p * 3], &picture.mean.squares[p * 3], n, mean, variance))
      levels[p] = static_cast<float>(levelsOf(mean, variance, n));
  }
  return levels;
}

NoiseFigure pictureNoise(const Picture &picture) {
  std::vector<float> levels = pictureLevels(picture);
  return levels.empty() ? NoiseFigure{} : noiseFigure(levels);
}

CountSpread countSpread(const Picture &picture) {
  CountSpread spread;
  std::vector<double> counts = picture.mean.count;
  for (std::size_t p = 0; p < counts.size(); ++p) {
    if (picture.adaptive()) counts[p] += picture.held.count[p];
    spread.total += counts[p];
  }
  if (counts.empty()) return spread;
  auto middle = counts.begin() + static_cast<std::ptrdiff_t>(counts.size() / 2);
  std::nth_element(counts.begin(), middle, counts.end());
  spread.median = *middle;
  auto [lo, hi] = std::minmax_element(counts.begin(), counts.end());
  spread.min = *lo;
  spread.max = *hi;
  return spread;
}

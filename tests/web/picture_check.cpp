// Compares the web page's picture with exegfx-still's of the same frames:
//   picture_check SAME.exr MORE.exr PAGE_MEAN.f32 PAGE.png WIDTH HEIGHT FRAMES SHOT.png
// SAME.exr: exegfx-still's partial render of frames 1 to FRAMES; MORE.exr:
// of the frames after them, whose samples only make the spread better known;
// PAGE_MEAN.f32: the page's float mean of frames 1 to FRAMES (RGB, rows from
// the bottom up); PAGE.png: the page's "Save PNG" download; SHOT.png: a
// screenshot of the page showing the picture, without its overlay.
// The sums are not bit-identical (sin of large arguments differs between GL
// implementations, and with it every random number), so each tile's mean is
// held to the spread the samples give: the difference of two means of the
// same distribution, in standard errors. The PNG must hold exactly the bytes
// exegfx-still's PNG makes of the page's mean.
#include "frame_ranges.h"
#include "image_write.h"
#include "partial_file.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr unsigned tile = 16;
// Limits on the tiles' differences in standard errors, from exegfx-still
// against itself (frames 1-8 against 12 other 8-frame ranges at 160 x 90, the
// spread from 64 frames): mean -0.16 to +0.10, mean square 0.51 to 0.96, |z|
// at most 3.1. A mean 10 % low gives a mean of -0.38, 10 % high +0.31, a
// frame count one too high at 8 frames -0.48, a mirrored or colour-swapped
// picture a mean square in the millions.
constexpr double mostMean = 0.3;
constexpr double mostMeanSquare = 1.5;
constexpr double mostSigma = 6.0;
constexpr double wideSigma = 3.5;
constexpr double wideShare = 0.02;

struct PageRender {
  unsigned width, height, frames;              // frames 1 to frames, in both pictures
  std::vector<float> stillSum;                 // exegfx-still's sum of those frames
  std::vector<float> spreadSum, spreadSquares; // of those and the frames after
  unsigned spreadFrames;
  std::vector<float> pageMean;
};

bool readFloats(const std::string &path, std::vector<float> &floats, std::size_t count) {
  std::ifstream in(path, std::ios::binary);
  floats.resize(count);
  auto bytes = static_cast<std::streamsize>(count * sizeof(float));
  in.read(reinterpret_cast<char *>(floats.data()), bytes);
  return in.gcount() == bytes && in.peek() == std::char_traits<char>::eof();
}

// Every byte of the PNG against exegfx-still's mapping of the page's mean.
bool pngMatches(const std::string &path, const PageRender &p) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    std::printf("FAIL: %s is no PNG\n", path.c_str());
    return false;
  }
  // Read as stored: RGBA, no conversion.
  png.format = PNG_FORMAT_RGBA;
  std::vector<std::uint8_t> rgba(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr) || png.width != p.width ||
      png.height != p.height) {
    std::printf("FAIL: %s is not a %u x %u PNG\n", path.c_str(), p.width, p.height);
    return false;
  }
  long wrong = 0;
  for (unsigned row = 0; row < p.height; ++row)
    for (unsigned x = 0; x < p.width; ++x) {
      const std::uint8_t *got = &rgba[(std::size_t{row} * p.width + x) * 4];
      const float *mean = &p.pageMean[(std::size_t{p.height - 1 - row} * p.width + x) * 3];
      for (int k = 0; k < 3; ++k)
        wrong += got[k] != displayByte(mean[k]);
      wrong += got[3] != 255;
    }
  std::printf("PNG: %ld of %zu values differ from exegfx-still's bytes of the page's mean\n", wrong,
              std::size_t{p.width} * p.height * 4);
  return wrong == 0;
}

// An 8-bit PNG as RGBA, rows from the top down; empty if unreadable.
std::vector<std::uint8_t> readRgba(const std::string &path, unsigned &width, unsigned &height) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  std::vector<std::uint8_t> rgba;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return rgba;
  png.format = PNG_FORMAT_RGBA;
  rgba.resize(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, rgba.data(), 0, nullptr)) rgba.clear();
  width = png.width;
  height = png.height;
  return rgba;
}

// The screenshot of the page shows the PNG's picture, scaled by a whole
// factor: the 2 x 2 middle pixels of each pixel's square hold its value but
// for the browser's bilinear scaling, which mixes in at most a twelfth of a
// neighbour; so each may differ by 3 levels and a quarter of the pixel's
// difference from its neighbours.
bool screenshotMatches(const std::string &shotPath, const std::string &pngPath) {
  unsigned w = 0, h = 0, sw = 0, sh = 0;
  std::vector<std::uint8_t> png = readRgba(pngPath, w, h), shot = readRgba(shotPath, sw, sh);
  const unsigned scale = w ? sw / w : 0;
  if (png.empty() || shot.empty() || scale < 2 || sw != w * scale || sh != h * scale) {
    std::printf("FAIL: %s is no picture of %s scaled by a whole factor\n", shotPath.c_str(),
                pngPath.c_str());
    return false;
  }
  auto at = [](const std::vector<std::uint8_t> &img, unsigned width, long x, long y, int k) {
    return static_cast<int>(img[(static_cast<std::size_t>(y) * width + x) * 4 + k]);
  };
  long off = 0;
  int worst = 0;
  for (long y = 0; y < long(h); ++y)
    for (long x = 0; x < long(w); ++x)
      for (int k = 0; k < 3; ++k) {
        const int value = at(png, w, x, y, k);
        int range = 0;
        for (long ny = std::max(y - 1, 0L); ny <= std::min(y + 1, long(h) - 1); ++ny)
          for (long nx = std::max(x - 1, 0L); nx <= std::min(x + 1, long(w) - 1); ++nx)
            range = std::max(range, std::abs(at(png, w, nx, ny, k) - value));
        int shown = 0;
        for (long dy : {0, 1})
          for (long dx : {0, 1})
            shown += at(shot, sw, x * scale + scale / 2 - dx, y * scale + scale / 2 - dy, k);
        const int diff = std::abs((shown + 2) / 4 - value);
        worst = std::max(worst, diff - range / 4);
        off += diff > 3 + range / 4;
      }
  std::printf("Screenshot: %ld of %u values off the PNG's beyond the scaling's mixing "
              "(worst by %d levels)\n",
              off, w * h * 3, worst);
  return off == 0;
}

// The mean of a tile's pixel means, and the variance of that mean, from the
// samples' spread (the sum and the sum of squares of N samples per pixel).
struct TileStat {
  double still = 0, page = 0, variance = 0;
};

TileStat tileStat(const PageRender &p, unsigned tx, unsigned ty, int channel) {
  struct Pixel {
    double still, page, variance;
  };
  std::vector<Pixel> pixels;
  double n = p.spreadFrames;
  for (unsigned y = ty; y < std::min(ty + tile, p.height); ++y)
    for (unsigned x = tx; x < std::min(tx + tile, p.width); ++x) {
      std::size_t k = (std::size_t{y} * p.width + x) * 3 + static_cast<std::size_t>(channel);
      double sum = p.spreadSum[k], squares = p.spreadSquares[k];
      double spread = std::max(0.0, (squares - sum * sum / n) / (n - 1.0));
      // Two means of as many samples each.
      pixels.push_back({p.stillSum[k] / p.frames, p.pageMean[k], 2.0 * spread / p.frames});
    }
  // A firefly (one path that found a light through a narrow gap) outweighs
  // a tile's every other sample; the pixel that differs most is left out.
  auto most = std::max_element(pixels.begin(), pixels.end(), [](const Pixel &a, const Pixel &b) {
    return std::fabs(a.page - a.still) < std::fabs(b.page - b.still);
  });
  if (pixels.size() > 1) pixels.erase(most);
  TileStat t;
  for (const Pixel &px : pixels) {
    t.still += px.still;
    t.page += px.page;
    t.variance += px.variance;
  }
  double count = static_cast<double>(pixels.size());
  t.still /= count;
  t.page /= count;
  t.variance /= count * count;
  return t;
}

bool tilesAgree(const PageRender &p) {
  unsigned tiles = 0, wide = 0;
  double worst = 0.0, squares = 0.0, sum = 0.0;
  TileStat worstTile{};
  unsigned worstX = 0, worstY = 0;
  for (unsigned ty = 0; ty < p.height; ty += tile)
    for (unsigned tx = 0; tx < p.width; tx += tile)
      for (int c = 0; c < 3; ++c) {
        TileStat t = tileStat(p, tx, ty, c);
        // Pixels without a path (letterbox, outline) agree to float rounding.
        double rounding = 1e-5 * std::max(std::fabs(t.still), std::fabs(t.page)) + 1e-9;
        double z = (t.page - t.still) / std::sqrt(t.variance + rounding * rounding);
        ++tiles;
        wide += std::fabs(z) > wideSigma;
        squares += z * z;
        sum += z;
        if (std::fabs(z) > worst) {
          worst = std::fabs(z);
          worstTile = t;
          worstX = tx;
          worstY = ty;
        }
      }
  double meanSquare = squares / tiles;
  std::printf("tiles: %u of %u x %u pixels per channel; in standard errors: mean %+.2f, "
              "mean square %.2f, %u beyond %.1f, the largest %.2f (at %u, %u: %.5f against "
              "exegfx-still's %.5f)\n",
              tiles, tile, tile, sum / tiles, meanSquare, wide, wideSigma, worst, worstX, worstY,
              worstTile.page, worstTile.still);
  return std::fabs(sum / tiles) <= mostMean && meanSquare <= mostMeanSquare && worst <= mostSigma &&
         wide <= wideShare * tiles;
}

// A partial render of frames first to last at the picture's size, with its
// sum of squares.
bool readStill(const char *path, const PageRender &p, unsigned first, unsigned last,
               std::vector<float> &sum, std::vector<float> &squares) {
  PartialInfo info;
  std::string error;
  std::string frames = std::to_string(first) + "-" + std::to_string(last);
  if (!readPartial(path, info, sum, error, &squares) || !info.hasSquares || info.width != p.width ||
      info.height != p.height || formatFrameRanges(info.frames) != frames) {
    std::printf("FAIL: %s: %s\n", path,
                error.empty() ? ("not frames " + frames + " with their squares").c_str()
                              : error.c_str());
    return false;
  }
  return true;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 9) {
    std::fprintf(
        stderr, "usage: %s SAME.exr MORE.exr PAGE_MEAN.f32 PAGE.png WIDTH HEIGHT FRAMES SHOT.png\n",
        argv[0]);
    return 2;
  }
  PageRender p{};
  p.width = static_cast<unsigned>(std::atoi(argv[5]));
  p.height = static_cast<unsigned>(std::atoi(argv[6]));
  p.frames = static_cast<unsigned>(std::atoi(argv[7]));
  std::vector<float> sameSquares, moreSum, moreSquares;
  PartialInfo more;
  std::string error;
  if (p.frames < 2 || !readPartialInfo(argv[2], more, error)) {
    std::printf("FAIL: %s\n", error.empty() ? "FRAMES must be 2 or more" : error.c_str());
    return 1;
  }
  p.spreadFrames = p.frames + static_cast<unsigned>(frameCount(more.frames));
  if (!readStill(argv[1], p, 1, p.frames, p.stillSum, sameSquares) ||
      !readStill(argv[2], p, p.frames + 1, p.spreadFrames, moreSum, moreSquares))
    return 1;
  p.spreadSum = p.stillSum;
  p.spreadSquares = sameSquares;
  for (std::size_t k = 0; k < moreSum.size(); ++k) {
    p.spreadSum[k] += moreSum[k];
    p.spreadSquares[k] += moreSquares[k];
  }
  // The partial files' rows run from the bottom up, as the page's.
  if (!readFloats(argv[3], p.pageMean, std::size_t{p.width} * p.height * 3)) {
    std::printf("FAIL: %s does not hold %u x %u x 3 floats\n", argv[3], p.width, p.height);
    return 1;
  }
  bool png = pngMatches(argv[4], p);
  png = screenshotMatches(argv[8], argv[4]) && png;
  bool tiles = tilesAgree(p);
  std::printf("%s\n", png && tiles ? "PASS: the page's picture is exegfx-still's"
                                   : "FAIL: the page's picture differs from exegfx-still's");
  return png && tiles ? 0 : 1;
}

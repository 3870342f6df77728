#include "noise_map.h"

#include "image_write.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

const Rgb nothingTraced = {128, 128, 128}; // viridis has no neutral grey
const Rgb background = {0, 0, 0};
const Rgb ink = {235, 235, 235};

std::uint8_t unitByte(double value) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
}

// viridis from dark blue (t = 0) to yellow (t = 1), as a published degree-6
// polynomial fit; within about 1% of the tabulated map.
Rgb viridis(double t) {
  static const double c[7][3] = {
      {0.2777273272234177, 0.005407344544966578, 0.3340998053353061},
      {0.1050930431085774, 1.404613529898575, 1.384590162594685},
      {-0.3308618287255563, 0.214847559468213, 0.09509516302823659},
      {-4.634230498983486, -5.799100973351585, -19.33244095627987},
      {6.228269936347081, 14.17993336680509, 56.69055260068105},
      {4.776384997670288, -13.74514537774601, -65.35303263337234},
      {-5.435455855934631, 4.645852612178535, 26.3124352495832},
  };
  double rgb[3];
  for (int k = 0; k < 3; ++k) {
    double sum = 0;
    for (int d = 6; d >= 0; --d)
      sum = sum * t + c[d][k];
    rgb[k] = sum;
  }
  return {unitByte(rgb[0]), unitByte(rgb[1]), unitByte(rgb[2])};
}

// A map's fixed logarithmic scale: its ends, its ticks and their labels (the
// ends first, then the decades: the labels a narrow strip keeps), its unit.
const int tickCount = 6;
struct Scale {
  double low, high;
  double ticks[tickCount];
  const char *labels[tickCount];
  int priority[tickCount];
  const char *unit;
};

// Fixed, not fitted to the picture, so that maps compare: a tenth of a level
// is invisible in the PNG, 30 levels is plain noise.
const Scale noiseScale = {0.1,
                          30.0,
                          {0.1, 0.3, 1, 3, 10, 30},
                          {"0.1", "0.3", "1", "3", "10", "30"},
                          {0, 5, 2, 4, 1, 3},
                          "levels"};
// Samples per pixel, from a few to past the frame cap.
const Scale countScale = {1.0,
                          100000.0,
                          {1, 10, 100, 1000, 10000, 100000},
                          {"1", "10", "100", "1000", "10000", "100000"},
                          {0, 5, 2, 4, 1, 3},
                          "samples"};

// Position of a value on the scale, from 0 to 1.
double scalePosition(const Scale &scale, double value) {
  if (!(value > scale.low)) return 0.0;
  if (value >= scale.high) return 1.0;
  return std::log(value / scale.low) / std::log(scale.high / scale.low);
}

Rgb valueColour(const Scale &scale, float value) {
  return std::isnan(value) ? nothingTraced : viridis(scalePosition(scale, value));
}

// 5 x 7 glyphs (narrower where the letter is), just the characters the legend
// uses.
struct Glyph {
  char c;
  const char *rows[7];
};

const Glyph glyphs[] = {
    {'0', {".###.", "#...#", "#..##", "#.#.#", "##..#", "#...#", ".###."}},
    {'1', {"..#..", ".##..", "..#..", "..#..", "..#..", "..#..", ".###."}},
    {'3', {"#####", "...#.", "..#..", "...#.", "....#", "#...#", ".###."}},
    {'.', {"..", "..", "..", "..", "..", "##", "##"}},
    {' ', {"...", "...", "...", "...", "...", "...", "..."}},
    {'a', {".....", ".....", ".###.", "....#", ".####", "#...#", ".####"}},
    {'c', {".....", ".....", ".###.", "#....", "#....", "#...#", ".###."}},
    {'d', {"....#", "....#", ".##.#", "#..##", "#...#", "#...#", ".####"}},
    {'e', {".....", ".....", ".###.", "#...#", "#####", "#....", ".###."}},
    {'m', {".....", ".....", "##.#.", "#.#.#", "#.#.#", "#...#", "#...#"}},
    {'p', {".....", ".....", "####.", "#...#", "####.", "#....", "#...."}},
    {'l', {"##.", ".#.", ".#.", ".#.", ".#.", ".#.", "###"}},
    {'n', {".....", ".....", "#.##.", "##..#", "#...#", "#...#", "#...#"}},
    {'o', {".....", ".....", ".###.", "#...#", "#...#", "#...#", ".###."}},
    {'r', {".....", ".....", "#.##.", "##..#", "#....", "#....", "#...."}},
    {'s', {".....", ".....", ".####", "#....", ".###.", "....#", "####."}},
    {'t', {".#..", ".#..", "###.", ".#..", ".#..", ".#.#", "..#."}},
    {'v', {".....", ".....", "#...#", "#...#", "#...#", ".#.#.", "..#.."}},
};
const int glyphHeight = 7;

const Glyph *findGlyph(char c) {
  for (const Glyph &glyph : glyphs)
    if (glyph.c == c) return &glyph;
  return nullptr;
}

// Text width in pixels at font scale s, one column of space between glyphs.
long textWidth(const char *text, long s) {
  long columns = 0;
  for (const char *p = text; *p; ++p)
    columns += static_cast<long>(std::strlen(findGlyph(*p)->rows[0])) + (p[1] ? 1 : 0);
  return columns * s;
}

struct Canvas {
  long width, height;
  std::vector<std::uint8_t> bytes; // RGB, rows from the top down

  // Clipped, so that a layout that overruns a small picture cannot write
  // outside it.
  void fill(long x, long y, long w, long h, Rgb colour) {
    long x0 = std::max(x, 0L), x1 = std::min(x + w, width);
    long y0 = std::max(y, 0L), y1 = std::min(y + h, height);
    for (long row = y0; row < y1; ++row)
      for (long col = x0; col < x1; ++col) {
        std::uint8_t *p = &bytes[(static_cast<std::size_t>(row) * width + col) * 3];
        p[0] = colour.r;
        p[1] = colour.g;
        p[2] = colour.b;
      }
  }

  void text(long x, long y, const char *text, long s, Rgb colour) {
    for (const char *p = text; *p; ++p) {
      const Glyph *glyph = findGlyph(*p);
      long columns = static_cast<long>(std::strlen(glyph->rows[0]));
      for (int row = 0; row < glyphHeight; ++row)
        for (long col = 0; col < columns; ++col)
          if (glyph->rows[row][col] == '#') fill(x + col * s, y + row * s, s, s, colour);
      x += (columns + 1) * s;
    }
  }
};

const char nothingLabel[] = "not traced";

// Strip rows in font pixels: a gap below the map, the bar (which takes any
// spare height), ticks under it, a gap, the labels and a bottom margin.
const long stripTop = 3, stripBar = 8, stripTick = 3, stripGap = 1, stripBottom = 2;
const long stripRows = stripTop + stripBar + stripTick + stripGap + glyphHeight + stripBottom;

struct BarLayout {
  const Scale *scale = nullptr;
  long x0 = 0, x1 = 0; // bar columns [x0, x1)
  bool unit = false, swatch = false;
  bool shown[tickCount] = {};
  int shownCount = 0;
};

long tickCentre(const BarLayout &bar, int tick) {
  double t = scalePosition(*bar.scale, bar.scale->ticks[tick]);
  return bar.x0 + std::lround(t * static_cast<double>(bar.x1 - bar.x0 - 1));
}

// Keeps each label, most wanted first, that fits the strip and stays clear of
// the labels already kept.
void placeLabels(BarLayout &bar, long width, long s) {
  long gap = 4 * s;
  long start[tickCount], end[tickCount];
  for (int tick : bar.scale->priority) {
    long w = textWidth(bar.scale->labels[tick], s);
    start[tick] = tickCentre(bar, tick) - w / 2;
    end[tick] = start[tick] + w;
    bool fits = start[tick] >= 0 && end[tick] <= width;
    for (int other = 0; other < tickCount && fits; ++other)
      if (bar.shown[other])
        fits = start[tick] >= end[other] + gap || end[tick] + gap <= start[other];
    bar.shown[tick] = fits;
    bar.shownCount += fits;
  }
}

// The fullest legend that still labels every tick: the unit, then the swatch
// of pixels that trace nothing, to the right of the bar while there is room
// for them; else a bar as wide as the strip with the labels that fit.
BarLayout layOutBar(const Scale &scale, long width, long s) {
  long margin = 4 * s;
  long unitWidth = 6 * s + textWidth(scale.unit, s);
  long swatchWidth = 12 * s + 8 * s + 3 * s + textWidth(nothingLabel, s);
  long left = margin + (textWidth(scale.labels[0], s) + 1) / 2;
  long rightLabel = (textWidth(scale.labels[tickCount - 1], s) + 1) / 2;
  BarLayout bar;
  for (int extras = 2; extras >= 0; --extras) {
    bar = BarLayout();
    bar.scale = &scale;
    bar.unit = extras >= 1;
    bar.swatch = extras >= 2;
    long right = bar.unit ? unitWidth + (bar.swatch ? swatchWidth : 0) : rightLabel;
    bar.x0 = left;
    bar.x1 = width - margin - right;
    if (bar.x1 - bar.x0 < 8 * s) continue;
    placeLabels(bar, width, s);
    if (bar.shownCount == tickCount) return bar;
  }
  if (bar.x1 - bar.x0 < 8 * s) {
    // Too narrow for a margin: the scale alone, across the picture.
    bar = BarLayout();
    bar.scale = &scale;
    bar.x0 = 0;
    bar.x1 = width;
    placeLabels(bar, width, s);
  }
  return bar;
}

void drawLegend(Canvas &canvas, const Scale &scale, long top, long stripHeight, long s) {
  canvas.fill(0, top, canvas.width, stripHeight, background);
  BarLayout bar = layOutBar(scale, canvas.width, s);
  long barY = top + stripTop * s;
  long barHeight = stripHeight - (stripRows - stripBar) * s;
  long length = bar.x1 - bar.x0;
  for (long x = bar.x0; x < bar.x1; ++x) {
    double t = length > 1 ? static_cast<double>(x - bar.x0) / static_cast<double>(length - 1) : 0;
    canvas.fill(x, barY, 1, barHeight, viridis(t));
  }
  long tickY = barY + barHeight;
  long labelY = tickY + (stripTick + stripGap) * s;
  for (int tick = 0; tick < tickCount; ++tick) {
    long centre = tickCentre(bar, tick);
    long x = std::clamp(centre - s / 2, bar.x0, std::max(bar.x0, bar.x1 - s));
    canvas.fill(x, tickY, s, stripTick * s, ink);
    if (bar.shown[tick])
      canvas.text(centre - textWidth(scale.labels[tick], s) / 2, labelY, scale.labels[tick], s,
                  ink);
  }
  long textY = barY + (barHeight - glyphHeight * s) / 2;
  long x = bar.x1 + 6 * s;
  if (bar.unit) {
    canvas.text(x, textY, scale.unit, s, ink);
    x += textWidth(scale.unit, s) + 12 * s;
  }
  if (bar.swatch) {
    canvas.fill(x, barY, 8 * s, barHeight, nothingTraced);
    canvas.text(x + 11 * s, textY, nothingLabel, s, ink);
  }
}

// The map of values on the scale, with its legend below.
bool writeMap(const Scale &scale, const std::string &path, unsigned width, unsigned height,
              const float *values, std::string &error) {
  // An empty picture goes to the encoder as it is, which refuses it as it
  // refuses an empty image.
  if (width == 0 || height == 0) return writePngBytes(path, width, height, nullptr, error);
  // A tenth of the picture, but never smaller than the font; the font grows
  // with the strip as long as the legend still fits the width, and a narrow
  // picture's strip stays near the font's size rather than a tall empty bar.
  long tenth = (static_cast<long>(height) + 5) / 10;
  long s = std::max<long>(1, std::min<long>(tenth / stripRows, width / 320));
  long stripHeight = std::max(stripRows * s, std::min(tenth, stripRows * s * 3 / 2));
  Canvas canvas{width, height + stripHeight, {}};
  canvas.bytes.resize(static_cast<std::size_t>(canvas.width) * canvas.height * 3);
  std::uint8_t *out = canvas.bytes.data();
  for (unsigned row = 0; row < height; ++row) {
    const float *src = values + std::size_t{height - 1 - row} * width;
    for (unsigned col = 0; col < width; ++col, out += 3) {
      Rgb colour = valueColour(scale, src[col]);
      out[0] = colour.r;
      out[1] = colour.g;
      out[2] = colour.b;
    }
  }
  drawLegend(canvas, scale, height, stripHeight, s);
  return writePngBytes(path, width, static_cast<unsigned>(canvas.height), canvas.bytes.data(),
                       error);
}

} // namespace

bool writeNoiseMap(const std::string &path, unsigned width, unsigned height, const float *levels,
                   std::string &error) {
  return writeMap(noiseScale, path, width, height, levels, error);
}

bool writeCountMap(const std::string &path, unsigned width, unsigned height, const float *counts,
                   std::string &error) {
  return writeMap(countScale, path, width, height, counts, error);
}

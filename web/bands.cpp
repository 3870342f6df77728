#include "bands.h"

#include <algorithm>
#include <cmath>

void bandsStart(BandPlanner &planner, int width, int height, double targetMs) {
  planner = BandPlanner{};
  planner.width = width;
  planner.height = height;
  planner.strips = (height + stripRows - 1) / stripRows;
  planner.targetMs = targetMs;
  planner.stripCost.assign(static_cast<std::size_t>(planner.strips), 0.0);
  planner.stripFrame.assign(static_cast<std::size_t>(planner.strips), 0);
  planner.stripsDone = planner.strips; // no frame open
}

void bandsNewFrame(BandPlanner &planner) {
  planner.frame += 1;
  planner.stripsDone = 0;
  planner.nextStrip = planner.strips / 2;
  planner.nextX = 0;
}

bool bandsFrameDone(const BandPlanner &planner) {
  return planner.stripsDone >= planner.strips;
}

static int rowsOf(const BandPlanner &planner, int strip) {
  return std::min(stripRows, planner.height - strip * stripRows);
}

static double stripCost(const BandPlanner &planner, int strip) {
  double cost = planner.stripCost[static_cast<std::size_t>(strip)];
  return cost > 0.0 ? cost : planner.worstCost;
}

static void advanceStrips(BandPlanner &planner, int strips) {
  planner.stripsDone += strips;
  planner.nextStrip += strips;
  if (planner.nextStrip == planner.strips) planner.nextStrip = 0; // on from the bottom
}

// Whole strips from nextStrip, as many as the target holds; 0 where the
// first alone is too much (or nothing is measured yet).
static int wholeStrips(const BandPlanner &planner) {
  if (planner.worstCost <= 0.0) return 0;
  int before = std::min(planner.strips - planner.nextStrip, planner.strips - planner.stripsDone);
  double ms = 0.0;
  int strips = 0;
  while (strips < before) {
    int strip = planner.nextStrip + strips;
    ms += stripCost(planner, strip) * planner.width * rowsOf(planner, strip);
    if (ms > planner.targetMs) break;
    ++strips;
  }
  return strips;
}

BandRect bandsNext(BandPlanner &planner) {
  int strip = planner.nextStrip;
  int rows = rowsOf(planner, strip);
  if (planner.nextX == 0) {
    if (int strips = wholeStrips(planner); strips > 0) {
      int last = strip + strips - 1;
      BandRect rect{0, strip * stripRows, planner.width,
                    last * stripRows + rowsOf(planner, last) - strip * stripRows};
      advanceStrips(planner, strips);
      return rect;
    }
  }
  // A piece of the strip, as wide as the target allows.
  double cost = stripCost(planner, strip);
  double fit = cost > 0.0 ? std::floor(planner.targetMs / (cost * rows))
                          : static_cast<double>(firstBandPixels / rows);
  int columns =
      static_cast<int>(std::clamp(fit, 1.0, static_cast<double>(planner.width - planner.nextX)));
  BandRect rect{planner.nextX, strip * stripRows, columns, rows};
  planner.nextX += columns;
  if (planner.nextX == planner.width) {
    planner.nextX = 0;
    advanceStrips(planner, 1);
  }
  return rect;
}

double bandsExpectedMs(const BandPlanner &planner, const BandRect &rect) {
  double ms = 0.0;
  for (int s = rect.y / stripRows; s * stripRows < rect.y + rect.height; ++s)
    ms += stripCost(planner, s) * rect.width * rowsOf(planner, s);
  return ms;
}

void bandsMeasured(BandPlanner &planner, const BandRect &rect, unsigned frame, double ms) {
  if (!planner.warm) {
    planner.warm = true;
    return;
  }
  long pixels = long{rect.width} * rect.height;
  if (pixels <= 0 || ms <= 0.0) return;
  double cost = ms / static_cast<double>(pixels);
  planner.worstCost = std::max(planner.worstCost, cost);
  // The pieces of one strip in one frame: the strip costs what its costliest
  // piece did.
  bool piece = rect.width < planner.width;
  for (int s = rect.y / stripRows; s * stripRows < rect.y + rect.height; ++s) {
    auto k = static_cast<std::size_t>(s);
    bool again = piece && planner.stripFrame[k] == frame;
    planner.stripCost[k] = again ? std::max(planner.stripCost[k], cost) : cost;
    planner.stripFrame[k] = frame;
  }
}

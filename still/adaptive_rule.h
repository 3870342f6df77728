// When a pixel of an adaptive render stops. Every 8th frame of the run is held
// out of the mean; after each such frame, from a minimum on, a running pixel
// whose held-out samples show that its mean is within the asked level stops
// for good. The decision never reads the samples in the mean, so the mean
// stays unbiased, and it falls at fixed frames of the run, from state that a
// resumed run holds bit for bit, so a resumed run decides as the
// uninterrupted one did.
#pragma once

#include "picture.h"

#include <cstdint>
#include <string>
#include <vector>

struct AdaptiveRule {
  double level = 0.0;     // a pixel stops at this standard error, in 8-bit levels
  unsigned minFrames = 0; // frames of the run before any pixel may stop
  unsigned every = 8;     // every Nth frame is held out, and ends with a decision
  unsigned pool = 2;      // the variance: at least the largest within this many pixels
  double margin = 0.9;    // a pixel stops at margin x level, so that the picture's
                          // figure, measured from other samples, lands within level
  double floor = 0.5;     // no traced pixel stops before this share of them would
};

// The rule for level L with the chosen minimum and neighbour rule.
AdaptiveRule adaptiveRule(double level);

// "level=2 min=256 every=8 pool=2 margin=0.9", as partials record it, and
// back; false for a text that is not one.
std::string ruleText(const AdaptiveRule &rule);
bool parseRuleText(const std::string &text, AdaptiveRule &rule);

// Whether the kth frame of the run (from 1) is held out of the mean.
inline bool heldFrame(const AdaptiveRule &rule, unsigned k) {
  return k % rule.every == 0;
}

// The pixels that trace the next frame after k frames of the run, as x +
// (y << 16) in scanline order: those that traced every frame so far, less
// those the rule stops after frame k.
std::vector<std::uint32_t> runningPixels(const Picture &picture, const AdaptiveRule &rule,
                                         unsigned k);

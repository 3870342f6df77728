// The stopping rule of an adaptive render as its partial files record it:
// the figures that decide when a pixel stops, and their text. The files'
// checks read it; exegfx-still chooses the figures and applies them.
#pragma once

#include <string>

struct AdaptiveRule {
  double level = 0.0;     // a pixel stops at this standard error, in 8-bit levels
  unsigned minFrames = 0; // frames of the run before any pixel may stop
  unsigned every = 8;     // every Nth frame is held out, and ends with a decision
  unsigned pool = 2;      // the variance: at least the largest within this many pixels
  double margin = 0.9;    // a pixel stops at margin x level, so that the picture's
                          // figure, measured from other samples, lands within level
  double floor = 0.5;     // no traced pixel stops before this share of them would
};

// "level=2 min=256 every=8 pool=2 margin=0.9", as partials record it, and
// back; false for a text that is not one.
std::string ruleText(const AdaptiveRule &rule);
bool parseRuleText(const std::string &text, AdaptiveRule &rule);

// Whether the kth frame of the run (from 1) is held out of the mean.
inline bool heldFrame(const AdaptiveRule &rule, unsigned k) {
  return k % rule.every == 0;
}

// The counts an adaptive partial may hold. A render of K frames under a
// stopping rule leaves each pixel stopped at a decision frame (every `every`th
// frame of the run, from the minimum on) or still running after all K, with
// one sample in every `every` held out: so a pixel's samples t and held-out
// samples are a pair that only the rule and K decide. A merge adds such pairs
// (and a uniform part's frames), which keeps weaker bounds: at least the
// frames every pixel runs before any may stop, at most the frames held, and
// no more held out than one in every `every`.
#pragma once

#include "stopping_rule.h"
#include "frame_ranges.h"

#include <string>
#include <vector>

// The stopping rules of a partial's exegfx.adaptive: one, or a merge's
// several joined by "; ", each parsed and in range. False with a message.
bool parseRules(const std::string &text, std::vector<AdaptiveRule> &rules, std::string &error);

// Whether every pixel's counts in adaptive (8 floats per pixel, as
// partial_file.h lays them out, rows from the bottom up) are a pair the
// rules can leave after frames: exactly, for the file of one render (runs
// 1), else within the bounds a merge keeps. Counts are whole, held-out sums
// finite and not negative. False with a message that names the first
// pixel (counted from the top left, as viewers show it) and the rule.
bool checkSchedule(const std::vector<float> &adaptive, unsigned width, unsigned height,
                   const FrameRanges &frames, const std::string &ruleText, unsigned runs,
                   std::string &error);

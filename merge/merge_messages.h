// What exegfx-merge's messages share: the program's prefix, and frames and
// lists short enough to read.
#pragma once

#include "frame_ranges.h"

#include <string>
#include <vector>

// "exegfx-merge: message" on standard error; 1, the exit status of a refusal.
int fail(const std::string &message);

// A part's frames for a message: the first few ranges of a long list.
std::string shortRanges(const FrameRanges &frames);

// "a; b; c", quoted.
std::string joined(const std::vector<std::string> &values);

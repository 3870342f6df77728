// What exegfx-merge checks before it adds a pixel: that the outputs can be
// written, one writer each, and that the parts' headers describe frames of
// one picture that add up.
#pragma once

#include "merge_options.h"

#include <string>

// The outputs: formats, paths, maps, one writer each. False with a message.
bool checkOutputs(MergeOptions &o, std::string &error);

// The parts' headers, checked against each other before any pixel is read.
bool checkParts(std::vector<Part> &parts, std::string &error);

// The frames of all parts, against --expect-frames; notes gaps and mixed
// renderers. False with a message.
bool checkFrames(const MergeOptions &o, FrameRanges &all, std::string &error);

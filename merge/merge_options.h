// exegfx-merge's command line: the parts, the outputs and what the merge is
// asked to check.
#pragma once

#include "frame_ranges.h"
#include "output_path.h"
#include "partial_file.h"

#include <string>
#include <vector>

// A part named on the command line, and its header once read.
struct Part {
  std::string path;
  PartialInfo info;
};

// What the command line asks for.
struct MergeOptions {
  std::string output, expect, noiseMap, countMap;
  std::vector<Part> parts;
  bool info = false, header = false, expectGiven = false, force = false;
  FrameRanges expected; // from --expect-frames
  ImageFormat format = ImageFormat::Png;
};

// Parses argv; -1 to go on, else the exit status (--help, --version, or a
// bad option, named on standard error).
int parseMergeOptions(int argc, char **argv, MergeOptions &o);

// --expect-frames into o.expected: FIRST-LAST, also for a single frame
// ("5-5"), within the frames exegfx-still renders. False with a message.
bool parseExpected(MergeOptions &o, std::string &error);

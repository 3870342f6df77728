// Partial renders in OpenEXR: the exact 32-bit float running sum of a set of
// frames, with the mean beside it so any EXR viewer shows the picture. Sums of
// disjoint frame sets add up to the sum of their union, because every sample
// depends only on its pixel and its frame number.
//
// Channels R, G, B: the mean; sum.R, sum.G, sum.B: the running sum; all 32-bit
// float, rows from the top down as EXR viewers expect. Header attributes:
//   exegfx.frames      string   the frames held, "1-64,129-192"
//   exegfx.frameCount  int      their number
//   exegfx.size        v2i      width, height of the picture
//   exegfx.scene       string   identity of the scene shader ("sha256:...")
//   exegfx.version     string   the program that wrote the file
//   exegfx.renderers   string[] the GL implementations the frames came from
//   exegfx.passes      string[] the scene passes that rendered them
//   exegfx.devices     string[] the devices they ran on ("EGL device 0, GPU-...");
//                               absent in files of older versions
#pragma once

#include "frame_ranges.h"

#include <string>
#include <vector>

struct PartialInfo {
  unsigned width = 0, height = 0;
  FrameRanges frames;
  std::string scene, version;
  std::vector<std::string> renderers, passes, devices;
};

// Writes sum and mean (width x height x 3 floats each, rows from the bottom
// up, as the GL reads them back) whole or not at all. False with a message.
bool writePartial(const std::string &path, const PartialInfo &info, const float *sum,
                  const float *mean, std::string &error);

// Reads and checks the header: an OpenEXR file with the channels and
// attributes above, consistent with each other. False with a message that
// names the file and the problem.
bool readPartialInfo(const std::string &path, PartialInfo &info, std::string &error);

// readPartialInfo, then the sum (rows from the bottom up). Refuses a file with
// missing pixel data (a truncated or unfinished file) or non-finite sums.
bool readPartial(const std::string &path, PartialInfo &info, std::vector<float> &sum,
                 std::string &error);

// Adds the values of b that a does not hold yet, keeping a's order.
void addUnique(std::vector<std::string> &a, const std::vector<std::string> &b);

// exegfx-still's command line and the checks on it that need no GL.
#pragma once

#include "still_core.h"

#include <string>

enum class ImageFormat { Png, Pfm, Exr };

struct StillOptions {
  unsigned width = 1920, height = 1080;
  unsigned frames = 64;
  unsigned firstFrame = 1;      // frame numbers firstFrame .. firstFrame + frames - 1
  bool resume = false;          // continue the output file if it holds a prefix
  double checkpointEvery = 0.0; // seconds between writes of the output; 0: at the end only
  ScenePass pass = ScenePass::Auto;
  int gpu = -1;         // --gpu N; -1: the scheduler's GPU (CUDA_VISIBLE_DEVICES), else the first
  double seconds = 0.0; // 0: no time limit
  std::string output = "exegfx.png";
  ImageFormat format = ImageFormat::Png;
};

enum class StillCommand { Render, Help, Version, ListGpus, Error };

// The frame count is a 32-bit float on the GPU; beyond this it stops counting.
inline constexpr unsigned maxStillFrames = 16777216;

// Parses argv[1..argc-1] into options. On Error, error names the problem.
// --help, --version and --list-gpus win whatever else the command line holds.
StillCommand parseStillOptions(int argc, const char *const *argv, StillOptions &options,
                               std::string &error);

// The format the output path's extension names (.png, .pfm or .exr, any case);
// false with a message for anything else.
bool imageFormatFor(const std::string &path, ImageFormat &format, std::string &error);

// False with a message when the output cannot be written: its directory does
// not exist, is not a directory or is not writable, or the path is a directory.
bool checkOutputPath(const std::string &path, std::string &error);

// The usage text of --help.
const char *stillUsage();

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
  bool check = false;           // --check: validate the command line and the output path only
  double checkpointEvery = 0.0; // seconds between writes of the output; 0: at the end only
  ScenePass pass = ScenePass::Auto;
  int gpu = -1;         // --gpu N; -1: the scheduler's GPU (CUDA_VISIBLE_DEVICES), else the first
  double seconds = 0.0; // 0: no time limit
  double untilNoise = 0.0; // stop at this noise_p95 (8-bit levels); 0: render every frame
  bool adaptive = false;   // --adaptive: each pixel stops on its own at untilNoise
  std::string output = "exegfx.png";
  ImageFormat format = ImageFormat::Png;
  // A GPU that CUDA_VISIBLE_DEVICES names but EGL cannot open: the software
  // renderer rather than a refusal.
  bool allowSoftware = false;
};

enum class StillCommand { Render, Help, Version, ListGpus, Error };

// The highest frame number rendered (2^30). Past frame 2048 the scene draws
// its random numbers from an integer hash of the frame number, exact for
// every 32-bit number; 2^30 keeps frame counts within a partial file's 32-bit
// signed count.
inline constexpr unsigned maxStillFrames = 1u << 30;
// The most frames one run adds up (2^17). Its running sum is 32-bit float on
// the GPU, where each sample is rounded to the sum's precision: a sum of
// 2^17 frames keeps samples down to about 1e-4 of its mean. More frames are
// split into runs, which the merge adds in double precision.
inline constexpr unsigned maxRunFrames = 131072;

// Parses argv[1..argc-1] into options. On Error, error names the problem.
// --help, --version and --list-gpus win whatever else the command line holds.
StillCommand parseStillOptions(int argc, const char *const *argv, StillOptions &options,
                               std::string &error);

// The format the output path's extension names (.png, .pfm or .exr, any case);
// false with a message for anything else.
bool imageFormatFor(const std::string &path, ImageFormat &format, std::string &error);

// False with a message when the output cannot be written, before any work:
// its directory does not exist, is not a directory or takes no new file; the
// name is too long for the temporary file written beside it; the path is a
// directory, a FIFO or another non-regular file, or a file of another user
// in a sticky folder. A symbolic link is judged by the file it points to.
bool checkOutputPath(const std::string &path, std::string &error);

// The usage text of --help.
const char *stillUsage();

// exegfx-still's command line and the checks on it that need no GL.
#pragma once

#include "frame_limits.h"
#include "output_path.h"
#include "still_core.h"

#include <string>

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

// Parses argv[1..argc-1] into options. On Error, error names the problem.
// --help, --version and --list-gpus win whatever else the command line holds.
StillCommand parseStillOptions(int argc, const char *const *argv, StillOptions &options,
                               std::string &error);

// The usage text of --help.
const char *stillUsage();

// What renders the frames of an exegfx-still run: the uniform passes, which
// give every pixel a sample each frame, or the adaptive pass, which gives one
// only to the pixels still running. The run's loop, its checkpoints and its
// files see both alike, through the picture they hold.
#pragma once

#include "adaptive_rule.h"
#include "picture.h"

#include <memory>

class FrameSource {
public:
  virtual ~FrameSource() = default;
  // Renders the next frame of the run; false where a build with the run
  // limits enforced allows no more.
  virtual bool frame() = 0;
  // Frames of the run held, a resumed file's included.
  virtual unsigned frames() const = 0;
  // Whether any pixel is left to trace (adaptive renders stop every pixel).
  virtual bool tracing() const { return true; }
  // Samples traced by this process, for the rates.
  virtual double samples() const = 0;
  // Whether the picture has a sum of squares covering every frame held.
  virtual bool hasSquares() const = 0;
  // The picture now (waits for the GPU).
  virtual Picture read() = 0;
  // Waits for the GPU to finish the frames asked for.
  virtual void finish() = 0;
};

// On an open width x height context (stillOpen), from firstFrame on,
// continuing resumed (an empty picture for a fresh start).
std::unique_ptr<FrameSource> uniformSource(unsigned width, unsigned height, unsigned firstFrame,
                                           const Picture &resumed);
// On an open adaptive context (stillOpenAdaptive), with the rule.
std::unique_ptr<FrameSource> adaptiveSource(unsigned width, unsigned height, unsigned firstFrame,
                                            const Picture &resumed, const AdaptiveRule &rule);

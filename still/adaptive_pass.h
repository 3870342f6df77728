// The GPU side of an adaptive render: each frame traces only the pixels still
// running, from a list, and adds each sample to one of two sums per pixel:
// the mean's, or on decision frames a separate one that only the stopping
// rule reads (a pixel's stop then never depends on the samples in its mean,
// which keeps the mean unbiased). Every sum holds the sample count in alpha.
#pragma once

#include <cstdint>
#include <vector>

// The four textures, each width x height x RGBA floats, rows from the bottom.
enum class AdaptiveSum { Mean, MeanSquares, Held, HeldSquares };

// Builds the pass's program (its compiler report on standard output, as the
// scene's) and textures on the open context. False, with the log printed,
// when the program does not build.
bool adaptiveOpen(unsigned width, unsigned height);
// Sets one of the sums (null: zero).
void adaptiveLoad(AdaptiveSum which, const float *rgba);
// The pixels the next frames trace: x + (y << 16), in scanline order.
void adaptiveSetRunning(const std::vector<std::uint32_t> &pixels);
// Traces frame number frame at every running pixel, into the held-out sums
// when held, else the mean's. False, tracing nothing, where a build with the
// run limits enforced allows no such frame.
bool adaptiveFrame(unsigned frame, bool held);
// Copies one of the sums into rgba.
void adaptiveRead(AdaptiveSum which, float *rgba);

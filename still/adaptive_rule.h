// When a pixel of an adaptive render stops. Every 8th frame of the run is held
// out of the mean; after each such frame, from a minimum on, a running pixel
// whose held-out samples show that its mean is within the asked level stops
// for good. The decision never reads the samples in the mean, so the mean
// stays unbiased, and it falls at fixed frames of the run, from state that a
// resumed run holds bit for bit, so a resumed run decides as the
// uninterrupted one did.
#pragma once

#include "picture.h"
#include "stopping_rule.h"

#include <cstdint>
#include <vector>

// The rule for level L with the chosen minimum and neighbour rule.
AdaptiveRule adaptiveRule(double level);

// The pixels that trace the next frame after k frames of the run, as x +
// (y << 16) in scanline order: those that traced every frame so far, less
// those the rule stops after frame k.
std::vector<std::uint32_t> runningPixels(const Picture &picture, const AdaptiveRule &rule,
                                         unsigned k);

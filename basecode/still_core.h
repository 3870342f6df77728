// Headless rendering core: the scene through the same accumulation code as the
// window, without a window. Used by exegfx-still, the tests and the benchmarks.
#pragma once

#include <cstddef>

// Creates the headless GL context (width x height) and builds the scene and
// display programs and the accumulation targets. The shader compiler's report
// goes to standard output as in exegfx. False, with a message on standard
// error, when no usable EGL device or no GL 4.6 compatibility context exists.
bool stillOpen(unsigned width, unsigned height);
// The same with other shader texts (tests).
bool stillOpenWith(const char *sceneSource, const char *displaySource, unsigned width,
                   unsigned height);
// One frame, exactly as exegfx's main loop runs it: renderFrame and a swap.
void stillRenderFrame();
// Frames accumulated so far.
unsigned stillFrames();
// Waits for the GPU and copies the running mean (sum / frames, red, green and
// blue) into rgb: width x height x 3 floats, rows from the bottom up. With no
// frame rendered the mean is zero.
void stillReadMean(float *rgb);
// Releases the context. Safe to call when stillOpen failed.
void stillClose();

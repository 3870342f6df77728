// Headless rendering core: the scene through the same accumulation code as the
// window, without a window. Used by exegfx-still, the tests and the benchmarks.
#pragma once

#include <cstddef>

// Creates the headless GL context (width x height) and builds the programs of
// the scene pass (below) and the accumulation targets. The shader compiler's report
// goes to standard output as in exegfx. False, with a message on standard
// error, when no usable EGL device or no GL 4.6 compatibility context exists,
// or when the GL has no memory for the accumulation textures.
//
// pass picks the scene pass that adds each frame's sample: the window's
// fragment pass, or the same scene built as a compute shader, one dispatch over
// the picture (GPUs with few raster units run it on the whole chip); on llvmpipe
// both give bit-identical sums. The compute pass builds only its own program.
// Auto takes compute where the context offers it
// and its program builds, else fragment with a note on standard error; Compute
// asked for and not available is a message on standard error and false.
enum class ScenePass { Fragment, Compute, Auto };
bool stillOpen(unsigned width, unsigned height, ScenePass pass = ScenePass::Fragment);
// The same with other shader texts (tests); null takes the built-in one.
// squares false leaves out the sum of squares and its pass (tests compare the
// sums with and without it).
bool stillOpenWith(const char *sceneSource, const char *displaySource, unsigned width,
                   unsigned height, ScenePass pass = ScenePass::Fragment,
                   const char *computeSource = nullptr, bool squares = true);
// The context of an adaptive render: the adaptive pass alone (adaptive_pass.h
// draws its frames and holds its sums). False as stillOpen, and where the
// context has no compute shaders.
bool stillOpenAdaptive(unsigned width, unsigned height);
// The pass the open context renders with (never Auto), and its name:
// "fragment" or "compute".
ScenePass stillPass();
const char *stillPassName();
// One frame. Fragment pass: exactly as exegfx's main loop runs it, renderFrame
// and a swap. Compute pass: renderComputeFrame, which draws no display pass.
// Then the square of the frame's sample is added to the sum of squares.
void stillRenderFrame();
// Frames the running sum holds.
unsigned stillFrames();
// The frame number the next frame renders (1 for a new run).
unsigned stillNextFrame();
// Continues with frame number nextFrame, from a running sum that already holds
// heldFrames frames (width x height x 3 floats, rows from the bottom up; null
// for none) and their sum of squares (the same layout; null for a sum whose
// squares are unknown, as in older files). Call before the first frame.
void stillStartAt(unsigned nextFrame, const float *sumRgb, unsigned heldFrames,
                  const float *sumSquaresRgb = nullptr);
// Whether the sum of squares covers every frame held: false when the pass was
// left out or the starting sum came without its squares.
bool stillHasSquares();
// The sum of squares of every pixel's samples (width x height x 3 floats, rows
// from the bottom up). Meaningful only where stillHasSquares.
void stillReadSquares(float *rgb);
// Waits for the GPU and copies the running mean (sum / frames held, red, green
// and blue) into rgb: width x height x 3 floats, rows from the bottom up. With
// no frame held the mean is zero.
void stillReadMean(float *rgb);
// The same for the running sum itself.
void stillReadSum(float *rgb);
// Releases the context. Safe to call when stillOpen failed.
void stillClose();

// Opens a throwaway 1 x 1 context and reports the largest width and height the
// GL implementation renders into (the smaller of its texture and viewport
// limits), so a size can be refused before any real work. False, with a message
// on standard error, when no usable EGL device or GL 4.6 context exists.
bool stillProbeMaxSize(unsigned *maxSize);
// Blocks until the GPU has finished every frame asked for so far.
void stillFinish();
// "renderer, OpenGL version" of the open context, for logs and benchmarks.
const char *stillGlDescription();
// The GL renderer string of the open context alone, as partial files record it.
const char *stillGlRenderer();

// The two running-sum textures and the passes of every frame.
#pragma once

#if defined(EXEGFX_GLES)
#include <GLES3/gl3.h>
#else
#include <GL/gl.h>
#endif

#include <cstdint>

// Builds the scene and display programs from the built-in texts and creates
// both accumulation textures (cleared to zero) and the framebuffer.
void initAccumulation(unsigned width, unsigned height);
// The same with other shader texts (tests, tools); null takes the built-in one.
void initAccumulationWith(const char *sceneSource, const char *displaySource, unsigned width,
                          unsigned height);
// One frame: the scene pass adds a sample to the running sum, the display pass
// draws sum / frames into the window's back buffer.
void renderFrame(float elapsedSeconds);
// The same frame in pieces, for a host that keeps each submission short (the
// browser, where a GPU busy too long is reset): beginSceneFrame counts the
// frame (false where the limits stop it), each renderSceneRect adds the
// sample of a rectangle of the render size (x, y from the bottom left), and
// once the rectangles have covered the picture, endSceneFrame makes the new
// sum the current one. renderDisplayPass draws sum / frames, as renderFrame.
bool beginSceneFrame(float elapsedSeconds);
void renderSceneRect(int x, int y, int width, int height);
void endSceneFrame();
void renderDisplayPass();
// Continues a run (the still renderer's frame ranges and resumed files): the
// next frame is number framesBefore + 1, so its samples are those of that
// frame of one long run, and the next scene pass reads sumRgb (render width x
// height x 3 floats, rows from the bottom up) as the running sum so far. A
// null sumRgb keeps the current sum.
void startAccumulationAt(std::uint32_t framesBefore, const float *sumRgb);

// Read-only views of the state, for the still renderer and the tests.
struct AccumulationView {
  GLuint programs[2];
  GLuint textures[2];
  GLuint framebuffer;
  int pingPong;              // the texture the next scene pass writes
  float frameCount;          // frames accumulated so far
  std::uint32_t frameNumber; // the same, exact at every frame number
};
AccumulationView accumulationView();

// The scene pass as a compute shader, for the headless renderer (the window
// keeps the fragment passes): instead of initAccumulation, builds only the
// built-in compute text (null) or another one, then the same accumulation
// textures. Call on a context that offers compute shaders. False, with
// nothing created, when the program did not link (its log has been printed).
bool initComputeAccumulation(const char *computeSource, unsigned width, unsigned height);
// One frame through the compute pass: the same guard, frame count, textures
// and ping-pong as renderFrame's scene pass, and no display pass.
void renderComputeFrame(float elapsedSeconds);

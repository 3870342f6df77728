#include "still_core.h"

#include "accumulation.h"
#include "adaptive_pass.h"
#include "glproc.h"
#include "platform.h"
#include "squares_pass.h"

#include <cstdio>
#include <cstring>
#include <vector>

static RenderWindow stillWindow;
// The running sum holds the frames it started with plus those rendered since.
static unsigned startCount;  // the frame number at the start
static unsigned startFrames; // frames the starting sum held

static ScenePass stillScenePass = ScenePass::Fragment;
static bool squaresOn;    // the pass runs after each frame
static bool squaresKnown; // ... and its sum covers every frame held

// Null when the current context runs compute shaders, else why not.
static const char *computeMissing() {
  GLint major = 0, minor = 0;
  glGetIntegerv(GL_MAJOR_VERSION, &major);
  glGetIntegerv(GL_MINOR_VERSION, &minor);
  if (major > 4 || (major == 4 && minor >= 3)) return nullptr;
  GLint count = 0;
  glGetIntegerv(GL_NUM_EXTENSIONS, &count);
  auto extension = glFn<PFNGLGETSTRINGIPROC>("glGetStringi");
  for (GLint k = 0; k < count; ++k) {
    auto name = reinterpret_cast<const char *>(extension(GL_EXTENSIONS, static_cast<GLuint>(k)));
    if (name && !std::strcmp(name, "GL_ARB_compute_shader")) return nullptr;
  }
  return "the GL context offers no compute shaders (OpenGL 4.3 or GL_ARB_compute_shader)";
}

// Builds the programs and targets of the pass asked for. Compute and Auto try
// the compute pass first and build nothing else when it works; Auto falls back
// to the fragment passes. False only when Compute was asked for and cannot be
// had.
static bool initPasses(const char *sceneSource, const char *displaySource, unsigned width,
                       unsigned height, ScenePass pass, const char *computeSource) {
  stillScenePass = ScenePass::Fragment;
  if (pass != ScenePass::Fragment) {
    const char *missing = computeMissing();
    if (!missing) {
      if (initComputeAccumulation(computeSource, width, height)) {
        stillScenePass = ScenePass::Compute;
        return true;
      }
      missing = "its program did not build (the log is above)";
    }
    std::fflush(stdout);
    if (pass == ScenePass::Compute) {
      std::fprintf(stderr, "The compute scene pass is not available: %s.\n", missing);
      return false;
    }
    std::fprintf(stderr,
                 "Note: the compute scene pass is not available (%s); using the fragment "
                 "pass.\n",
                 missing);
  }
  initAccumulationWith(sceneSource, displaySource, width, height);
  return true;
}

// The headless window and its context; false, with it released, when none.
static bool openWindow(unsigned width, unsigned height) {
  stillWindow = RenderWindow{};
  stillWindow.width = width;
  stillWindow.height = height;
  if (!createRenderWindow(stillWindow)) {
    destroyRenderWindow(stillWindow);
    return false;
  }
  glFatalHandler = [] { destroyRenderWindow(stillWindow); };
  startCount = 0;
  startFrames = 0;
  return true;
}

// A size within the GL limits can still be too big for the memory at hand;
// rendering into textures that were never allocated would give a black
// picture that looks like success. False, with a message, when so.
static bool texturesAllocated(unsigned width, unsigned height, const char *what) {
  bool outOfMemory = false;
  for (GLenum error; (error = glGetError()) != GL_NO_ERROR;)
    outOfMemory = outOfMemory || error == GL_OUT_OF_MEMORY;
  if (outOfMemory)
    std::fprintf(stderr, "The GL implementation has no memory for %u x %u %s.\n", width, height,
                 what);
  return !outOfMemory;
}

bool stillOpenWith(const char *sceneSource, const char *displaySource, unsigned width,
                   unsigned height, ScenePass pass, const char *computeSource, bool squares) {
  if (!openWindow(width, height)) return false;
  if (!initPasses(sceneSource, displaySource, width, height, pass, computeSource)) return false;
  squaresOn = squaresKnown = squares;
  if (squares) squaresOpen(width, height);
  return texturesAllocated(width, height, "accumulation textures");
}

bool stillOpenAdaptive(unsigned width, unsigned height) {
  if (!openWindow(width, height)) return false;
  squaresOn = squaresKnown = false;
  if (const char *missing = computeMissing()) {
    std::fprintf(stderr, "An adaptive render needs compute shaders: %s.\n", missing);
    return false;
  }
  if (!adaptiveOpen(width, height)) return false;
  stillScenePass = ScenePass::Compute;
  return texturesAllocated(width, height, "adaptive sums");
}

bool stillOpen(unsigned width, unsigned height, ScenePass pass) {
  return stillOpenWith(nullptr, nullptr, width, height, pass);
}

ScenePass stillPass() {
  return stillScenePass;
}

const char *stillPassName() {
  return stillScenePass == ScenePass::Compute ? "compute" : "fragment";
}

void stillRenderFrame() {
  unsigned before = accumulationView().frameNumber;
  if (stillScenePass == ScenePass::Compute) {
    renderComputeFrame(0.0f);
  } else {
    renderFrame(0.0f);
    swapWindow(stillWindow);
  }
  // A frame the limit guard refused added nothing, and neither may its square.
  AccumulationView view = accumulationView();
  if (squaresOn && view.frameNumber != before)
    squaresAdd(view.textures[1 - view.pingPong], view.textures[view.pingPong]);
}

unsigned stillFrames() {
  return startFrames + (accumulationView().frameNumber - startCount);
}

unsigned stillNextFrame() {
  return accumulationView().frameNumber + 1;
}

void stillStartAt(unsigned nextFrame, const float *sumRgb, unsigned held,
                  const float *sumSquaresRgb) {
  startCount = nextFrame - 1;
  startFrames = sumRgb ? held : 0;
  startAccumulationAt(startCount, sumRgb);
  if (!squaresOn) return;
  squaresKnown = startFrames == 0 || sumSquaresRgb;
  squaresStart(startFrames ? sumSquaresRgb : nullptr);
}

bool stillHasSquares() {
  return squaresOn && squaresKnown;
}

void stillReadSquares(float *rgb) {
  squaresRead(rgb);
}

void stillReadSum(float *rgb) {
  AccumulationView view = accumulationView();
  std::size_t pixels = std::size_t{stillWindow.width} * stillWindow.height;
  // The texture the next scene pass reads holds the running sum: the one the
  // last pass wrote, or the starting sum.
  std::vector<float> sum(pixels * 4);
  glBindTexture(GL_TEXTURE_2D, view.textures[1 - view.pingPong]);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, sum.data());
  for (std::size_t k = 0; k < pixels; ++k)
    for (int ch = 0; ch < 3; ++ch)
      rgb[k * 3 + ch] = sum[k * 4 + ch];
}

void stillReadMean(float *rgb) {
  std::size_t values = std::size_t{stillWindow.width} * stillWindow.height * 3;
  unsigned held = stillFrames();
  if (held == 0) {
    std::memset(rgb, 0, values * sizeof(float));
    return;
  }
  stillReadSum(rgb);
  float n = static_cast<float>(held);
  for (std::size_t k = 0; k < values; ++k)
    rgb[k] /= n;
}

void stillClose() {
  glFatalHandler = nullptr;
  destroyRenderWindow(stillWindow);
}

bool stillProbeMaxSize(unsigned *maxSize) {
  RenderWindow probe{};
  probe.width = probe.height = 1;
  bool ok = createRenderWindow(probe);
  if (ok) {
    GLint texture = 0, viewport[2] = {0, 0};
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewport);
    GLint limit = texture;
    for (GLint v : viewport)
      limit = v < limit ? v : limit;
    *maxSize = limit > 0 ? static_cast<unsigned>(limit) : 0u;
  }
  destroyRenderWindow(probe);
  return ok;
}

void stillFinish() {
  glFinish();
}

const char *stillGlRenderer() {
  auto renderer = reinterpret_cast<const char *>(glGetString(GL_RENDERER));
  return renderer ? renderer : "unknown renderer";
}

const char *stillGlDescription() {
  static char text[256];
  auto version = reinterpret_cast<const char *>(glGetString(GL_VERSION));
  std::snprintf(text, sizeof text, "%s, OpenGL %s", stillGlRenderer(),
                version ? version : "unknown");
  return text;
}

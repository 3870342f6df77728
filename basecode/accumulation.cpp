#include "accumulation.h"

#include <cstdint>

#include "config.h"
#include "console.h"
#include "glproc.h"
#include "shader_builder.h"
#include "shaders.h"

static GLuint shaderPrograms[2];
static GLuint accumTextures[2];
static GLuint accumFramebuffer;
static int pingPong;
static float frameCount;
// The frame number, exact where frameCount is not (past 2^24): the scene's
// random numbers take it.
static std::uint32_t frameNumber;
static float renderSize[2];

// Each source is stored beside a pointer to it; the builder takes the
// one-element list made of that pointer.
static const char *sceneSourceList[1];
static const char *displaySourceList[1];

void initAccumulation(unsigned width, unsigned height) {
  initAccumulationWith(sceneShaderSource, displayShaderSource, width, height);
}

static void resetAccumulation(unsigned width, unsigned height) {
  renderSize[0] = static_cast<float>(width);
  renderSize[1] = static_cast<float>(height);
  pingPong = 0;
  frameCount = 0.0f;
  frameNumber = 0;
}

// The two running-sum textures, cleared, and the scene pass's framebuffer.
static void createTargets(unsigned width, unsigned height) {
  glGenTextures(2, accumTextures);
  for (GLuint texture : accumTextures) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, static_cast<GLsizei>(width),
                 static_cast<GLsizei>(height), 0, GL_RGBA, GL_FLOAT, nullptr);
  }
  glFn<PFNGLACTIVETEXTUREPROC>("glActiveTexture")(GL_TEXTURE0);
  glFn<PFNGLGENFRAMEBUFFERSPROC>("glGenFramebuffers")(1, &accumFramebuffer);
  // GL leaves a texture made without data undefined; the running sum must
  // start at zero in both.
#if defined(EXEGFX_GLES)
  // ES has no glClearTexImage: each is cleared as the framebuffer's target.
  static const GLfloat zero[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  glBindFramebuffer(GL_FRAMEBUFFER, accumFramebuffer);
  for (GLuint texture : accumTextures) {
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    glClearBufferfv(GL_COLOR, 0, zero);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
#else
  for (GLuint texture : accumTextures)
    glFn<PFNGLCLEARTEXIMAGEPROC>("glClearTexImage")(texture, 0, GL_RGBA, GL_FLOAT, nullptr);
#endif
}

void initAccumulationWith(const char *sceneSource, const char *displaySource, unsigned width,
                          unsigned height) {
  resetAccumulation(width, height);
  sceneSourceList[0] = sceneSource ? sceneSource : sceneShaderSource;
  displaySourceList[0] = displaySource ? displaySource : displayShaderSource;
  shaderPrograms[0] = buildShaderProgram(sceneSourceList);
  shaderPrograms[1] = buildShaderProgram(displaySourceList);
  createTargets(width, height);
}

static void usePass(GLuint program) {
  glFn<PFNGLUSEPROGRAMPROC>("glUseProgram")(program);
  glFn<PFNGLUNIFORM3FPROC>("glUniform3f")(
      glFn<PFNGLGETUNIFORMLOCATIONPROC>("glGetUniformLocation")(program, "u"), renderSize[0],
      renderSize[1], frameCount);
  glFn<PFNGLUNIFORM1IPROC>("glUniform1i")(
      glFn<PFNGLGETUNIFORMLOCATIONPROC>("glGetUniformLocation")(program, "fr"), 0);
}

// The scene passes also take the whole frame number, which their random
// numbers hash past frame 2048.
static void useScenePass(GLuint program) {
  usePass(program);
  glFn<PFNGLUNIFORM1UIPROC>("glUniform1ui")(
      glFn<PFNGLGETUNIFORMLOCATIONPROC>("glGetUniformLocation")(program, "fk"), frameNumber);
}

// The full-screen rectangle through the program in use.
static void drawRect() {
#if defined(EXEGFX_GLES)
  glDrawArrays(GL_TRIANGLES, 0, 3); // the vertex stage's full-screen triangle
#else
  glRects(-1, -1, 1, 1);
#endif
}

// The limit guard: false when the limits are enforced and one is reached.
static bool frameAllowed(float elapsedSeconds) {
  return !RunConfig::limitsEnforced ||
         (elapsedSeconds < static_cast<float>(RunConfig::maxPrecalcTime) &&
          frameCount < static_cast<float>(RunConfig::maxFrames));
}

// Counts a frame. The float count follows the whole one, so past 2^24 it
// rounds instead of standing still while samples are still added.
static void countFrame() {
  frameNumber += 1;
  frameCount = static_cast<float>(frameNumber);
}

bool beginSceneFrame(float elapsedSeconds) {
  if (!frameAllowed(elapsedSeconds)) return false;
  countFrame();
  return true;
}

// The scene pass writes the texture the frame makes and reads the other one.
static void bindScenePass() {
  glFn<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer")(GL_FRAMEBUFFER, accumFramebuffer);
  glFn<PFNGLFRAMEBUFFERTEXTURE2DPROC>("glFramebufferTexture2D")(
      GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, accumTextures[pingPong], 0);
  glBindTexture(GL_TEXTURE_2D, accumTextures[1 - pingPong]);
}

void renderSceneRect(int x, int y, int width, int height) {
  bindScenePass();
  glEnable(GL_SCISSOR_TEST);
  glScissor(x, y, width, height);
  useScenePass(shaderPrograms[0]);
  drawRect();
  glDisable(GL_SCISSOR_TEST);
}

void endSceneFrame() {
  pingPong = 1 - pingPong;
}

void renderDisplayPass() {
  glFn<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer")(GL_FRAMEBUFFER, 0);
  glBindTexture(GL_TEXTURE_2D, accumTextures[1 - pingPong]);
  usePass(shaderPrograms[1]);
  drawRect();
}

void renderFrame(float elapsedSeconds) {
  if (!beginSceneFrame(elapsedSeconds)) return;
  bindScenePass();
  useScenePass(shaderPrograms[0]);
  drawRect();
  endSceneFrame();
  renderDisplayPass();
}

void startAccumulationAt(std::uint32_t framesBefore, const float *sumRgb) {
  frameNumber = framesBefore;
  frameCount = static_cast<float>(framesBefore);
  if (!sumRgb) return;
  glBindTexture(GL_TEXTURE_2D, accumTextures[1 - pingPong]);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(renderSize[0]),
                  static_cast<GLsizei>(renderSize[1]), GL_RGB, GL_FLOAT, sumRgb);
}

AccumulationView accumulationView() {
  return {{shaderPrograms[0], shaderPrograms[1]},
          {accumTextures[0], accumTextures[1]},
          accumFramebuffer,
          pingPong,
          frameCount,
          frameNumber};
}

#if !defined(EXEGFX_GLES) // WebGL 2 has no compute shaders
static GLuint sceneComputeProgram;
static GLint computeTile[3];
static const char *computeSourceList[1];

bool initComputeAccumulation(const char *computeSource, unsigned width, unsigned height) {
  resetAccumulation(width, height);
  computeSourceList[0] = computeSource ? computeSource : sceneComputeSource;
  sceneComputeProgram = buildComputeProgram(computeSourceList);
  if (!programLinked(sceneComputeProgram)) {
    static char info[4096];
    info[0] = 0;
    glFn<PFNGLGETPROGRAMINFOLOGPROC>("glGetProgramInfoLog")(sceneComputeProgram, sizeof info,
                                                            nullptr, info);
    consolePrint("SHADER LINK LOG (Prog %i):\n", static_cast<int>(sceneComputeProgram));
    consoleText(info);
    consoleText("\n");
    return false;
  }
  // The tile size is the shader's own, so the dispatch follows any change to it.
  glFn<PFNGLGETPROGRAMIVPROC>("glGetProgramiv")(sceneComputeProgram, GL_COMPUTE_WORK_GROUP_SIZE,
                                                computeTile);
  if (computeTile[0] <= 0 || computeTile[1] <= 0) return false;
  createTargets(width, height);
  return true;
}

void renderComputeFrame(float elapsedSeconds) {
  if (!frameAllowed(elapsedSeconds)) return;
  countFrame();
  glBindTexture(GL_TEXTURE_2D, accumTextures[1 - pingPong]);
  useScenePass(sceneComputeProgram);
  glFn<PFNGLBINDIMAGETEXTUREPROC>("glBindImageTexture")(0, accumTextures[pingPong], 0, GL_FALSE, 0,
                                                        GL_WRITE_ONLY, GL_RGBA32F);
  auto groups = [](float size, GLint tile) {
    return (static_cast<GLuint>(size) + static_cast<GLuint>(tile) - 1) / static_cast<GLuint>(tile);
  };
  glFn<PFNGLDISPATCHCOMPUTEPROC>("glDispatchCompute")(groups(renderSize[0], computeTile[0]),
                                                      groups(renderSize[1], computeTile[1]), 1);
  // Image stores are not ordered with later reads: the next frame fetches the
  // sum as a texture, the still renderer reads it back with glGetTexImage.
  glFn<PFNGLMEMORYBARRIERPROC>("glMemoryBarrier")(GL_TEXTURE_FETCH_BARRIER_BIT |
                                                  GL_TEXTURE_UPDATE_BARRIER_BIT);
  pingPong = 1 - pingPong;
}
#endif

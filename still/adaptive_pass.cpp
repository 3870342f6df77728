#include "adaptive_pass.h"

#include "config.h"
#include "glproc.h"
#include "shader_builder.h"
#include "shaders.h"

#include <cstdio>

static GLuint adaptiveProgram, sums[4], runningBuffer;
static GLint tileWidth;
static unsigned adaptiveSize[2];
static GLuint runningCount;
static const char *adaptiveSourceList[1] = {sceneAdaptiveSource};

bool adaptiveOpen(unsigned width, unsigned height) {
  adaptiveSize[0] = width;
  adaptiveSize[1] = height;
  adaptiveProgram = buildComputeProgram(adaptiveSourceList);
  if (!programLinked(adaptiveProgram)) {
    char log[4096] = "";
    glFn<PFNGLGETPROGRAMINFOLOGPROC>("glGetProgramInfoLog")(adaptiveProgram, sizeof log, nullptr,
                                                            log);
    std::fprintf(stderr, "The adaptive pass did not build: %s\n", log);
    return false;
  }
  GLint tile[3] = {};
  glFn<PFNGLGETPROGRAMIVPROC>("glGetProgramiv")(adaptiveProgram, GL_COMPUTE_WORK_GROUP_SIZE, tile);
  tileWidth = tile[0] > 0 ? tile[0] : 64;
  glGenTextures(4, sums);
  for (GLuint texture : sums) {
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, static_cast<GLsizei>(width),
                 static_cast<GLsizei>(height), 0, GL_RGBA, GL_FLOAT, nullptr);
  }
  for (AdaptiveSum s :
       {AdaptiveSum::Mean, AdaptiveSum::MeanSquares, AdaptiveSum::Held, AdaptiveSum::HeldSquares})
    adaptiveLoad(s, nullptr);
  glFn<PFNGLGENBUFFERSPROC>("glGenBuffers")(1, &runningBuffer);
  adaptiveSetRunning({});
  return true;
}

void adaptiveLoad(AdaptiveSum which, const float *rgba) {
  GLuint texture = sums[static_cast<int>(which)];
  glFn<PFNGLCLEARTEXIMAGEPROC>("glClearTexImage")(texture, 0, GL_RGBA, GL_FLOAT, nullptr);
  if (!rgba) return;
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(adaptiveSize[0]),
                  static_cast<GLsizei>(adaptiveSize[1]), GL_RGBA, GL_FLOAT, rgba);
}

void adaptiveSetRunning(const std::vector<std::uint32_t> &pixels) {
  runningCount = static_cast<GLuint>(pixels.size());
  auto bind = glFn<PFNGLBINDBUFFERPROC>("glBindBuffer");
  bind(GL_SHADER_STORAGE_BUFFER, runningBuffer);
  // Never empty: a zero-sized store is not a buffer GL binds.
  static const std::uint32_t none = 0;
  glFn<PFNGLBUFFERDATAPROC>("glBufferData")(
      GL_SHADER_STORAGE_BUFFER, static_cast<GLsizeiptr>(pixels.empty() ? 4 : pixels.size() * 4),
      pixels.empty() ? &none : pixels.data(), GL_STATIC_DRAW);
  bind(GL_SHADER_STORAGE_BUFFER, 0);
}

bool adaptiveFrame(unsigned frame, bool held) {
  // A build with the run limits enforced renders no frame past the window's cap.
  if (RunConfig::limitsEnforced && frame > static_cast<unsigned>(RunConfig::maxFrames))
    return false;
  if (runningCount == 0) return true;
  auto location = [](const char *name) {
    return glFn<PFNGLGETUNIFORMLOCATIONPROC>("glGetUniformLocation")(adaptiveProgram, name);
  };
  glFn<PFNGLUSEPROGRAMPROC>("glUseProgram")(adaptiveProgram);
  glFn<PFNGLUNIFORM3FPROC>("glUniform3f")(location("u"), static_cast<float>(adaptiveSize[0]),
                                          static_cast<float>(adaptiveSize[1]),
                                          static_cast<float>(frame));
  glFn<PFNGLUNIFORM1UIPROC>("glUniform1ui")(location("pn"), runningCount);
  glFn<PFNGLUNIFORM1UIPROC>("glUniform1ui")(location("fk"), frame);
  glFn<PFNGLBINDBUFFERBASEPROC>("glBindBufferBase")(GL_SHADER_STORAGE_BUFFER, 0, runningBuffer);
  auto image = glFn<PFNGLBINDIMAGETEXTUREPROC>("glBindImageTexture");
  image(0, sums[held ? 2 : 0], 0, GL_FALSE, 0, GL_READ_WRITE, GL_RGBA32F);
  image(1, sums[held ? 3 : 1], 0, GL_FALSE, 0, GL_READ_WRITE, GL_RGBA32F);
  GLuint groups = (runningCount + static_cast<GLuint>(tileWidth) - 1) / tileWidth;
  glFn<PFNGLDISPATCHCOMPUTEPROC>("glDispatchCompute")(groups, 1, 1);
  // The next frame loads what this one stored; read-backs follow it.
  glFn<PFNGLMEMORYBARRIERPROC>("glMemoryBarrier")(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT |
                                                  GL_TEXTURE_UPDATE_BARRIER_BIT);
  return true;
}

void adaptiveRead(AdaptiveSum which, float *rgba) {
  glBindTexture(GL_TEXTURE_2D, sums[static_cast<int>(which)]);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, rgba);
}

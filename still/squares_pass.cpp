#include "squares_pass.h"

#include "glproc.h"
#include "shader_builder.h"
#include "shaders.h"

#include <cstdio>

static GLuint squaresProgram, squaresTexture;
static unsigned squaresSize[2];
static const char *squaresSourceList[1] = {squaresShaderSource};

// Builds the pass's program without a report: the shader compiler's report on
// standard output is the scene's, as in the window. A program that does not
// build is a broken build, said on standard error.
static GLuint buildSquaresProgram() {
  GLuint program = glFn<PFNGLCREATEPROGRAMPROC>("glCreateProgram")();
  GLuint shader = glFn<PFNGLCREATESHADERPROC>("glCreateShader")(GL_COMPUTE_SHADER);
  glFn<PFNGLSHADERSOURCEPROC>("glShaderSource")(shader, 1, squaresSourceList, nullptr);
  glFn<PFNGLCOMPILESHADERPROC>("glCompileShader")(shader);
  glFn<PFNGLATTACHSHADERPROC>("glAttachShader")(program, shader);
  glFn<PFNGLLINKPROGRAMPROC>("glLinkProgram")(program);
  if (!programLinked(program)) {
    char log[4096] = "";
    glFn<PFNGLGETPROGRAMINFOLOGPROC>("glGetProgramInfoLog")(program, sizeof log, nullptr, log);
    std::fprintf(stderr, "The sum of squares' pass did not build: %s\n", log);
  }
  return program;
}

void squaresOpen(unsigned width, unsigned height) {
  squaresSize[0] = width;
  squaresSize[1] = height;
  squaresProgram = buildSquaresProgram();
  glGenTextures(1, &squaresTexture);
  glBindTexture(GL_TEXTURE_2D, squaresTexture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, static_cast<GLsizei>(width),
               static_cast<GLsizei>(height), 0, GL_RGBA, GL_FLOAT, nullptr);
  squaresStart(nullptr);
}

void squaresStart(const float *sumSquaresRgb) {
  glFn<PFNGLCLEARTEXIMAGEPROC>("glClearTexImage")(squaresTexture, 0, GL_RGBA, GL_FLOAT, nullptr);
  if (!sumSquaresRgb) return;
  glBindTexture(GL_TEXTURE_2D, squaresTexture);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(squaresSize[0]),
                  static_cast<GLsizei>(squaresSize[1]), GL_RGB, GL_FLOAT, sumSquaresRgb);
}

void squaresAdd(unsigned afterTexture, unsigned beforeTexture) {
  // Texture units by name, so the active unit the scene passes bind to stays 0.
  auto bindUnit = glFn<PFNGLBINDTEXTUREUNITPROC>("glBindTextureUnit");
  bindUnit(0, afterTexture);
  bindUnit(1, beforeTexture);
  glFn<PFNGLUSEPROGRAMPROC>("glUseProgram")(squaresProgram);
  glFn<PFNGLBINDIMAGETEXTUREPROC>("glBindImageTexture")(0, squaresTexture, 0, GL_FALSE, 0,
                                                        GL_READ_WRITE, GL_RGBA32F);
  glFn<PFNGLDISPATCHCOMPUTEPROC>("glDispatchCompute")((squaresSize[0] + 7) / 8,
                                                      (squaresSize[1] + 7) / 8, 1);
  // The next frame's pass loads what this one stored; read-backs follow it.
  glFn<PFNGLMEMORYBARRIERPROC>("glMemoryBarrier")(GL_SHADER_IMAGE_ACCESS_BARRIER_BIT |
                                                  GL_TEXTURE_UPDATE_BARRIER_BIT);
  bindUnit(1, 0);
}

void squaresRead(float *rgb) {
  // Read as RGB straight into the caller's layout: GL drops the unused alpha.
  glBindTexture(GL_TEXTURE_2D, squaresTexture);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_FLOAT, rgb);
}

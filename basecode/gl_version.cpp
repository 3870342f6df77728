#include "platform.h"

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>

#ifndef GL_SHADING_LANGUAGE_VERSION
#define GL_SHADING_LANGUAGE_VERSION 0x8B8C
#endif
#ifndef GL_CONTEXT_PROFILE_MASK
#define GL_CONTEXT_PROFILE_MASK 0x9126
#endif
#ifndef GL_CONTEXT_CORE_PROFILE_BIT
#define GL_CONTEXT_CORE_PROFILE_BIT 0x00000001
#endif

void setMesaOverrides() {
#if !defined(_WIN32)
  setenv("MESA_GL_VERSION_OVERRIDE", "4.6COMPAT", 0);
  setenv("MESA_GLSL_VERSION_OVERRIDE", "460", 0);
#endif
}

// "4.6 (Compatibility Profile) Mesa 22.3.6" and "4.60 NVIDIA" both start with
// major.minor.
static bool atLeast(const char *version, int major, int minor) {
  int a = 0, b = 0;
  if (!version || std::sscanf(version, "%d.%d", &a, &b) != 2) return false;
  if (b >= 10 && b % 10 == 0) b /= 10; // "4.60" is 4.6
  return a > major || (a == major && b >= minor);
}

bool checkGlVersion() {
  auto version = reinterpret_cast<const char *>(glGetString(GL_VERSION));
  auto glsl = reinterpret_cast<const char *>(glGetString(GL_SHADING_LANGUAGE_VERSION));
  GLint profile = 0;
  glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
  bool core = (profile & GL_CONTEXT_CORE_PROFILE_BIT) != 0;
  if (atLeast(version, 4, 6) && atLeast(glsl, 4, 6) && !core) return true;
  std::fflush(stdout);
  std::fprintf(stderr,
               "\nThe GL context is OpenGL %s, GLSL %s%s; exegfx needs an OpenGL 4.6 "
               "compatibility context with GLSL 4.60.\n",
               version ? version : "(none)", glsl ? glsl : "(none)", core ? ", core profile" : "");
  return false;
}

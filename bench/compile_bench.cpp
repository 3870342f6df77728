// Prints how long the GL implementation takes to build the scene and display
// programs:
// compile and link, then the first draw (drivers such as llvmpipe finish
// their code generation only when the program is first used).
// Usage: exegfx-bench-compile [runs]   (default 3; the median is printed)
#include "glproc.h"
#include "platform.h"
#include "shaders.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

static double msSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

int main(int argc, char **argv) {
  int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  if (runs < 1 || runs > 100) {
    std::fprintf(stderr, "usage: %s [runs 1..100]\n", argv[0]);
    return 2;
  }
  // Measure the compiler, not Mesa's on-disk shader cache.
  setenv("MESA_SHADER_CACHE_DISABLE", "true", 0);
  RenderWindow window{};
  window.width = window.height = 1;
  if (!createRenderWindow(window)) {
    destroyRenderWindow(window);
    return 1;
  }
  struct {
    const char *name;
    const char *text;
    std::size_t bytes;
  } programs[] = {{"scene", sceneShaderSource, sizeof sceneShaderSource - 1},
                  {"display", displayShaderSource, sizeof displayShaderSource - 1}};
  std::printf("%s\n", reinterpret_cast<const char *>(glGetString(GL_RENDERER)));
  for (auto &p : programs) {
    std::vector<double> build, firstDraw;
    for (int k = 0; k < runs; ++k) {
      auto start = std::chrono::steady_clock::now();
      GLuint program = glFn<PFNGLCREATEPROGRAMPROC>("glCreateProgram")();
      GLuint shader = glFn<PFNGLCREATESHADERPROC>("glCreateShader")(GL_FRAGMENT_SHADER);
      glFn<PFNGLSHADERSOURCEPROC>("glShaderSource")(shader, 1, &p.text, nullptr);
      glFn<PFNGLCOMPILESHADERPROC>("glCompileShader")(shader);
      glFn<PFNGLATTACHSHADERPROC>("glAttachShader")(program, shader);
      glFn<PFNGLLINKPROGRAMPROC>("glLinkProgram")(program);
      GLint linked = 0;
      glFn<PFNGLGETPROGRAMIVPROC>("glGetProgramiv")(program, GL_LINK_STATUS, &linked);
      build.push_back(msSince(start));
      if (!linked) {
        std::fprintf(stderr, "The %s program does not link.\n", p.name);
        destroyRenderWindow(window);
        return 1;
      }
      // One pixel (for the scene, in the letterbox: the program runs, the
      // path tracer does not).
      start = std::chrono::steady_clock::now();
      glFn<PFNGLUSEPROGRAMPROC>("glUseProgram")(program);
      glFn<PFNGLUNIFORM3FPROC>("glUniform3f")(
          glFn<PFNGLGETUNIFORMLOCATIONPROC>("glGetUniformLocation")(program, "u"), 1, 1, 1);
      glRects(-1, -1, 1, 1);
      glFinish();
      firstDraw.push_back(msSince(start));
      glFn<PFNGLDELETEPROGRAMPROC>("glDeleteProgram")(program);
      glFn<PFNGLDELETESHADERPROC>("glDeleteShader")(shader);
    }
    std::sort(build.begin(), build.end());
    std::sort(firstDraw.begin(), firstDraw.end());
    std::printf("%-7s program (%zu bytes of GLSL): compile+link %.1f ms, first draw %.1f ms "
                "(medians of %d)\n",
                p.name, p.bytes, build[build.size() / 2], firstDraw[firstDraw.size() / 2], runs);
  }
  destroyRenderWindow(window);
  return 0;
}

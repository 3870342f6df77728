#include "shader_builder.h"

#include "console.h"
#include "glproc.h"

#if defined(EXEGFX_GLES)
#include "shaders.h"

// ES links no program without a vertex stage: every pass gets the full-screen
// triangle's (made anew each time, so a context that was lost and restored
// holds no stale one).
static void attachFullscreenVertexStage(GLuint program) {
  const char *source[1] = {fullscreenVertexSource};
  GLuint vertex = glCreateShader(GL_VERTEX_SHADER);
  glShaderSource(vertex, 1, source, nullptr);
  glCompileShader(vertex);
  glAttachShader(program, vertex);
  glDeleteShader(vertex); // freed with the program
}
#endif

static GLuint buildProgram(GLenum stage, const char *const *source) {
  // A local buffer, as large as the biggest log we print; static so the stack
  // of the thread stays small.
  static char info[60000];
  GLuint program = glFn<PFNGLCREATEPROGRAMPROC>("glCreateProgram")();
  GLuint shader = glFn<PFNGLCREATESHADERPROC>("glCreateShader")(stage);
  glFn<PFNGLSHADERSOURCEPROC>("glShaderSource")(shader, 1, source, nullptr);
  glFn<PFNGLCOMPILESHADERPROC>("glCompileShader")(shader);
  glFn<PFNGLATTACHSHADERPROC>("glAttachShader")(program, shader);
  info[0] = 0;
#if defined(EXEGFX_GLES)
  attachFullscreenVertexStage(program);
  glFn<PFNGLGETSHADERINFOLOGPROC>("glGetShaderInfoLog")(shader, sizeof info, nullptr, info);
#else
  glFn<PFNGLGETINFOLOGARBPROC>("glGetInfoLogARB")(shader, sizeof info, nullptr, info);
#endif
  if (info[0]) {
    consolePrint("SHADER COMPILE LOG (Prog %i):\n", static_cast<int>(program));
    consoleText(info);
    consoleText("\n");
  } else {
    consolePrint("Shader prog %i: OK\n", static_cast<int>(program));
  }
  glFn<PFNGLLINKPROGRAMPROC>("glLinkProgram")(program);
  return program;
}

GLuint buildShaderProgram(const char *const *source) {
  return buildProgram(GL_FRAGMENT_SHADER, source);
}

#if !defined(EXEGFX_GLES)
GLuint buildComputeProgram(const char *const *source) {
  return buildProgram(GL_COMPUTE_SHADER, source);
}
#endif

bool programLinked(GLuint program) {
  GLint linked = GL_FALSE;
  glFn<PFNGLGETPROGRAMIVPROC>("glGetProgramiv")(program, GL_LINK_STATUS, &linked);
  return linked == GL_TRUE;
}

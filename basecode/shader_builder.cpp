#include "shader_builder.h"

#include "console.h"
#include "glproc.h"

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
  glFn<PFNGLGETINFOLOGARBPROC>("glGetInfoLogARB")(shader, sizeof info, nullptr, info);
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

GLuint buildComputeProgram(const char *const *source) {
  return buildProgram(GL_COMPUTE_SHADER, source);
}

bool programLinked(GLuint program) {
  GLint linked = GL_FALSE;
  glFn<PFNGLGETPROGRAMIVPROC>("glGetProgramiv")(program, GL_LINK_STATUS, &linked);
  return linked == GL_TRUE;
}

#pragma once

#include <GL/gl.h>

// Compiles one fragment shader text into a linked program (no vertex shader),
// printing the compiler's log or "Shader prog N: OK". Never fails: a shader
// that does not compile is reported through its log and still linked.
GLuint buildShaderProgram(const char *const *source);
// The same for one compute shader text. Whether it linked is for the caller
// to ask (programLinked): a compute pass that failed to build is not used.
GLuint buildComputeProgram(const char *const *source);
// GL_LINK_STATUS of the program.
bool programLinked(GLuint program);

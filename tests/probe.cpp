#include "probe.h"

#include "glproc.h"
#include "platform.h"
#include "shaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

namespace {

RenderWindow probeWindow{};
bool probeContextTried = false;
bool probeContextOk = false;
std::map<std::string, GLuint> programCache;

bool ensureContext() {
  if (!probeContextTried) {
    probeContextTried = true;
    probeWindow.width = probeWindow.height = 16;
    probeContextOk = createRenderWindow(probeWindow);
    if (!probeContextOk) destroyRenderWindow(probeWindow);
  }
  return probeContextOk;
}

// The scene library declares the scene's vec3 output c; a probe writes a vec4
// instead, so c becomes a plain global and po the only output.
std::string probeSource(const std::string &body) {
  std::string library = sceneLibrarySource;
  const std::string output = "out vec3 c;";
  std::size_t at = library.find(output);
  if (at == std::string::npos) return {};
  library.replace(at, output.size(), "vec3 c = vec3(0);");
  return library + "\nout vec4 po;\nuniform sampler2D probeIn;\n" + body +
         "\nvoid main()\n{\n    uv = gl_FragCoord.xy / u.xy;\n    fs = sk();\n"
         "    po = probe(texelFetch(probeIn, ivec2(gl_FragCoord.xy), 0));\n}\n";
}

std::string shaderLog(GLuint shader) {
  GLint length = 0;
  glFn<PFNGLGETSHADERIVPROC>("glGetShaderiv")(shader, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
  glFn<PFNGLGETSHADERINFOLOGPROC>("glGetShaderInfoLog")(shader, length, nullptr, log.data());
  return log;
}

std::string programLog(GLuint program) {
  GLint length = 0;
  glFn<PFNGLGETPROGRAMIVPROC>("glGetProgramiv")(program, GL_INFO_LOG_LENGTH, &length);
  std::string log(static_cast<std::size_t>(std::max(length, 1)), '\0');
  glFn<PFNGLGETPROGRAMINFOLOGPROC>("glGetProgramInfoLog")(program, length, nullptr, log.data());
  return log;
}

// 0 when the text does not build; the failure is reported once per text.
GLuint probeProgram(const std::string &body) {
  auto cached = programCache.find(body);
  if (cached != programCache.end()) return cached->second;
  GLuint program = 0;
  std::string source = probeSource(body);
  if (source.empty()) {
    ADD_FAILURE() << "The scene library no longer declares 'out vec3 c;'";
  } else {
    const char *text = source.c_str();
    GLuint shader = glFn<PFNGLCREATESHADERPROC>("glCreateShader")(GL_FRAGMENT_SHADER);
    glFn<PFNGLSHADERSOURCEPROC>("glShaderSource")(shader, 1, &text, nullptr);
    glFn<PFNGLCOMPILESHADERPROC>("glCompileShader")(shader);
    GLint ok = 0;
    glFn<PFNGLGETSHADERIVPROC>("glGetShaderiv")(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
      ADD_FAILURE() << "Probe shader does not compile:\n" << shaderLog(shader);
    } else {
      program = glFn<PFNGLCREATEPROGRAMPROC>("glCreateProgram")();
      glFn<PFNGLATTACHSHADERPROC>("glAttachShader")(program, shader);
      glFn<PFNGLLINKPROGRAMPROC>("glLinkProgram")(program);
      glFn<PFNGLGETPROGRAMIVPROC>("glGetProgramiv")(program, GL_LINK_STATUS, &ok);
      if (!ok) {
        ADD_FAILURE() << "Probe program does not link:\n" << programLog(program);
        program = 0;
      }
    }
    glFn<PFNGLDELETESHADERPROC>("glDeleteShader")(shader);
  }
  programCache[body] = program;
  return program;
}

GLuint floatTexture(unsigned width, unsigned height, const float *data) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, static_cast<GLsizei>(width),
               static_cast<GLsizei>(height), 0, GL_RGBA, GL_FLOAT, data);
  return texture;
}

// Runs the probe over a width x height grid of inputs (rows from the bottom).
std::vector<ProbeVec> runGrid(const std::string &body, unsigned width, unsigned height,
                              const std::vector<ProbeVec> &grid, float frame,
                              std::uint32_t frameNumber) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::vector<ProbeVec> out(grid.size(), ProbeVec{nan, nan, nan, nan});
  if (!ensureContext()) {
    ADD_FAILURE() << "No headless GL 4.6 context for the probes";
    return out;
  }
  GLuint program = probeProgram(body);
  if (!program) return out;

  GLuint input = floatTexture(width, height, grid.front().data());
  GLuint target = floatTexture(width, height, nullptr);
  GLuint framebuffer = 0;
  glFn<PFNGLGENFRAMEBUFFERSPROC>("glGenFramebuffers")(1, &framebuffer);
  glFn<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer")(GL_FRAMEBUFFER, framebuffer);
  glFn<PFNGLFRAMEBUFFERTEXTURE2DPROC>("glFramebufferTexture2D")(
      GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target, 0);
  glViewport(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height));

  glFn<PFNGLACTIVETEXTUREPROC>("glActiveTexture")(GL_TEXTURE1);
  glBindTexture(GL_TEXTURE_2D, input);
  glFn<PFNGLACTIVETEXTUREPROC>("glActiveTexture")(GL_TEXTURE0);
  glFn<PFNGLUSEPROGRAMPROC>("glUseProgram")(program);
  auto location = glFn<PFNGLGETUNIFORMLOCATIONPROC>("glGetUniformLocation");
  glFn<PFNGLUNIFORM1IPROC>("glUniform1i")(location(program, "probeIn"), 1);
  glFn<PFNGLUNIFORM3FPROC>("glUniform3f")(location(program, "u"), static_cast<float>(width),
                                          static_cast<float>(height), frame);
  glFn<PFNGLUNIFORM1UIPROC>("glUniform1ui")(location(program, "fk"), frameNumber);
  glRects(-1, -1, 1, 1);

  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height), GL_RGBA, GL_FLOAT,
               out.data()->data());
  glFn<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer")(GL_FRAMEBUFFER, 0);
  glFn<PFNGLDELETEFRAMEBUFFERSPROC>("glDeleteFramebuffers")(1, &framebuffer);
  glDeleteTextures(1, &input);
  glDeleteTextures(1, &target);
  GLenum error = glGetError();
  if (error != GL_NO_ERROR) ADD_FAILURE() << "GL error 0x" << std::hex << error << " in a probe";
  return out;
}

// The frame number a scene pass would pass beside a frame count: the count
// itself where it is a whole number.
std::uint32_t wholeFrame(float frame) {
  return frame >= 1.0f && frame == std::floor(frame) ? static_cast<std::uint32_t>(frame) : 0;
}

} // namespace

std::vector<ProbeVec> probeFrame(const std::string &glslBody, unsigned width, unsigned height,
                                 std::uint32_t frame) {
  std::vector<ProbeVec> grid(std::size_t{width} * height, ProbeVec{});
  return runGrid(glslBody, width, height, grid, static_cast<float>(frame), frame);
}

std::vector<ProbeVec> probeEval(const std::string &glslBody, const std::vector<ProbeVec> &inputs,
                                float frame) {
  if (inputs.empty()) return {};
  const unsigned width = static_cast<unsigned>(std::min<std::size_t>(inputs.size(), 64));
  const unsigned height = static_cast<unsigned>((inputs.size() + width - 1) / width);
  std::vector<ProbeVec> grid(std::size_t{width} * height, ProbeVec{});
  std::copy(inputs.begin(), inputs.end(), grid.begin());
  std::vector<ProbeVec> out = runGrid(glslBody, width, height, grid, frame, wholeFrame(frame));
  out.resize(inputs.size());
  return out;
}

std::vector<ProbeVec> probeAt(const std::string &glslBody, const std::vector<ProbePixel> &cases,
                              float frame) {
  if (cases.empty()) return {};
  unsigned width = 1, height = 1;
  for (const ProbePixel &k : cases) {
    width = std::max(width, k.x + 1);
    height = std::max(height, k.y + 1);
  }
  std::vector<ProbeVec> grid(std::size_t{width} * height, ProbeVec{});
  for (const ProbePixel &k : cases)
    grid[std::size_t{k.y} * width + k.x] = k.input;
  std::vector<ProbeVec> all = runGrid(glslBody, width, height, grid, frame, wholeFrame(frame));
  std::vector<ProbeVec> out;
  out.reserve(cases.size());
  for (const ProbePixel &k : cases)
    out.push_back(all[std::size_t{k.y} * width + k.x]);
  return out;
}

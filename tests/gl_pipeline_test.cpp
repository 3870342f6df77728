// The shader builder and the accumulation passes on headless GL, with small
// test shaders.
#include "accumulation.h"
#include "config.h"
#include "glproc.h"
#include "shader_builder.h"
#include "still_core.h"

#include "require_all.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

constexpr unsigned W = 8, H = 4;

// Frame 1 adds (.2, .4, 1), every later frame (.6, 0, .2); the two left columns
// always add zero.
const char *sceneShader = R"(#version 460
uniform vec3 u;
uniform sampler2D fr;
out vec3 c;
void main()
{
    vec3 s = u.z == 1. ? vec3(.2, .4, 1.) : vec3(.6, 0., .2);
    if (gl_FragCoord.x < 2.) s = vec3(0);
    c = texture(fr, gl_FragCoord.xy / u.xy).xyz + s;
}
)";

using Texels = std::vector<std::array<float, 4>>;

Texels readTexture(GLuint texture) {
  Texels texels(W * H);
  glBindTexture(GL_TEXTURE_2D, texture);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, texels.data());
  // Leave the unit as the frame passes expect it.
  glBindTexture(GL_TEXTURE_2D, accumulationView().textures[1 - accumulationView().pingPong]);
  return texels;
}

std::vector<std::array<unsigned char, 4>> readWindow() {
  std::vector<std::array<unsigned char, 4>> pixels(W * H);
  glFn<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer")(GL_FRAMEBUFFER, 0);
  glReadPixels(0, 0, W, H, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

void expectRgb(const std::array<float, 4> &t, float r, float g, float b, const char *what) {
  EXPECT_FLOAT_EQ(t[0], r) << what;
  EXPECT_FLOAT_EQ(t[1], g) << what;
  EXPECT_FLOAT_EQ(t[2], b) << what;
}

class GlPipeline : public testing::Test {
protected:
  static void SetUpTestSuite() {
    testing::internal::CaptureStdout();
    opened = stillOpenWith(sceneShader, nullptr, W, H);
    reports = testing::internal::GetCapturedStdout();
  }
  static void TearDownTestSuite() { stillClose(); }
  void SetUp() override { ASSERT_TRUE(opened) << "no headless GL 4.6 context"; }
  static bool opened;
  static std::string reports;
};
bool GlPipeline::opened = false;
std::string GlPipeline::reports;

// CTest runs each test in a process of its own, so the accumulation is fresh.
TEST_F(GlPipeline, AccumulatesThroughThePingPong) {
  // Both programs compiled cleanly, scene first.
  AccumulationView view = accumulationView();
  EXPECT_EQ(reports, "Shader prog " + std::to_string(view.programs[0]) + ": OK\nShader prog " +
                         std::to_string(view.programs[1]) + ": OK\n");

  // Both textures start at zero.
  for (GLuint texture : view.textures)
    for (auto &t : readTexture(texture))
      expectRgb(t, 0, 0, 0, "fresh texture");

  // Frame 1 writes texture 0 from texture 1 and shows the sample divided by 1.
  renderFrame(0.0f);
  view = accumulationView();
  EXPECT_EQ(view.pingPong, 1);
  EXPECT_EQ(view.frameCount, 1.0f);
  Texels t0 = readTexture(view.textures[0]), t1 = readTexture(view.textures[1]);
  auto window = readWindow();
  for (unsigned k = 0; k < W * H; ++k) {
    bool dark = k % W < 2;
    expectRgb(t0[k], dark ? 0 : .2f, dark ? 0 : .4f, dark ? 0 : 1.f, "frame 1 sum");
    expectRgb(t1[k], 0, 0, 0, "frame 1 input");
    std::array<unsigned char, 4> want = {0, 0, 0, 0};
    if (!dark) want = {51, 102, 255, 0};
    for (int ch = 0; ch < 3; ++ch)
      EXPECT_EQ(window[k][ch], want[ch]) << "frame 1 window " << k;
  }

  // Frame 2 writes texture 1 from texture 0 and shows the sum of two samples / 2.
  renderFrame(0.0f);
  view = accumulationView();
  EXPECT_EQ(view.pingPong, 0);
  EXPECT_EQ(view.frameCount, 2.0f);
  t1 = readTexture(view.textures[1]);
  window = readWindow();
  for (unsigned k = 0; k < W * H; ++k) {
    bool dark = k % W < 2;
    expectRgb(t1[k], dark ? 0 : .8f, dark ? 0 : .4f, dark ? 0 : 1.2f, "frame 2 sum");
    std::array<unsigned char, 3> want = {0, 0, 0};
    if (!dark) want = {102, 51, 153};
    for (int ch = 0; ch < 3; ++ch)
      EXPECT_EQ(window[k][ch], want[ch]) << "frame 2 window " << k;
  }

  // The still core reads the same mean.
  std::vector<float> mean(W * H * 3);
  stillReadMean(mean.data());
  EXPECT_FLOAT_EQ(mean[(W - 1) * 3 + 0], .4f);
  EXPECT_FLOAT_EQ(mean[(W - 1) * 3 + 1], .2f);
  EXPECT_FLOAT_EQ(mean[(W - 1) * 3 + 2], .6f);
  EXPECT_EQ(mean[0], 0.0f);
}

std::string build(const char *text, GLuint &program) {
  const char *list[1] = {text};
  testing::internal::CaptureStdout();
  program = buildShaderProgram(list);
  return testing::internal::GetCapturedStdout();
}

TEST_F(GlPipeline, CleanCompilePrintsOneOkLine) {
  GLuint program = 0;
  std::string out = build("#version 460\nout vec4 c;\nvoid main() { c = vec4(1); }\n", program);
  EXPECT_NE(program, 0u);
  EXPECT_EQ(out, "Shader prog " + std::to_string(program) + ": OK\n");
}

TEST_F(GlPipeline, FailedCompilePrintsItsLogVerbatimAndGoesOn) {
  GLuint program = 0;
  std::string out = build("#version 460\n#error 100% broken %s %n %%\nvoid main() {}\n", program);
  std::string heading = "SHADER COMPILE LOG (Prog " + std::to_string(program) + "):\n";
  ASSERT_EQ(out.substr(0, heading.size()), heading);
  EXPECT_NE(out.find("100% broken %s %n %%"), std::string::npos) << out;
  EXPECT_EQ(out.back(), '\n');
  // The next build still works.
  GLuint next = 0;
  std::string nextOut = build("#version 460\nout vec4 c;\nvoid main() { c = vec4(0); }\n", next);
  EXPECT_EQ(nextOut, "Shader prog " + std::to_string(next) + ": OK\n");
}

TEST_F(GlPipeline, WarningsArePrintedAndTheProgramStillWorks) {
  // A global set in main and read by another function: a warning, not an error.
  GLuint program = 0;
  std::string out = build(R"(#version 460
out vec4 c;
vec2 g;
float f() { return g.x; }
void main() { g = vec2(.2, .6); c = vec4(f(), .4, g.y, 1.); }
)",
                          program);
  if (out.rfind("Shader prog", 0) == 0)
    SKIP_UNLESS_REQUIRED("this GL implementation gives no warning here");
  EXPECT_EQ(out.rfind("SHADER COMPILE LOG (Prog " + std::to_string(program) + "):\n", 0), 0u)
      << out;
  GLuint fb = 0, tex = 0;
  glGenTextures(1, &tex);
  glBindTexture(GL_TEXTURE_2D, tex);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, 1, 1, 0, GL_RGBA, GL_FLOAT, nullptr);
  glFn<PFNGLGENFRAMEBUFFERSPROC>("glGenFramebuffers")(1, &fb);
  glFn<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer")(GL_FRAMEBUFFER, fb);
  glFn<PFNGLFRAMEBUFFERTEXTURE2DPROC>("glFramebufferTexture2D")(
      GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, tex, 0);
  glFn<PFNGLUSEPROGRAMPROC>("glUseProgram")(program);
  glRects(-1, -1, 1, 1);
  float texel[4] = {};
  glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_FLOAT, texel);
  EXPECT_FLOAT_EQ(texel[0], .2f);
  EXPECT_FLOAT_EQ(texel[2], .6f);
  glFn<PFNGLBINDFRAMEBUFFERPROC>("glBindFramebuffer")(GL_FRAMEBUFFER, 0);
}

} // namespace

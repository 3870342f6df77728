// Distance primitives, repetitions, the fold and the wood relief, evaluated on
// the GL implementation. Each probe switches on a.w to group cases into one
// compile.
#include "probe.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kPi = 3.14159265f;

ProbeVec at(float w, float a = 0, float b = 0, float c = 0) {
  return {a, b, c, w};
}

TEST(ShaderPrimitives, BoxAndCylinder) {
  auto out = probeEval(R"(
vec4 probe(vec4 a)
{
    if (a.w == 0.) return vec4(bx(vec3(2, 0, 0), vec3(1)));
    if (a.w == 1.) return vec4(bx(vec3(0), vec3(1)));
    if (a.w == 2.) return vec4(bx(vec3(2, 2, 0), vec3(1)));
    if (a.w == 3.) return vec4(y(vec3(0), .5, 1.));
    if (a.w == 4.) return vec4(y(vec3(1, 2, 0), .5, 1.));
    // A negative half-extent leaves no inside.
    return vec4(bx(vec3(0), vec3(-.1, 1, 1)));
}
)",
                       {at(0), at(1), at(2), at(3), at(4), at(5)});
  EXPECT_NEAR(out[0][0], 1.0f, 1e-6f);
  EXPECT_NEAR(out[1][0], -1.0f, 1e-6f);
  EXPECT_NEAR(out[2][0], 1.41421f, 1e-5f);
  EXPECT_NEAR(out[3][0], -0.5f, 1e-6f);
  EXPECT_NEAR(out[4][0], 1.0f, 1e-6f); // below the true distance 1.118 off the rim
  EXPECT_GT(out[5][0], 0.0f);
}

TEST(ShaderPrimitives, RotationAndRepetitions) {
  auto out = probeEval(R"(
vec4 probe(vec4 a)
{
    if (a.w == 0.) return vec4(q(a.xy, a.z), 0, 0);
    if (a.w == 1.) return vec4(mp(a.xy, a.z), 0, 0);
    return vec4(m3(a.xyz, vec3(.02)), 0);
}
)",
                       {at(0, 1, 0, kPi / 2), at(0, 0, 1, .5f), at(1, 0, 1, 4), at(1, 0, 0, 20),
                        at(1, 0, 0, 10), at(1, -1, 1e-4f, 20), at(1, -1, -1e-4f, 20), at(2, .025f),
                        at(2, -.015f), at(2, .01f)});
  EXPECT_NEAR(out[0][0], 0.0f, 1e-6f);
  EXPECT_NEAR(out[0][1], -1.0f, 1e-6f);
  EXPECT_NEAR(out[1][0], .47943f, 1e-5f);
  EXPECT_NEAR(out[1][1], .87758f, 1e-5f);
  // 6.282 is the full turn: sector 1 of 4 is centred short of pi / 2.
  EXPECT_NEAR(out[2][0], std::cos(.0002963f), 1e-6f);
  EXPECT_NEAR(out[2][1], std::sin(.0002963f), 2e-6f);
  // The origin maps to the origin, never NaN.
  for (int k : {3, 4}) {
    EXPECT_EQ(out[k][0], 0.0f) << k;
    EXPECT_EQ(out[k][1], 0.0f) << k;
  }
  // Either side of the seam on the negative axis falls in one sector, so a
  // shape at local angle 0 stands there twice.
  EXPECT_NEAR(out[5][1], .00059f, 1e-4f);
  EXPECT_NEAR(out[6][1], -.00059f, 1e-4f);
  EXPECT_NEAR(out[5][0], 1.0f, 1e-6f);
  EXPECT_NEAR(out[7][0], .005f, 1e-6f);
  EXPECT_NEAR(out[8][0], .005f, 1e-6f);
  // A cell boundary maps to the lower end.
  EXPECT_NEAR(out[9][0], -.01f, 1e-6f);
}

TEST(ShaderPrimitives, FoldKeepsTheEarlierPieceOnTies) {
  auto out = probeEval(R"(
vec4 probe(vec4 a)
{
    vec2 r = vec2(35);
    x(vec2(1, 2))
    x(vec2(1, 3))
    vec2 t = r;
    // A condition in front of the fold governs that fold alone.
    r = vec2(35);
    if (a.w > 0.) x(vec2(2, 4))
    x(vec2(3, 5))
    return vec4(t, r);
}
)",
                       {at(0), at(1)});
  EXPECT_EQ(out[0][0], 1.0f);
  EXPECT_EQ(out[0][1], 2.0f);
  EXPECT_EQ(out[0][2], 3.0f);
  EXPECT_EQ(out[0][3], 5.0f);
  EXPECT_EQ(out[1][2], 2.0f);
  EXPECT_EQ(out[1][3], 4.0f);
}

TEST(ShaderPrimitives, WoodRelief) {
  // Seams at every plank's lower-x edge, x = k / (10 d), also for negative x:
  // just past the edge the relief is still near zero. x = 0 is an edge for
  // every scale. Elsewhere the value stays in [0, .9083].
  std::vector<ProbeVec> in;
  for (int k = -6; k <= 6; ++k)
    for (float yz : {-7.0f, 0.3f, 5.0f})
      in.push_back(at(0, k / 3.0f + 2e-5f, yz, yz * 1.7f));
  const std::size_t seams = in.size();
  for (int k = 0; k < 600; ++k) {
    float t = static_cast<float>(k);
    in.push_back(at(0, 13.0f * std::sin(t * 1.37f), -7.0f + std::sin(t * .71f) * .02f,
                    10.0f * std::cos(t * 2.11f)));
  }
  auto out = probeEval("vec4 probe(vec4 a) { return vec4(wd(a.xyz, .3), wd(vec3(0, a.yz), .7), "
                       "0, 0); }",
                       in);
  for (std::size_t k = 0; k < seams; ++k) {
    EXPECT_NEAR(out[k][0], 0.0f, 1e-4f) << "x = " << in[k][0];
    EXPECT_EQ(out[k][1], 0.0f);
  }
  float top = 0;
  for (std::size_t k = seams; k < in.size(); ++k) {
    EXPECT_GE(out[k][0], 0.0f);
    EXPECT_LE(out[k][0], .9084f);
    top = std::max(top, out[k][0]);
  }
  EXPECT_GT(top, .5f); // the relief is not flat
}

} // namespace

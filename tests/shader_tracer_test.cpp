// Random numbers, direction sampling, the outline, the marcher, normals and
// the path integrator, evaluated on the GL implementation.
#include "probe.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using V3 = std::array<double, 3>;

V3 cross(V3 a, V3 b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double fract(double v) {
  return v - std::floor(v);
}

// The backdrop's colour seen from a pixel at height uvY.
V3 backdrop(double uvY) {
  double w = std::pow(1.0 - uvY, 12.0);
  return {.14 * (1 - w) + 4.88 * w, .35 * (1 - w) + 4.08 * w, .46 * (1 - w) + 3.76 * w};
}

TEST(ShaderRandom, HashAtChosenPixels) {
  const std::string body = "vec4 probe(vec4 a) { return vec4(r1(vec3(1), a.x), r1(a.yzw, a.x), "
                           "r2(vec3(a.x, a.y, a.z))); }";
  auto out = probeAt(body, {{0, 0, {0, 1, 1, 1}},
                            {0, 1, {1, 1, 1, 1}},
                            {3, 5, {7.25f, 2, 3, 4}},
                            {5, 3, {7.25f, 2, 3, 4}},
                            {8, 0, {7.25f, 2, 3, 4}},
                            {2, 2, {7.25f, 2, 3, 4}}});
  // Bottom-left pixel: X = Y = Z = .5. The product carries the driver's sine
  // error times 43758, hence the loose bound.
  EXPECT_NEAR(out[0][0], fract(std::sin(1.5) * 43758.5453), .05);
  EXPECT_NEAR(out[0][0], .93, .05);
  // Row 1 of column 0 with seed 1: X + Y + Z + 3 d = 5.5.
  EXPECT_NEAR(out[1][0], fract(std::sin(5.5) * 43758.5453 + 1), .05);
  // Equal X + Y with equal seeds give equal values with the weights (1, 1, 1).
  EXPECT_FLOAT_EQ(out[2][0], out[3][0]);
  EXPECT_FLOAT_EQ(out[2][0], out[4][0]);
  EXPECT_NE(out[2][0], out[5][0]);
  EXPECT_NE(out[2][1], out[3][1]); // other weights tell the pixels apart
  for (const ProbeVec &v : out)
    for (float f : v) {
      EXPECT_GE(f, 0.0f);
      EXPECT_LT(f, 1.0f);
    }
}

TEST(ShaderRandom, CosineDirectionTangentChoice) {
  // n, the tangent the sampler must pick and its partner cross(n, t).
  struct Case {
    V3 n, t;
  };
  const Case cases[] = {{{0, 1, 0}, {0, 0, -1}},
                        {{1, 0, 0}, {0, 0, 1}},
                        {{.6, .8, 0}, {0, 0, .6}},
                        {{-.6, 0, .8}, {-.8, 0, -.6}},
                        {{.3, 0, -std::sqrt(.91)}, {0, -std::sqrt(.91), 0}}};
  std::vector<ProbePixel> in;
  for (unsigned k = 0; k < 5; ++k)
    for (unsigned s = 0; s < 6; ++s) {
      const V3 &n = cases[k].n;
      in.push_back({s * 3 + 1,
                    k * 2,
                    {static_cast<float>(n[0]), static_cast<float>(n[1]), static_cast<float>(n[2]),
                     17.0f * s + 3.5f}});
    }
  auto dirs = probeAt("vec4 probe(vec4 a) { return vec4(cd(a.xyz, a.w), 0); }", in);
  auto nums = probeAt("vec4 probe(vec4 a) { return vec4(r1(vec3(12.9898, 78.233, 151.7182), "
                      "a.w), r1(vec3(63.7264, 10.873, 623.6736), a.w), 0, 0); }",
                      in);
  for (std::size_t k = 0; k < in.size(); ++k) {
    const Case &c = cases[k / 6];
    double d = nums[k][0], a = 6.282 * nums[k][1], r = std::sqrt(d);
    V3 b = cross(c.n, c.t);
    for (int j = 0; j < 3; ++j) {
      double expected =
          r * std::cos(a) * c.t[j] + r * std::sin(a) * b[j] + std::sqrt(1 - d) * c.n[j];
      EXPECT_NEAR(dirs[k][j], expected, 1e-4) << "case " << k << " axis " << j;
    }
  }
}

TEST(ShaderRandom, CosineDirectionLengthAndHemisphere) {
  // Many axes, including the tie |n.x| = .5 that takes the second tangent.
  std::vector<ProbeVec> in;
  for (int k = 0; k < 400; ++k) {
    double t = k * 2.399963, z = 1 - 2 * (k + .5) / 400.0, s = std::sqrt(1 - z * z);
    in.push_back({static_cast<float>(s * std::cos(t)), static_cast<float>(s * std::sin(t)),
                  static_cast<float>(z), k * 1.618f});
  }
  in.push_back({.5f, std::sqrt(.75f), 0, 3});
  in.push_back({-.5f, 0, std::sqrt(.75f), 8});
  auto out = probeEval(R"(
vec4 probe(vec4 a)
{
    vec3 v = cd(a.xyz, a.w);
    return vec4(length(v), dot(v, a.xyz), r1(vec3(12.9898, 78.233, 151.7182), a.w), 0);
}
)",
                       in);
  for (std::size_t k = 0; k < in.size(); ++k) {
    double nx = in[k][0], ny = in[k][1], d = out[k][2];
    double t2 = std::fabs(nx) < .5 ? 1 - nx * nx : 1 - ny * ny;
    EXPECT_NEAR(out[k][0], std::sqrt(d * t2 + 1 - d), 2e-4) << k;
    EXPECT_GE(out[k][1], 0.0f) << k;
    EXPECT_NEAR(out[k][1], std::sqrt(1 - d), 2e-4) << k;
  }
}

TEST(ShaderOutline, PolygonDistance) {
  const float points[][3] = {{.07f, .3f, -.031847f}, {.2f, .3f, .081395f},   {.08f, .65f, -.024f},
                             {.07f, .62f, -.014f},   {.03f, .37f, .009487f}, {0, 0, .031765f},
                             {.028f, .015f, 0}};
  std::vector<ProbeVec> in;
  for (const auto &p : points)
    in.push_back({p[0], p[1], 0, 0});
  auto out = probeEval("vec4 probe(vec4 a) { return vec4(sd(a.xy)); }", in);
  for (std::size_t k = 0; k < in.size(); ++k)
    EXPECT_NEAR(out[k][0], points[k][2], 1e-6f) << points[k][0] << ", " << points[k][1];
}

TEST(ShaderTracer, MarcherAndNormals) {
  auto out = probeEval(
      R"(
vec4 probe(vec4 a)
{
    if (a.w == 0.) return vec4(is(vec3(0, 0, 15), vec3(0, 0, 1), 0), 0, 0);
    // Starting inside a grille post, a bounce ray first marches backwards.
    if (a.w == 1.) return vec4(is(vec3(0, 0, 10.8), vec3(0, 0, 1), 1), 0, 0);
    if (a.w == 2.) return vec4(is(vec3(0, 0, -100), vec3(0, 0, -1), 0), 0, 0);
    if (a.w == 3.) return vec4(nn(vec3(0, 0, 18)), 0);
    if (a.w == 4.) return vec4(nn(vec3(0, 0, -8)), 0);
    // Far from everything the field is flat: still a unit normal.
    return vec4(nn(vec3(0, 0, -200)), 0);
}
)",
      {{0, 0, 0, 0}, {0, 0, 0, 1}, {0, 0, 0, 2}, {0, 0, 0, 3}, {0, 0, 0, 4}, {0, 0, 0, 5}});
  EXPECT_NEAR(out[0][0], 3.0f, .002f);
  EXPECT_EQ(out[0][1], 0.0f);
  EXPECT_NEAR(out[1][0], -.1f, .002f);
  EXPECT_EQ(out[1][1], 8.0f);
  EXPECT_GT(out[2][0], 35.0f);
  EXPECT_NEAR(out[3][2], -1.0f, 1e-5f);
  EXPECT_NEAR(out[4][2], 1.0f, 1e-5f);
  double length = std::sqrt(out[5][0] * out[5][0] + out[5][1] * out[5][1] + out[5][2] * out[5][2]);
  EXPECT_NEAR(length, 1.0, 1e-6);
}

TEST(ShaderTracer, PathsToTheBackdropAndBeyond) {
  // The backdrop's colour depends on the pixel's row, not on the ray.
  std::vector<ProbePixel> in;
  for (unsigned row : {0u, 5u, 20u, 50u, 99u})
    in.push_back({1, row, {0, 0, 15, 0}});
  in.push_back({0, 10, {0, 0, -100, 1}});
  auto out = probeAt(R"(
vec4 probe(vec4 a)
{
    if (a.w == 0.) return vec4(pt(a.xyz, vec3(0, 0, 1)), 0);
    // A path that escapes is black.
    return vec4(pt(a.xyz, vec3(0, 0, -1)), 0);
}
)",
                     in);
  for (std::size_t k = 0; k < 5; ++k) {
    V3 expected = backdrop((in[k].y + .5) / 100.0);
    for (int j = 0; j < 3; ++j)
      EXPECT_NEAR(out[k][j], expected[j], 1e-5 * expected[j]) << k;
  }
  EXPECT_NEAR(std::pow(1 - .0579, 12), .489, .001); // the lowest rendered row
  for (int j = 0; j < 3; ++j)
    EXPECT_EQ(out[5][j], 0.0f);
}

} // namespace

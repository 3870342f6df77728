// Distance primitives, repetitions, the fold and the wood relief, evaluated on
// the GL implementation.
#include "probe.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float kPi = 3.14159265f;

TEST(ShaderPrimitives, BoxAndCylinder) {
  auto out = probeEval(
      R"(
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
      {{0, 0, 0, 0}, {0, 0, 0, 1}, {0, 0, 0, 2}, {0, 0, 0, 3}, {0, 0, 0, 4}, {0, 0, 0, 5}});
  EXPECT_NEAR(out[0][0], 1.0f, 1e-6f);
  EXPECT_NEAR(out[1][0], -1.0f, 1e-6f);
  EXPECT_NEAR(out[2][0], 1.41421f, 1e-5f);
  EXPECT_NEAR(out[3][0], -0.5f, 1e-6f);
  EXPECT_NEAR(out[4][0], 1.0f, 1e-6f);
  EXPECT_GT(out[5][0], 0.0f);
}

} // namespace

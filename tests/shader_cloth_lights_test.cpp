// The hall field's light sources, fixture placement and cloth, evaluated on
// the GL implementation through h itself.
#include "probe.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const char *kHall = "vec4 probe(vec4 a) { return vec4(h(a.xyz, int(a.w)), 0, 0); }";

// Expected sample of h; a distance bound instead of a value where only the
// sign or the absence of a piece matters, and material -1 where any will do.
struct Expect {
  ProbeVec in;
  float low, high, material;
};

Expect value(float px, float py, float pz, int pass, float d, float tol, float m) {
  return {{px, py, pz, static_cast<float>(pass)}, d - tol, d + tol, m};
}
Expect within(float px, float py, float pz, int pass, float low, float high, float m = -1) {
  return {{px, py, pz, static_cast<float>(pass)}, low, high, m};
}

void check(const std::vector<Expect> &cases) {
  std::vector<ProbeVec> inputs;
  for (const Expect &e : cases)
    inputs.push_back(e.in);
  std::vector<ProbeVec> out = probeEval(kHall, inputs);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const Expect &e = cases[k];
    SCOPED_TRACE(::testing::Message() << "case " << k << ": h((" << e.in[0] << ", " << e.in[1]
                                      << ", " << e.in[2] << "), " << e.in[3] << ")");
    EXPECT_GE(out[k][0], e.low);
    EXPECT_LE(out[k][0], e.high);
    if (e.material >= 0) {
      EXPECT_EQ(out[k][1], e.material);
    }
  }
}

TEST(ShaderClothLights, LightSpheresAndFillPanelByPass) {
  std::vector<Expect> cases;
  for (int pass = 0; pass < 4; ++pass) {
    const bool late = pass > 1;
    for (float side : {13.f, -13.f}) {
      if (late)
        cases.push_back(value(side, 2.3f, 6, pass, -1, 1e-5f, 1));
      else
        cases.push_back(within(side, 2.3f, 6, pass, 0, 35));
    }
    if (late)
      cases.push_back(value(0, 10, 7, pass, -2, 1e-5f, 1));
    else
      cases.push_back(within(0, 10, 7, pass, 0, 35));
    // The fill panel: every bounce ray meets it, the camera ray never.
    if (pass > 0)
      cases.push_back(value(-2.0959f, -4, 8.9716f, pass, -.1f, 1e-4f, 11));
    else
      cases.push_back(within(-2.0959f, -4, 8.9716f, pass, 0, 35));
  }
  check(cases);
}

TEST(ShaderClothLights, FixturesStandInTheirPlaces) {
  const double c = std::cos(.15), s = std::sin(.15);
  // An arm of each candelabra that points into its niche.
  const float ax = static_cast<float>(.85 * std::cos(4 * .6282));
  const float az = static_cast<float>(.85 * std::sin(4 * .6282));
  const float bx = static_cast<float>(.85 * std::cos(.6282));
  const float bz = static_cast<float>(.85 * std::sin(.6282));
  check({
      // A chandelier candle, the chandelier being turned by .15.
      value(static_cast<float>(3 * c), 7.8f, static_cast<float>(7 + 3 * s), 0, -.05f, 2e-4f, 3),
      // Candelabra flames on the right and the left, small and large.
      value(13 + ax, 1.8f, 6 + az, 0, -.025f, 2e-4f, 1),
      value(13 + ax, 1.8f, 6 + az, 2, -.25f, 2e-4f, 1),
      value(-13 + bx, 1.8f, 6 + bz, 1, -.025f, 2e-4f, 1),
      value(-13 + bx, 1.8f, 6 + bz, 3, -.25f, 2e-4f, 1),
  });
}

TEST(ShaderClothLights, DrapesSlitsAndInnerEdges) {
  check({
      // The left slit stops .8 below the top edge, where the halves join.
      within(-8.8f, 6.4f, 7.9f, 0, -.2f, 0, 13),
      within(-8.8f, 5.5f, 7.9f, 0, .05f, 1),
      // The right slit runs the full height (the back wall lies .1 behind).
      within(7.2f, -6, 7.9f, 0, .05f, 1),
      within(7.2f, 0, 7.9f, 0, .05f, 1),
      within(7.2f, 4.9f, 7.9f, 0, .05f, 1),
      within(6.5f, 4.9f, 7.9f, 0, -.2f, 0, 13),
      // Drawn apart most at the tie-back: the right drape's inner edge at
      // 3.466 there and 1.426 at y = 0, the left drape's at -3.1435 and -2.0038.
      within(3.6f, -4.5f, 7.9f, 0, -.2f, 0, 13),
      within(3.3f, -4.5f, 7.9f, 0, 0, 1),
      within(1.55f, 0, 7.9f, 0, -.2f, 0, 13),
      within(1.3f, 0, 7.9f, 0, 0, 1),
      within(-3.25f, -4.5f, 7.9f, 0, -.2f, 0, 13),
      within(-3.0f, -4.5f, 7.9f, 0, 0, 1),
      within(-2.1f, 0, 7.9f, 0, -.2f, 0, 13),
      within(-1.9f, 0, 7.9f, 0, 0, 1),
  });
}

TEST(ShaderClothLights, ValanceCuspAndFringe) {
  check({
      // At a cusp the lower edge is at 3.8 and the fringe reaches 4.0.
      within(1.6754f, 3.9f, 7.5f, 0, -.03f, 0, 10),
      within(1.6754f, 4.1f, 7.5f, 0, -.03f, 0, 9),
      within(1.6754f, 3.7f, 7.5f, 0, 0, 1),
      // Halfway between cusps the edge is at 2.8, the fringe up to 3.0.
      within(.0306f, 2.9f, 7.5f, 2, -.03f, 0, 10),
      within(.0306f, 3.1f, 7.5f, 2, -.03f, 0, 9),
      within(.0306f, 2.7f, 7.5f, 2, 0, 1),
      // The top edge is straight at 6.8.
      within(-5, 6.7f, 7.5f, 1, -.03f, 0, 9),
      within(-5, 6.9f, 7.5f, 1, 0, 1),
  });
}

TEST(ShaderClothLights, NetCurtainsHaveMeshHoles) {
  check({
      // In the cloth of the curtains at x = .63 and 6.63 ...
      within(.6304f, 0, 10, 0, -.0011f, 0, 4),
      within(6.6304f, 0, 10, 1, -.0011f, 0, 4),
      within(.6304f, -.7996f, 10, 2, -.0011f, 0, 4),
      // ... but the last 5 % of a cell in x or in y is a hole: no curtain.
      within(.63097f, 0, 10, 0, .1f, 35),
      within(.6304f, -.79903f, 10, 0, .1f, 35),
  });
}

} // namespace

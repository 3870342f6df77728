// The chandelier, candelabra and window frame components, evaluated on the GL
// implementation: their worked values, pass gating and branch edges.
#include "probe.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// One program for every case: a.w selects the component (0 ch, 1 ca, 2 fi with
// the tall pane) times 4 plus the pass index.
const char *kComponents = R"(
vec4 probe(vec4 a)
{
    int w = int(a.w);
    int i = w % 4;
    if (w < 4) return vec4(ch(a.xyz, i), 0, 0);
    if (w < 8) return vec4(ca(a.xyz, i), 0, 0);
    return vec4(fi(a.xyz, vec2(1.4, 4.2)), 0, 0);
}
)";

enum Component { Chandelier = 0, Candelabra = 1, Frame = 2 };

ProbeVec at(Component c, int pass, float px, float py, float pz) {
  return {px, py, pz, static_cast<float>(c * 4 + pass)};
}

// Expected distance and material; a negative material is not checked (exact
// ties between a candle and its large flame go either way with rounding).
struct Expect {
  ProbeVec in;
  float distance, tolerance, material;
};

void check(const std::vector<Expect> &cases) {
  std::vector<ProbeVec> inputs;
  for (const Expect &e : cases)
    inputs.push_back(e.in);
  std::vector<ProbeVec> out = probeEval(kComponents, inputs);
  for (std::size_t k = 0; k < cases.size(); ++k) {
    const Expect &e = cases[k];
    SCOPED_TRACE(::testing::Message() << "case " << k << " at (" << e.in[0] << ", " << e.in[1]
                                      << ", " << e.in[2] << ") code " << e.in[3]);
    EXPECT_NEAR(out[k][0], e.distance, e.tolerance);
    if (e.material >= 0) {
      EXPECT_EQ(out[k][1], e.material);
    }
  }
}

TEST(ShaderFixtures, ChandelierCandleFlameAndBead) {
  std::vector<Expect> cases;
  for (int pass = 0; pass < 4; ++pass) {
    // The candle's centre: the candle wins for the passes that see only the
    // small flame; for the later ones it ties with the large flame.
    cases.push_back({at(Chandelier, pass, 3, .8f, 0), -.05f, 1e-5f, pass < 2 ? 3.f : -1.f});
    // The flame's centre: the small flame, or the large one from pass 2 on.
    cases.push_back({at(Chandelier, pass, 3, 1.25f, 0), pass < 2 ? -.05f : -.5f, 1e-5f, 1});
    // A bead of the bowl.
    cases.push_back({at(Chandelier, pass, 1, -1, .4f), -.05f, 1e-5f, 6});
  }
  // Every arm copy carries the same candle.
  for (int k = -10; k <= 10; ++k) {
    const double a = .3141 * k;
    const int pass = (k + 10) % 4;
    cases.push_back({at(Chandelier, pass, static_cast<float>(3 * std::cos(a)), .8f,
                        static_cast<float>(3 * std::sin(a))),
                     -.05f, 2e-4f, pass < 2 ? 3.f : -1.f});
  }
  // The sectors do not close: the arm at the negative x axis stands both at
  // 3.141 and at -3.141, so both angles meet a candle's centre.
  for (double a : {3.141, -3.141})
    cases.push_back({at(Chandelier, 0, static_cast<float>(3 * std::cos(a)), .8f,
                        static_cast<float>(3 * std::sin(a))),
                     -.05f, 2e-4f, 3});
  check(cases);
}

TEST(ShaderFixtures, ChandelierStrandsAndBowlSwitchAtTheirHeights) {
  check({
      // A bowl bead centred at height 0 is seen at and just below 0 ...
      {at(Chandelier, 1, 1, 0, .4f), -.05f, 1e-5f, 6},
      {at(Chandelier, 1, 1, -.01f, .4f), -.04f, 1e-4f, 6},
      // ... but just above 0 the strands take over and the bead is gone.
      {at(Chandelier, 1, 1, .01f, .4f), .4f, .05f, -1},
      // The top bead of the strand on +x, centred at local height .69.
      {at(Chandelier, 1, .0138532f, 6.9f, 0), -.05f, 1e-4f, 6},
      {at(Chandelier, 1, 0, 6.999f, 0), .049f, 1e-3f, 6},
      // At .7 the bowl branch holds and no bead is that high.
      {at(Chandelier, 1, 0, 7, 0), 4.f, 3.f, -1},
  });
}

TEST(ShaderFixtures, CandelabraFlameCandleAndStem) {
  std::vector<Expect> cases;
  for (int pass = 0; pass < 4; ++pass) {
    cases.push_back({at(Candelabra, pass, .85f, 4.8f, 0), pass < 2 ? -.025f : -.25f, 1e-5f, 1});
    // The candle's distance is halved: half the drawn .05 to its side.
    cases.push_back({at(Candelabra, pass, .85f, 4.35f, 0), -.025f, 1e-5f, pass < 2 ? 3.f : -1.f});
    cases.push_back({at(Candelabra, pass, 0, 2.75f, 0), -.06084f, 1e-5f, 12});
  }
  // Above .6545 (local) the cosine is negative; the squared width still holds.
  cases.push_back({at(Candelabra, 0, 0, 3.4f, 0), -.0238f, 1e-5f, 12});
  // Another arm's flame, turned by four sectors.
  cases.push_back({at(Candelabra, 0, static_cast<float>(.85 * std::cos(4 * .6282)), 4.8f,
                      static_cast<float>(.85 * std::sin(4 * .6282))),
                   -.025f, 2e-4f, 1});
  // Below the origin the stem's half-width is negative: no surface there.
  cases.push_back({at(Candelabra, 0, 0, -.5f, 0), 2.f, 1.f, -1});
  check(cases);
}

TEST(ShaderFixtures, FrameRimCutCornerAndRing) {
  const float c = static_cast<float>(.59 * std::cos(M_PI / 4));
  check({
      {at(Frame, 0, 1.39f, 0, 0), -.01f, 1e-5f, 12},
      // Within .6 of the corner the straight rim is cut away.
      {at(Frame, 0, 1.39f, 4, 0), .38025f, 1e-4f, 12},
      {at(Frame, 0, 1.4f - c, 4.2f - c, 0), -.00926f, 1e-4f, 12},
      // The ring is clipped to the pane's slab: nothing of it in front of the
      // slab or beyond the pane's corner.
      {at(Frame, 0, 1.4f - c, 4.2f - c, .15f), .05f, .01f, 12},
      {at(Frame, 0, 1.4f + c, 4.2f + c, 0), .59f, .01f, 12},
  });
}

// A point of a side window frame given in the frame's own coordinates (local
// z = 0), in world coordinates on the right side: the frames bend about the
// vertical, so the world x is found by Newton steps.
void frameToWorld(double lx, double ly, double out[3]) {
  double X = lx * .6;
  for (int n = 0; n < 50; ++n) {
    double a = -.2 * X - .7;
    double f = X / std::cos(a) - lx;
    double d = (std::cos(a) - X * .2 * std::sin(a)) / (std::cos(a) * std::cos(a));
    X -= f / d;
  }
  out[0] = 13 + X;
  out[1] = 1.3 + ly;
  out[2] = 6.1 + X * std::tan(-.2 * X - .7);
}

TEST(ShaderFixtures, SideFramesStandMirroredInTheNiches) {
  std::vector<ProbeVec> inputs;
  // Rim sides of the tall and the low frame, at their mid-heights.
  for (double ly : {0.0, -6.45})
    for (double lx : {1.39, -1.39}) {
      double w[3];
      frameToWorld(lx, ly, w);
      for (float side : {1.f, -1.f})
        inputs.push_back({side * static_cast<float>(w[0]), static_cast<float>(w[1]),
                          static_cast<float>(w[2]), 0});
    }
  std::vector<ProbeVec> out =
      probeEval("vec4 probe(vec4 a) { return vec4(h(a.xyz, 0), 0, 0); }", inputs);
  for (std::size_t k = 0; k < out.size(); ++k) {
    SCOPED_TRACE(::testing::Message()
                 << "point " << inputs[k][0] << ", " << inputs[k][1] << ", " << inputs[k][2]);
    EXPECT_NEAR(out[k][0], -.01f, 2e-4f);
    EXPECT_EQ(out[k][1], 12.f);
    // The left side mirrors the right exactly.
    if (k % 2) {
      EXPECT_EQ(out[k][0], out[k - 1][0]);
    }
  }
}

} // namespace

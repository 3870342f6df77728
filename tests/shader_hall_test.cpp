// The hall's own objects in the scene field h, evaluated on the GL
// implementation: backdrop, shell, grille, floor and blocker panel.
#include "probe.h"

#include <gtest/gtest.h>

namespace {

struct Sample {
  float x, y, z;
  int pass;
  float distance; // NaN: not checked
  float material; // -1: not checked
};

// Evaluates h (or the shell alone) at each sample and checks it.
void check(const std::string &function, const std::vector<Sample> &samples, float tolerance) {
  std::vector<ProbeVec> in;
  for (const Sample &s : samples)
    in.push_back({s.x, s.y, s.z, static_cast<float>(s.pass)});
  auto out = probeEval("vec4 probe(vec4 a) { return vec4(" + function + ", 0, 0); }", in);
  for (std::size_t k = 0; k < samples.size(); ++k) {
    const Sample &s = samples[k];
    SCOPED_TRACE(testing::Message() << function << " at (" << s.x << ", " << s.y << ", " << s.z
                                    << ") pass " << s.pass);
    if (s.distance == s.distance) {
      EXPECT_NEAR(out[k][0], s.distance, tolerance);
    }
    if (s.material >= 0) {
      EXPECT_EQ(out[k][1], s.material);
    }
  }
}

const float kAny = __builtin_nanf("");

TEST(ShaderHall, FieldAtWorkedPoints) {
  check("h(a.xyz, int(a.w))",
        {
            {0, .1f, -7.5f, 0, .5f, 5},        // the camera, in front of the front wall
            {-6, 8.02f, 8, 0, kAny, 2},        // upper gold band on the back wall
            {-6, 8, 8, 0, kAny, 5},            // its bounds are strict
            {11.7f, -3.58f, 7.5f, 0, kAny, 2}, // lower band on both side walls
            {-11.7f, -3.58f, 7.5f, 0, kAny, 2},
            {11.7f, -3.5f, 7.5f, 0, kAny, 5},
            {0, -3.58f, -8, 0, kAny, 5},  // not on the front wall
            {0, 6, 9.3f, 0, -1.3f, 5},    // above the central opening
            {0, 0, 17.9f, 0, .1f, 0},     // the backdrop plane
            {0, 0, 10.8f, 0, -.1f, 8},    // a grille post
            {3, 2.5f, 10.8f, 0, -.1f, 8}, // the top bar
            {3, .1f, 10.8f, 0, -.04f, 8}, // the four rails
            {3, -2.3f, 10.8f, 0, -.04f, 8},
            {3, -4.7f, 10.8f, 0, -.04f, 8},
            {3, -7.1f, 10.8f, 0, -.04f, 8},
            {0, -7, 0, 0, 0, 7},           // the floor at a plank seam: no relief
            {-1.1f, -5, 9.7f, 1, -.1f, 4}, // the blocker panel, from pass 1 on
            {-1.1f, -5, 9.7f, 2, -.1f, 4},
            {-1.1f, -5, 9.7f, 3, -.1f, 4},
        },
        2e-5f);
}

TEST(ShaderHall, CameraRaysNeverSeeTheBlocker) {
  auto out = probeEval("vec4 probe(vec4 a) { return vec4(h(a.xyz, int(a.w)), 0, 0); }",
                       {{-1.1f, -5, 9.7f, 0}});
  // The net curtain behind it shares its grey; only the distance tells.
  EXPECT_GT(out[0][0], 0.0f);
}

TEST(ShaderHall, FloorReliefSinksTheSurface) {
  std::vector<ProbeVec> in;
  for (int k = 1; k < 60; ++k)
    in.push_back({k * .37f - 11, -7, k * .29f - 8, 0});
  auto out = probeEval("vec4 probe(vec4 a) { return vec4(h(a.xyz, 0), 0, 0); }", in);
  for (std::size_t k = 0; k < in.size(); ++k) {
    EXPECT_EQ(out[k][1], 7.0f) << k;
    EXPECT_GE(out[k][0], 0.0f) << k;
    EXPECT_LE(out[k][0], .0182f) << k;
  }
}

TEST(ShaderHall, ShellNichesAndOpenings) {
  check("hw(a.xyz)",
        {
            {0, 0, 9.3f, 0, 2.9667f, 5}, // inside the central opening
            {12, 0, 5, 0, 2, 5},         // back niches are free
            {-12, 0, 5, 0, 2, 5},
            {12, 0, -5, 0, -.3f, 5},     // front corners are not carved
            {16, -2, 5.5f, 0, -1.3f, 5}, // no openings in the cross part
            {0, -2, -8.5f, 0, -.5f, 5},  // nor in the front wall
        },
        1e-4f);
}

} // namespace

// Probe harness: evaluates scene shader functions on the real GL implementation
// (headless EGL) by compiling the scene shader without px and main plus a test entry.
//
// The test writes GLSL that defines `vec4 probe(vec4 a)`; it may call anything
// of the scene shader (h, bx, cd, sf, ...) and read gl_FragCoord. Each case is
// one pixel of an RGBA32F target: its input a comes from a float texture, its
// result is the vec4 probe returns. One draw evaluates all cases, and programs
// are cached by their text, so put many cases into one call.
//
// The uniform u holds (target width, target height, frame), fk the frame
// number, and the scene globals uv and fs are set as px sets them, so
// functions that read them behave as in a scene pass.
// gl_FragCoord.z is 0.5, as in the host's full-screen rectangle.
//
// A shader that fails to compile or link fails the current test with the
// compiler's log; the results are then NaN.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using ProbeVec = std::array<float, 4>;

// Cases laid out in rows of up to 64 pixels; result k belongs to inputs[k].
std::vector<ProbeVec> probeEval(const std::string &glslBody, const std::vector<ProbeVec> &inputs,
                                float frame = 1.0f);

// Every pixel of a width x height target at frame number frame (u.z its
// float, fk the number itself), with zero inputs; rows from the bottom.
std::vector<ProbeVec> probeFrame(const std::string &glslBody, unsigned width, unsigned height,
                                 std::uint32_t frame);

// A case at a chosen pixel (x = column, y = row from the bottom).
struct ProbePixel {
  unsigned x, y;
  ProbeVec input;
};
// Renders a target just large enough for the chosen pixels; result k belongs
// to cases[k] (two cases at one pixel share the later one's input).
std::vector<ProbeVec> probeAt(const std::string &glslBody, const std::vector<ProbePixel> &cases,
                              float frame = 1.0f);

// How far apart two partial renders of the same picture are, per value: the
// chi-squared of their means' difference against the variance their own
// samples show, averaged over the traced pixels' red, green and blue (about 1
// where only noise differs), and the share of values beyond |z| = 4 (6e-5 for
// noise alone). With --scale, writes a copy of a render whose samples are all
// scaled by S, as a control of how large a difference the checks detect.
//
//   exegfx-bench-frame-distance A.exr B.exr
//   exegfx-bench-frame-distance --scale S IN.exr OUT.exr
#include "partial_file.h"
#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

static int scaled(double s, const char *in, const char *out) {
  PartialInfo info;
  Picture p;
  std::string error;
  if (!readPicture(in, info, p, error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  for (double &v : p.mean.sum)
    v *= s;
  for (double &v : p.mean.squares)
    v *= s * s;
  if (!writePicture(out, info, p, error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
  return 0;
}

int main(int argc, char **argv) {
  if (argc == 5 && std::string(argv[1]) == "--scale")
    return scaled(std::atof(argv[2]), argv[3], argv[4]);
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s A.exr B.exr | --scale S IN.exr OUT.exr\n", argv[0]);
    return 2;
  }
  Picture p[2];
  for (int k = 0; k < 2; ++k) {
    PartialInfo info;
    std::string error;
    if (!readPicture(argv[k + 1], info, p[k], error) || !p[k].hasSquares()) {
      std::fprintf(stderr, "%s\n", error.empty() ? "a part without squares" : error.c_str());
      return 1;
    }
  }
  if (p[0].pixels() != p[1].pixels()) {
    std::fprintf(stderr, "the parts differ in size\n");
    return 1;
  }
  double chi2 = 0;
  std::size_t values = 0, far = 0;
  for (std::size_t i = 0; i < p[0].pixels() * 3; ++i) {
    double mean[2], var[2];
    for (int k = 0; k < 2; ++k) {
      const double n = p[k].mean.count[i / 3];
      mean[k] = p[k].mean.sum[i] / n;
      var[k] = std::max(0.0, p[k].mean.squares[i] / n - mean[k] * mean[k]) / (n - 1);
    }
    const double v = var[0] + var[1];
    if (!(v > 0)) continue; // untraced: letterbox and outline
    const double z2 = (mean[0] - mean[1]) * (mean[0] - mean[1]) / v;
    chi2 += z2;
    far += z2 > 16;
    ++values;
  }
  std::printf("%zu values: chi-squared per value %.2f, beyond |z| 4: %.4f %%\n", values,
              chi2 / values, 100.0 * far / values);
  return 0;
}

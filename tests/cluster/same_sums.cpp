// Whether two partial renders hold the same samples bit for bit: frames,
// sums, sums of squares and, for adaptive renders, per-pixel counts and
// held-out samples. Exit status 0 if so, 1 (naming the first difference) if
// not, 2 if a file cannot be read.
//   same_sums A.exr B.exr
#include "partial_file.h"

#include <cstdio>
#include <string>
#include <vector>

static bool same(const char *what, const std::vector<double> &a, const std::vector<double> &b) {
  if (a.size() != b.size()) {
    std::printf("%s: %zu values against %zu\n", what, a.size(), b.size());
    return false;
  }
  for (std::size_t k = 0; k < a.size(); ++k)
    if (a[k] != b[k]) {
      std::printf("%s: value %zu is %.9g against %.9g\n", what, k, a[k], b[k]);
      return false;
    }
  return true;
}

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s A.exr B.exr\n", argv[0]);
    return 2;
  }
  Picture a, b;
  PartialInfo info;
  std::string error;
  if (!readPicture(argv[1], info, a, error) || !readPicture(argv[2], info, b, error)) {
    std::fprintf(stderr, "same_sums: %s\n", error.c_str());
    return 2;
  }
  bool ok = formatFrameRanges(a.frames) == formatFrameRanges(b.frames);
  if (!ok)
    std::printf("frames %s against %s\n", formatFrameRanges(a.frames).c_str(),
                formatFrameRanges(b.frames).c_str());
  ok = same("sums", a.mean.sum, b.mean.sum) && ok;
  ok = same("squares", a.mean.squares, b.mean.squares) && ok;
  ok = same("counts", a.mean.count, b.mean.count) && ok;
  ok = same("held-out sums", a.held.sum, b.held.sum) && ok;
  ok = same("held-out squares", a.held.squares, b.held.squares) && ok;
  ok = same("held-out counts", a.held.count, b.held.count) && ok;
  std::printf("%s and %s hold %s samples\n", argv[1], argv[2], ok ? "the same" : "different");
  return ok ? 0 : 1;
}

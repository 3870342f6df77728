// Calibrates exegfx-merge's check that parts agree: renders parts of the
// picture with both scene passes, and parts that must be refused (a scene
// whose candelabra flames sit 0.2 higher, four flame radii; copies of the
// good parts with their sums and sums of squares scaled as a broken pass
// would leave them), and prints the check's figures for every pair, for each
// part against all the others, and for a bad part among four (whether it
// alone is refused).
//
//   exegfx-bench-agreement [--frames F] [--parts P] [--keep DIR] [WxH]
//   (default 32 frames, 8 parts, 240x135)
//
// P fragment parts and P/2 compute parts of F frames each, on consecutive
// frame ranges, and 2 parts of the changed scene.
#include "bench_args.h"
#include "part_check.h"
#include "shaders.h"
#include "still_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Part {
  std::string name;
  std::vector<float> sum, squares;
  double frames = 0.0;
};

unsigned W = 240, H = 135;

// Parts kept from an earlier run of the same arguments (--keep DIR) are read
// back instead of rendered, so the check can be recalibrated in seconds.
std::string keep;

bool load(Part &part, const std::string &file, unsigned frames) {
  std::FILE *f = keep.empty() ? nullptr : std::fopen(file.c_str(), "rb");
  if (!f) return false;
  part.sum.resize(std::size_t{W} * H * 3);
  part.squares.resize(part.sum.size());
  bool ok = std::fread(part.sum.data(), 4, part.sum.size(), f) == part.sum.size() &&
            std::fread(part.squares.data(), 4, part.squares.size(), f) == part.squares.size();
  std::fclose(f);
  part.frames = frames;
  return ok;
}

bool render(Part &part, const char *scene, ScenePass pass, unsigned first, unsigned frames) {
  const std::string file = keep + "/" + std::to_string(W) + "x" + std::to_string(H) + "_" +
                           std::to_string(first) + "_" + std::to_string(frames) +
                           (scene                        ? "_moved"
                            : pass == ScenePass::Compute ? "_compute"
                                                         : "") +
                           ".bin";
  if (load(part, file, frames)) return true;
  if (!stillOpenWith(scene, nullptr, W, H, pass)) {
    stillClose();
    return false;
  }
  stillStartAt(first, nullptr, 0);
  for (unsigned k = 0; k < frames; ++k)
    stillRenderFrame();
  part.sum.resize(std::size_t{W} * H * 3);
  part.squares.resize(part.sum.size());
  stillReadSum(part.sum.data());
  stillReadSquares(part.squares.data());
  part.frames = frames;
  stillClose();
  if (std::FILE *f = keep.empty() ? nullptr : std::fopen(file.c_str(), "wb")) {
    std::fwrite(part.sum.data(), 4, part.sum.size(), f);
    std::fwrite(part.squares.data(), 4, part.squares.size(), f);
    std::fclose(f);
  }
  return true;
}

// The extremes of the figures over a set of tests; alone counts the tests in
// which the part tested was the only one refused.
struct Range {
  int tests = 0, refused = 0, alone = 0;
  double maxMeanAbs = 0, maxMeanZ = 0, maxWorst = 0, maxShare = 0, maxRatio = 0;
  double minMeanAbs = 1e9, minMeanZ = 1e9, minWorst = 1e9, minRatio = 1e9;
  void add(const PartAgreement &a) {
    ++tests;
    refused += !a.consistent;
    maxMeanAbs = std::max(maxMeanAbs, a.meanAbsZ);
    minMeanAbs = std::min(minMeanAbs, a.meanAbsZ);
    maxMeanZ = std::max(maxMeanZ, std::fabs(a.meanZ));
    minMeanZ = std::min(minMeanZ, std::fabs(a.meanZ));
    maxWorst = std::max(maxWorst, std::fabs(a.worstZ));
    minWorst = std::min(minWorst, std::fabs(a.worstZ));
    maxShare = std::max(maxShare, a.shareBeyond4);
    maxRatio = std::max(maxRatio, a.varianceRatio);
    minRatio = std::min(minRatio, a.varianceRatio);
  }
  // Part k of a check.
  void add(const std::vector<PartAgreement> &all, std::size_t k) {
    add(all[k]);
    bool others = true;
    for (std::size_t j = 0; j < all.size(); ++j)
      others = others && (j == k || all[j].consistent);
    alone += !all[k].consistent && others;
  }
  void print(const char *what) const {
    std::printf("%-40s tests %3d refused %3d alone %3d  variance x%.2f..%.2f  mean|z| %.2f..%.2f  "
                "|mean z| %.2f..%.2f  worst|z| %.1f..%.1f  beyond 4 <= %.2f%%\n",
                what, tests, refused, alone, minRatio, maxRatio, minMeanAbs, maxMeanAbs, minMeanZ,
                maxMeanZ, minWorst, maxWorst, 100.0 * maxShare);
  }
};

std::vector<PartAgreement> check(const std::vector<const Part *> &parts) {
  std::vector<TileStats> stats;
  for (const Part *p : parts)
    stats.push_back(tileStats(uniformPicture(W, H, {{1, static_cast<unsigned>(p->frames)}},
                                             p->sum.data(), p->squares.data())));
  return checkAgreement(stats, W, H);
}

// A part as a broken pass might leave it.
Part scaled(const Part &part, float sums, float squares) {
  Part p = part;
  for (float &v : p.sum)
    v *= sums;
  for (float &v : p.squares)
    v *= squares;
  return p;
}

// Parts added up: one part of all their frames, as exegfx-merge writes it.
Part added(const std::vector<Part> &parts, std::size_t first, std::size_t count) {
  Part p = parts[first];
  for (std::size_t k = first + 1; k < first + count; ++k) {
    for (std::size_t i = 0; i < p.sum.size(); ++i) {
      p.sum[i] += parts[k].sum[i];
      p.squares[i] += parts[k].squares[i];
    }
    p.frames += parts[k].frames;
  }
  return p;
}

// Good parts: every pair, each part against all the others, and parts of
// 1, 2 and 4 times the frames (added up) against each other.
void consistent(const std::vector<Part> &parts, unsigned count) {
  Range samePass, crossPass, rest, unequal;
  for (std::size_t i = 0; i < parts.size(); ++i)
    for (std::size_t j = i + 1; j < parts.size(); ++j) {
      auto a = check({&parts[i], &parts[j]});
      bool cross = (i >= count) != (j >= count);
      (cross ? crossPass : samePass).add(a[0]);
    }
  std::vector<const Part *> good;
  for (const Part &p : parts)
    good.push_back(&p);
  for (const PartAgreement &a : check(good))
    rest.add(a);
  if (parts.size() >= 8) {
    Part two = added(parts, 0, 2), four = added(parts, 2, 4);
    for (const PartAgreement &a : check({&two, &four, &parts[6], &parts[7]}))
      unequal.add(a);
  }
  samePass.print("consistent pairs, same pass");
  crossPass.print("consistent pairs, fragment vs compute");
  rest.print("consistent, each part vs all others");
  unequal.print("consistent, parts of F, 2F and 4F frames");
}

// Each good part made bad: against one other part, first among all the
// others, and first among three others.
void bad(const std::vector<Part> &parts, const char *what, float sums, float squares) {
  Range one, all, four;
  const std::size_t n = parts.size();
  for (std::size_t i = 0; i < n; ++i) {
    Part b = scaled(parts[i], sums, squares);
    one.add(check({&b, &parts[(i + 1) % n]})[0]);
    std::vector<const Part *> with = {&b};
    for (std::size_t j = 0; j < n; ++j)
      if (j != i) with.push_back(&parts[j]);
    all.add(check(with), 0);
    four.add(check({&b, &parts[(i + 1) % n], &parts[(i + 2) % n], &parts[(i + 3) % n]}), 0);
  }
  std::printf("%s:\n", what);
  one.print("  vs one part (both refused)");
  all.print("  first, vs all others");
  four.print("  first, among four");
}

} // namespace

int main(int argc, char **argv) {
  unsigned frames = 32, count = 8;
  for (int k = 1; k < argc; ++k) {
    if (!std::strcmp(argv[k], "--frames") && k + 1 < argc) {
      if (!parseBenchFrames(argv[++k], frames)) return 2;
    } else if (!std::strcmp(argv[k], "--keep") && k + 1 < argc) {
      keep = argv[++k];
    } else if (!std::strcmp(argv[k], "--parts") && k + 1 < argc) {
      count = static_cast<unsigned>(std::atoi(argv[++k]));
    } else if (!parseBenchSize(argv[k], W, H) || count < 2) {
      std::fprintf(stderr,
                   "usage: exegfx-bench-agreement [--frames F] [--parts P] [--keep DIR] [WxH]\n");
      return 2;
    }
  }
  // The changed scene: every candelabra flame a little higher.
  std::string moved = sceneShaderSource;
  const std::string flame = "vec3 f = d - vec3(0, .045, 0);";
  std::size_t at = moved.find(flame);
  if (at == std::string::npos) {
    std::fprintf(stderr, "the candelabra's flame is not where this benchmark expects it\n");
    return 1;
  }
  moved.replace(at, flame.size(), "vec3 f = d - vec3(0, .065, 0);");

  std::vector<Part> parts;
  unsigned next = 1;
  for (unsigned k = 0; k < count + count / 2; ++k, next += frames) {
    bool compute = k >= count;
    Part p;
    p.name = std::string(compute ? "compute " : "fragment ") + std::to_string(next) + "-" +
             std::to_string(next + frames - 1);
    if (!render(p, nullptr, compute ? ScenePass::Compute : ScenePass::Fragment, next, frames))
      return 1;
    parts.push_back(std::move(p));
  }
  std::vector<Part> changed(2);
  for (Part &p : changed) {
    p.name = "moved flames " + std::to_string(next);
    if (!render(p, moved.c_str(), ScenePass::Fragment, next, frames)) return 1;
    next += frames;
  }
  std::printf("%u x %u, %u frames per part, %zu good parts (%u compute)\n", W, H, frames,
              parts.size(), count / 2);
  consistent(parts, count);
  Range flames, flamesRest;
  std::vector<const Part *> good;
  for (const Part &p : parts)
    good.push_back(&p);
  for (const Part &c : changed) {
    for (const Part &p : parts)
      flames.add(check({&c, &p})[0]);
    std::vector<const Part *> with = good;
    with.push_back(&c);
    auto all = check(with);
    flamesRest.add(all, all.size() - 1);
  }
  flames.print("moved flames, vs one part");
  flamesRest.print("moved flames, vs all others");
  bad(parts, "sum 5% off (sums x1.05, squares x1.05^2)", 1.05f, 1.05f * 1.05f);
  bad(parts, "sum 20% off (sums x1.2, squares x1.2^2)", 1.2f, 1.44f);
  bad(parts, "squares zero, sums x2", 2.0f, 0.0f);
  bad(parts, "squares x4, sums x1.05", 1.05f, 4.0f);
  bad(parts, "squares x1000, sums x2", 2.0f, 1000.0f);
  return 0;
}

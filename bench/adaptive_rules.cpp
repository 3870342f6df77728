// Chooses the stopping rule of adaptive renders by measurement: renders F
// frames of a small picture and keeps every sample, then replays adaptive
// renders on those samples with each rule, as exegfx-still --adaptive would
// run them, and compares them with the uniform render that reaches the same
// noise figure.
//
//   exegfx-bench-adaptive-rules [--frames F] [--keep DIR] [--levels A,B,..] [WxH]
//   (default 2048 frames, 96x54, levels 12,8,6)
//
// For each level L and rule it prints the samples traced against the uniform
// render's (the gain), and the picture's true noise at the end: each pixel's
// standard error from its sample spread over all F frames and its own count,
// in 8-bit levels (p50, p95, p99, max), against the uniform render's. The
// bias of each rule is the mean of (adaptive - reference) over all traced
// pixels and channels, relative to the reference's mean, where the reference
// is the F frames that follow, with its standard error.
#include "adaptive_rule.h"
#include "bench_args.h"
#include "noise.h"
#include "still_core.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

unsigned W = 96, H = 54, F = 2048;
std::size_t P = 0;

// Every frame's sample: sample(f, p, ch), frames from 0.
std::vector<float> samples;
float sample(unsigned f, std::size_t p, int ch) {
  return samples[(std::size_t{f} * P + p) * 3 + ch];
}

bool render(unsigned firstFrame, std::vector<float> &out) {
  if (!stillOpen(W, H, ScenePass::Compute)) return false;
  stillStartAt(firstFrame, nullptr, 0);
  out.resize(std::size_t{F} * P * 3);
  std::vector<float> before(P * 3, 0.0f), after(P * 3);
  for (unsigned f = 0; f < F; ++f) {
    stillRenderFrame();
    stillReadSum(after.data());
    for (std::size_t k = 0; k < P * 3; ++k)
      out[std::size_t{f} * P * 3 + k] = after[k] - before[k];
    std::swap(before, after);
    if (f % 256 == 255) std::fprintf(stderr, "  %u frames\n", f + 1);
  }
  stillClose();
  return true;
}

bool loadOrRender(const std::string &keep, const char *name, unsigned first,
                  std::vector<float> &out) {
  std::string file = keep.empty() ? "" : keep + "/" + name;
  if (!file.empty()) {
    std::ifstream in(file, std::ios::binary);
    out.resize(std::size_t{F} * P * 3);
    if (in.read(reinterpret_cast<char *>(out.data()), out.size() * 4)) return true;
  }
  std::fprintf(stderr, "rendering %u frames of %ux%u from frame %u\n", F, W, H, first);
  if (!render(first, out)) return false;
  if (!file.empty())
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char *>(out.data()), out.size() * 4);
  return true;
}

// A pixel's running statistics: sum and sum of squares per channel, count.
struct Stats {
  double s[3] = {}, q[3] = {}, n = 0;
  void add(unsigned f, std::size_t p) {
    for (int ch = 0; ch < 3; ++ch) {
      double v = sample(f, p, ch);
      s[ch] += v;
      q[ch] += v * v;
    }
    n += 1;
  }
};

// The error in levels of a mean of n samples, with the spread that st shows;
// NaN for a pixel that traces nothing, infinity with under 2 samples.
double levelsFrom(const Stats &st, double n) {
  if (st.n < 2) return INFINITY;
  double mean[3], variance[3];
  if (!sampleSpread(st.s, st.q, st.n, mean, variance)) return NAN;
  return levelsOf(mean, variance, n);
}

double rank(std::vector<double> v, double share) {
  v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
  if (v.empty()) return NAN;
  std::size_t k = static_cast<std::size_t>(std::ceil(share * v.size()));
  std::nth_element(v.begin(), v.begin() + (k ? k - 1 : 0), v.end());
  return v[k ? k - 1 : 0];
}

struct Rule {
  const char *name;
  bool heldOut;         // decide from every 8th frame, kept out of the mean
  unsigned min;         // frames before any pixel may stop
  int neighbour;        // 0: none, 1: the 3x3 median of needs where above the own
  int pool = 0;         // the variance: 0 the pixel's own; R: at least the mean over (2R+1)^2
  double factor = 1.0;  // a pixel stops at factor x L
  unsigned every = 8;   // every Nth frame is held out
  bool oracle = false;  // each pixel's spread known from all F frames
  bool poolMax = false; // the pool's largest variance rather than its mean
};

struct Result {
  double samples = 0, frames = 0, p50 = 0, p95 = 0, p99 = 0, max = 0, bias = 0, biasSe = 0;
};

std::vector<Stats> truth; // every pixel over all F frames
std::vector<double> reference;

// The picture's true noise: each pixel's error from its spread over all F
// frames and the count n[p] its mean holds.
void trueNoise(const std::vector<double> &n, Result &r) {
  std::vector<double> e(P);
  for (std::size_t p = 0; p < P; ++p)
    e[p] = levelsFrom(truth[p], n[p]);
  r.p50 = rank(e, 0.5);
  r.p95 = rank(e, 0.95);
  r.p99 = rank(e, 0.99);
  r.max = rank(e, 1.0);
}

void bias(const std::vector<Stats> &mean, Result &r) {
  double d = 0, dd = 0, ref = 0, count = 0;
  for (std::size_t p = 0; p < P; ++p) {
    if (std::isnan(levelsFrom(truth[p], 1))) continue;
    for (int ch = 0; ch < 3; ++ch) {
      double x = mean[p].s[ch] / mean[p].n - reference[p * 3 + ch];
      d += x;
      dd += x * x;
      ref += reference[p * 3 + ch];
      count += 1;
    }
  }
  r.bias = d / ref;
  // Pixels are independent: the spread of the differences gives the error.
  r.biasSe = std::sqrt(std::max(dd / count - (d / count) * (d / count), 0.0) / count) * count / ref;
}

// The uniform render: frames until the noise figure is at most L.
Result uniform(double level) {
  std::vector<Stats> st(P);
  Result r;
  for (unsigned f = 0; f < F; ++f) {
    for (std::size_t p = 0; p < P; ++p)
      st[p].add(f, p);
    if ((f + 1) % 8 && f + 1 != F) continue;
    std::vector<double> e(P);
    for (std::size_t p = 0; p < P; ++p)
      e[p] = levelsFrom(st[p], st[p].n);
    if (rank(e, 0.95) <= level || f + 1 == F) {
      r.frames = f + 1;
      break;
    }
  }
  r.samples = r.frames * P;
  trueNoise(std::vector<double>(P, r.frames), r);
  bias(st, r);
  return r;
}

// An adaptive render with rule: decisions every 8th frame from rule.min on;
// the render ends once the noise figure of the means is at most L.
Result adaptive(double level, const Rule &rule) {
  std::vector<Stats> mean(P), held(P);
  std::vector<char> running(P, 1);
  std::vector<double> need(P, 0);
  Result r;
  for (unsigned f = 0; f < F; ++f) {
    const bool decision = rule.heldOut && (f + 1) % rule.every == 0;
    for (std::size_t p = 0; p < P; ++p)
      if (running[p]) (decision ? held : mean)[p].add(f, p), r.samples += 1;
    r.frames = f + 1;
    if ((f + 1) % 8) continue;
    std::vector<double> e(P);
    for (std::size_t p = 0; p < P; ++p)
      e[p] = levelsFrom(mean[p], mean[p].n);
    if (rank(e, 0.95) <= level) break;
    if (f + 1 < rule.min || (f + 1) % rule.every) continue;
    // The frames each pixel's mean needs for L, from the deciding samples.
    std::vector<double> mu(P * 3, 0), var(P * 3, 0);
    std::vector<char> varies(P, 0);
    for (std::size_t p = 0; p < P; ++p) {
      const Stats &d = rule.oracle ? truth[p] : rule.heldOut ? held[p] : mean[p];
      if (d.n >= 2) varies[p] = sampleSpread(d.s, d.q, d.n, &mu[p * 3], &var[p * 3]);
    }
    for (std::size_t p = 0; p < P; ++p) {
      if (!running[p]) continue;
      if (!varies[p]) {
        need[p] = 0;
        continue;
      }
      double v[3] = {var[p * 3], var[p * 3 + 1], var[p * 3 + 2]};
      if (rule.pool > 0) {
        int x = static_cast<int>(p % W), y = static_cast<int>(p / W), r = rule.pool;
        double m[3] = {0, 0, 0}, mx[3] = {0, 0, 0}, c = 0;
        for (int dy = -r; dy <= r; ++dy)
          for (int dx = -r; dx <= r; ++dx)
            if (x + dx >= 0 && x + dx < int(W) && y + dy >= 0 && y + dy < int(H)) {
              std::size_t q = std::size_t(y + dy) * W + std::size_t(x + dx);
              for (int ch = 0; ch < 3; ++ch) {
                m[ch] += var[q * 3 + ch];
                mx[ch] = std::max(mx[ch], var[q * 3 + ch]);
              }
              c += 1;
            }
        for (int ch = 0; ch < 3; ++ch)
          v[ch] = std::max(v[ch], rule.poolMax ? mx[ch] : m[ch] / c);
      }
      double at = levelsOf(&mu[p * 3], v, mean[p].n);
      need[p] = mean[p].n * (at / level / rule.factor) * (at / level / rule.factor);
    }
    std::vector<double> own = need;
    for (std::size_t p = 0; p < P; ++p) {
      if (!running[p]) continue;
      double n = own[p];
      if (rule.neighbour == 1) {
        std::vector<double> around;
        int x = static_cast<int>(p % W), y = static_cast<int>(p / W);
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if (x + dx >= 0 && x + dx < int(W) && y + dy >= 0 && y + dy < int(H))
              around.push_back(own[std::size_t(y + dy) * W + std::size_t(x + dx)]);
        std::nth_element(around.begin(), around.begin() + around.size() / 2, around.end());
        n = std::max(n, around[around.size() / 2]);
      }
      if (mean[p].n >= n) running[p] = 0;
    }
  }
  std::vector<double> n(P);
  for (std::size_t p = 0; p < P; ++p)
    n[p] = mean[p].n;
  trueNoise(n, r);
  bias(mean, r);
  return r;
}

// The shipped rule itself (adaptive_rule.h), replayed: every 8th frame held
// out, and runningPixels deciding after each, as exegfx-still --adaptive runs
// it; the render ends once the picture's noise_p95 is at most L, no pixel
// runs, or at F. worst, when given, gets
// the pixel whose true error ends highest: its count and true need for L.
Result shipped(double level, std::string *worst = nullptr) {
  const AdaptiveRule rule = adaptiveRule(level);
  Picture pic;
  pic.width = W;
  pic.height = H;
  for (Samples *s : {&pic.mean, &pic.held}) {
    s->sum.assign(P * 3, 0.0);
    s->squares.assign(P * 3, 0.0);
    s->count.assign(P, 0.0);
  }
  std::vector<char> running(P, 1);
  Result r;
  for (unsigned f = 0; f < F; ++f) {
    Samples &into = heldFrame(rule, f + 1) ? pic.held : pic.mean;
    for (std::size_t p = 0; p < P; ++p) {
      if (!running[p]) continue;
      for (int ch = 0; ch < 3; ++ch) {
        const double v = sample(f, p, ch);
        into.sum[p * 3 + ch] += v;
        into.squares[p * 3 + ch] += v * v;
      }
      into.count[p] += 1;
      r.samples += 1;
    }
    r.frames = f + 1;
    // exegfx-still's end: the picture's own figure at most L, or no pixel running.
    if ((f + 1) % 8 == 0) {
      const NoiseFigure figure = pictureNoise(pic);
      if (figure.known && figure.p95 <= level) break;
    }
    if (!heldFrame(rule, f + 1) || f + 1 < rule.minFrames) continue;
    std::fill(running.begin(), running.end(), 0);
    for (std::uint32_t q : runningPixels(pic, rule, f + 1))
      running[std::size_t{q >> 16} * W + (q & 0xffff)] = 1;
    if (std::find(running.begin(), running.end(), 1) == running.end()) break;
  }
  trueNoise(pic.mean.count, r);
  std::vector<Stats> mean(P);
  for (std::size_t p = 0; p < P; ++p) {
    for (int ch = 0; ch < 3; ++ch)
      mean[p].s[ch] = pic.mean.sum[p * 3 + ch];
    mean[p].n = pic.mean.count[p];
  }
  bias(mean, r);
  if (worst) {
    std::size_t at = 0;
    double most = -1, stopped = 0; // the largest of all, of the pixels the rule stopped
    for (std::size_t p = 0; p < P; ++p) {
      const double e = levelsFrom(truth[p], pic.mean.count[p]);
      if (e > most) most = e, at = p;
      if (!running[p] && e > stopped) stopped = e;
    }
    // Its true need: the samples that bring 255 standard errors to L, from
    // its spread over all F frames, its largest channel's.
    double mu[3], var[3];
    sampleSpread(truth[at].s, truth[at].q, truth[at].n, mu, var);
    const double v = std::max({var[0], var[1], var[2]});
    char text[256];
    std::snprintf(
        text, sizeof text,
        "worst pixel (%zu, %zu): %.1f levels after %.0f samples (%.0f held out, "
        "held-out sum %.1f), needs %.0f for L; of the pixels stopped: %.1f",
        at % W, H - 1 - at / W, most, pic.mean.count[at], pic.held.count[at],
        std::max({pic.held.sum[at * 3], pic.held.sum[at * 3 + 1], pic.held.sum[at * 3 + 2]}),
        255.0 * 255.0 * v / (level * level), stopped);
    *worst = text;
  }
  return r;
}

void print(const char *name, const Result &r, const Result &u) {
  std::printf("  %-34s %7.0f %8.2fx %6.2f %6.2f %6.2f %7.2f %+8.4f%% +- %.4f%%\n", name, r.frames,
              u.samples / r.samples, r.p50, r.p95, r.p99, r.max, 100 * r.bias, 100 * r.biasSe);
}

} // namespace

int main(int argc, char **argv) {
  std::string keep, levelList = "12,8,6";
  for (int k = 1; k < argc; ++k) {
    std::string a = argv[k];
    if (a == "--frames" && k + 1 < argc) {
      if (!parseBenchFrames(argv[++k], F)) return 2;
    } else if (a == "--keep" && k + 1 < argc) {
      keep = argv[++k];
    } else if (a == "--levels" && k + 1 < argc) {
      levelList = argv[++k];
    } else if (!parseBenchSize(argv[k], W, H)) {
      std::fprintf(stderr, "usage: %s [--frames F] [--keep DIR] [--levels A,B] [WxH]\n", argv[0]);
      return 2;
    }
  }
  P = std::size_t{W} * H;
  std::vector<float> ref;
  // The reference: the frames right after those kept (frame numbers far
  // from these give a picture of their own; see docs/performance.md).
  if (!loadOrRender(keep, "reference.f32", F + 1, ref)) return 1;
  reference.assign(P * 3, 0.0);
  for (unsigned f = 0; f < F; ++f)
    for (std::size_t k = 0; k < P * 3; ++k)
      reference[k] += ref[std::size_t{f} * P * 3 + k] / F;
  ref = {};
  if (!loadOrRender(keep, "samples.f32", 1, samples)) return 1;
  truth.assign(P, Stats{});
  for (unsigned f = 0; f < F; ++f)
    for (std::size_t p = 0; p < P; ++p)
      truth[p].add(f, p);

  const Rule rules[] = {
      {"perfect knowledge, from 64", false, 64, 0, 0, 1.0, 8, true},
      {"held-out, own, from 64", true, 64, 0},
      {"held-out, own, from 128", true, 128, 0},
      {"held-out, 3x3 median need, from 128", true, 128, 1},
      {"held-out, largest within 2, from 256", true, 256, 0, 2, 1.0, 8, false, true},
      {"naive, own, from 64", false, 64, 0},
  };
  std::printf("%ux%u, %u frames kept; true noise in levels; bias against %u other frames\n", W, H,
              F, F);
  for (std::size_t at = 0; at < levelList.size();) {
    std::size_t comma = levelList.find(',', at);
    double level = std::atof(levelList.substr(at, comma - at).c_str());
    at = comma == std::string::npos ? levelList.size() : comma + 1;
    Result u = uniform(level);
    std::printf("L = %g%s\n  %-26s %7s %9s %6s %6s %6s %7s %s\n", level,
                u.frames == F ? " (uniform did not reach it)" : "", "rule", "frames", "gain", "p50",
                "p95", "p99", "max", "bias");
    print("uniform", u, u);
    for (const Rule &rule : rules)
      print(rule.name, adaptive(level, rule), u);
    std::string worst;
    print("the shipped rule (adaptive_rule.h)", shipped(level, &worst), u);
    std::printf("  %s\n", worst.c_str());
  }
  return 0;
}

#include "frame_source.h"

#include "adaptive_pass.h"
#include "still_core.h"

#include <vector>

namespace {

class UniformSource : public FrameSource {
public:
  UniformSource(unsigned width, unsigned height, unsigned firstFrame, const Picture &resumed)
      : size{width, height}, first(firstFrame) {
    const unsigned held = static_cast<unsigned>(frameCount(resumed.frames));
    startHeld = held;
    std::vector<float> sum(resumed.mean.sum.begin(), resumed.mean.sum.end());
    std::vector<float> squares(resumed.mean.squares.begin(), resumed.mean.squares.end());
    stillStartAt(firstFrame + held, held ? sum.data() : nullptr, held,
                 squares.empty() ? nullptr : squares.data());
  }
  bool frame() override {
    unsigned before = stillFrames();
    stillRenderFrame();
    return stillFrames() != before; // the limit guard refused it
  }
  unsigned frames() const override { return stillFrames(); }
  double samples() const override { return double(stillFrames() - startHeld) * size[0] * size[1]; }
  bool hasSquares() const override { return stillHasSquares(); }
  Picture read() override {
    const unsigned n = stillFrames();
    const std::size_t values = std::size_t{size[0]} * size[1] * 3;
    std::vector<float> sum(values), squares;
    stillReadSum(sum.data());
    if (stillHasSquares()) {
      squares.resize(values);
      stillReadSquares(squares.data());
    }
    return uniformPicture(size[0], size[1], {{first, first + n - 1}}, sum.data(),
                          squares.empty() ? nullptr : squares.data());
  }
  void finish() override { stillFinish(); }

private:
  unsigned size[2];
  unsigned first, startHeld = 0;
};

// The adaptive pass's sums, with the counts and the held-out samples kept
// here too: the stopping rule reads them after every decision frame.
class AdaptiveSource : public FrameSource {
public:
  AdaptiveSource(unsigned width, unsigned height, unsigned firstFrame, const Picture &resumed,
                 const AdaptiveRule &r)
      : first(firstFrame), rule(r) {
    state.width = width;
    state.height = height;
    const std::size_t pixels = state.pixels();
    if (resumed.adaptive()) {
      state = resumed;
      k = static_cast<unsigned>(frameCount(resumed.frames));
      // A file merged with an older part has no squares: they stay unknown.
      squaresKnown = resumed.hasSquares();
      if (!squaresKnown) state.mean.squares.assign(pixels * 3, 0.0);
      load(AdaptiveSum::Mean, state.mean.sum, &state.mean.count);
      load(AdaptiveSum::MeanSquares, state.mean.squares, nullptr);
      load(AdaptiveSum::Held, state.held.sum, &state.held.count);
      load(AdaptiveSum::HeldSquares, state.held.squares, nullptr);
    } else {
      for (Samples *s : {&state.mean, &state.held}) {
        s->sum.assign(pixels * 3, 0.0);
        s->squares.assign(pixels * 3, 0.0);
        s->count.assign(pixels, 0.0);
      }
    }
    running = runningPixels(state, rule, k);
    adaptiveSetRunning(running);
  }
  bool frame() override {
    const bool held = heldFrame(rule, k + 1);
    if (!adaptiveFrame(first + k, held)) return false;
    ++k;
    std::vector<double> &count = held ? state.held.count : state.mean.count;
    for (std::uint32_t q : running)
      count[std::size_t{q >> 16} * state.width + (q & 0xffff)] += 1.0;
    traced += static_cast<double>(running.size());
    if (held && k >= rule.minFrames) {
      // Only the held-out sums decide; the mean's stay on the GPU.
      readInto(AdaptiveSum::Held, state.held.sum, nullptr);
      readInto(AdaptiveSum::HeldSquares, state.held.squares, nullptr);
      running = runningPixels(state, rule, k);
      adaptiveSetRunning(running);
    }
    return true;
  }
  unsigned frames() const override { return k; }
  bool tracing() const override { return !running.empty(); }
  double samples() const override { return traced; }
  bool hasSquares() const override { return squaresKnown; }
  Picture read() override {
    Picture p = state;
    p.frames = {{first, first + k - 1}};
    readInto(AdaptiveSum::Mean, p.mean.sum, &p.mean.count);
    readInto(AdaptiveSum::MeanSquares, p.mean.squares, nullptr);
    if (!squaresKnown) p.mean.squares.clear();
    readInto(AdaptiveSum::Held, p.held.sum, &p.held.count);
    readInto(AdaptiveSum::HeldSquares, p.held.squares, nullptr);
    return p;
  }
  void finish() override { stillFinish(); }

private:
  // Between RGB (and a count) here and RGBA on the GPU.
  void load(AdaptiveSum which, const std::vector<double> &rgb, const std::vector<double> *count) {
    std::vector<float> rgba(state.pixels() * 4);
    for (std::size_t p = 0; p < state.pixels(); ++p) {
      for (int ch = 0; ch < 3; ++ch)
        rgba[p * 4 + ch] = static_cast<float>(rgb[p * 3 + ch]);
      rgba[p * 4 + 3] = count ? static_cast<float>((*count)[p]) : 0.0f;
    }
    adaptiveLoad(which, rgba.data());
  }
  void readInto(AdaptiveSum which, std::vector<double> &rgb, std::vector<double> *count) {
    std::vector<float> rgba(state.pixels() * 4);
    adaptiveRead(which, rgba.data());
    for (std::size_t p = 0; p < state.pixels(); ++p) {
      for (int ch = 0; ch < 3; ++ch)
        rgb[p * 3 + ch] = rgba[p * 4 + ch];
      if (count) (*count)[p] = rgba[p * 4 + 3];
    }
  }

  unsigned first, k = 0;
  bool squaresKnown = true;
  AdaptiveRule rule;
  Picture state;
  std::vector<std::uint32_t> running;
  double traced = 0.0;
};

} // namespace

std::unique_ptr<FrameSource> uniformSource(unsigned width, unsigned height, unsigned firstFrame,
                                           const Picture &resumed) {
  return std::make_unique<UniformSource>(width, height, firstFrame, resumed);
}

std::unique_ptr<FrameSource> adaptiveSource(unsigned width, unsigned height, unsigned firstFrame,
                                            const Picture &resumed, const AdaptiveRule &rule) {
  return std::make_unique<AdaptiveSource>(width, height, firstFrame, resumed, rule);
}

#include "render_loop.h"

#include "accumulation.h"
#include "bands.h"
#include "page.h"

#include <emscripten/emscripten.h>
#include <emscripten/eventloop.h>

#include <GLES3/gl3.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

// Bands are queued ahead, about queueAheadMs of the GPU's time, so that it
// never waits for the page between them: browsers tell a fence or a timer
// query has finished only every few milliseconds (some, once per display
// frame). The page polls at a quarter of the oldest band's expected time,
// within pollLeastMs and pollMostMs.
static constexpr int queueMost = 8;
static constexpr double queueAheadMs = 60.0;
static constexpr double pollLeastMs = 1.0;
static constexpr double pollMostMs = 8.0;
static constexpr double reportMs = 250.0;
// EXT_disjoint_timer_query_webgl2's names, which GLES3/gl3.h lacks.
static constexpr GLenum timeElapsed = 0x88BF;
static constexpr GLenum gpuDisjoint = 0x8FBB;

struct Submitted {
  GLsync fence;
  GLuint query; // the band's GPU time where the browser offers timer queries, else 0
  BandRect rect;
  unsigned frame;
  long pixels;
  double submitMs;
  bool endsFrame;
};

// The frame's bands as the GPU finished them.
struct FrameStats {
  int bands;
  long pixels;
  double longestBandMs;
};

static struct {
  PageOptions options;
  BandPlanner planner;
  bool timerQueries;
  Submitted queue[queueMost];
  int queued;
  unsigned framesSubmitted; // frames whose bands are all submitted: the sum holds them
  unsigned framesDone;      // frames the GPU has finished
  bool frameOpen;
  bool running;
  double startMs, lastCompletionMs, frameDoneMs, reportedMs, lastFrameMs;
  FrameStats frame, lastFrame;
} loop;

unsigned loopFramesHeld() {
  return loop.framesSubmitted;
}

static void report(double now, bool force) {
  if (!force && now - loop.reportedMs < reportMs) return;
  loop.reportedMs = now;
  const FrameStats &f = loop.lastFrame;
  page_progress(loop.framesDone, now - loop.startMs, loop.lastFrameMs, f.bands,
                f.bands ? static_cast<double>(f.pixels) / f.bands : 0.0, f.longestBandMs,
                loop.framesDone >= loop.options.frames);
}

static void frameFinished(double now) {
  ++loop.framesDone;
  loop.lastFrameMs = now - loop.frameDoneMs;
  loop.frameDoneMs = now;
  loop.lastFrame = loop.frame;
  loop.frame = FrameStats{};
  const FrameStats &f = loop.lastFrame;
  std::printf("frame %u: %.0f ms, %d bands of %.0f pixels on average, the longest %.1f ms\n",
              loop.framesDone, loop.lastFrameMs, f.bands,
              f.bands ? static_cast<double>(f.pixels) / f.bands : 0.0, f.longestBandMs);
}

static bool finished(const Submitted &s) {
  GLint status = GL_UNSIGNALED;
  glGetSynciv(s.fence, GL_SYNC_STATUS, 1, nullptr, &status);
  if (status != GL_SIGNALED) return false;
  GLuint available = GL_TRUE;
  if (s.query) glGetQueryObjectuiv(s.query, GL_QUERY_RESULT_AVAILABLE, &available);
  return available == GL_TRUE;
}

// The GPU's time for each of the first bands of the queue: from the timer
// queries where every one has a valid result, else the time since the first
// could start, shared out by pixels.
static void bandTimes(int bands, double now, double *ms) {
  long pixels = 0;
  for (int k = 0; k < bands; ++k)
    pixels += loop.queue[k].pixels;
  double wall = now - std::max(loop.queue[0].submitMs, loop.lastCompletionMs);
  GLint disjoint = 0;
  if (loop.timerQueries) glGetIntegerv(gpuDisjoint, &disjoint);
  for (int k = 0; k < bands; ++k) {
    GLuint ns = 0;
    if (loop.queue[k].query && !disjoint)
      glGetQueryObjectuiv(loop.queue[k].query, GL_QUERY_RESULT, &ns);
    ms[k] = ns ? ns / 1e6 : wall * loop.queue[k].pixels / pixels;
  }
}

// Takes the bands the GPU has finished, in order, and measures them.
static void collectFinished(double now) {
  int bands = 0;
  while (bands < loop.queued && finished(loop.queue[bands]))
    ++bands;
  if (bands == 0) return;
  double ms[queueMost];
  bandTimes(bands, now, ms);
  loop.lastCompletionMs = now;
  for (int k = 0; k < bands; ++k) {
    const Submitted &s = loop.queue[k];
    bandsMeasured(loop.planner, s.rect, s.frame, ms[k]);
    glDeleteSync(s.fence);
    if (s.query) glDeleteQueries(1, &s.query);
    loop.frame.bands += 1;
    loop.frame.pixels += s.pixels;
    loop.frame.longestBandMs = std::max(loop.frame.longestBandMs, ms[k]);
    if (s.endsFrame) frameFinished(now);
  }
  std::copy(loop.queue + bands, loop.queue + loop.queued, loop.queue);
  loop.queued -= bands;
}

// The GPU time the queued bands are expected to take.
static double queuedMs() {
  double ms = 0.0;
  for (int k = 0; k < loop.queued; ++k)
    ms += bandsExpectedMs(loop.planner, loop.queue[k].rect);
  return ms;
}

// One band, and after the last band of a frame the display pass.
static void submitBand(double now) {
  if (!loop.frameOpen) {
    beginSceneFrame(0.0f); // the page has no run limits
    bandsNewFrame(loop.planner);
    loop.frameOpen = true;
  }
  BandRect rect = bandsNext(loop.planner);
  GLuint query = 0;
  if (loop.timerQueries) {
    glGenQueries(1, &query);
    glBeginQuery(timeElapsed, query);
  }
  renderSceneRect(rect.x, rect.y, rect.width, rect.height);
  if (query) glEndQuery(timeElapsed);
  bool endsFrame = bandsFrameDone(loop.planner);
  if (endsFrame) {
    endSceneFrame();
    renderDisplayPass();
    ++loop.framesSubmitted;
    loop.frameOpen = false;
  }
  GLsync fence = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  loop.queue[loop.queued++] = {
      fence, query, rect, loop.planner.frame, long{rect.width} * rect.height, now, endsFrame};
}

// Queues bands until about queueAheadMs of work waits, or the last frame's
// are all submitted. Until the first band is measured, one at a time.
static void submitBands(double now) {
  bool submitted = false;
  while (loop.queued < queueMost && loop.framesSubmitted < loop.options.frames) {
    bool measured = loop.planner.worstCost > 0.0;
    if (loop.queued > 0 && (!measured || queuedMs() >= queueAheadMs)) break;
    submitBand(now);
    submitted = true;
  }
  if (submitted) glFlush();
}

// Each start's ticks carry its number, so none of a stopped run goes on.
static unsigned runNumber;

static void tick(void *run) {
  if (!loop.running || reinterpret_cast<std::uintptr_t>(run) != runNumber) return;
  double now = emscripten_get_now();
  collectFinished(now);
  submitBands(now);
  bool done = loop.framesDone >= loop.options.frames;
  report(now, done);
  if (done) {
    loop.running = false;
    return;
  }
  double expected = loop.queued ? bandsExpectedMs(loop.planner, loop.queue[0].rect) : 0.0;
  emscripten_set_timeout(tick, std::clamp(expected / 4.0, pollLeastMs, pollMostMs), run);
}

// The link log of a program that did not build, for the page.
static std::string linkLog(GLuint program) {
  char log[2048] = "";
  glGetProgramInfoLog(program, sizeof log, nullptr, log);
  return log;
}

static bool passesBuilt() {
  AccumulationView view = accumulationView();
  for (GLuint program : view.programs) {
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) {
      page_fail(
          ("The scene's shaders did not build on this browser's WebGL 2:\n" + linkLog(program))
              .c_str());
      return false;
    }
  }
  return true;
}

// The running sum needs float render targets of the whole render size.
static bool targetsMade() {
  AccumulationView view = accumulationView();
  GLenum error = glGetError();
  glBindFramebuffer(GL_FRAMEBUFFER, view.framebuffer);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, view.textures[0], 0);
  GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  if (error == GL_OUT_OF_MEMORY) {
    page_fail("The GPU has no memory for two 32-bit float pictures of this size: try a smaller "
              "size.");
    return false;
  }
  if (status != GL_FRAMEBUFFER_COMPLETE) {
    page_fail("This browser's WebGL 2 cannot render into 32-bit float textures, which the "
              "running sum needs.");
    return false;
  }
  return true;
}

bool loopStart(const PageOptions &options, bool timerQueries) {
  loopStop();
  loop = {};
  loop.options = options;
  for (int k = 0; k < 16 && glGetError() != GL_NO_ERROR; ++k) {
  }
  initAccumulation(options.width, options.height);
  if (!passesBuilt() || !targetsMade()) return false;
  loop.timerQueries = timerQueries;
  bandsStart(loop.planner, static_cast<int>(options.width), static_cast<int>(options.height),
             options.bandMs);
  loop.startMs = loop.frameDoneMs = loop.reportedMs = emscripten_get_now();
  loop.running = true;
  page_started(options.width, options.height, options.frames);
  tick(reinterpret_cast<void *>(std::uintptr_t{++runNumber}));
  return true;
}

void loopStop() {
  loop.running = false;
  loop.framesSubmitted = 0; // a lost context takes the running sum with it
}

// exegfx-still: the picture without a window. Renders the scene through the
// headless core, frame by frame as the window would, and writes the mean.
#include "frame_ranges.h"
#include "image_write.h"
#include "noise.h"
#include "output_lock.h"
#include "partial_file.h"
#include "platform_egl.h"
#include "process_guard.h"
#include "scene_identity.h"
#include "still_core.h"
#include "still_options.h"
#include "whole_file.h"

#include <chrono>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#ifndef EXEGFX_VERSION
#define EXEGFX_VERSION "unknown"
#endif

// The first stop signal's number; 0 while none came.
static volatile std::sig_atomic_t stopSignal = 0;

static void onStopSignal(int sig) {
  if (stopSignal) {
    // The second signal: quit at once. A write in progress leaves its
    // temporary file, never a half-written output.
    removeTemporaryFile();
    removeOutputLocks();
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  stopSignal = sig;
  // write is safe in a signal handler; stdio is not.
  const char *name = sig == SIGTERM ? "\nSIGTERM" : sig == SIGHUP ? "\nSIGHUP" : "\nSIGINT";
  static const char notice[] = ": stopping after the frame in progress to write the frames done "
                               "(a second signal quits at once, writing nothing).\n";
  ssize_t ignored = write(STDERR_FILENO, name, std::strlen(name));
  ignored = write(STDERR_FILENO, notice, sizeof notice - 1);
  (void)ignored;
}

// Ctrl-C, a batch system's or a service manager's stop, and a closed terminal
// all ask for a stop after the frame in progress (a full-size frame on a
// software renderer can take many seconds).
static void catchStopSignals() {
  struct sigaction action = {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP})
    sigaction(sig, &action, nullptr);
}

static const char *signalName(int sig) {
  return sig == SIGTERM ? "SIGTERM" : sig == SIGHUP ? "SIGHUP" : "SIGINT";
}

static int fail(const std::string &message) {
  std::fprintf(stderr, "exegfx-still: %s\n", message.c_str());
  return 1;
}

static std::string duration(double seconds) {
  char text[32];
  long s = static_cast<long>(seconds + 0.5);
  if (seconds < 1.0)
    std::snprintf(text, sizeof text, "%.2fs", seconds);
  else if (seconds < 10.0)
    std::snprintf(text, sizeof text, "%.1fs", seconds);
  else if (s < 60)
    std::snprintf(text, sizeof text, "%lds", s);
  else if (s < 3600)
    std::snprintf(text, sizeof text, "%ldm %02lds", s / 60, s % 60);
  else
    std::snprintf(text, sizeof text, "%ldh %02ldm", s / 3600, s / 60 % 60);
  return text;
}

static std::string rate(double perSecond) {
  char text[32];
  if (perSecond >= 1e9)
    std::snprintf(text, sizeof text, "%.2fG", perSecond / 1e9);
  else if (perSecond >= 1e6)
    std::snprintf(text, sizeof text, "%.2fM", perSecond / 1e6);
  else if (perSecond >= 1e3)
    std::snprintf(text, sizeof text, "%.1fk", perSecond / 1e3);
  else
    std::snprintf(text, sizeof text, "%.0f", perSecond);
  return text;
}

struct Progress {
  bool terminal;
  double lastShown;
};

// The noise figure while rendering. Measuring it reads the sums back, so it
// runs once the rendering since the last time took 99 times as long as that
// measurement did: at most 1% of the run.
struct NoiseWatch {
  NoiseFigure figure;  // the latest
  unsigned frames = 0; // the frames it was measured at
  double nextAt = 0.0; // elapsed seconds from which the next may run
  double spent = 0.0;  // seconds all measurements took
  unsigned count = 0;  // measurements made
};

// Frames of the run the noise figure asks for: the standard error falls as
// one over the square root of the frames.
static double framesForNoise(const NoiseWatch &watch, double level) {
  double ratio = watch.figure.p95 / level;
  return watch.frames * ratio * ratio;
}

// Progress on standard error. A terminal gets one line redrawn a few times a
// second; a log (a batch job, a pipe) gets a line of fixed form after the
// first frame and then at most every five seconds, flushed, for scripts and
// farm monitors:
//   progress frames=DONE/TOTAL samples_per_s=N left_s=N elapsed_s=N noise_p95=N
// noise_p95 is the latest noise figure, "unknown" before one exists.
static void showProgress(Progress &progress, const StillOptions &options, unsigned held,
                         unsigned rendered, double elapsed, const NoiseWatch &watch,
                         bool finished) {
  double interval = progress.terminal ? 0.25 : 5.0;
  if (elapsed - progress.lastShown < interval && !finished) return;
  if (!progress.terminal && finished) return; // the final line follows
  progress.lastShown = elapsed;
  double perFrame = elapsed / rendered;
  double target = options.frames;
  if (options.untilNoise > 0.0 && watch.figure.known)
    target = std::min(target, std::max(framesForNoise(watch, options.untilNoise), double(held)));
  double left = perFrame * (target - held);
  if (options.seconds > 0.0 && options.seconds - elapsed < left)
    left = options.seconds > elapsed ? options.seconds - elapsed : 0.0;
  double samples = static_cast<double>(options.width) * options.height * rendered / elapsed;
  if (progress.terminal)
    std::fprintf(stderr, "\r%u/%u frames, %s samples/s, noise p95 %s, %s left\033[K", held,
                 options.frames, rate(samples).c_str(), noiseText(watch.figure),
                 duration(left).c_str());
  else
    std::fprintf(stderr,
                 "progress frames=%u/%u samples_per_s=%.0f left_s=%.0f elapsed_s=%.0f "
                 "noise_p95=%s\n",
                 held, options.frames, samples, left, elapsed, noiseText(watch.figure));
  std::fflush(stderr);
}

static std::string rangeText(unsigned first, unsigned last) {
  return formatFrameRanges({{first, last}});
}

// A resumable output: the file at options.output, if any, must hold the first
// frames of the asked range, at the same size and of the same scene.
struct ResumeState {
  bool found = false;
  PartialInfo info;
  std::vector<float> sum, squares; // squares empty for an older version's file
  unsigned held = 0;
};

static bool loadResume(const StillOptions &options, ResumeState &state, std::string &error) {
  struct stat st;
  if (stat(options.output.c_str(), &st) != 0) {
    if (errno == ENOENT) return true; // nothing yet: a fresh start
    error = "Cannot read \"" + options.output + "\": " + std::strerror(errno) + ".";
    return false;
  }
  if (!readPartial(options.output, state.info, state.sum, error, &state.squares)) return false;
  const PartialInfo &info = state.info;
  const std::string name = "\"" + options.output + "\"";
  const unsigned last = options.firstFrame + options.frames - 1;
  if (info.width != options.width || info.height != options.height) {
    error = name + " is " + std::to_string(info.width) + "x" + std::to_string(info.height) +
            ", not the asked " + std::to_string(options.width) + "x" +
            std::to_string(options.height) + ".";
    return false;
  }
  if (info.scene != sceneIdentity) {
    error = name + " was rendered from another scene (" + info.scene + ", this program renders " +
            sceneIdentity + ").";
    return false;
  }
  if (info.frames.size() != 1 || info.frames[0].first != options.firstFrame ||
      info.frames[0].last > last) {
    error = name + " holds frames " + formatFrameRanges(info.frames) +
            ", which are not the first frames of the asked range " +
            rangeText(options.firstFrame, last) + ".";
    return false;
  }
  state.found = true;
  state.held = static_cast<unsigned>(frameCount(info.frames));
  return true;
}

// Reads the running sum back and writes the output file whole; noise is the
// figure of what was written.
static bool writeOutput(const StillOptions &options, const ResumeState &resume, NoiseFigure &noise,
                        std::string &error) {
  const std::size_t pixels = std::size_t{options.width} * options.height, values = pixels * 3;
  std::vector<float> sum(values), mean(values), squares;
  stillReadSum(sum.data());
  float n = static_cast<float>(stillFrames());
  for (std::size_t k = 0; k < values; ++k)
    mean[k] = sum[k] / n;
  noise = {};
  if (stillHasSquares()) {
    squares.resize(values);
    stillReadSquares(squares.data());
    noise = noiseFigure(sum.data(), squares.data(), pixels, stillFrames());
  }
  if (options.format != ImageFormat::Exr)
    return writeImage(options.output, options.format, options.width, options.height, mean.data(),
                      error);
  PartialInfo info;
  info.width = options.width;
  info.height = options.height;
  info.frames = {{options.firstFrame, options.firstFrame + stillFrames() - 1}};
  info.scene = sceneIdentity;
  info.version = EXEGFX_VERSION;
  info.renderers = resume.info.renderers;
  addUnique(info.renderers, {stillGlRenderer()});
  info.passes = resume.info.passes;
  addUnique(info.passes, {stillPassName()});
  info.devices = resume.info.devices;
  addUnique(info.devices, {eglDeviceTaken()});
  if (noise.known) {
    info.noiseMedian = noise.median;
    info.noiseP95 = noise.p95;
  }
  return writePartial(options.output, info, sum.data(), mean.data(), error,
                      squares.empty() ? nullptr : squares.data());
}

// The noise figure of the running sum now.
static NoiseFigure measureNoise(const StillOptions &options) {
  const std::size_t pixels = std::size_t{options.width} * options.height;
  std::vector<float> sum(pixels * 3), squares(pixels * 3);
  stillReadSum(sum.data());
  stillReadSquares(squares.data());
  return noiseFigure(sum.data(), squares.data(), pixels, stillFrames());
}

static double secondsSince(std::chrono::steady_clock::time_point start) {
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return s > 1e-9 ? s : 1e-9; // rates divide by it
}

static int render(const StillOptions &options) {
  const unsigned last = options.firstFrame + options.frames - 1;
  // A resumed file is checked before any GL work: a file that cannot be
  // continued is refused at once and left as it is.
  ResumeState resume;
  std::string error;
  if (options.resume) {
    if (!loadResume(options, resume, error))
      return fail("cannot resume: " + error + " Nothing was rendered, and \"" + options.output +
                  "\" is left as it was.");
    if (resume.held == options.frames) {
      std::fprintf(stderr, "%s already holds frames %s: nothing to render.\n",
                   options.output.c_str(), rangeText(options.firstFrame, last).c_str());
      return 0;
    }
    if (resume.found && !resume.info.hasSquares) {
      if (options.untilNoise > 0.0)
        return fail("cannot resume with --until-noise: \"" + options.output +
                    "\" has no sum of squares (an older version wrote it), so its noise is "
                    "unknown. Nothing was rendered, and the file is left as it was.");
      std::fprintf(stderr,
                   "exegfx-still: note: \"%s\" has no sum of squares (an older version wrote "
                   "it): its noise stays unknown, and it is written again without one.\n",
                   options.output.c_str());
    }
    if (resume.found && options.untilNoise > 0.0) {
      const std::size_t pixels = std::size_t{options.width} * options.height;
      NoiseFigure noise =
          noiseFigure(resume.sum.data(), resume.squares.data(), pixels, resume.held);
      if (noise.known && noise.p95 <= options.untilNoise) {
        std::fprintf(stderr,
                     "%s already holds frames %s with noise_p95=%s, at most the asked %g: "
                     "nothing to render.\n",
                     options.output.c_str(),
                     rangeText(options.firstFrame, options.firstFrame + resume.held - 1).c_str(),
                     noiseText(noise), options.untilNoise);
        return 0;
      }
    }
  }

  unsigned maxSize = 0;
  if (!stillProbeMaxSize(&maxSize))
    return fail(options.gpu >= 0 ? "nothing was rendered."
                                 : "no OpenGL 4.6 context with GLSL 4.60 could be made (see "
                                   "above); nothing was rendered.");
  if (options.width > maxSize || options.height > maxSize)
    return fail("--size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
                " is above this GL implementation's limit of " + std::to_string(maxSize) +
                " pixels per side.");

  catchStopSignals();
  if (!stillOpen(options.width, options.height, options.pass)) {
    stillClose();
    return fail("the headless GL context could not be set up (see above); nothing was "
                "rendered.");
  }
  stillStartAt(options.firstFrame + resume.held, resume.found ? resume.sum.data() : nullptr,
               resume.held, resume.squares.empty() ? nullptr : resume.squares.data());
  resume.sum = {};
  resume.squares = {};
  std::fflush(stdout); // the shader compiler's report comes before the progress
  if (resume.found)
    std::fprintf(stderr, "Resuming %s, which holds frames %s: ", options.output.c_str(),
                 rangeText(options.firstFrame, options.firstFrame + resume.held - 1).c_str());
  std::fprintf(stderr, "Rendering %u frames (%s) of %u x %u to %s with the %s pass on %s (%s)\n",
               options.frames - resume.held, rangeText(stillNextFrame(), last).c_str(),
               options.width, options.height, options.output.c_str(), stillPassName(),
               stillGlDescription(), eglDeviceTaken());

  Progress progress{isatty(STDERR_FILENO) == 1, -1e9}; // the first frame shows at once
  auto start = std::chrono::steady_clock::now();
  double elapsed = 0.0, checkpointAt = options.checkpointEvery, writeSeconds = 0.0;
  bool timeUp = false, limitReached = false, clean = false;
  NoiseWatch watch;
  while (stillFrames() < options.frames && !stopSignal && !timeUp && !clean) {
    unsigned before = stillFrames();
    stillRenderFrame();
    stillFinish();
    elapsed = secondsSince(start) - writeSeconds;
    if (stillFrames() == before) {
      limitReached = true; // a build with the run limits enforced stops counting
      break;
    }
    unsigned rendered = stillFrames() - resume.held;
    if (stillHasSquares() && stillFrames() >= 2 && elapsed >= watch.nextAt) {
      auto checkStart = std::chrono::steady_clock::now();
      watch.figure = measureNoise(options);
      watch.frames = stillFrames();
      double took = secondsSince(checkStart);
      watch.spent += took;
      ++watch.count;
      watch.nextAt = elapsed + 99.0 * took;
      clean =
          options.untilNoise > 0.0 && watch.figure.known && watch.figure.p95 <= options.untilNoise;
      elapsed = secondsSince(start) - writeSeconds;
    }
    timeUp = options.seconds > 0.0 && elapsed >= options.seconds;
    bool finished = stillFrames() == options.frames || timeUp || clean;
    showProgress(progress, options, stillFrames(), rendered, elapsed, watch, finished);
    if (options.checkpointEvery > 0.0 && elapsed >= checkpointAt && !finished && !stopSignal) {
      auto writeStart = std::chrono::steady_clock::now();
      // A failed checkpoint leaves the last one; rendering goes on, and the
      // final write tries again.
      NoiseFigure checkpointNoise;
      bool written = writeOutput(options, resume, checkpointNoise, error);
      if (checkpointNoise.known) { // measured anyway: the progress shows it
        watch.figure = checkpointNoise;
        watch.frames = stillFrames();
      }
      double took = secondsSince(writeStart);
      writeSeconds += took;
      checkpointAt = elapsed + options.checkpointEvery;
      if (!written)
        std::fprintf(stderr, "%sexegfx-still: checkpoint failed: %s\n",
                     progress.terminal ? "\r\033[K" : "", error.c_str());
      else if (progress.terminal)
        std::fprintf(stderr, "\r\033[KCheckpoint: wrote %s (%u of %u frames) in %s\n",
                     options.output.c_str(), stillFrames(), options.frames, duration(took).c_str());
      else
        std::fprintf(stderr, "checkpoint frames=%u/%u write_s=%.3f file=%s\n", stillFrames(),
                     options.frames, took, options.output.c_str());
      std::fflush(stderr);
    }
  }
  if (progress.terminal) std::fputs("\r\033[K", stderr);

  unsigned done = stillFrames(), rendered = done - resume.held;
  if (rendered == 0) {
    unsigned next = stillNextFrame();
    stillClose();
    if (limitReached)
      std::fprintf(stderr, "This build's frame limit allows no frame from %u on; %s\n", next,
                   resume.found ? "the output is left as it was." : "nothing was written.");
    else if (resume.found)
      std::fprintf(stderr, "Stopped by %s before the first new frame; %s still holds frames %s.\n",
                   signalName(stopSignal), options.output.c_str(),
                   rangeText(options.firstFrame, options.firstFrame + done - 1).c_str());
    else
      std::fprintf(stderr, "Stopped by %s before the first frame; nothing was written.\n",
                   signalName(stopSignal));
    return limitReached ? (resume.found ? 0 : 1) : 128 + stopSignal;
  }
  NoiseFigure noise;
  bool ok = writeOutput(options, resume, noise, error);
  stillClose();
  if (!ok) return fail(error);

  // A signal during the last frame cut nothing short.
  bool cut = stopSignal && done < options.frames && !timeUp && !limitReached && !clean;
  std::string why = cut            ? "Interrupted: "
                    : clean        ? "Noise level reached: "
                    : timeUp       ? "Time limit reached: "
                    : limitReached ? "Frame limit of this build reached: "
                                   : "";
  std::string median = noise.known ? std::string(", median ") + noiseText(noise, false) : "";
  std::fprintf(
      stderr,
      "%sWrote %s: %u of %u frames (%s) at %u x %u in %s (%.2f ms/frame, %s "
      "samples/s), noise_p95=%s levels%s.\n",
      why.c_str(), options.output.c_str(), done, options.frames,
      rangeText(options.firstFrame, options.firstFrame + done - 1).c_str(), options.width,
      options.height, duration(elapsed).c_str(), 1000.0 * elapsed / rendered,
      rate(static_cast<double>(options.width) * options.height * rendered / elapsed).c_str(),
      noiseText(noise), median.c_str());
  if (options.untilNoise > 0.0)
    std::fprintf(stderr, "The noise figure was measured %u times in %s, %.2f%% of the render.\n",
                 watch.count, duration(watch.spent).c_str(), 100.0 * watch.spent / elapsed);
  return cut ? 128 + stopSignal : 0;
}

int main(int argc, char **argv) {
  // A closed pipe on standard error or output (`| head`, a tee ended by the
  // same Ctrl-C) only ends the printing; closed descriptors and file size
  // limits are met before any file is opened.
  if (!guardProcess()) return 1;
  StillOptions options;
  std::string error;
  switch (parseStillOptions(argc, argv, options, error)) {
  case StillCommand::Help:
    std::fputs(stillUsage(), stdout);
    return 0;
  case StillCommand::Version:
    std::printf("exegfx-still %s\n", EXEGFX_VERSION);
    return 0;
  case StillCommand::ListGpus:
    return eglPrintDevices() ? 0 : 1;
  case StillCommand::Error:
    return fail(error);
  case StillCommand::Render:
    break;
  }
  // The GPU first: a refusal leaves no file behind, not even the lock. A
  // check runs where jobs are submitted, whose GPUs are not the job's.
  eglUseGpu(options.gpu, options.allowSoftware);
  if (!options.check && !eglCheckGpu(error)) return fail(error);
  if (!checkOutputPath(options.output, error)) return fail(error);
  if (options.check) return 0; // every check a render makes before GL has passed
  // From here on the output is the file a link points to: what --resume
  // reads, the lock guards and the writes replace.
  std::string target, note;
  if (!resolveOutputLinks(options.output, target, error)) return fail(error);
  options.output = target;
  if (!lockOutput(options.output, note, error)) return fail(error + " Nothing was rendered.");
  if (!note.empty()) std::fprintf(stderr, "exegfx-still: note: %s\n", note.c_str());
  try {
    return render(options);
  } catch (const std::bad_alloc &) {
    stillClose();
    return fail("out of memory for a " + std::to_string(options.width) + " x " +
                std::to_string(options.height) + " picture; nothing was written.");
  }
}

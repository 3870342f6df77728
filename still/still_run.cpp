#include "still_run.h"

#include "adaptive_rule.h"
#include "frame_source.h"
#include "image_write.h"
#include "partial_file.h"
#include "platform_egl.h"
#include "scene_identity.h"
#include "scene_samples.h"
#include "still_core.h"
#include "still_progress.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#ifndef EXEGFX_VERSION
#define EXEGFX_VERSION "unknown"
#endif

namespace {

int fail(const std::string &message) {
  std::fprintf(stderr, "exegfx-still: %s\n", message.c_str());
  return 1;
}

const char *signalName(int sig) {
  return sig == SIGTERM ? "SIGTERM" : sig == SIGHUP ? "SIGHUP" : "SIGINT";
}

std::string rangeText(unsigned first, unsigned last) {
  return formatFrameRanges({{first, last}});
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return s > 1e-9 ? s : 1e-9; // rates divide by it
}

// A resumable output: the file at options.output, if any, must hold the first
// frames of the asked range, at the same size, of the same scene, and made
// the same way (uniform, or adaptive with the same rule).
struct ResumeState {
  bool found = false;
  PartialInfo info;
  Picture picture; // empty for a fresh start
  unsigned held = 0;
};

bool sameKind(const StillOptions &options, const PartialInfo &info, std::string &error) {
  const std::string name = "\"" + options.output + "\"";
  if (!options.adaptive && info.isAdaptive) {
    error = name + " is an adaptive render (" + info.adaptive +
            "); continue it with --adaptive and the same --until-noise.";
    return false;
  }
  if (!options.adaptive) return true;
  const std::string rule = ruleText(adaptiveRule(options.untilNoise));
  if (!info.isAdaptive) {
    error = name + " is a uniform render; --adaptive continues only adaptive ones.";
    return false;
  }
  if (info.adaptive != rule) {
    error = name + " was rendered with the stopping rule " + info.adaptive + ", not " + rule +
            " as asked; its pixels stopped by that rule.";
    return false;
  }
  return true;
}

bool loadResume(const StillOptions &options, ResumeState &state, std::string &error) {
  struct stat st;
  if (stat(options.output.c_str(), &st) != 0) {
    if (errno == ENOENT) return true; // nothing yet: a fresh start
    error = "Cannot read \"" + options.output + "\": " + std::strerror(errno) + ".";
    return false;
  }
  if (!readPicture(options.output, state.info, state.picture, error)) return false;
  const PartialInfo &info = state.info;
  const std::string name = "\"" + options.output + "\"";
  const unsigned last = options.firstFrame + options.frames - 1;
  if (info.width != options.width || info.height != options.height) {
    error = name + " is " + std::to_string(info.width) + "x" + std::to_string(info.height) +
            ", not the asked " + std::to_string(options.width) + "x" +
            std::to_string(options.height) + ".";
    return false;
  }
  if (!adoptEarlierScene(state.info, sceneIdentity, options.output, error)) return false;
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
  if (!sameKind(options, info, error)) return false;
  state.found = true;
  state.held = static_cast<unsigned>(frameCount(info.frames));
  return true;
}

// What the resumed file settles before any GL work: -1 to render, else the
// exit status (a file that cannot be continued is refused and left as it is).
int settleResume(const StillOptions &options, ResumeState &resume) {
  std::string error;
  if (!loadResume(options, resume, error))
    return fail("cannot resume: " + error + " Nothing was rendered, and \"" + options.output +
                "\" is left as it was.");
  const unsigned last = options.firstFrame + options.frames - 1;
  if (resume.held == options.frames) {
    std::fprintf(stderr, "%s already holds frames %s: nothing to render.\n", options.output.c_str(),
                 rangeText(options.firstFrame, last).c_str());
    return 0;
  }
  if (!resume.found) return -1;
  if (!resume.info.hasSquares) {
    // An adaptive render stops its pixels by their held-out samples, which it keeps.
    if (options.untilNoise > 0.0 && !options.adaptive)
      return fail("cannot resume with --until-noise: \"" + options.output +
                  "\" has no sum of squares (an older version wrote it), so its noise is "
                  "unknown. Nothing was rendered, and the file is left as it was.");
    std::fprintf(stderr,
                 "exegfx-still: note: \"%s\" has no sum of squares (an older version wrote "
                 "it): its noise stays unknown, and it is written again without one.\n",
                 options.output.c_str());
  }
  if (options.untilNoise > 0.0) {
    NoiseFigure noise = pictureNoise(resume.picture);
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
  return -1;
}

// The GL context for the run: false, with the message given, when none fits.
bool openContext(const StillOptions &options, std::string &message) {
  unsigned maxSize = 0;
  if (!stillProbeMaxSize(&maxSize)) {
    message = options.gpu >= 0 ? "nothing was rendered."
                               : "no OpenGL 4.6 context with GLSL 4.60 could be made (see "
                                 "above); nothing was rendered.";
    return false;
  }
  if (options.width > maxSize || options.height > maxSize) {
    message = "--size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
              " is above this GL implementation's limit of " + std::to_string(maxSize) +
              " pixels per side.";
    return false;
  }
  bool open = options.adaptive ? stillOpenAdaptive(options.width, options.height)
                               : stillOpen(options.width, options.height, options.pass);
  if (!open) {
    stillClose();
    message = "the headless GL context could not be set up (see above); nothing was rendered.";
  }
  return open;
}

// Writes the picture to the output; noise is the figure of what was written.
bool writeOutput(const StillOptions &options, const ResumeState &resume, const Picture &picture,
                 NoiseFigure &noise, std::string &error) {
  noise = pictureNoise(picture);
  if (options.format != ImageFormat::Exr)
    return writeImage(options.output, options.format, options.width, options.height,
                      pictureMean(picture).data(), error);
  PartialInfo info;
  info.scene = sceneIdentity;
  info.version = EXEGFX_VERSION;
  info.renderers = resume.info.renderers;
  addUnique(info.renderers, {stillGlRenderer()});
  info.passes = resume.info.passes;
  addUnique(info.passes, {options.adaptive ? "adaptive" : stillPassName()});
  info.devices = resume.info.devices;
  addUnique(info.devices, {eglDeviceTaken()});
  if (options.adaptive) info.adaptive = ruleText(adaptiveRule(options.untilNoise));
  if (resume.found) info.runs = resume.info.runs; // a merged file stays one
  if (noise.known) {
    info.noiseMedian = noise.median;
    info.noiseP95 = noise.p95;
  }
  return writePicture(options.output, info, picture, error);
}

// How the loop ended, and what it measured.
struct RunEnd {
  double elapsed = 0.0;
  bool timeUp = false, limitReached = false, clean = false, allStopped = false;
  NoiseWatch watch;
};

// A checkpoint: the output written as it stands; a failure leaves the last
// one, and rendering goes on (the final write tries again).
void checkpoint(const StillOptions &options, const ResumeState &resume, FrameSource &source,
                const Progress &progress, RunEnd &run, double &writeSeconds) {
  auto writeStart = std::chrono::steady_clock::now();
  NoiseFigure noise;
  std::string error;
  bool written = writeOutput(options, resume, source.read(), noise, error);
  if (noise.known) { // measured anyway: the progress shows it
    run.watch.figure = noise;
    run.watch.frames = source.frames();
  }
  double took = secondsSince(writeStart);
  writeSeconds += took;
  if (!written)
    std::fprintf(stderr, "%sexegfx-still: checkpoint failed: %s\n",
                 progress.terminal ? "\r\033[K" : "", error.c_str());
  else if (progress.terminal)
    std::fprintf(stderr, "\r\033[KCheckpoint: wrote %s (%u of %u frames) in %s\n",
                 options.output.c_str(), source.frames(), options.frames, duration(took).c_str());
  else
    std::fprintf(stderr, "checkpoint frames=%u/%u write_s=%.3f file=%s\n", source.frames(),
                 options.frames, took, options.output.c_str());
  std::fflush(stderr);
}

// Measures the noise figure when it is due (at most 1% of the run); true
// once it is at most the level asked for.
bool watchNoise(const StillOptions &options, FrameSource &source, RunEnd &run) {
  if (!source.hasSquares() || source.frames() < 2 || run.elapsed < run.watch.nextAt) return false;
  auto checkStart = std::chrono::steady_clock::now();
  run.watch.figure = pictureNoise(source.read());
  run.watch.frames = source.frames();
  double took = secondsSince(checkStart);
  run.watch.spent += took;
  ++run.watch.count;
  run.watch.nextAt = run.elapsed + 99.0 * took;
  return options.untilNoise > 0.0 && run.watch.figure.known &&
         run.watch.figure.p95 <= options.untilNoise;
}

RunEnd renderFrames(const StillOptions &options, const ResumeState &resume, FrameSource &source,
                    const volatile std::sig_atomic_t &stopSignal) {
  Progress progress{isatty(STDERR_FILENO) == 1, -1e9}; // the first frame shows at once
  auto start = std::chrono::steady_clock::now();
  double checkpointAt = options.checkpointEvery, writeSeconds = 0.0;
  RunEnd run;
  while (source.frames() < options.frames && !stopSignal && !run.timeUp && !run.clean &&
         !run.allStopped) {
    bool rendered = source.frame();
    source.finish();
    run.elapsed = secondsSince(start) - writeSeconds;
    if (!rendered) {
      run.limitReached = true; // a build with the run limits enforced stops counting
      break;
    }
    run.clean = watchNoise(options, source, run);
    run.elapsed = secondsSince(start) - writeSeconds;
    run.timeUp = options.seconds > 0.0 && run.elapsed >= options.seconds;
    run.allStopped = !source.tracing();
    bool finished = source.frames() == options.frames || run.timeUp || run.clean || run.allStopped;
    showProgress(progress, options, source.frames(), source.frames() - resume.held,
                 source.samples(), run.elapsed, run.watch, finished);
    if (options.checkpointEvery > 0.0 && run.elapsed >= checkpointAt && !finished && !stopSignal) {
      checkpoint(options, resume, source, progress, run, writeSeconds);
      checkpointAt = run.elapsed + options.checkpointEvery;
    }
  }
  if (progress.terminal) std::fputs("\r\033[K", stderr);
  return run;
}

// The run that rendered nothing: what is left, and the exit status.
int nothingRendered(const StillOptions &options, const ResumeState &resume, const RunEnd &run,
                    unsigned next, int stopSignal) {
  const unsigned done = resume.held;
  if (run.limitReached)
    std::fprintf(stderr, "This build's frame limit allows no frame from %u on; %s\n", next,
                 resume.found ? "the output is left as it was." : "nothing was written.");
  else if (resume.found)
    std::fprintf(stderr, "Stopped by %s before the first new frame; %s still holds frames %s.\n",
                 signalName(stopSignal), options.output.c_str(),
                 rangeText(options.firstFrame, options.firstFrame + done - 1).c_str());
  else
    std::fprintf(stderr, "Stopped by %s before the first frame; nothing was written.\n",
                 signalName(stopSignal));
  return run.limitReached ? (resume.found ? 0 : 1) : 128 + stopSignal;
}

// The final line, and the exit status of a run that wrote its frames.
int report(const StillOptions &options, const ResumeState &resume, const RunEnd &run, unsigned done,
           double samples, const NoiseFigure &noise, int stopSignal) {
  // A signal during the last frame cut nothing short.
  bool cut = stopSignal && done < options.frames && !run.timeUp && !run.limitReached &&
             !run.clean && !run.allStopped;
  std::string why = cut                ? "Interrupted: "
                    : run.clean        ? "Noise level reached: "
                    : run.allStopped   ? "Every pixel reached its noise level: "
                    : run.timeUp       ? "Time limit reached: "
                    : run.limitReached ? "Frame limit of this build reached: "
                                       : "";
  std::string median = noise.known ? std::string(", median ") + noiseText(noise, false) : "";
  const unsigned rendered = done - resume.held;
  std::fprintf(stderr,
               "%sWrote %s: %u of %u frames (%s) at %u x %u in %s (%.2f ms/frame, %s "
               "samples/s), noise_p95=%s levels%s.\n",
               why.c_str(), options.output.c_str(), done, options.frames,
               rangeText(options.firstFrame, options.firstFrame + done - 1).c_str(), options.width,
               options.height, duration(run.elapsed).c_str(), 1000.0 * run.elapsed / rendered,
               rate(samples / run.elapsed).c_str(), noiseText(noise), median.c_str());
  if (options.adaptive) {
    const double uniform = double(rendered) * options.width * options.height;
    std::fprintf(stderr,
                 "Adaptive: %.0f samples traced, %.1f%% of a uniform render of %u frames.\n",
                 samples, 100.0 * samples / uniform, rendered);
  }
  if (options.untilNoise > 0.0)
    std::fprintf(stderr, "The noise figure was measured %u times in %s, %.2f%% of the render.\n",
                 run.watch.count, duration(run.watch.spent).c_str(),
                 100.0 * run.watch.spent / run.elapsed);
  return cut ? 128 + stopSignal : 0;
}

} // namespace

int runStill(const StillOptions &options, const volatile std::sig_atomic_t &stopSignal) {
  ResumeState resume;
  if (options.resume) {
    int settled = settleResume(options, resume);
    if (settled >= 0) return settled;
  }
  std::string message;
  if (!openContext(options, message)) return fail(message);
  std::unique_ptr<FrameSource> source =
      options.adaptive
          ? adaptiveSource(options.width, options.height, options.firstFrame, resume.picture,
                           adaptiveRule(options.untilNoise))
          : uniformSource(options.width, options.height, options.firstFrame, resume.picture);
  resume.picture = {};
  const unsigned last = options.firstFrame + options.frames - 1;
  std::fflush(stdout); // the shader compiler's report comes before the progress
  if (resume.found)
    std::fprintf(stderr, "Resuming %s, which holds frames %s: ", options.output.c_str(),
                 rangeText(options.firstFrame, options.firstFrame + resume.held - 1).c_str());
  std::fprintf(
      stderr, "Rendering %u frames (%s) of %u x %u to %s with the %s pass on %s (%s)\n",
      options.frames - resume.held, rangeText(options.firstFrame + resume.held, last).c_str(),
      options.width, options.height, options.output.c_str(),
      options.adaptive ? "adaptive" : stillPassName(), stillGlDescription(), eglDeviceTaken());
  RunEnd run = renderFrames(options, resume, *source, stopSignal);
  const unsigned done = source->frames();
  if (done == resume.held) {
    stillClose();
    return nothingRendered(options, resume, run, options.firstFrame + done, stopSignal);
  }
  NoiseFigure noise;
  std::string error;
  bool ok = writeOutput(options, resume, source->read(), noise, error);
  const double samples = source->samples();
  source.reset();
  stillClose();
  if (!ok) return fail(error);
  return report(options, resume, run, done, samples, noise, stopSignal);
}

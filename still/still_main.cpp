// exegfx-still: the picture without a window. Renders the scene through the
// headless core, frame by frame as the window would, and writes the mean.
#include "image_write.h"
#include "still_core.h"
#include "still_options.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include <unistd.h>

#ifndef EXEGFX_VERSION
#define EXEGFX_VERSION "unknown"
#endif

static volatile std::sig_atomic_t interruptRequested = 0;

static void onInterrupt(int) {
  interruptRequested = 1;
  // write is safe in a signal handler; stdio is not.
  static const char notice[] =
      "\nStopping after the frame in progress (Ctrl-C again to quit at once, writing nothing).\n";
  ssize_t ignored = write(STDERR_FILENO, notice, sizeof notice - 1);
  (void)ignored;
}

// The first Ctrl-C asks for a stop after the frame in progress; the handler
// resets itself, so a second one ends the process at once (a full-size frame
// on a software renderer can take many seconds).
static void catchInterrupt() {
  struct sigaction action = {};
  action.sa_handler = onInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
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

static void showProgress(Progress &progress, const StillOptions &options, unsigned done,
                         double elapsed) {
  // A terminal gets one line redrawn a few times a second; a log gets a line
  // every five seconds.
  double interval = progress.terminal ? 0.25 : 5.0;
  if (elapsed - progress.lastShown < interval && done < options.frames) return;
  if (!progress.terminal && done == options.frames) return; // the final line follows
  progress.lastShown = elapsed;
  double perFrame = elapsed / done;
  double left = perFrame * (options.frames - done);
  if (options.seconds > 0.0 && options.seconds - elapsed < left)
    left = options.seconds > elapsed ? options.seconds - elapsed : 0.0;
  double samples = static_cast<double>(options.width) * options.height * done / elapsed;
  std::fprintf(stderr, "%s%u/%u frames, %s samples/s, %s left%s", progress.terminal ? "\r" : "",
               done, options.frames, rate(samples).c_str(), duration(left).c_str(),
               progress.terminal ? "\033[K" : "\n");
  std::fflush(stderr);
}

static int render(const StillOptions &options) {
  unsigned maxSize = 0;
  if (!stillProbeMaxSize(&maxSize))
    return fail("no OpenGL 4.6 context with GLSL 4.60 could be made (see above); nothing "
                "was rendered.");
  if (options.width > maxSize || options.height > maxSize)
    return fail("--size " + std::to_string(options.width) + "x" + std::to_string(options.height) +
                " is above this GL implementation's limit of " + std::to_string(maxSize) +
                " pixels per side.");

  catchInterrupt();
  if (!stillOpen(options.width, options.height)) {
    stillClose();
    return fail("the headless GL context could not be set up (see above); nothing was "
                "rendered.");
  }
  std::fflush(stdout); // the shader compiler's report comes before the progress
  std::fprintf(stderr, "Rendering %u frames of %u x %u to %s on %s\n", options.frames,
               options.width, options.height, options.output.c_str(), stillGlDescription());

  Progress progress{isatty(STDERR_FILENO) == 1, 0.0};
  auto start = std::chrono::steady_clock::now();
  double elapsed = 0.0;
  bool timeUp = false, limitReached = false;
  while (stillFrames() < options.frames && !interruptRequested && !timeUp) {
    unsigned before = stillFrames();
    stillRenderFrame();
    stillFinish();
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    elapsed = elapsed > 1e-9 ? elapsed : 1e-9; // rates divide by it
    if (stillFrames() == before) {
      limitReached = true; // a build with the run limits enforced stops counting
      break;
    }
    showProgress(progress, options, stillFrames(), elapsed);
    timeUp = options.seconds > 0.0 && elapsed >= options.seconds;
  }
  if (progress.terminal) std::fputs("\r\033[K", stderr);

  unsigned done = stillFrames();
  if (done == 0) {
    stillClose();
    std::fprintf(stderr, "Interrupted before the first frame; nothing was written.\n");
    return 130;
  }
  std::vector<float> rgb(std::size_t{options.width} * options.height * 3);
  stillReadMean(rgb.data());
  stillClose();

  std::string error;
  if (!writeImage(options.output, options.format, options.width, options.height, rgb.data(), error))
    return fail(error);

  // A Ctrl-C during the last frame cut nothing short.
  bool cut = interruptRequested && done < options.frames && !timeUp && !limitReached;
  std::string why = cut            ? "Interrupted: "
                    : timeUp       ? "Time limit reached: "
                    : limitReached ? "Frame limit of this build reached: "
                                   : "";
  std::fprintf(stderr,
               "%sWrote %s: %u of %u frames at %u x %u in %s (%.2f ms/frame, %s samples/s).\n",
               why.c_str(), options.output.c_str(), done, options.frames, options.width,
               options.height, duration(elapsed).c_str(), 1000.0 * elapsed / done,
               rate(static_cast<double>(options.width) * options.height * done / elapsed).c_str());
  return cut ? 130 : 0;
}

int main(int argc, char **argv) {
  StillOptions options;
  std::string error;
  switch (parseStillOptions(argc, argv, options, error)) {
  case StillCommand::Help:
    std::fputs(stillUsage(), stdout);
    return 0;
  case StillCommand::Version:
    std::printf("exegfx-still %s\n", EXEGFX_VERSION);
    return 0;
  case StillCommand::Error:
    return fail(error);
  case StillCommand::Render:
    break;
  }
  if (!checkOutputPath(options.output, error)) return fail(error);
  try {
    return render(options);
  } catch (const std::bad_alloc &) {
    stillClose();
    return fail("out of memory for a " + std::to_string(options.width) + " x " +
                std::to_string(options.height) + " picture; nothing was written.");
  }
}

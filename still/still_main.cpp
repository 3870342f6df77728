// exegfx-still: the picture without a window. Takes the options, refuses what
// cannot work before any GL (a GPU that does not open, an output that cannot
// be written, a second writer), holds the output's lock and the stop signals,
// and runs the render (still_run.h).
#include "output_lock.h"
#include "platform_egl.h"
#include "process_guard.h"
#include "still_core.h"
#include "still_options.h"
#include "still_run.h"
#include "whole_file.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

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

static int fail(const std::string &message) {
  std::fprintf(stderr, "exegfx-still: %s\n", message.c_str());
  return 1;
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
  catchStopSignals();
  try {
    return runStill(options, stopSignal);
  } catch (const std::bad_alloc &) {
    stillClose();
    return fail("out of memory for a " + std::to_string(options.width) + " x " +
                std::to_string(options.height) + " picture; nothing was written.");
  }
}

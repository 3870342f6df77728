// One exegfx-still render, from the file it resumes to its last write: the
// resumed file checked before any GL work, the frames with their progress,
// noise figure and checkpoints, and the final write and line. exegfx-still's
// main takes the options, the output's lock and the signals.
#pragma once

#include "still_options.h"

#include <csignal>

// Renders as options ask; stopSignal is the first stop signal's number, 0
// while none came, and ends the run after the frame in progress. Returns the
// exit status: 0 written, 1 nothing written, 128 + the signal when stopped
// with the frames done written.
int runStill(const StillOptions &options, const volatile std::sig_atomic_t &stopSignal);

// exegfx-still's progress on standard error: one line redrawn a few times a
// second on a terminal; on a log (a batch job, a pipe) a line of fixed form
// after the first frame and then at most every five seconds, flushed, for
// scripts and farm monitors:
//   progress frames=DONE/TOTAL samples_per_s=N left_s=N elapsed_s=N noise_p95=N
// noise_p95 is the latest noise figure, "unknown" before one exists.
#pragma once

#include "noise.h"
#include "still_options.h"

#include <string>

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

// held: frames of the run held; rendered and samples: the frames and samples
// this process rendered, in elapsed seconds of rendering; finished: the last
// call.
void showProgress(Progress &progress, const StillOptions &options, unsigned held, unsigned rendered,
                  double samples, double elapsed, const NoiseWatch &watch, bool finished);

// "1.5s", "2m 05s", ...; "62.1k", "1.20M", ... for rates.
std::string duration(double seconds);
std::string rate(double perSecond);

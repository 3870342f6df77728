// The page's frame loop: the window program's frame (a sample added to the
// running sum, then the display pass), with the scene pass cut into bands
// that the GPU finishes one by one, and the page free between them.
#pragma once

#include "page_options.h"

// Builds the passes and the running sum on the current context and starts
// rendering from frame 1. Bands are timed with timer queries where the context
// has them enabled, else by their fences. False, with the reason shown in the
// page, when the passes or the float targets cannot be made.
bool loopStart(const PageOptions &options, bool timerQueries);
// Stops submitting and forgets the frames (the context and its running sum
// are gone); loopStart begins anew.
void loopStop();
// Frames the current running sum holds.
unsigned loopFramesHeld();

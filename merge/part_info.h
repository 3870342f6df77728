// exegfx-merge --info: what each part holds, read whole.
#pragma once

#include "merge_options.h"

#include <vector>

// One line per part, in a fixed form for scripts (the Slurm tasks read count=
// to tell whether a run gained frames). Each part is read whole, so that what
// is printed is what a merge would take: a damaged part is refused here too,
// and the noise figure is the one its sums give.
int printInfo(const std::vector<Part> &parts);

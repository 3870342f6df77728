// Whether the parts of a merge show the same picture (part_check.h), as
// exegfx-merge reports it: each refused part with its figures, and notes on
// the parts left out of the check.
#pragma once

#include "merge_options.h"
#include "part_check.h"

#include <vector>

// Each part against the others: false, with the figures on standard error,
// when one disagrees and --force was not given.
bool agreeOrForced(const std::vector<Part> &parts, const std::vector<TileStats> &tiles,
                   unsigned width, unsigned height, bool force);

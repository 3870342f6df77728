// Writing the merge: the picture (an image, or a partial file that merges
// again) and its maps.
#pragma once

#include "merge_options.h"
#include "noise.h"
#include "picture.h"

#include <string>
#include <vector>

// The picture and its maps, all or none: a map that fails must not leave a
// picture that a rerun of the same command would refuse.
bool writeAll(const MergeOptions &o, const Picture &total, const NoiseFigure &noise,
              const std::vector<float> &levels, std::string &error);

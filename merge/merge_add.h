// Adding the parts: each read whole and checked again, then added into the
// merged picture.
#pragma once

#include "merge_options.h"
#include "part_check.h"
#include "picture.h"

#include <string>
#include <vector>

// Adds every part into total, pixel by pixel in double precision, with each
// part's tile figures for the check; only one part is in memory besides.
bool addParts(const std::vector<Part> &parts, Picture &total, std::vector<TileStats> &tiles,
              std::string &error);

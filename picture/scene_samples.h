// Which samples a partial file holds. The scene's identity is a hash of its
// shader texts, so every change of the texts gives a new one. Where a change
// keeps the samples of some frames bit for bit, files of the earlier version
// that hold only those frames hold this version's samples: they resume and
// merge as this version's own. Files that hold other frames were drawn with
// other numbers and are refused, so that nothing adds samples of two kinds.
#pragma once

#include "partial_file.h"

#include <string>

// Gives an earlier version's file that holds only shared frames the current
// identity, and leaves any other identity as it is (the callers compare
// identities). False, with a message naming the file and its frames, for an
// earlier version's file that holds frames whose samples changed.
bool adoptEarlierScene(PartialInfo &info, const std::string &current, const std::string &path,
                       std::string &error);

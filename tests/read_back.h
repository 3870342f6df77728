// A picture file the programs under test wrote, read back; a failure of the
// current test, and an empty picture, where it cannot be read.
#pragma once

#include "partial_file.h"

#include <gtest/gtest.h>

#include <string>

inline Picture readBack(const std::string &path) {
  PartialInfo info;
  Picture p;
  std::string error;
  EXPECT_TRUE(readPicture(path, info, p, error)) << error;
  return p;
}

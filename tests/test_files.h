// File helpers shared by the tests that write files.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// The folders tempDir made, removed when the test process ends, unless a test
// failed: then they stay for a look. Only the process that made them removes
// them, so a forked child that exits cannot take its parent's files.
struct TempDirs {
  pid_t owner = getpid();
  std::vector<std::string> made;
  ~TempDirs() {
    if (getpid() != owner || !testing::UnitTest::GetInstance()->Passed()) return;
    std::error_code ignored;
    for (const std::string &dir : made)
      std::filesystem::remove_all(dir, ignored);
  }
};

// A fresh folder under the test's temporary folder.
inline std::string tempDir(const std::string &prefix) {
  static TempDirs dirs;
  std::string dir = testing::TempDir() + prefix + "_XXXXXX";
  EXPECT_NE(mkdtemp(dir.data()), nullptr);
  dirs.made.push_back(dir);
  return dir;
}

// The names in a folder, without "." and "..".
inline std::vector<std::string> entries(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d))
      if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
        names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

// A whole file's bytes; empty when it cannot be read.
inline std::string contents(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

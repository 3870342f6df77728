// File helpers shared by the tests that write files.
#pragma once

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>

#include <fstream>
#include <string>
#include <vector>

// A fresh folder under the test's temporary folder.
inline std::string tempDir(const std::string &prefix) {
  std::string dir = testing::TempDir() + prefix + "_XXXXXX";
  EXPECT_NE(mkdtemp(dir.data()), nullptr);
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

// entries, less the output lock files ("NAME.lock") that the programs keep
// beside their outputs.
inline std::vector<std::string> entriesButLocks(const std::string &dir) {
  std::vector<std::string> names;
  for (const std::string &name : entries(dir))
    if (!name.ends_with(".lock")) names.push_back(name);
  return names;
}

// A whole file's bytes; empty when it cannot be read.
inline std::string contents(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

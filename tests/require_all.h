// A test that needs what a machine may lack (a mount, root, a GL warning)
// skips without it, unless EXEGFX_REQUIRE_ALL is set (CI sets it): then the
// lack fails the test, so that no test goes unrun unseen.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

inline bool requireAll() {
  const char *value = std::getenv("EXEGFX_REQUIRE_ALL");
  return value && *value && std::strcmp(value, "0") != 0;
}

#define SKIP_UNLESS_REQUIRED(why)                                                                  \
  do {                                                                                             \
    if (requireAll()) FAIL() << why << " (EXEGFX_REQUIRE_ALL is set: nothing may be skipped)";     \
    GTEST_SKIP() << why;                                                                           \
  } while (0)

// A GL entry point the driver lacks: named on standard error, the teardown
// runs, the process exits non-zero instead of calling through null.
#include "glproc.h"
#include "platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

void *glProcAddress(const char *name) {
  static int present;
  return std::strcmp(name, "glPresentEntry") == 0 ? &present : nullptr;
}

namespace {

TEST(GlEntry, PresentEntryPointIsReturned) {
  EXPECT_NE(glEntry("glPresentEntry"), nullptr);
}

TEST(GlEntryDeathTest, MissingEntryPointTearsDownAndExits) {
  glFatalHandler = [] { std::fprintf(stderr, "teardown ran\n"); };
  EXPECT_EXIT(glEntry("glMissingEntry"), testing::ExitedWithCode(2),
              "no entry point glMissingEntry(.|\n)*teardown ran");
}

} // namespace

// exegfx-merge's picture and maps are one commit: a rename that fails on any
// of them (injected by a preloaded library) leaves every file as it was, and
// the same command then succeeds.
#include "program_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace {

class OutputCommit : public ProgramTest {
protected:
  Outcome run(const char *program, std::vector<std::string> args) {
    return finish(startProgram(program, args));
  }
};

TEST_F(OutputCommit, ARenameThatFailsChangesNoOutput) {
  for (const char *part : {"1", "17"}) {
    Outcome r = run(EXEGFX_STILL_PATH, {"--size", "32x18", "--first-frame", part, "--frames", "16",
                                        "-o", std::string("u") + part + ".exr"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
  }
  ASSERT_EQ(run(EXEGFX_MERGE_PATH, {"-o", "m.exr", "u1.exr"}).exitCode, 0);
  const std::string before = contents(dir + "/m.exr");
  const std::vector<std::string> merge = {"-o",          "m.exr", "--noise-map", "n.png",
                                          "--count-map", "c.png", "m.exr",       "u17.exr"};
  for (const char *fails : {"m.exr", "n.png", "c.png"}) {
    setenv("EXEGFX_FAIL_RENAME", fails, 1);
    setenv("LD_PRELOAD", EXEGFX_RENAME_FAULT, 1);
    Outcome r = run(EXEGFX_MERGE_PATH, merge);
    unsetenv("LD_PRELOAD");
    EXPECT_EQ(r.exitCode, 1) << fails;
    EXPECT_TRUE(has(r.err, std::string("Cannot move the finished file to \"") + fails)) << r.err;
    EXPECT_TRUE(has(r.err, "Nothing was changed: \"m.exr\", \"n.png\" and \"c.png\" are as they "
                           "were."))
        << r.err;
    EXPECT_TRUE(contents(dir + "/m.exr") == before) << fails << ": m.exr changed";
    std::vector<std::string> left = entries(dir);
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"m.exr", "u1.exr", "u17.exr"})) << fails;
  }
  Outcome r = run(EXEGFX_MERGE_PATH, merge);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(has(r.err, "frames 1-32")) << r.err;
}

} // namespace

// exegfx-still run as a program: bad input, the files it writes compared with
// the headless core's own render of the same frames, --seconds and Ctrl-C.
#include "image_write.h"
#include "still_core.h"
#include "still_image_read.h"

#include "program_run.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

class StillProgram : public ProgramTest {
protected:
  pid_t start(std::vector<std::string> args) { return startProgram(EXEGFX_STILL_PATH, args); }
  Outcome run(std::vector<std::string> args) { return finish(start(std::move(args))); }
};

TEST_F(StillProgram, BadInputFailsWithAMessageAndWritesNothing) {
  struct Case {
    std::vector<std::string> args;
    const char *mention;
  };
  const std::vector<Case> cases = {
      {{"--size", "64by36"}, "--size"},
      {{"--size", "0x36"}, "at least 1"},
      {{"--size", "999999x1"}, "limit"}, // above any GL's texture limit, below the parser's
      {{"--frames", "0"}, "--frames"},
      {{"--frames", "-2"}, "--frames"},
      {{"--seconds", "-1"}, "--seconds"},
      {{"--quality", "high"}, "--quality"},
      {{"-o", "a.tiff"}, ".tiff"},
      {{"-o", "missing/a.png"}, "does not exist"},
      {{"-o", "/proc/exegfx-still-test.png"}, "not writable"},
      {{"--gpu", "first"}, "--gpu"},
      // Mesa offers only its software device, which --gpu never takes.
      {{"--gpu", "0"}, "--gpu 0: EGL offers no GPU here, only a software renderer."},
  };
  for (const Case &c : cases) {
    // Small enough to finish at once should a check fail to stop it; the
    // case's own values come last and win.
    std::vector<std::string> args{"--size=8x8", "--frames=1"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Outcome r = run(args);
    EXPECT_EQ(r.exitCode, 1) << c.args[0] << " " << r.err;
    EXPECT_TRUE(has(r.err, "exegfx-still: ")) << r.err;
    EXPECT_TRUE(has(r.err, c.mention)) << c.mention << " not in: " << r.err;
    EXPECT_FALSE(has(r.out, "Shader prog")) << "no shader was built for " << c.args[0];
    EXPECT_TRUE(entries(dir).empty()) << "a file was left for " << c.args[0];
  }
}

TEST_F(StillProgram, HelpAndVersion) {
  Outcome help = run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_TRUE(has(help.out, "--size WxH"));
  Outcome version = run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_TRUE(has(version.out, "exegfx-still "));
  EXPECT_TRUE(entries(dir).empty());
}

// --check: a render's checks, and nothing else; the output is not even read.
TEST_F(StillProgram, CheckTouchesNoFile) {
  std::ofstream(dir + "/a.exr") << "not yet a partial";
  for (std::vector<std::string> args :
       {std::vector<std::string>{"--check", "--size", "64x36", "-o", "b.png"},
        {"--check", "--first-frame", "7", "--frames", "3", "--resume", "-o", "a.exr"}}) {
    Outcome r = run(args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(entries(dir), std::vector<std::string>{"a.exr"}) << "no lock, no temporary file";
  }
  Outcome r = run({"--check", "-o", "missing/a.png"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(has(r.err, "does not exist")) << r.err;
}

// A scheduler's GPU that EGL cannot open (this machine has none) is refused
// before any GL work or file, not rendered on the CPU hundreds of times slower.
TEST_F(StillProgram, ASchedulersGpuThatDoesNotOpenIsRefusedBeforeAnyFile) {
  std::ofstream(dir + "/hall.png") << "last good picture";
  for (const char *gpu : {"GPU-1234", "0"}) {
    setenv("CUDA_VISIBLE_DEVICES", gpu, 1);
    Outcome r = run({"--size=8x8", "--frames=1", "--checkpoint-every=1", "-o", "hall.png"});
    Outcome list = run({"--list-gpus"});
    unsetenv("CUDA_VISIBLE_DEVICES");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::string said = "exegfx-still: CUDA_VISIBLE_DEVICES=\"" + std::string(gpu) +
                       "\" gives this process a GPU, but EGL offers no GPU";
    EXPECT_TRUE(r.err.starts_with(said)) << r.err;
    EXPECT_TRUE(has(r.err, "no EGL vendor file names NVIDIA's libEGL_nvidia")) << r.err;
    EXPECT_TRUE(has(r.err, "--allow-software")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(has(r.out, "Shader prog")) << "no GL work before the refusal";
    EXPECT_EQ(entries(dir), std::vector<std::string>{"hall.png"}) << "no lock, no temporary";
    EXPECT_EQ(contents(dir + "/hall.png"), "last good picture");
    // --list-gpus lists, and says the same.
    EXPECT_EQ(list.exitCode, 1);
    EXPECT_TRUE(has(list.out, "NVIDIA EGL: no EGL vendor file")) << list.out;
    EXPECT_TRUE(has(list.out, "Refused: " + said.substr(std::string("exegfx-still: ").size())))
        << list.out;
  }
  // Unset, as before: the software renderer, with no note.
  Outcome r = run({"--size=8x8", "--frames=1", "-o", "hall.png"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(has(r.err, "(no GPU, Mesa surfaceless)")) << r.err;
  EXPECT_FALSE(has(r.err, "CUDA_VISIBLE_DEVICES")) << r.err;
}

// The files match the core's own render of the same two frames: the program
// adds nothing and loses nothing on the way to the file.
TEST_F(StillProgram, FilesMatchTheCoresRenderOfTheSameFrames) {
  const unsigned w = 64, h = 36;
  Outcome pfmRun = run({"--size", "64x36", "--frames", "2", "-o", "a.pfm"});
  ASSERT_EQ(pfmRun.exitCode, 0) << pfmRun.err;
  EXPECT_TRUE(has(pfmRun.err, "Wrote a.pfm: 2 of 2 frames")) << pfmRun.err;
  Outcome pngRun = run({"--size=64x36", "--frames=2", "--output=a.png"});
  ASSERT_EQ(pngRun.exitCode, 0) << pngRun.err;

  ASSERT_TRUE(stillOpen(w, h));
  stillRenderFrame();
  stillRenderFrame();
  std::vector<float> mean(w * h * 3);
  stillReadMean(mean.data());
  stillClose();
  ASSERT_NE(std::count_if(mean.begin(), mean.end(), [](float v) { return v != 0.0f; }), 0)
      << "an all-black render would match anything";

  ReadImage pfm = readPfm(dir + "/a.pfm");
  ASSERT_TRUE(pfm.ok);
  EXPECT_EQ(pfm.width, w);
  EXPECT_EQ(pfm.height, h);
  EXPECT_EQ(pfm.floats, mean);

  ReadImage png = readPng(dir + "/a.png");
  ASSERT_TRUE(png.ok);
  ASSERT_EQ(png.width, w);
  ASSERT_EQ(png.height, h);
  int mismatches = 0;
  for (unsigned row = 0; row < h; ++row)
    for (unsigned k = 0; k < w * 3; ++k)
      mismatches += png.bytes[row * w * 3 + k] != displayByte(mean[(h - 1 - row) * w * 3 + k]);
  EXPECT_EQ(mismatches, 0);
  EXPECT_EQ(entries(dir).size(), 2u) << "no temporary file is left";
}

TEST_F(StillProgram, SecondsStopsEarlyWithAValidImage) {
  // 2000 frames stay below the frame limit of a build with the run limits and
  // take far longer than 0.3 s, on llvmpipe and on a GPU alike.
  Outcome r = run({"--size", "240x135", "--frames", "2000", "--seconds", "0.3", "-o", "t.pfm"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(has(r.err, "Time limit reached: Wrote t.pfm: ")) << r.err;
  EXPECT_FALSE(has(r.err, "2000 of 2000")) << r.err;
  ReadImage pfm = readPfm(dir + "/t.pfm");
  ASSERT_TRUE(pfm.ok);
  EXPECT_EQ(pfm.width, 240u);
  EXPECT_EQ(pfm.height, 135u);
}

TEST_F(StillProgram, CtrlCWritesTheFramesDoneAndSaysSo) {
  std::string old = dir + "/i.png";
  std::ofstream(old) << "old picture";
  pid_t pid = start({"--size", "480x270", "--frames", "2000", "-o", "i.png"});
  // The programs are built before the first frame; wait for the start line
  // that follows, then let the first frame begin.
  ASSERT_TRUE(waitForErr("Rendering ")) << "the programs were never built";
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(pid, SIGINT);
  Outcome r = finish(pid);
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_TRUE(has(r.err, "Interrupted: Wrote i.png: ")) << r.err;
  ReadImage png = readPng(old);
  ASSERT_TRUE(png.ok) << "the interrupted run replaced the old file with a whole PNG";
  EXPECT_EQ(png.width, 480u);
  EXPECT_EQ(png.height, 270u);
  EXPECT_EQ(entries(dir).size(), 1u);
}

} // namespace

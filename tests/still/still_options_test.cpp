// exegfx-still's command line and output path checks.
#include "still_options.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

struct Parsed {
  StillCommand command;
  StillOptions options;
  std::string error;
};

Parsed parse(std::initializer_list<const char *> args) {
  std::vector<const char *> argv{"exegfx-still"};
  argv.insert(argv.end(), args);
  Parsed p;
  p.command = parseStillOptions(static_cast<int>(argv.size()), argv.data(), p.options, p.error);
  return p;
}

TEST(StillOptions, DefaultsAreAFullSizePngOf64Frames) {
  Parsed p = parse({});
  ASSERT_EQ(p.command, StillCommand::Render);
  EXPECT_EQ(p.options.width, 1920u);
  EXPECT_EQ(p.options.height, 1080u);
  EXPECT_EQ(p.options.frames, 64u);
  EXPECT_EQ(p.options.seconds, 0.0);
  EXPECT_EQ(p.options.output, "exegfx.png");
  EXPECT_EQ(p.options.format, ImageFormat::Png);
}

TEST(StillOptions, ValuesAsSeparateOrJoinedArguments) {
  Parsed p = parse({"--size", "64x36", "--frames=3", "--seconds", "2.5", "-o", "out/a.PFM"});
  ASSERT_EQ(p.command, StillCommand::Render) << p.error;
  EXPECT_EQ(p.options.width, 64u);
  EXPECT_EQ(p.options.height, 36u);
  EXPECT_EQ(p.options.frames, 3u);
  EXPECT_EQ(p.options.seconds, 2.5);
  EXPECT_EQ(p.options.output, "out/a.PFM");
  EXPECT_EQ(p.options.format, ImageFormat::Pfm);

  p = parse({"--size=1X1", "--output=b.png", "-oc.pfm"});
  ASSERT_EQ(p.command, StillCommand::Render) << p.error;
  EXPECT_EQ(p.options.width, 1u);
  EXPECT_EQ(p.options.height, 1u);
  EXPECT_EQ(p.options.output, "c.pfm"); // the last one given wins
  EXPECT_EQ(p.options.format, ImageFormat::Pfm);
}

TEST(StillOptions, HelpAndVersionWinOverOtherArguments) {
  EXPECT_EQ(parse({"--frames", "0", "--help"}).command, StillCommand::Help);
  EXPECT_EQ(parse({"-h"}).command, StillCommand::Help);
  EXPECT_EQ(parse({"--bogus", "--version"}).command, StillCommand::Version);
  EXPECT_NE(std::string(stillUsage()).find("--seconds"), std::string::npos);
}

TEST(StillOptions, BadValuesAreNamedInTheMessage) {
  struct Case {
    std::initializer_list<const char *> args;
    const char *mention;
  };
  for (const Case &c : std::initializer_list<Case>{
           {{"--size", "1920"}, "--size"},
           {{"--size", "x1080"}, "--size"},
           {{"--size", "1920x"}, "--size"},
           {{"--size", "19a0x1080"}, "--size"},
           {{"--size", "-5x5"}, "--size"},
           {{"--size", "+5x5"}, "--size"},
           {{"--size", " 5x5"}, "--size"},
           {{"--size", "5x5x5"}, "--size"},
           {{"--size", "0x1080"}, "at least 1"},
           {{"--size", "1920x0"}, "at least 1"},
           {{"--size", "99999999999x1"}, "--size"},
           {{"--size", "2000000x1"}, "limit"},
           {{"--frames", "0"}, "--frames"},
           {{"--frames", "-3"}, "--frames"},
           {{"--frames", "2.5"}, "--frames"},
           {{"--frames", "131073"}, "131072"},
           {{"--frames", ""}, "--frames"},
           {{"--seconds", "0"}, "--seconds"},
           {{"--seconds", "-1"}, "--seconds"},
           {{"--seconds", "nan"}, "--seconds"},
           {{"--seconds", "inf"}, "--seconds"},
           {{"--seconds", "3s"}, "--seconds"},
           {{"--until-noise", "0"}, "--until-noise wants a noise level above 0"},
           {{"--until-noise", "-1"}, "--until-noise"},
           {{"--until-noise", ""}, "--until-noise"},
           {{"--until-noise", "1 level"}, "--until-noise"},
           {{"--until-noise", "0x10"}, "--until-noise"},
           {{"--until-noise", "1e1"}, "--until-noise"},
           {{"--checkpoint-every", "+5"}, "--checkpoint-every"},
           {{"--bogus"}, "--bogus"},
           {{"-x"}, "-x"},
           {{"picture.png"}, "picture.png"},
           {{"--size"}, "needs a value"},
           {{"-o"}, "needs a value"},
           {{"-o", "a.jpg"}, ".jpg"},
           {{"-o", "a"}, "no file extension"},
           {{"-o", "dir.png/a"}, "no file extension"},
           {{"-o", ".png"}, "no file extension"},
           {{"--first-frame", "0"}, "--first-frame"},
           {{"--first-frame", "1073741808", "--frames", "18"}, "goes past frame 1073741824"},
           {{"--first-frame", "1073741825"}, "1073741824"},
           {{"--checkpoint-every", "0"}, "--checkpoint-every"},
           {{"--pass", "vertex"}, "--pass"},
           {{"--resume", "-o", "a.pfm"}, "--resume"},
           {{"--resume=yes", "-o", "a.exr"}, "--resume=yes"},
           {{"--check=yes"}, "--check=yes"},
           {{"--check", "--frames", "131073"}, "131072"},
           {{"--check", "--checkpoint-every", "-5"}, "--checkpoint-every"},
           {{"--check", "-o", ""}, "no file extension"},
           {{"--allow-software=yes"}, "--allow-software=yes"},
       }) {
    Parsed p = parse(c.args);
    std::string args;
    for (const char *a : c.args)
      args += std::string(a) + " ";
    EXPECT_EQ(p.command, StillCommand::Error) << args;
    EXPECT_NE(p.error.find(c.mention), std::string::npos) << args << "-> " << p.error;
  }
  EXPECT_EQ(parse({"--frames", "131072"}).command, StillCommand::Render);
  EXPECT_EQ(parse({}).options.pass, ScenePass::Auto);
  Parsed p = parse({"--first-frame", "131056", "--frames", "17", "--resume",
                    "--checkpoint-every=30", "--pass=compute", "-o", "part.EXR"});
  ASSERT_EQ(p.command, StillCommand::Render) << p.error;
  EXPECT_EQ(p.options.firstFrame, 131056u);
  EXPECT_TRUE(p.options.resume);
  EXPECT_EQ(p.options.checkpointEvery, 30.0);
  EXPECT_EQ(p.options.format, ImageFormat::Exr);
  EXPECT_EQ(p.options.pass, ScenePass::Compute);
  EXPECT_FALSE(p.options.check);
  p = parse({"--size", "64x36", "--check", "-o", "part.exr"});
  ASSERT_EQ(p.command, StillCommand::Render) << p.error;
  EXPECT_TRUE(p.options.check);
  EXPECT_EQ(p.options.width, 64u);
}

TEST(StillOptions, OutputPathMustBeAWritableDirectoryEntry) {
  std::string dir = tempDir("still_options");
  std::string error;
  EXPECT_TRUE(checkOutputPath(dir + "/a.png", error)) << error;
  EXPECT_TRUE(entries(dir).empty()) << "the writability probe left a file behind";

  EXPECT_FALSE(checkOutputPath(dir + "/missing/a.png", error));
  EXPECT_NE(error.find("does not exist"), std::string::npos) << error;

  std::ofstream(dir + "/file") << "x";
  EXPECT_FALSE(checkOutputPath(dir + "/file/a.png", error));
  EXPECT_NE(error.find("not a directory"), std::string::npos) << error;

  ASSERT_EQ(mkdir((dir + "/d.png").c_str(), 0755), 0);
  EXPECT_FALSE(checkOutputPath(dir + "/d.png", error));
  EXPECT_NE(error.find("is a directory"), std::string::npos) << error;

  // No file can be made in /proc, not even by root.
  EXPECT_FALSE(checkOutputPath("/proc/exegfx-still-test.png", error));
  EXPECT_NE(error.find("not writable"), std::string::npos) << error;
  if (geteuid() != 0) {
    ASSERT_EQ(mkdir((dir + "/ro").c_str(), 0555), 0);
    EXPECT_FALSE(checkOutputPath(dir + "/ro/a.png", error));
    EXPECT_NE(error.find("not writable"), std::string::npos) << error;
  }
}

} // namespace

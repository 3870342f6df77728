// The PNG and PFM writers and their whole-or-nothing file handling.
#include "image_write.h"
#include "still_image_read.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

namespace {

// 3 x 2 pixels, rows bottom up as the GL reads them: every channel distinct,
// with values below 0, above 1 and exactly on rounding edges.
const std::vector<float> knownMean = {
    0.0f,         1.0f,  0.5f,       -0.25f, 2.0f, 127.4f / 255, // bottom row
    1e30f,        0.2f,  0.999f,                                 // bottom row, third pixel
    0.25f,        0.75f, 1.0f / 255, 0.1f,   0.3f, 0.6f,         // top row
    128.5f / 255, 0.04f, 0.96f,                                  // top row, third pixel
};

TEST(ImageWrite, DisplayByteIsTheClampedMeanTimes255Rounded) {
  EXPECT_EQ(displayByte(0.0f), 0);
  EXPECT_EQ(displayByte(-3.0f), 0);
  EXPECT_EQ(displayByte(1.0f), 255);
  EXPECT_EQ(displayByte(1.5f), 255);
  EXPECT_EQ(displayByte(INFINITY), 255);
  EXPECT_EQ(displayByte(NAN), 0);
  EXPECT_EQ(displayByte(0.5f), 128); // 127.5 rounds up
  EXPECT_EQ(displayByte(127.4f / 255), 127);
  EXPECT_EQ(displayByte(1.0f / 255), 1);
  EXPECT_EQ(displayByte(0.25f), 64); // 63.75, no gamma
}

TEST(ImageWrite, PngHoldsTheDisplayBytesTopRowFirst) {
  std::string dir = tempDir("image_write");
  std::string error;
  ASSERT_TRUE(writeImage(dir + "/a.png", ImageFormat::Png, 3, 2, knownMean.data(), error)) << error;
  ReadImage png = readPng(dir + "/a.png");
  ASSERT_TRUE(png.ok);
  ASSERT_EQ(png.width, 3u);
  ASSERT_EQ(png.height, 2u);
  for (unsigned row = 0; row < 2; ++row)
    for (unsigned k = 0; k < 9; ++k)
      EXPECT_EQ(png.bytes[row * 9 + k], displayByte(knownMean[(1 - row) * 9 + k]))
          << "row " << row << " byte " << k;
  EXPECT_EQ(png.bytes[9 + 4], 255) << "a mean above 1 is white";
  EXPECT_EQ(entries(dir).size(), 1u) << "no temporary file is left";
}

TEST(ImageWrite, PfmHoldsTheFloatsBottomRowFirst) {
  std::string dir = tempDir("image_write");
  std::string error;
  ASSERT_TRUE(writeImage(dir + "/a.pfm", ImageFormat::Pfm, 3, 2, knownMean.data(), error)) << error;
  ReadImage pfm = readPfm(dir + "/a.pfm");
  ASSERT_TRUE(pfm.ok);
  EXPECT_EQ(pfm.width, 3u);
  EXPECT_EQ(pfm.height, 2u);
  EXPECT_EQ(pfm.floats, knownMean);
  EXPECT_EQ(contents(dir + "/a.pfm").substr(0, 11), "PF\n3 2\n-1.0");
}

TEST(ImageWrite, ReplacesAnExistingFileWholeWithUsualPermissions) {
  std::string dir = tempDir("image_write");
  std::string path = dir + "/a.pfm";
  std::ofstream(path) << "old picture";
  std::string error;
  ASSERT_TRUE(writeImage(path, ImageFormat::Pfm, 3, 2, knownMean.data(), error)) << error;
  EXPECT_TRUE(readPfm(path).ok);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask) << "not the private mode of a temporary file";
}

TEST(ImageWrite, AFailedWriteLeavesNothingBehind) {
  std::string dir = tempDir("image_write");
  std::string error;
  EXPECT_FALSE(writeImage(dir + "/missing/a.png", ImageFormat::Png, 3, 2, knownMean.data(), error));
  EXPECT_NE(error.find("missing/a.png"), std::string::npos) << error;

  // The final rename fails when the name is taken by a directory: the finished
  // temporary file goes and the directory stays.
  ASSERT_EQ(mkdir((dir + "/taken.png").c_str(), 0755), 0);
  error.clear();
  EXPECT_FALSE(writeImage(dir + "/taken.png", ImageFormat::Png, 3, 2, knownMean.data(), error));
  EXPECT_NE(error.find("taken.png"), std::string::npos) << error;
  EXPECT_EQ(entries(dir), std::vector<std::string>{"taken.png"});
  struct stat st;
  ASSERT_EQ(stat((dir + "/taken.png").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(ImageWrite, AFailedEncodeKeepsTheOldFile) {
  // The temporary file exists by the time libpng refuses a zero width; the old
  // picture must survive and the temporary file must go.
  std::string dir = tempDir("image_write");
  std::string path = dir + "/a.png";
  std::ofstream(path) << "old picture";
  std::string error;
  EXPECT_FALSE(writeImage(path, ImageFormat::Png, 0, 2, knownMean.data(), error));
  EXPECT_NE(error.find("is unchanged"), std::string::npos) << error;
  EXPECT_EQ(contents(path), "old picture");
  EXPECT_EQ(entries(dir), std::vector<std::string>{"a.png"});
}

} // namespace

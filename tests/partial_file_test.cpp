// OpenEXR partial renders: what a viewer and a resumed run read back, and the
// files that must be refused.
#include "partial_file.h"

#include "test_files.h"

#include <OpenEXR/ImfArray.h>
#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfIntAttribute.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfRgbaFile.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <OpenEXR/ImfVecAttribute.h>

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace {

const unsigned W = 5, H = 3;

PartialInfo sample() {
  PartialInfo info;
  info.width = W;
  info.height = H;
  info.frames = {{3, 6}, {9, 9}};
  info.scene = "sha256:test";
  info.version = "1.2.3";
  info.renderers = {"one GL", "another GL"};
  info.passes = {"fragment"};
  return info;
}

// Distinct exact values; row 0 (the bottom) has the smallest.
std::vector<float> values(float scale) {
  std::vector<float> v(W * H * 3);
  for (std::size_t k = 0; k < v.size(); ++k)
    v[k] = scale * static_cast<float>(k) + 0.125f;
  return v;
}

TEST(PartialFile, RoundTripKeepsSumsAndMetadataAndViewersSeeTheMean) {
  std::string path = tempDir("partial") + "/p.exr";
  std::vector<float> sum = values(5.0f), mean = values(1.0f);
  std::string error;
  ASSERT_TRUE(writePartial(path, sample(), sum.data(), mean.data(), error)) << error;

  PartialInfo info;
  std::vector<float> back;
  ASSERT_TRUE(readPartial(path, info, back, error)) << error;
  EXPECT_EQ(back, sum);
  EXPECT_EQ(formatFrameRanges(info.frames), "3-6,9");
  EXPECT_EQ(info.width, W);
  EXPECT_EQ(info.height, H);
  EXPECT_EQ(info.scene, "sha256:test");
  EXPECT_EQ(info.version, "1.2.3");
  EXPECT_EQ(info.renderers, sample().renderers);
  EXPECT_EQ(info.passes, sample().passes);

  // A plain RGBA reader shows the mean, top row first: its first pixel is
  // the first pixel of the top row (row H - 1 from the bottom).
  Imf::RgbaInputFile viewer(path.c_str());
  Imf::Array2D<Imf::Rgba> px(H, W);
  viewer.setFrameBuffer(&px[0][0], 1, W);
  viewer.readPixels(0, H - 1);
  EXPECT_FLOAT_EQ(static_cast<float>(px[0][0].r), mean[(H - 1) * W * 3]);
  EXPECT_FLOAT_EQ(static_cast<float>(px[H - 1][W - 1].b), mean[W * 3 - 1]);
}

TEST(PartialFile, ForeignDamagedAndInconsistentFilesAreRefusedByName) {
  std::string dir = tempDir("partial_bad");
  std::vector<float> sum = values(5.0f), mean = values(1.0f);
  std::string error;
  ASSERT_TRUE(writePartial(dir + "/good.exr", sample(), sum.data(), mean.data(), error));
  std::string good = contents(dir + "/good.exr");

  std::ofstream(dir + "/text.exr") << "not a picture";
  std::ofstream(dir + "/cut.exr", std::ios::binary) << good.substr(0, good.size() - 40);
  {
    // An ordinary EXR from another program.
    Imf::RgbaOutputFile plain((dir + "/plain.exr").c_str(), W, H, Imf::WRITE_RGB);
    std::vector<Imf::Rgba> px(W * H, Imf::Rgba(0.5f, 0.5f, 0.5f));
    plain.setFrameBuffer(px.data(), 1, W);
    plain.writePixels(H);
  }
  // A sum that is not a number.
  std::vector<float> nan = sum;
  nan[4] = NAN;
  ASSERT_TRUE(writePartial(dir + "/nan.exr", sample(), nan.data(), mean.data(), error));
  // A count that disagrees with the frame list.
  {
    Imf::Header header(W, H);
    for (const char *c : {"R", "G", "B", "sum.R", "sum.G", "sum.B"})
      header.channels().insert(c, Imf::Channel(Imf::FLOAT));
    header.insert("exegfx.frames", Imf::StringAttribute("1-4"));
    header.insert("exegfx.frameCount", Imf::IntAttribute(5));
    header.insert("exegfx.size", Imf::V2iAttribute(Imath::V2i(W, H)));
    header.insert("exegfx.scene", Imf::StringAttribute("sha256:test"));
    Imf::OutputFile file((dir + "/count.exr").c_str(), header);
  }

  struct Case {
    const char *name, *mention;
  } cases[] = {{"missing.exr", "Cannot read"},
               {"text.exr", "not an OpenEXR file"},
               {"cut.exr", "damaged"},
               {"plain.exr", "not an exegfx partial"},
               {"nan.exr", "not a finite number"},
               {"count.exr", "says it holds 5 frames"}};
  for (const Case &c : cases) {
    PartialInfo info;
    std::vector<float> back;
    error.clear();
    EXPECT_FALSE(readPartial(dir + "/" + c.name, info, back, error)) << c.name;
    EXPECT_NE(error.find(c.name), std::string::npos) << error;
    EXPECT_NE(error.find(c.mention), std::string::npos) << c.mention << " not in: " << error;
  }
  EXPECT_EQ(contents(dir + "/good.exr"), good);
}

} // namespace

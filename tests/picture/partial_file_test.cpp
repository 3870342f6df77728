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

#include <OpenEXR/ImfInputFile.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
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

TEST(PartialFile, SumOfSquaresAndNoiseTravelWhereKeptAndOlderFilesHaveNone) {
  std::string dir = tempDir("partial_squares");
  std::vector<float> sum = values(5.0f), mean = values(1.0f), squares = values(25.0f);
  PartialInfo info = sample();
  info.noiseMedian = 0.25;
  info.noiseP95 = 1.5;
  std::string error;
  ASSERT_TRUE(writePartial(dir + "/with.exr", info, sum.data(), mean.data(), error, squares.data()))
      << error;
  ASSERT_TRUE(writePartial(dir + "/without.exr", sample(), sum.data(), mean.data(), error));
  PartialInfo back;
  std::vector<float> sumBack, squaresBack;
  ASSERT_TRUE(readPartial(dir + "/with.exr", back, sumBack, error, &squaresBack)) << error;
  EXPECT_TRUE(back.hasSquares);
  EXPECT_EQ(sumBack, sum);
  EXPECT_EQ(squaresBack, squares);
  EXPECT_EQ(back.noiseMedian, 0.25);
  EXPECT_EQ(back.noiseP95, 1.5);
  ASSERT_TRUE(readPartial(dir + "/without.exr", back, sumBack, error, &squaresBack)) << error;
  EXPECT_FALSE(back.hasSquares);
  EXPECT_TRUE(squaresBack.empty());
  EXPECT_LT(back.noiseP95, 0.0);
}

TEST(PartialFile, ChecksumIsSha256OfTheSumInFileOrder) {
  // 1 x 2: the top row (1, 2, 3) comes first in the file, as little-endian floats.
  std::string path = tempDir("partial_sum") + "/p.exr";
  PartialInfo info = sample();
  info.width = 1;
  info.height = 2;
  std::vector<float> sum = {4, 5, 6, 1, 2, 3};
  std::string error;
  ASSERT_TRUE(writePartial(path, info, sum.data(), sum.data(), error)) << error;
  PartialInfo back;
  ASSERT_TRUE(readPartialInfo(path, back, error)) << error;
  EXPECT_EQ(back.sumChecksum,
            "sha256:24ae2dfe8df57c1b80e54cef3d90ac3b417fd98973345a5f616bbc9a75dcc202");
}

// The offset of the first pixel chunk's size field in an OpenEXR scan-line
// file: past the magic, the version, the header's attributes (name, type,
// size, value) and the offset table's first entry, at the chunk's y.
std::size_t firstChunkSizeField(const std::string &file) {
  std::size_t at = 8;
  while (file.at(at) != 0) {
    at = file.find('\0', file.find('\0', at) + 1) + 1;
    std::int32_t size;
    std::memcpy(&size, file.data() + at, 4);
    at += 4 + static_cast<std::size_t>(size);
  }
  std::uint64_t chunk;
  std::memcpy(&chunk, file.data() + at + 1, 8);
  return static_cast<std::size_t>(chunk) + 4;
}

// An exegfx-like header of the given size, with the given extras.
Imf::Header fakeHeader(int w, int h, const char *frames, int count) {
  Imf::Header header(w, h);
  for (const char *c : {"R", "G", "B", "sum.R", "sum.G", "sum.B"})
    header.channels().insert(c, Imf::Channel(Imf::FLOAT));
  header.insert("exegfx.frames", Imf::StringAttribute(frames));
  header.insert("exegfx.frameCount", Imf::IntAttribute(count));
  header.insert("exegfx.size", Imf::V2iAttribute(Imath::V2i(w, h)));
  header.insert("exegfx.scene", Imf::StringAttribute("sha256:test"));
  return header;
}

// Writes the header with every channel's pixels set to value.
void writeFake(const std::string &path, const Imf::Header &header, float value) {
  const Imath::Box2i &dw = header.dataWindow();
  int w = dw.max.x - dw.min.x + 1, h = dw.max.y - dw.min.y + 1;
  std::vector<float> px(static_cast<std::size_t>(w) * h, value);
  Imf::OutputFile file(path.c_str(), header);
  Imf::FrameBuffer fb;
  for (auto c = header.channels().begin(); c != header.channels().end(); ++c)
    fb.insert(c.name(), Imf::Slice(Imf::FLOAT,
                                   reinterpret_cast<char *>(px.data()) -
                                       (dw.min.x + std::size_t(dw.min.y) * w) * sizeof(float),
                                   sizeof(float), sizeof(float) * w));
  file.setFrameBuffer(fb);
  file.writePixels(h);
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
  Imf::OutputFile((dir + "/count.exr").c_str(), fakeHeader(W, H, "1-4", 5));
  // OpenEXR itself reads a chunk whose size is zeroed as junk.
  std::string zeroed = good;
  std::memset(zeroed.data() + firstChunkSizeField(zeroed), 0, 4);
  std::ofstream(dir + "/zeroed.exr", std::ios::binary) << zeroed;
  // Sums other than those the checksum was made of, in a file that decodes.
  Imf::Header copied = Imf::InputFile((dir + "/good.exr").c_str()).header();
  writeFake(dir + "/changed.exr", copied, 2.0f);
  copied.insert("exegfx.sumChecksum", Imf::StringAttribute("sha256:0123"));
  writeFake(dir + "/checksum.exr", copied, 2.0f);
  Imf::Header extra = fakeHeader(W, H, "1", 1);
  extra.channels().insert("A", Imf::Channel(Imf::FLOAT));
  writeFake(dir + "/extra.exr", extra, 1.0f);
  Imf::Header wide = fakeHeader(W, H, "1", 1);
  wide.dataWindow().max.x = W;
  writeFake(dir + "/window.exr", wide, 1.0f);
  // Frames past the highest frame number exegfx renders.
  writeFake(dir + "/late.exr", fakeHeader(W, H, "1073741824-1073741825", 2), 1.0f);
  // Squares that no sum of real samples gives, and squares without their checksum.
  std::vector<float> negative = values(25.0f);
  negative[7] = -1.0f;
  ASSERT_TRUE(writePartial(dir + "/negative.exr", sample(), sum.data(), mean.data(), error,
                           negative.data()));
  Imf::Header bare = fakeHeader(W, H, "1", 1);
  for (const char *c : {"sumsq.R", "sumsq.G", "sumsq.B"})
    bare.channels().insert(c, Imf::Channel(Imf::FLOAT));
  writeFake(dir + "/bare.exr", bare, 1.0f);
  // One flipped bit in an attribute's name, with and without a sum of squares:
  // a current file must not pass as an older one without checksums.
  std::vector<float> squares = values(25.0f);
  PartialInfo noisy = sample();
  noisy.noiseMedian = 2.0;
  noisy.noiseP95 = 1.0;
  ASSERT_TRUE(
      writePartial(dir + "/noise.exr", noisy, sum.data(), mean.data(), error, squares.data()));
  noisy.noiseMedian = noisy.noiseP95 = -1.0;
  ASSERT_TRUE(writePartial(dir + "/sq.exr", noisy, sum.data(), mean.data(), error, squares.data()));
  for (auto [from, to] : {std::pair{"good.exr", "flipped.exr"}, {"sq.exr", "flippedsq.exr"}}) {
    std::string bytes = contents(dir + "/" + from);
    std::size_t at = bytes.find("exegfx.sumChecksum");
    ASSERT_NE(at, std::string::npos);
    bytes[at + 9] ^= 1; // sumChecksum -> sulChecksum
    std::ofstream(dir + "/" + to, std::ios::binary) << bytes;
  }
  // A header that asks for far more pixels than the file holds (none written).
  Imf::OutputFile((dir + "/huge.exr").c_str(), fakeHeader(100000, 100000, "1", 1));
  mkfifo((dir + "/fifo.exr").c_str(), 0600);

  struct Case {
    const char *name, *mention;
  } cases[] = {{"missing.exr", "Cannot read"},
               {"text.exr", "not an OpenEXR file"},
               {"cut.exr", "damaged"},
               {"plain.exr", "not an exegfx partial"},
               {"nan.exr", "not a finite number"},
               {"count.exr", "says it holds 5 frames"},
               {"zeroed.exr", "damaged"},
               {"changed.exr", "does not match its exegfx.sumChecksum"},
               {"checksum.exr", "not a SHA-256"},
               {"extra.exr", "has a channel \"A\""},
               {"window.exr", "data window"},
               {"late.exr", "past frame 1073741824"},
               {"negative.exr", "sum of squares holds a value that is negative"},
               {"bare.exr", "without its exegfx.squaresChecksum"},
               {"noise.exr", "not a noise figure"},
               {"flipped.exr", "one character away"},
               {"flippedsq.exr", "damaged"},
               {"huge.exr", "more than its"},
               {"fifo.exr", "is a FIFO"}};
  for (const Case &c : cases) {
    PartialInfo info;
    std::vector<float> back, squares;
    error.clear();
    EXPECT_FALSE(readPartial(dir + "/" + c.name, info, back, error, &squares)) << c.name;
    EXPECT_NE(error.find(c.name), std::string::npos) << error;
    EXPECT_NE(error.find(c.mention), std::string::npos) << c.mention << " not in: " << error;
  }
  EXPECT_EQ(contents(dir + "/good.exr"), good);

  // A file of an older version, without a checksum, is read, with a note.
  writeFake(dir + "/old.exr", fakeHeader(W, H, "1", 1), 1.0f);
  PartialInfo info;
  std::vector<float> back;
  testing::internal::CaptureStderr();
  EXPECT_TRUE(readPartial(dir + "/old.exr", info, back, error)) << error;
  std::string note = testing::internal::GetCapturedStderr();
  EXPECT_NE(note.find("note: \"" + dir + "/old.exr\" has no exegfx.sumChecksum"), std::string::npos)
      << note;
  EXPECT_EQ(back, std::vector<float>(W * H * 3, 1.0f));
}

// An adaptive render's counts are held to their checksum and to the frames.
TEST(PartialFile, AdaptiveFilesWithDamagedCountsAreRefused) {
  std::string dir = tempDir("partial_counts");
  auto picture = [](double extraHeld) {
    Picture p;
    p.width = W;
    p.height = H;
    p.frames = {{1, 16}};
    p.mean.sum = p.held.sum = std::vector<double>(W * H * 3, 1.5);
    p.mean.squares = p.held.squares = std::vector<double>(W * H * 3, 2.5);
    p.mean.count.assign(W * H, 14.0);
    p.held.count.assign(W * H, 2.0);
    p.held.count[7] += extraHeld;
    return p;
  };
  PartialInfo info = sample();
  info.adaptive = "level=2 min=256 every=8 pool=2 margin=0.9 floor=0.5";
  std::string error;
  for (auto [name, extra] :
       {std::pair{"a.exr", 0.0}, {"b.exr", -1.0}, {"over.exr", 1.0}, {"huge.exr", 1e30}})
    ASSERT_TRUE(writePicture(dir + "/" + name, info, picture(extra), error)) << error;
  Picture back;
  ASSERT_TRUE(readPicture(dir + "/a.exr", info, back, error)) << error;
  EXPECT_EQ(back.held.count, picture(0.0).held.count);
  // a.exr's pixels under b.exr's counts checksum: every other check passes.
  std::string a = contents(dir + "/a.exr"), b = contents(dir + "/b.exr");
  const std::string attribute = "exegfx.countsChecksum";
  std::size_t at = a.find(attribute), bt = b.find(attribute);
  ASSERT_TRUE(at != std::string::npos && bt != std::string::npos);
  at = a.find("sha256:", at);
  bt = b.find("sha256:", bt);
  ASSERT_NE(a.substr(at, 71), b.substr(bt, 71));
  a.replace(at, 71, b.substr(bt, 71));
  std::ofstream(dir + "/changed.exr", std::ios::binary) << a;
  for (auto [name, mention] :
       {std::pair{"changed.exr", "counts do not match its exegfx.countsChecksum"},
        {"over.exr", "never leaves after frames 1-16"},
        {"huge.exr", "never leaves after frames 1-16"}}) {
    error.clear();
    EXPECT_FALSE(readPicture(dir + "/" + name, info, back, error)) << name;
    EXPECT_NE(error.find(mention), std::string::npos) << mention << " not in: " << error;
  }
}

} // namespace

// Partial renders in OpenEXR: the exact 32-bit float running sum of a set of
// frames, with the mean beside it so any EXR viewer shows the picture. Sums of
// disjoint frame sets add up to the sum of their union, because every sample
// depends only on its pixel and its frame number.
//
// Channels R, G, B: the mean; sum.R, sum.G, sum.B: the running sum;
// sumsq.R, sumsq.G, sumsq.B: the running sum of the samples' squares (absent
// in files of older versions, whose noise is unknown); an adaptive render's
// counts after them (count, held.*, heldsq.*, held.count: with or without the
// squares, as a merge with an older part keeps them); all 32-bit float, rows
// from the top down as EXR viewers expect. Header attributes:
//   exegfx.frames      string   the frames held, "1-64,129-192"
//   exegfx.frameCount  int      their number
//   exegfx.size        v2i      width, height of the picture
//   exegfx.scene       string   identity of the scene shader ("sha256:...")
//   exegfx.version     string   the program that wrote the file
//   exegfx.renderers   string[] the GL implementations the frames came from
//   exegfx.passes      string[] the scene passes that rendered them
//   exegfx.devices     string[] the devices they ran on ("EGL device 0, GPU-...");
//                               absent in files of older versions
//   exegfx.sumChecksum string   "sha256:" and the hex SHA-256 of the sum: its
//                               32-bit floats, little-endian, rows from the top
//                               down, R G B of each pixel; absent in files of
//                               older versions
//   exegfx.squaresChecksum string  the same for the sum of squares, where there is one
//   exegfx.countsChecksum, exegfx.adaptive  an adaptive render's: the counts'
//                               SHA-256 and the stopping rule ("; " between a
//                               merge's rules)
//   exegfx.runs        int      the renders an adaptive file's counts add up
//                               (count_schedule.h); absent in older files
//   exegfx.noiseMedian float  the median and 95th percentile of the traced
//   exegfx.noiseP95    float  pixels' standard errors in 8-bit levels (noise.h),
//                             where the noise is known
// OpenEXR takes some damaged data for good (its C++ reader fills a chunk whose
// size was zeroed with junk), so the checksum is what tells a good file.
#pragma once

#include "frame_ranges.h"
#include "picture.h"

#include <string>
#include <vector>

struct PartialInfo {
  unsigned width = 0, height = 0;
  FrameRanges frames;
  std::string scene, version;
  std::vector<std::string> renderers, passes, devices;
  std::string sumChecksum; // as read; empty for older files. writePartial makes its own
  bool hasSquares = false; // as read: the file holds the sum of squares
  std::string squaresChecksum;
  // The noise figure: written where known, as read (negative where the file has none).
  double noiseMedian = -1.0, noiseP95 = -1.0;
  // An adaptive render's: per-pixel counts and held-out samples in the file,
  // and the stopping rule they were made with ("level=2 min=64 ...").
  bool isAdaptive = false; // as read
  std::string countsChecksum, adaptive;
  // The renders its counts add up: 1 for exegfx-still's, a merge's parts' together.
  unsigned runs = 1;
};

// Writes sum and mean (width x height x 3 floats each, rows from the bottom
// up, as the GL reads them back), and the sum of squares where not null, whole
// or not at all. The noise attributes are written where info's are not
// negative. False with a message.
bool writePartial(const std::string &path, const PartialInfo &info, const float *sum,
                  const float *mean, std::string &error, const float *squares = nullptr,
                  const float *adaptive = nullptr);

// Reads and checks the header: a regular file (never a FIFO or device, which
// could block), OpenEXR, with exactly the channels above over a data window
// that is the whole picture, stored uncompressed or with RLE, ZIPS or ZIP, no
// more pixel data than its size can hold, frames no higher than maxStillFrames
// and the attributes above consistent with each other. False with a message
// that names the file and the problem.
bool readPartialInfo(const std::string &path, PartialInfo &info, std::string &error);

// readPartialInfo, then the sum (rows from the bottom up), and the sum of
// squares into squares where given (empty when the file has none). Refuses a
// file with missing pixel data (a truncated or unfinished file), values that
// are not finite, negative squares, data that does not match its checksum,
// or an adaptive file's counts that its stopping rule cannot make (read and
// checked also where adaptive is null).
// A file without a checksum (an older version's) is read, with a note on
// standard error.
bool readPartial(const std::string &path, PartialInfo &info, std::vector<float> &sum,
                 std::string &error, std::vector<float> *squares = nullptr,
                 std::vector<float> *adaptive = nullptr);

// The same for a whole picture (picture.h): a uniform render's gives every
// pixel the file's frame count. False with a message.
bool readPicture(const std::string &path, PartialInfo &info, Picture &picture, std::string &error);
// Writes the picture, its mean, and an adaptive picture's counts and held-out
// samples, with info's attributes (info.width, height and frames are the
// picture's). False with a message.
bool writePicture(const std::string &path, PartialInfo info, const Picture &picture,
                  std::string &error);

// An adaptive render's channels, 8 per pixel: the mean's count, the held-out
// sum (3), their squares (3) and their count.
inline constexpr int adaptiveChannels = 8;

// Adds the values of b that a does not hold yet, keeping a's order.
void addUnique(std::vector<std::string> &a, const std::vector<std::string> &b);

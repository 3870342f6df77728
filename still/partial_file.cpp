#include "partial_file.h"

#include "whole_file.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfInputFile.h>
#include <OpenEXR/ImfIntAttribute.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStdIO.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <OpenEXR/ImfStringVectorAttribute.h>
#include <OpenEXR/ImfThreading.h>
#include <OpenEXR/ImfVecAttribute.h>

#include <algorithm>
#include <cmath>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <memory>
#include <thread>

namespace {

const char *const channelNames[6] = {"R", "G", "B", "sum.R", "sum.G", "sum.B"};

// Pixels interleaved as R G B sum.R sum.G sum.B, rows from the top down.
void bindChannels(Imf::FrameBuffer &fb, std::vector<float> &pixels, unsigned width) {
  const std::size_t x = 6 * sizeof(float), y = x * width;
  for (int k = 0; k < 6; ++k)
    fb.insert(channelNames[k],
              Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(pixels.data() + k), x, y));
}

// Compression runs on all cores: at full size a partial is about 50 MB of floats.
void useAllCores() {
  static bool set = false;
  if (!set) {
    unsigned n = std::thread::hardware_concurrency();
    Imf::setGlobalThreadCount(n > 1 ? static_cast<int>(n) : 0);
    set = true;
  }
}

template <class T> const T *attribute(const Imf::Header &h, const char *name) {
  return h.findTypedAttribute<T>(name);
}

} // namespace

void addUnique(std::vector<std::string> &a, const std::vector<std::string> &b) {
  for (const std::string &s : b)
    if (std::find(a.begin(), a.end(), s) == a.end()) a.push_back(s);
}

bool writePartial(const std::string &path, const PartialInfo &info, const float *sum,
                  const float *mean, std::string &error) {
  useAllCores();
  const unsigned w = info.width, h = info.height;
  std::vector<float> pixels(std::size_t{w} * h * 6);
  for (unsigned row = 0; row < h; ++row) {
    std::size_t src = std::size_t{h - 1 - row} * w * 3, dst = std::size_t{row} * w * 6;
    for (unsigned x = 0; x < w; ++x, src += 3, dst += 6)
      for (int ch = 0; ch < 3; ++ch) {
        pixels[dst + ch] = mean[src + ch];
        pixels[dst + 3 + ch] = sum[src + ch];
      }
  }
  Imf::Header header(static_cast<int>(w), static_cast<int>(h));
  header.compression() = Imf::ZIP_COMPRESSION;
  for (const char *name : channelNames)
    header.channels().insert(name, Imf::Channel(Imf::FLOAT));
  header.insert("exegfx.frames", Imf::StringAttribute(formatFrameRanges(info.frames)));
  header.insert("exegfx.frameCount", Imf::IntAttribute(static_cast<int>(frameCount(info.frames))));
  header.insert("exegfx.size",
                Imf::V2iAttribute(Imath::V2i(static_cast<int>(w), static_cast<int>(h))));
  header.insert("exegfx.scene", Imf::StringAttribute(info.scene));
  header.insert("exegfx.version", Imf::StringAttribute(info.version));
  header.insert("exegfx.renderers", Imf::StringVectorAttribute(info.renderers));
  header.insert("exegfx.passes", Imf::StringVectorAttribute(info.passes));
  header.insert("exegfx.devices", Imf::StringVectorAttribute(info.devices));
  return writeWholeFile(
      path,
      [&](int, const std::string &temp, std::string &fillError) {
        try {
          std::ofstream stream(temp, std::ios::binary | std::ios::trunc);
          Imf::StdOFStream out(stream, temp.c_str());
          Imf::OutputFile file(out, header);
          Imf::FrameBuffer fb;
          bindChannels(fb, pixels, w);
          file.setFrameBuffer(fb);
          file.writePixels(static_cast<int>(h));
        } catch (const std::exception &e) {
          fillError = e.what();
          return false;
        }
        return true;
      },
      error);
}

static bool checkHeader(const std::string &path, const Imf::Header &h, PartialInfo &info,
                        std::string &error) {
  auto refuse = [&](const std::string &why) {
    error = "\"" + path + "\" " + why;
    return false;
  };
  auto frames = attribute<Imf::StringAttribute>(h, "exegfx.frames");
  auto count = attribute<Imf::IntAttribute>(h, "exegfx.frameCount");
  auto size = attribute<Imf::V2iAttribute>(h, "exegfx.size");
  auto scene = attribute<Imf::StringAttribute>(h, "exegfx.scene");
  if (!frames || !count || !size || !scene)
    return refuse("is an OpenEXR file but not an exegfx partial render: it has no "
                  "exegfx.frames, exegfx.frameCount, exegfx.size or exegfx.scene attribute "
                  "(only exegfx-still's and exegfx-merge's .exr files hold the running sum).");
  for (const char *name : channelNames) {
    const Imf::Channel *c = h.channels().findChannel(name);
    if (!c || c->type != Imf::FLOAT || c->xSampling != 1 || c->ySampling != 1)
      return refuse(std::string("has no full-resolution 32-bit float channel ") + name + ".");
  }
  const Imath::Box2i &dw = h.dataWindow();
  Imath::V2i v = size->value();
  if (v.x < 1 || v.y < 1 || dw.min.x != 0 || dw.min.y != 0 || dw.max.x != v.x - 1 ||
      dw.max.y != v.y - 1)
    return refuse("has a data window that does not match its exegfx.size.");
  if (!parseFrameRanges(frames->value(), info.frames))
    return refuse("has a malformed frame list \"" + frames->value() + "\".");
  if (count->value() < 0 || frameCount(info.frames) != static_cast<unsigned>(count->value()))
    return refuse("says it holds " + std::to_string(count->value()) + " frames but lists " +
                  std::to_string(frameCount(info.frames)) + ".");
  info.width = static_cast<unsigned>(v.x);
  info.height = static_cast<unsigned>(v.y);
  info.scene = scene->value();
  auto version = attribute<Imf::StringAttribute>(h, "exegfx.version");
  info.version = version ? version->value() : "";
  auto renderers = attribute<Imf::StringVectorAttribute>(h, "exegfx.renderers");
  auto passes = attribute<Imf::StringVectorAttribute>(h, "exegfx.passes");
  info.renderers = renderers ? renderers->value() : std::vector<std::string>{};
  info.passes = passes ? passes->value() : std::vector<std::string>{};
  auto devices = attribute<Imf::StringVectorAttribute>(h, "exegfx.devices");
  info.devices = devices ? devices->value() : std::vector<std::string>{};
  return true;
}

// Opens path as OpenEXR; false with a message for anything that is not one.
static bool openInput(const std::string &path, std::ifstream &stream,
                      std::unique_ptr<Imf::StdIFStream> &in, std::unique_ptr<Imf::InputFile> &file,
                      std::string &error) {
  stream.open(path, std::ios::binary);
  if (!stream) {
    error = "Cannot read \"" + path + "\": " + std::strerror(errno) + ".";
    return false;
  }
  char magic[4] = {};
  if (!stream.read(magic, 4) || magic[0] != 0x76 || magic[1] != 0x2f || magic[2] != 0x31 ||
      magic[3] != 0x01) {
    error = "\"" + path + "\" is not an OpenEXR file.";
    return false;
  }
  stream.seekg(0);
  try {
    in = std::make_unique<Imf::StdIFStream>(stream, path.c_str());
    file = std::make_unique<Imf::InputFile>(*in);
  } catch (const std::exception &e) {
    error = "\"" + path + "\" is a damaged OpenEXR file: " + e.what();
    return false;
  }
  return true;
}

bool readPartialInfo(const std::string &path, PartialInfo &info, std::string &error) {
  std::ifstream stream;
  std::unique_ptr<Imf::StdIFStream> in;
  std::unique_ptr<Imf::InputFile> file;
  return openInput(path, stream, in, file, error) && checkHeader(path, file->header(), info, error);
}

bool readPartial(const std::string &path, PartialInfo &info, std::vector<float> &sum,
                 std::string &error) {
  useAllCores();
  std::ifstream stream;
  std::unique_ptr<Imf::StdIFStream> in;
  std::unique_ptr<Imf::InputFile> file;
  if (!openInput(path, stream, in, file, error) || !checkHeader(path, file->header(), info, error))
    return false;
  const unsigned w = info.width, h = info.height;
  std::vector<float> pixels;
  try {
    // A file cut short, or one still being written, lacks some scan lines.
    if (!file->isComplete()) {
      error = "\"" + path +
              "\" is incomplete: some of its pixel data is missing (a truncated "
              "copy, or a write that did not finish).";
      return false;
    }
    pixels.assign(std::size_t{w} * h * 6, NAN);
    Imf::FrameBuffer fb;
    bindChannels(fb, pixels, w);
    file->setFrameBuffer(fb);
    file->readPixels(0, static_cast<int>(h) - 1);
  } catch (const std::exception &e) {
    error = "\"" + path + "\" is damaged: " + e.what();
    return false;
  }
  sum.resize(std::size_t{w} * h * 3);
  for (unsigned row = 0; row < h; ++row) {
    std::size_t src = std::size_t{row} * w * 6, dst = std::size_t{h - 1 - row} * w * 3;
    for (unsigned x = 0; x < w; ++x, src += 6, dst += 3)
      for (int ch = 0; ch < 3; ++ch) {
        float v = pixels[src + 3 + ch];
        if (!std::isfinite(v)) {
          error = "\"" + path + "\" is damaged: its sum holds a value that is not a finite number.";
          return false;
        }
        sum[dst + ch] = v;
      }
  }
  return true;
}

#include "partial_file.h"

#include "count_schedule.h"
#include "frame_limits.h"
#include "whole_file.h"

#include <OpenEXR/ImfChannelList.h>
#include <OpenEXR/ImfFloatAttribute.h>
#include <OpenEXR/ImfFrameBuffer.h>
#include <OpenEXR/ImfHeader.h>
#include <OpenEXR/ImfIntAttribute.h>
#include <OpenEXR/ImfOutputFile.h>
#include <OpenEXR/ImfStdIO.h>
#include <OpenEXR/ImfStringAttribute.h>
#include <OpenEXR/ImfStringVectorAttribute.h>
#include <OpenEXR/ImfThreading.h>
#include <OpenEXR/ImfVecAttribute.h>
#include <OpenEXR/openexr.h>

#include <nettle/sha2.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <limits>
#include <memory>
#include <thread>

namespace {

// The first six in every partial; the sum of squares where kept; an adaptive
// render's counts and held-out samples after them.
const char *const channelNames[17] = {"R",        "G",         "B",       "sum.R",    "sum.G",
                                      "sum.B",    "sumsq.R",   "sumsq.G", "sumsq.B",  "count",
                                      "held.R",   "held.G",    "held.B",  "heldsq.R", "heldsq.G",
                                      "heldsq.B", "held.count"};

// The channels a file holds, as indices into channelNames: the first six,
// then the sum of squares where known, then an adaptive render's counts (an
// adaptive picture merged with an older part keeps its counts without squares).
std::vector<int> channelsOf(bool squares, bool adaptive) {
  std::vector<int> list;
  for (int k = 0; k < 17; ++k)
    if (k < 6 || (k < 9 ? squares : adaptive)) list.push_back(k);
  return list;
}

// Pixels interleaved in the order of channels, rows from the top down.
void bindChannels(Imf::FrameBuffer &fb, std::vector<float> &pixels, unsigned width,
                  const std::vector<int> &channels) {
  const std::size_t x = channels.size() * sizeof(float), y = x * width;
  for (std::size_t k = 0; k < channels.size(); ++k)
    fb.insert(channelNames[channels[k]],
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

// "sha256:" and the hex digest of a sum (width x height x perPixel floats,
// rows from the bottom up) as the file holds it: 32-bit floats,
// little-endian, rows from the top down.
std::string dataChecksum(const float *sum, unsigned width, unsigned height, int perPixel = 3) {
  sha256_ctx ctx;
  sha256_init(&ctx);
  std::vector<std::uint32_t> row(std::size_t{width} * static_cast<unsigned>(perPixel));
  for (unsigned y = height; y-- > 0;) {
    std::memcpy(row.data(), sum + std::size_t{y} * row.size(), row.size() * 4);
    if constexpr (std::endian::native == std::endian::big)
      for (std::uint32_t &b : row)
        b = (b >> 24) | ((b >> 8) & 0xff00) | ((b << 8) & 0xff0000) | (b << 24);
    sha256_update(&ctx, row.size() * 4, reinterpret_cast<const std::uint8_t *>(row.data()));
  }
  std::uint8_t digest[SHA256_DIGEST_SIZE];
  sha256_digest(&ctx, sizeof digest, digest);
  std::string text = "sha256:";
  for (std::uint8_t b : digest) {
    text += "0123456789abcdef"[b >> 4];
    text += "0123456789abcdef"[b & 15];
  }
  return text;
}

bool wellFormedChecksum(const std::string &text) {
  return text.size() == 7 + 2 * SHA256_DIGEST_SIZE && text.starts_with("sha256:") &&
         text.find_first_not_of("0123456789abcdef", 7) == std::string::npos;
}

// No partial is larger than exegfx-still renders: --size takes at most this per side.
const int maxSide = 1000000;

// What a file of the compressions read here can hold: deflate expands at most
// 1032 times, RLE 64 times. A header that asks for more pixel data is damaged,
// and nothing is allocated for it.
const std::uint64_t maxExpansion = 1100;

// A partial opened with OpenEXR's C core, which checks every size a header
// gives against the file before it allocates by it (the C++ reader does not:
// a damaged string size asks it for gigabytes), and reads what was checked to
// be a regular file, through its descriptor.
class CoreFile {
public:
  ~CoreFile() {
    exr_finish(&context);
    if (fd >= 0) close(fd);
  }
  // The first message the core gave, else its text for the code.
  std::string why(exr_result_t code) const {
    std::string text = message.empty() ? exr_get_default_error_message(code) : message;
    return text.ends_with('.') ? text : text + ".";
  }
  bool start(const std::string &path) {
    exr_context_initializer_t init = EXR_DEFAULT_CONTEXT_INITIALIZER;
    init.user_data = this;
    init.read_fn = [](exr_const_context_t, void *self, void *buffer, std::uint64_t n,
                      std::uint64_t offset, exr_stream_error_func_ptr_t) -> std::int64_t {
      const int fd = static_cast<CoreFile *>(self)->fd;
      std::uint64_t done = 0;
      while (done < n) {
        ssize_t got = pread(fd, static_cast<char *>(buffer) + done, n - done,
                            static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::uint64_t>(got);
      }
      return static_cast<std::int64_t>(done);
    };
    init.size_fn = [](exr_const_context_t, void *self) -> std::int64_t {
      return static_cast<std::int64_t>(static_cast<CoreFile *>(self)->size);
    };
    init.error_handler_fn = [](exr_const_context_t ctxt, exr_result_t, const char *text) {
      void *self = nullptr;
      if (exr_get_user_data(ctxt, &self) == EXR_ERR_SUCCESS && self && text &&
          static_cast<CoreFile *>(self)->message.empty())
        static_cast<CoreFile *>(self)->message = text;
    };
    init.max_image_width = init.max_image_height = maxSide;
    init.max_tile_width = init.max_tile_height = maxSide;
    // A missing chunk is an error, not something to search the file for.
    init.flags = EXR_CONTEXT_FLAG_DISABLE_CHUNK_RECONSTRUCTION;
    result = exr_start_read(&context, path.c_str(), &init);
    return result == EXR_ERR_SUCCESS;
  }
  const exr_attribute_t *find(const char *name, exr_attribute_type_t type) const {
    const exr_attribute_t *a = nullptr;
    return exr_get_attribute_by_name(context, 0, name, &a) == EXR_ERR_SUCCESS && a &&
                   a->type == type
               ? a
               : nullptr;
  }

  int fd = -1;
  std::uint64_t size = 0;
  exr_context_t context = nullptr;
  exr_result_t result = EXR_ERR_SUCCESS;
  std::string message;
};

std::string text(const exr_attr_string_t *s) {
  return s && s->str && s->length > 0 ? std::string(s->str, static_cast<std::size_t>(s->length))
                                      : std::string();
}

std::vector<std::string> texts(const exr_attribute_t *a) {
  std::vector<std::string> v;
  if (a && a->stringvector)
    for (int32_t k = 0; k < a->stringvector->n_strings; ++k)
      v.push_back(text(&a->stringvector->strings[k]));
  return v;
}

} // namespace

void addUnique(std::vector<std::string> &a, const std::vector<std::string> &b) {
  for (const std::string &s : b)
    if (std::find(a.begin(), a.end(), s) == a.end()) a.push_back(s);
}

// The header of a partial with these channels and attributes.
static Imf::Header partialHeader(const PartialInfo &info, const std::vector<int> &channels,
                                 const float *sum, const float *squares, const float *adaptive) {
  const unsigned w = info.width, h = info.height;
  Imf::Header header(static_cast<int>(w), static_cast<int>(h));
  header.compression() = Imf::ZIP_COMPRESSION;
  for (int k : channels)
    header.channels().insert(channelNames[k], Imf::Channel(Imf::FLOAT));
  header.insert("exegfx.frames", Imf::StringAttribute(formatFrameRanges(info.frames)));
  header.insert("exegfx.frameCount", Imf::IntAttribute(static_cast<int>(frameCount(info.frames))));
  header.insert("exegfx.size",
                Imf::V2iAttribute(Imath::V2i(static_cast<int>(w), static_cast<int>(h))));
  header.insert("exegfx.scene", Imf::StringAttribute(info.scene));
  header.insert("exegfx.version", Imf::StringAttribute(info.version));
  header.insert("exegfx.renderers", Imf::StringVectorAttribute(info.renderers));
  header.insert("exegfx.passes", Imf::StringVectorAttribute(info.passes));
  header.insert("exegfx.devices", Imf::StringVectorAttribute(info.devices));
  header.insert("exegfx.sumChecksum", Imf::StringAttribute(dataChecksum(sum, w, h)));
  if (squares)
    header.insert("exegfx.squaresChecksum", Imf::StringAttribute(dataChecksum(squares, w, h)));
  if (adaptive) {
    header.insert("exegfx.countsChecksum",
                  Imf::StringAttribute(dataChecksum(adaptive, w, h, adaptiveChannels)));
    header.insert("exegfx.adaptive", Imf::StringAttribute(info.adaptive));
    header.insert("exegfx.runs", Imf::IntAttribute(static_cast<int>(info.runs)));
  }
  if (squares && info.noiseMedian >= 0.0 && info.noiseP95 >= 0.0) {
    header.insert("exegfx.noiseMedian", Imf::FloatAttribute(static_cast<float>(info.noiseMedian)));
    header.insert("exegfx.noiseP95", Imf::FloatAttribute(static_cast<float>(info.noiseP95)));
  }
  return header;
}

bool writePartial(const std::string &path, const PartialInfo &info, const float *sum,
                  const float *mean, std::string &error, const float *squares,
                  const float *adaptive) {
  useAllCores();
  const unsigned w = info.width, h = info.height;
  const std::vector<int> channels = channelsOf(squares, adaptive);
  const std::size_t n = channels.size(), counts = squares ? 9 : 6;
  std::vector<float> pixels(std::size_t{w} * h * n);
  for (unsigned row = 0; row < h; ++row) {
    std::size_t src = std::size_t{h - 1 - row} * w, dst = std::size_t{row} * w * n;
    for (unsigned x = 0; x < w; ++x, ++src, dst += n) {
      for (int ch = 0; ch < 3; ++ch) {
        pixels[dst + ch] = mean[src * 3 + ch];
        pixels[dst + 3 + ch] = sum[src * 3 + ch];
        if (squares) pixels[dst + 6 + ch] = squares[src * 3 + ch];
      }
      for (int k = 0; adaptive && k < adaptiveChannels; ++k)
        pixels[dst + counts + k] = adaptive[src * adaptiveChannels + k];
    }
  }
  Imf::Header header = partialHeader(info, channels, sum, squares, adaptive);
  return writeWholeFile(
      path,
      [&](int, const std::string &temp, std::string &fillError) {
        try {
          std::ofstream stream(temp, std::ios::binary | std::ios::trunc);
          Imf::StdOFStream out(stream, temp.c_str());
          Imf::OutputFile file(out, header);
          Imf::FrameBuffer fb;
          bindChannels(fb, pixels, w, channels);
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

// Names the attributes exegfx reads: one a character away from any of them
// (a flipped bit) is a damaged name, which would otherwise pass as missing.
static const char *const knownAttributes[] = {
    "exegfx.frames",         "exegfx.frameCount",      "exegfx.size",        "exegfx.scene",
    "exegfx.version",        "exegfx.renderers",       "exegfx.passes",      "exegfx.devices",
    "exegfx.sumChecksum",    "exegfx.squaresChecksum", "exegfx.noiseMedian", "exegfx.noiseP95",
    "exegfx.countsChecksum", "exegfx.adaptive",        "exegfx.runs"};

static bool damagedAttributeName(const CoreFile &f, std::string &name) {
  int count = 0;
  if (exr_get_attribute_count(f.context, 0, &count) != EXR_ERR_SUCCESS) return false;
  for (int k = 0; k < count; ++k) {
    const exr_attribute_t *a = nullptr;
    if (exr_get_attribute_by_index(f.context, 0, EXR_ATTR_LIST_FILE_ORDER, k, &a) !=
            EXR_ERR_SUCCESS ||
        !a || !a->name)
      continue;
    const std::string_view seen = a->name;
    for (std::string_view known : knownAttributes) {
      if (seen.size() != known.size() || seen == known) continue;
      std::size_t differ = 0;
      for (std::size_t i = 0; i < seen.size(); ++i)
        differ += seen[i] != known[i];
      if (differ == 1) {
        name = seen;
        return true;
      }
    }
  }
  return false;
}

// The noise figure's attributes: both or neither, only beside a sum of
// squares, and figures a sum of squares can give.
static bool checkNoiseAttributes(const CoreFile &f, PartialInfo &info, std::string &error) {
  info.noiseMedian = info.noiseP95 = -1.0;
  std::string name;
  if (damagedAttributeName(f, name)) {
    error = "is damaged: it has an attribute \"" + name +
            "\", one character away from one exegfx writes.";
    return false;
  }
  auto median = f.find("exegfx.noiseMedian", EXR_ATTR_FLOAT);
  auto p95 = f.find("exegfx.noiseP95", EXR_ATTR_FLOAT);
  const exr_attribute_t *any = nullptr;
  bool present = false;
  for (const char *n : {"exegfx.noiseMedian", "exegfx.noiseP95"})
    present = present || exr_get_attribute_by_name(f.context, 0, n, &any) == EXR_ERR_SUCCESS;
  if (!present) return true;
  if (!median || !p95 || !info.hasSquares || !std::isfinite(median->f) || !std::isfinite(p95->f) ||
      median->f < 0.0f || p95->f < median->f) {
    error = "is damaged: its exegfx.noiseMedian and exegfx.noiseP95 are not a noise figure "
            "(both finite, 0 <= median <= p95, beside a sum of squares).";
    return false;
  }
  info.noiseMedian = median->f;
  info.noiseP95 = p95->f;
  return true;
}

// An adaptive file's renders and stopping rules. Files of older versions do
// not give the renders: exegfx-merge's may then add up any number.
static bool readRuns(const CoreFile &f, PartialInfo &info, std::string &error) {
  auto runs = f.find("exegfx.runs", EXR_ATTR_INT);
  auto version = f.find("exegfx.version", EXR_ATTR_STRING);
  const exr_attribute_t *any = nullptr;
  if (runs ? runs->i < 1
           : exr_get_attribute_by_name(f.context, 0, "exegfx.runs", &any) == EXR_ERR_SUCCESS) {
    error = "is damaged: its exegfx.runs is not a number of renders.";
    return false;
  }
  info.runs = runs                                                            ? runs->i
              : version && text(version->string).starts_with("exegfx-merge ") ? 2
                                                                              : 1;
  std::vector<AdaptiveRule> rules;
  return parseRules(info.adaptive, rules, error);
}

// Why a check refuses, for "PATH " to go before; false.
static bool refuse(std::string &error, const std::string &why) {
  error = why;
  return false;
}

// The checksums, and the channels and attributes that come with them: the
// sum of squares came with both checksums (every version that wrote squares
// wrote them), so one without the other is a changed file, not an older one;
// an adaptive render's counts come with theirs and its rule. False with the
// reason, for "PATH " to go before.
static bool checkChecksums(const CoreFile &f, PartialInfo &info, std::string &error) {
  for (auto [name, value] : {std::pair{"exegfx.sumChecksum", &info.sumChecksum},
                             std::pair{"exegfx.squaresChecksum", &info.squaresChecksum},
                             std::pair{"exegfx.countsChecksum", &info.countsChecksum}}) {
    const exr_attribute_t *any = nullptr;
    auto checksum = f.find(name, EXR_ATTR_STRING);
    *value = checksum ? text(checksum->string) : "";
    if ((exr_get_attribute_by_name(f.context, 0, name, &any) == EXR_ERR_SUCCESS && !checksum) ||
        (checksum && !wellFormedChecksum(*value)))
      return refuse(error, std::string("is damaged: its ") + name +
                               " is not a SHA-256 (\"sha256:\" and 64 hex digits).");
  }
  if (info.hasSquares == info.squaresChecksum.empty())
    return refuse(error,
                  info.hasSquares
                      ? "is damaged: it has a sum of squares without its exegfx.squaresChecksum."
                      : "is damaged: it has an exegfx.squaresChecksum but no sum of squares.");
  if (info.hasSquares && info.sumChecksum.empty())
    return refuse(error, "is damaged: it has a sum of squares but no exegfx.sumChecksum.");
  auto adaptive = f.find("exegfx.adaptive", EXR_ATTR_STRING);
  info.adaptive = adaptive ? text(adaptive->string) : "";
  if (info.isAdaptive != !info.countsChecksum.empty() || info.isAdaptive != !!adaptive)
    return refuse(error, "is damaged: an adaptive render's counts, exegfx.countsChecksum and "
                         "exegfx.adaptive come together, and it lacks some of them.");
  return true;
}

// The channels: exegfx's own, all of the sum and the mean, and all or none of
// the sum of squares and of the counts, each full-resolution 32-bit float.
// Sets what the file holds. False with the reason, for "PATH " to go before.
static bool checkChannels(const CoreFile &f, PartialInfo &info, std::string &error) {
  const exr_attr_chlist_t *channels = nullptr;
  if (exr_get_channels(f.context, 0, &channels) != EXR_ERR_SUCCESS || !channels)
    return refuse(error, "has no channel list.");
  for (int k = 0; k < channels->num_channels; ++k) {
    std::string name = text(&channels->entries[k].name);
    if (std::find(std::begin(channelNames), std::end(channelNames), name) == std::end(channelNames))
      return refuse(error,
                    "has a channel \"" + name +
                        "\" that exegfx partials do not have: it is damaged or was changed.");
  }
  // Files of older versions have no sum of squares; a file has all of it or
  // none, and an adaptive render's counts all or none (with or without the
  // squares: a merge with an older part keeps the counts).
  auto named = [&](const char *name) {
    for (int k = 0; k < channels->num_channels; ++k)
      if (text(&channels->entries[k].name) == name) return true;
    return false;
  };
  info.hasSquares = named("sumsq.R");
  info.isAdaptive = named("count");
  const std::vector<int> expected = channelsOf(info.hasSquares, info.isAdaptive);
  if (static_cast<std::size_t>(channels->num_channels) != expected.size())
    return refuse(error,
                  "has only some of the channels of its sum of squares or of its counts: it is "
                  "damaged or was changed.");
  for (int n : expected) {
    const char *name = channelNames[n];
    const exr_attr_chlist_entry_t *c = nullptr;
    for (int k = 0; k < channels->num_channels; ++k)
      if (text(&channels->entries[k].name) == name) c = &channels->entries[k];
    if (!c || c->pixel_type != EXR_PIXEL_FLOAT || c->x_sampling != 1 || c->y_sampling != 1)
      return refuse(error,
                    std::string("has no full-resolution 32-bit float channel ") + name + ".");
  }
  return true;
}

// The windows, the compression, and pixel data its size can hold, for a
// picture of v pixels in channelCount channels. False with the reason, for
// "PATH " to go before.
static bool checkLayout(const CoreFile &f, const exr_attr_v2i_t &v, int channelCount,
                        std::string &error) {
  exr_attr_box2i_t dw{}, pw{};
  exr_get_data_window(f.context, 0, &dw);
  exr_get_display_window(f.context, 0, &pw);
  auto isPicture = [&](const exr_attr_box2i_t &b) {
    return b.min.x == 0 && b.min.y == 0 && b.max.x == v.x - 1 && b.max.y == v.y - 1;
  };
  if (v.x < 1 || v.y < 1 || !isPicture(dw))
    return refuse(error, "has a data window that does not match its exegfx.size.");
  if (!isPicture(pw))
    return refuse(error, "has a display window that does not match its exegfx.size.");
  exr_compression_t compression = EXR_COMPRESSION_LAST_TYPE;
  exr_get_compression(f.context, 0, &compression);
  if (compression != EXR_COMPRESSION_NONE && compression != EXR_COMPRESSION_RLE &&
      compression != EXR_COMPRESSION_ZIPS && compression != EXR_COMPRESSION_ZIP)
    return refuse(error, "uses a compression exegfx does not read; its partials are stored "
                         "uncompressed or with RLE, ZIPS or ZIP (what it writes).");
  const std::uint64_t pixelBytes =
      std::uint64_t(v.x) * std::uint64_t(v.y) * std::uint64_t(channelCount) * sizeof(float);
  if (pixelBytes > maxExpansion * f.size)
    return refuse(error, "is damaged: its header asks for " + std::to_string(v.x) + " x " +
                             std::to_string(v.y) + " pixels, more than its " +
                             std::to_string(f.size) + " bytes can hold.");
  return true;
}

static bool checkHeader(const std::string &path, const CoreFile &f, PartialInfo &info,
                        std::string &error) {
  auto refuse = [&](const std::string &why) {
    error = "\"" + path + "\" " + why;
    return false;
  };
  int parts = 0;
  exr_storage_t storage = EXR_STORAGE_LAST_TYPE;
  if (exr_get_count(f.context, &parts) != EXR_ERR_SUCCESS || parts != 1 ||
      exr_get_storage(f.context, 0, &storage) != EXR_ERR_SUCCESS || storage != EXR_STORAGE_SCANLINE)
    return refuse("is an OpenEXR file but not an exegfx partial render: those are single-part "
                  "scan-line files.");
  auto frames = f.find("exegfx.frames", EXR_ATTR_STRING);
  auto count = f.find("exegfx.frameCount", EXR_ATTR_INT);
  auto size = f.find("exegfx.size", EXR_ATTR_V2I);
  auto scene = f.find("exegfx.scene", EXR_ATTR_STRING);
  if (!frames || !count || !size || !scene)
    return refuse("is an OpenEXR file but not an exegfx partial render: it has no "
                  "exegfx.frames, exegfx.frameCount, exegfx.size or exegfx.scene attribute "
                  "(only exegfx-still's and exegfx-merge's .exr files hold the running sum).");
  if (!checkChannels(f, info, error) ||
      !checkLayout(f, *size->v2i,
                   static_cast<int>(channelsOf(info.hasSquares, info.isAdaptive).size()), error))
    return refuse(error);
  const exr_attr_v2i_t v = *size->v2i;
  const std::string frameText = text(frames->string);
  if (!parseFrameRanges(frameText, info.frames))
    return refuse("has a malformed frame list \"" + frameText + "\".");
  if (info.frames.back().last > maxStillFrames)
    return refuse("holds frames up to " + std::to_string(info.frames.back().last) +
                  ", past frame " + std::to_string(maxStillFrames) +
                  ", the last frame exegfx renders: it is damaged or was changed.");
  if (count->i < 0 || frameCount(info.frames) != static_cast<unsigned>(count->i))
    return refuse("says it holds " + std::to_string(count->i) + " frames but lists " +
                  std::to_string(frameCount(info.frames)) + ".");
  if (!checkChecksums(f, info, error) || !checkNoiseAttributes(f, info, error) ||
      (info.isAdaptive && !readRuns(f, info, error)))
    return refuse(error);
  info.width = static_cast<unsigned>(v.x);
  info.height = static_cast<unsigned>(v.y);
  info.scene = text(scene->string);
  auto version = f.find("exegfx.version", EXR_ATTR_STRING);
  info.version = version ? text(version->string) : "";
  info.renderers = texts(f.find("exegfx.renderers", EXR_ATTR_STRING_VECTOR));
  info.passes = texts(f.find("exegfx.passes", EXR_ATTR_STRING_VECTOR));
  info.devices = texts(f.find("exegfx.devices", EXR_ATTR_STRING_VECTOR));
  return true;
}

// Opens path as a partial render and checks its header: false with a message
// for anything that is not one. A FIFO, device or directory is refused before
// it is read: reading one could block for ever or never end.
static bool openPartial(const std::string &path, CoreFile &f, PartialInfo &info,
                        std::string &error) {
  auto notRegular = [&](const struct stat &st) {
    error = "\"" + path + "\" is " +
            (S_ISDIR(st.st_mode)    ? "a directory"
             : S_ISFIFO(st.st_mode) ? "a FIFO"
             : S_ISSOCK(st.st_mode) ? "a socket"
                                    : "a device") +
            ", not a partial render file.";
    return false;
  };
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = "Cannot read \"" + path + "\": " + std::strerror(errno) + ".";
    return false;
  }
  if (!S_ISREG(st.st_mode)) return notRegular(st);
  // Non-blocking, so that a FIFO put in its place meanwhile does not hang the open.
  f.fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (f.fd < 0 || fstat(f.fd, &st) != 0) {
    error = "Cannot read \"" + path + "\": " + std::strerror(errno) + ".";
    return false;
  }
  if (!S_ISREG(st.st_mode)) return notRegular(st);
  f.size = static_cast<std::uint64_t>(st.st_size);
  static const char exrMagic[4] = {0x76, 0x2f, 0x31, 0x01};
  char magic[4] = {};
  if (pread(f.fd, magic, 4, 0) != 4 || std::memcmp(magic, exrMagic, 4) != 0) {
    error = "\"" + path + "\" is not an OpenEXR file.";
    return false;
  }
  if (!f.start(path)) {
    error = "\"" + path + "\" is a damaged OpenEXR file: " + f.why(f.result);
    return false;
  }
  return checkHeader(path, f, info, error);
}

bool readPartialInfo(const std::string &path, PartialInfo &info, std::string &error) {
  CoreFile f;
  return openPartial(path, f, info, error);
}

// The sum channels, chunk by chunk, into sum, and the squares' into squares
// where not null (rows from the top down).
static bool readSums(const std::string &path, CoreFile &f, unsigned w, unsigned h,
                     std::vector<float> &sum, std::vector<float> *squares,
                     std::vector<float> *adaptive, std::string &error) {
  int32_t linesPerChunk = 0;
  if (exr_get_scanlines_per_chunk(f.context, 0, &linesPerChunk) != EXR_ERR_SUCCESS ||
      linesPerChunk < 1) {
    error = "\"" + path + "\" is damaged: " + f.why(EXR_ERR_INVALID_ATTR);
    return false;
  }
  exr_decode_pipeline_t decoder{};
  exr_result_t result = EXR_ERR_SUCCESS;
  for (unsigned y = 0; y < h && result == EXR_ERR_SUCCESS;
       y += static_cast<unsigned>(linesPerChunk)) {
    exr_chunk_info_t chunk{};
    result = exr_read_scanline_chunk_info(f.context, 0, static_cast<int>(y), &chunk);
    if (result == EXR_ERR_SUCCESS &&
        (chunk.start_y != static_cast<int>(y) || chunk.width != static_cast<int>(w) ||
         chunk.height < 1 || static_cast<unsigned>(chunk.height) > h - y))
      result = EXR_ERR_INCORRECT_CHUNK;
    if (result != EXR_ERR_SUCCESS) break;
    result = y == 0 ? exr_decoding_initialize(f.context, 0, &chunk, &decoder)
                    : exr_decoding_update(f.context, 0, &chunk, &decoder);
    if (result != EXR_ERR_SUCCESS) break;
    for (int16_t c = 0; c < decoder.channel_count; ++c) {
      exr_coding_channel_info_t &ch = decoder.channels[c];
      ch.decode_to_ptr = nullptr; // the mean is not needed
      for (std::size_t k = 0; k < 6 + adaptiveChannels; ++k) {
        std::vector<float> *into = k < 3 ? &sum : k < 6 ? squares : adaptive;
        const std::size_t per = k < 6 ? 3 : adaptiveChannels, at = k < 6 ? k % 3 : k - 6;
        if (into && ch.channel_name && ch.channel_name == std::string(channelNames[3 + k])) {
          ch.decode_to_ptr = reinterpret_cast<std::uint8_t *>(
              into->data() + std::size_t(chunk.start_y) * w * per + at);
          ch.user_pixel_stride = static_cast<int32_t>(per * sizeof(float));
          ch.user_line_stride = static_cast<int32_t>(w * per * sizeof(float));
          ch.user_bytes_per_element = sizeof(float);
          ch.user_data_type = EXR_PIXEL_FLOAT;
        }
      }
    }
    result = exr_decoding_choose_default_routines(f.context, 0, &decoder);
    if (result == EXR_ERR_SUCCESS) result = exr_decoding_run(f.context, 0, &decoder);
  }
  exr_decoding_destroy(f.context, &decoder);
  if (result == EXR_ERR_SUCCESS) return true;
  error = "\"" + path +
          "\" is damaged or incomplete (a truncated copy, or a write that did "
          "not finish): " +
          f.why(result);
  return false;
}

// An adaptive render's counts and held-out samples (8 per pixel, rows from
// the bottom up) as its stopping rule leaves them, matching their checksum.
static bool checkCounts(const std::vector<float> &adaptive, unsigned w, unsigned h,
                        const PartialInfo &info, std::string &error) {
  if (dataChecksum(adaptive.data(), w, h, adaptiveChannels) != info.countsChecksum) {
    error = "its counts do not match its exegfx.countsChecksum (the pixel data was changed or "
            "corrupted after it was written).";
    return false;
  }
  return checkSchedule(adaptive, w, h, info.frames, info.adaptive, info.runs, error);
}

// Rows from the top down to the bottom up, in place.
static void flipRows(std::vector<float> &data, unsigned w, unsigned h, std::size_t perPixel = 3) {
  const std::size_t row = std::size_t{w} * perPixel;
  for (unsigned y = 0; y < h / 2; ++y)
    std::swap_ranges(data.begin() + static_cast<std::ptrdiff_t>(y * row),
                     data.begin() + static_cast<std::ptrdiff_t>((y + 1) * row),
                     data.begin() + static_cast<std::ptrdiff_t>((h - 1 - y) * row));
}

bool readPartial(const std::string &path, PartialInfo &info, std::vector<float> &sum,
                 std::string &error, std::vector<float> *squares, std::vector<float> *adaptive) {
  CoreFile f;
  if (!openPartial(path, f, info, error)) return false;
  const unsigned w = info.width, h = info.height;
  if (squares) squares->clear();
  if (adaptive) adaptive->clear();
  if (!info.hasSquares) squares = nullptr;
  // Counts are always read and checked, also for a reader that takes none.
  std::vector<float> counts;
  if (!adaptive) adaptive = &counts;
  if (!info.isAdaptive) adaptive = nullptr;
  try {
    sum.assign(std::size_t{w} * h * 3, NAN);
    if (squares) squares->assign(sum.size(), NAN);
    if (adaptive) adaptive->assign(std::size_t{w} * h * adaptiveChannels, NAN);
  } catch (const std::bad_alloc &) {
    error = "out of memory for \"" + path + "\", a " + std::to_string(w) + " x " +
            std::to_string(h) + " picture.";
    return false;
  }
  if (!readSums(path, f, w, h, sum, squares, adaptive, error)) return false;
  flipRows(sum, w, h);
  if (squares) flipRows(*squares, w, h);
  if (adaptive) flipRows(*adaptive, w, h, adaptiveChannels);
  auto damaged = [&](const std::string &why) {
    error = "\"" + path + "\" is damaged: " + why;
    return false;
  };
  if (!info.sumChecksum.empty() && dataChecksum(sum.data(), w, h) != info.sumChecksum)
    return damaged("its sum does not match its exegfx.sumChecksum (the pixel data was changed "
                   "or corrupted after it was written).");
  if (squares && dataChecksum(squares->data(), w, h) != info.squaresChecksum)
    return damaged("its sum of squares does not match its exegfx.squaresChecksum (the pixel "
                   "data was changed or corrupted after it was written).");
  for (float v : sum)
    if (!std::isfinite(v)) return damaged("its sum holds a value that is not a finite number.");
  if (squares)
    for (float v : *squares)
      if (!(v >= 0.0f && v <= std::numeric_limits<float>::max()))
        return damaged("its sum of squares holds a value that is negative or not a finite "
                       "number.");
  if (adaptive && !checkCounts(*adaptive, w, h, info, error)) {
    error = "\"" + path + "\" is damaged: " + error;
    return false;
  }
  if (info.sumChecksum.empty())
    std::fprintf(stderr,
                 "%s: note: \"%s\" has no exegfx.sumChecksum (an older version wrote it), so "
                 "damage to its pixel data cannot be detected.\n",
                 program_invocation_short_name, path.c_str());
  return true;
}

bool readPicture(const std::string &path, PartialInfo &info, Picture &picture, std::string &error) {
  std::vector<float> sum, squares, adaptive;
  if (!readPartial(path, info, sum, error, &squares, &adaptive)) return false;
  picture = uniformPicture(info.width, info.height, info.frames, sum.data(),
                           squares.empty() ? nullptr : squares.data());
  if (adaptive.empty()) return true;
  const std::size_t pixels = picture.pixels();
  Samples &mean = picture.mean, &held = picture.held;
  held.sum.resize(pixels * 3);
  held.squares.resize(pixels * 3);
  held.count.resize(pixels);
  for (std::size_t p = 0; p < pixels; ++p) {
    const float *v = &adaptive[p * adaptiveChannels];
    mean.count[p] = v[0];
    for (int ch = 0; ch < 3; ++ch) {
      held.sum[p * 3 + ch] = v[1 + ch];
      held.squares[p * 3 + ch] = v[4 + ch];
    }
    held.count[p] = v[7];
  }
  return true;
}

bool writePicture(const std::string &path, PartialInfo info, const Picture &picture,
                  std::string &error) {
  info.width = picture.width;
  info.height = picture.height;
  info.frames = picture.frames;
  const std::size_t pixels = picture.pixels();
  std::vector<float> sum(picture.mean.sum.begin(), picture.mean.sum.end());
  std::vector<float> squares(picture.mean.squares.begin(), picture.mean.squares.end());
  std::vector<float> mean = pictureMean(picture), adaptive;
  if (picture.adaptive()) {
    adaptive.resize(pixels * adaptiveChannels);
    for (std::size_t p = 0; p < pixels; ++p) {
      float *v = &adaptive[p * adaptiveChannels];
      v[0] = static_cast<float>(picture.mean.count[p]);
      for (int ch = 0; ch < 3; ++ch) {
        v[1 + ch] = static_cast<float>(picture.held.sum[p * 3 + ch]);
        v[4 + ch] = static_cast<float>(picture.held.squares[p * 3 + ch]);
      }
      v[7] = static_cast<float>(picture.held.count[p]);
    }
  }
  return writePartial(path, info, sum.data(), mean.data(), error,
                      squares.empty() ? nullptr : squares.data(),
                      adaptive.empty() ? nullptr : adaptive.data());
}

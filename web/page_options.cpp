#include "page_options.h"
#include "size_text.h"

#include <string_view>

static bool parseSize(std::string_view text, PageOptions &options, std::string &error) {
  unsigned long long w = 0, h = 0;
  if (!splitSize(text, w, h)) {
    error =
        "size wants WIDTHxHEIGHT in whole pixels, like 960x540; got \"" + std::string(text) + "\".";
    return false;
  }
  if (w == 0 || h == 0) {
    error = "size " + std::string(text) + " is empty: width and height must be at least 1.";
    return false;
  }
  // The GPU's own limit is checked once the context exists.
  if (w > 1000000 || h > 1000000) {
    error = "size " + std::string(text) + " is far above any GPU's limit.";
    return false;
  }
  options.width = static_cast<unsigned>(w);
  options.height = static_cast<unsigned>(h);
  return true;
}

// No value the page takes is longer: "1000000x1000000" has 15 characters.
static const std::size_t longestValue = 32;

// What the address may not hold whatever the parameter: repeats, NULs, values
// that would run out of the page's message box.
static bool plainParam(const char *name, const PageParam &param, std::string &error) {
  if (param.count > 1)
    error = std::string(name) + " is given " + std::to_string(param.count) +
            " times in the address; give it once.";
  else if (param.value.find('\0') != std::string::npos)
    error = std::string(name) + " holds a NUL character (%00), which no value takes.";
  else if (param.value.size() > longestValue)
    error = std::string(name) + " is " + std::to_string(param.value.size()) +
            " characters long; no value it takes is longer than " + std::to_string(longestValue) +
            ".";
  return error.empty();
}

bool parsePageOptions(const PageParam &size, const PageParam &frames, const PageParam &bandMs,
                      PageOptions &options, std::string &error) {
  error.clear();
  if (!plainParam("size", size, error) || !plainParam("frames", frames, error) ||
      !plainParam("band-ms", bandMs, error))
    return false;
  auto value = [](const PageParam &p) { return p.count ? p.value.c_str() : nullptr; };
  return parsePageOptions(value(size), value(frames), value(bandMs), options, error);
}

bool parsePageOptions(const char *size, const char *frames, const char *bandMs,
                      PageOptions &options, std::string &error) {
  options = PageOptions{};
  if (size && !parseSize(size, options, error)) return false;
  unsigned long long n = 0;
  if (frames && (!parseCount(frames, n) || n == 0 || n > maxPageFrames)) {
    error = "frames wants a whole number from 1 to " + std::to_string(maxPageFrames) + "; got \"" +
            frames + "\".";
    return false;
  }
  if (frames) options.frames = static_cast<unsigned>(n);
  // Past a second a GPU is reset by some browsers and the page stalls.
  if (bandMs && (!parseCount(bandMs, n) || n == 0 || n > 1000)) {
    error = "band-ms wants a whole number of milliseconds from 1 to 1000; got \"" +
            std::string(bandMs) + "\".";
    return false;
  }
  if (bandMs) options.bandMs = static_cast<unsigned>(n);
  return true;
}

// Readers for the files exegfx-still writes, for the tests.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct ReadImage {
  bool ok = false;
  unsigned width = 0, height = 0;
  std::vector<std::uint8_t> bytes; // PNG: RGB, rows from the top down
  std::vector<float> floats;       // PFM: RGB, rows as stored (bottom up)
};

// An 8-bit RGB PNG, as libpng decodes it.
inline ReadImage readPng(const std::string &path) {
  ReadImage image;
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return image;
  bool rgb8 = png.format == PNG_FORMAT_RGB;
  png.format = PNG_FORMAT_RGB;
  image.width = png.width;
  image.height = png.height;
  image.bytes.resize(PNG_IMAGE_SIZE(png));
  image.ok = png_image_finish_read(&png, nullptr, image.bytes.data(), 0, nullptr) && rgb8;
  return image;
}

// A colour PFM with a little-endian (negative) scale, checking the header and
// that the file holds exactly the data it announces.
inline ReadImage readPfm(const std::string &path) {
  ReadImage image;
  std::ifstream in(path, std::ios::binary);
  std::string magic, scale;
  if (!(in >> magic >> image.width >> image.height >> scale) || magic != "PF" || scale != "-1.0" ||
      in.get() != '\n')
    return image;
  image.floats.resize(std::size_t{image.width} * image.height * 3);
  std::streamsize bytes = static_cast<std::streamsize>(image.floats.size() * sizeof(float));
  in.read(reinterpret_cast<char *>(image.floats.data()), bytes);
  image.ok = in.gcount() == bytes && in.peek() == std::char_traits<char>::eof();
  return image;
}

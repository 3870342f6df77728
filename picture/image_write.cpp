#include "image_write.h"

#include "whole_file.h"

#include <png.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <unistd.h>

static bool writePng(std::FILE *file, unsigned width, unsigned height,
                     const std::uint8_t *rgbTopDown, std::string &error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_stdio(&image, file, 0, rgbTopDown, 0, nullptr)) {
    error = std::string("PNG encoder: ") + image.message;
    png_image_free(&image);
    return false;
  }
  return true;
}

static bool writePfm(std::FILE *file, unsigned width, unsigned height, const float *rgb) {
  // A negative scale says the floats are little-endian; PFM rows already run
  // from the bottom up, as the GL gives them.
  const char *scale = std::endian::native == std::endian::little ? "-1.0" : "1.0";
  if (std::fprintf(file, "PF\n%u %u\n%s\n", width, height, scale) < 0) return false;
  std::size_t count = std::size_t{width} * height * 3;
  return std::fwrite(rgb, sizeof(float), count, file) == count;
}

using StdioFiller = std::function<bool(std::FILE *file, std::string &error)>;

static bool writeThroughStdio(const std::string &path, const StdioFiller &fill,
                              std::string &error) {
  return writeWholeFile(
      path,
      [&](int fd, const std::string &, std::string &fillError) {
        // stdio on a duplicate, so closing it leaves fd to the caller.
        int copy = dup(fd);
        std::FILE *file = copy < 0 ? nullptr : fdopen(copy, "wb");
        if (!file) {
          if (copy >= 0) close(copy);
          fillError = std::strerror(errno);
          return false;
        }
        bool ok = fill(file, fillError);
        int writeErrno = ok ? 0 : errno;
        if (std::fclose(file) != 0 && ok) {
          ok = false;
          writeErrno = errno;
        }
        if (!ok && fillError.empty())
          fillError = writeErrno ? std::strerror(writeErrno) : "write error";
        return ok;
      },
      error);
}

bool writePngBytes(const std::string &path, unsigned width, unsigned height,
                   const std::uint8_t *rgbTopDown, std::string &error) {
  return writeThroughStdio(
      path,
      [&](std::FILE *file, std::string &fillError) {
        return writePng(file, width, height, rgbTopDown, fillError);
      },
      error);
}

bool writeImage(const std::string &path, ImageFormat format, unsigned width, unsigned height,
                const float *rgb, std::string &error) {
  if (format != ImageFormat::Png)
    return writeThroughStdio(
        path, [&](std::FILE *file, std::string &) { return writePfm(file, width, height, rgb); },
        error);
  std::size_t rowBytes = std::size_t{width} * 3;
  std::vector<std::uint8_t> bytes(rowBytes * height);
  // PNG rows run from the top down.
  for (unsigned row = 0; row < height; ++row) {
    const float *src = rgb + std::size_t{height - 1 - row} * rowBytes;
    std::uint8_t *dst = bytes.data() + std::size_t{row} * rowBytes;
    for (std::size_t k = 0; k < rowBytes; ++k)
      dst[k] = displayByte(src[k]);
  }
  return writePngBytes(path, width, height, bytes.data(), error);
}

#include "image_write.h"

#include <png.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::uint8_t displayByte(float mean) {
  if (!(mean > 0.0f)) return 0;
  if (mean >= 1.0f) return 255;
  return static_cast<std::uint8_t>(std::lround(mean * 255.0f));
}

static bool writePng(std::FILE *file, unsigned width, unsigned height, const float *rgb,
                     std::string &error) {
  std::size_t rowBytes = std::size_t{width} * 3;
  std::vector<std::uint8_t> bytes(rowBytes * height);
  // PNG rows run from the top down.
  for (unsigned row = 0; row < height; ++row) {
    const float *src = rgb + std::size_t{height - 1 - row} * rowBytes;
    std::uint8_t *dst = bytes.data() + std::size_t{row} * rowBytes;
    for (std::size_t k = 0; k < rowBytes; ++k)
      dst[k] = displayByte(src[k]);
  }
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGB;
  if (!png_image_write_to_stdio(&image, file, 0, bytes.data(), 0, nullptr)) {
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

static mode_t newFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

bool writeImage(const std::string &path, ImageFormat format, unsigned width, unsigned height,
                const float *rgb, std::string &error) {
  std::string temp = path + ".partial-XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = "Cannot create a file beside \"" + path + "\": " + std::strerror(errno) + ".";
    return false;
  }
  // mkstemp makes the file private; the picture gets the usual permissions.
  fchmod(fd, newFileMode());
  std::FILE *file = fdopen(fd, "wb");
  if (!file) {
    error = "Cannot write \"" + temp + "\": " + std::strerror(errno) + ".";
    close(fd);
    unlink(temp.c_str());
    return false;
  }
  std::string encodeError;
  bool ok = format == ImageFormat::Png ? writePng(file, width, height, rgb, encodeError)
                                       : writePfm(file, width, height, rgb);
  int writeErrno = ok ? 0 : errno;
  if (ok && (std::fflush(file) != 0 || fsync(fileno(file)) != 0)) {
    ok = false;
    writeErrno = errno;
  }
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    writeErrno = errno;
  }
  if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "Cannot move the finished image to \"" + path + "\": " + std::strerror(errno) + ".";
    unlink(temp.c_str());
    return false;
  }
  if (!ok) {
    error = "Writing \"" + path + "\" failed: " +
            (!encodeError.empty() ? encodeError
             : writeErrno         ? std::string(std::strerror(writeErrno))
                                  : std::string("write error")) +
            "; \"" + path + "\" is unchanged.";
    unlink(temp.c_str());
    return false;
  }
  return true;
}

// libFuzzer target: the partial render reader, as exegfx-merge and
// exegfx-still --resume run it (adaptive renders' counts included), on any
// bytes. It must answer with a sum or a
// message: never crash, hang, leak or trip a sanitizer. The reader takes a
// path, so each input goes into a memory file first.
#include "partial_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static const int fd = memfd_create("partial.exr", MFD_CLOEXEC);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
    std::abort();
  PartialInfo info;
  std::vector<float> sum, squares, adaptive;
  std::string error;
  bool ok = readPartial(path, info, sum, error, &squares, &adaptive);
  // A file read is whole, with its squares and an adaptive render's counts
  // where it has them; a file refused says why.
  const std::size_t pixels = std::size_t{info.width} * info.height;
  const bool counts = info.isAdaptive && info.hasSquares;
  if (ok ? sum.size() != pixels * 3 || squares.size() != (info.hasSquares ? pixels * 3 : 0) ||
               adaptive.size() != (counts ? pixels * adaptiveChannels : 0)
         : error.empty())
    std::abort();
  return 0;
}

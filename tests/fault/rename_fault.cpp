// Preloaded into a program under test (LD_PRELOAD): the first rename onto a
// file named $EXEGFX_FAIL_RENAME fails with EIO, as on a failing disk.
#include <dlfcn.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern "C" int rename(const char *from, const char *to) {
  static bool failed = false;
  const char *name = std::getenv("EXEGFX_FAIL_RENAME");
  const char *slash = std::strrchr(to, '/');
  if (!failed && name && std::strcmp(slash ? slash + 1 : to, name) == 0) {
    failed = true;
    errno = EIO;
    return -1;
  }
  using Rename = int (*)(const char *, const char *);
  static Rename real = reinterpret_cast<Rename>(dlsym(RTLD_NEXT, "rename"));
  return real(from, to);
}

#include "whole_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The temporary file of the write in progress, for removeTemporaryFile.
static char pendingTemp[PATH_MAX];
static volatile int pendingSet = 0;

void removeTemporaryFile() {
  if (pendingSet) unlink(pendingTemp);
}

static void setPending(const std::string &temp) {
  pendingSet = 0;
  if (temp.size() >= sizeof pendingTemp) return;
  std::memcpy(pendingTemp, temp.c_str(), temp.size() + 1);
  pendingSet = 1;
}

static mode_t newFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

static std::string directoryOf(const std::string &path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool writeWholeFile(const std::string &path, const FileFiller &fill, std::string &error) {
  std::string temp = path + ".partial-XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = "Cannot create a file beside \"" + path + "\": " + std::strerror(errno) + ".";
    return false;
  }
  setPending(temp);
  // mkstemp makes the file private; the result gets the usual permissions.
  fchmod(fd, newFileMode());
  std::string fillError;
  bool ok = fill(fd, temp, fillError);
  int syncErrno = 0;
  if (ok && fsync(fd) != 0) {
    ok = false;
    syncErrno = errno;
  }
  if (close(fd) != 0 && ok) {
    ok = false;
    syncErrno = errno;
  }
  if (!ok) {
    error = "Writing \"" + path + "\" failed: " +
            (!fillError.empty() ? fillError
             : syncErrno        ? std::string(std::strerror(syncErrno))
                                : std::string("write error")) +
            "; \"" + path + "\" is unchanged.";
    unlink(temp.c_str());
    pendingSet = 0;
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = "Cannot move the finished file to \"" + path + "\": " + std::strerror(errno) + ".";
    unlink(temp.c_str());
    pendingSet = 0;
    return false;
  }
  pendingSet = 0;
  // The rename is only durable once the directory is on disk too.
  int dir = open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

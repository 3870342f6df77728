#include "whole_file.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// Temporary names are PATH + ".partial-" + six of these, as mkstemp makes them.
static const char tempInfix[] = ".partial-";
static const char tempLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
static const std::size_t tempSuffixLength = 6;

// The temporary files of the write in progress and of finished writes held
// for a commit, for removeTemporaryFile.
static const int pendingSlots = 4;
static char pendingTemp[pendingSlots][PATH_MAX];
static volatile int pendingSet[pendingSlots] = {};

void removeTemporaryFile() {
  for (int k = 0; k < pendingSlots; ++k)
    if (pendingSet[k]) unlink(pendingTemp[k]);
}

// The slot that now names temp, or -1 (too long, or all taken: a signal then
// leaves that file, as a kill -9 would, for the next writer to remove).
static int setPending(const std::string &temp) {
  if (temp.size() >= PATH_MAX) return -1;
  for (int k = 0; k < pendingSlots; ++k)
    if (!pendingSet[k]) {
      std::memcpy(pendingTemp[k], temp.c_str(), temp.size() + 1);
      pendingSet[k] = 1;
      return k;
    }
  return -1;
}

static void clearPending(int slot) {
  if (slot >= 0) pendingSet[slot] = 0;
}

// Finished writes waiting for commitHeldFiles, while holding.
struct HeldFile {
  std::string temp, target;
  int slot;
};
static bool holding = false;
static std::vector<HeldFile> held;

static mode_t newFileMode() {
  mode_t mask = umask(0);
  umask(mask);
  return 0666 & ~mask;
}

static std::string directoryOf(const std::string &path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

static std::string nameOf(const std::string &path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

static std::string quoted(const std::string &text) {
  return "\"" + text + "\"";
}

bool resolveOutputLinks(const std::string &path, std::string &target, std::string &error) {
  target = path;
  for (int hops = 0;; ++hops) {
    struct stat link, dir;
    if (lstat(target.c_str(), &link) != 0 || !S_ISLNK(link.st_mode)) return true;
    if (hops == 40) {
      error = "Output " + quoted(path) + ": too many levels of symbolic links.";
      return false;
    }
    std::string folder = directoryOf(target);
    if (stat(folder.c_str(), &dir) == 0 && (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH) &&
        link.st_uid != geteuid() && link.st_uid != dir.st_uid) {
      error = "Output " + quoted(target) +
              " is a symbolic link that another user made in the shared folder " + quoted(folder) +
              "; it is not followed.";
      return false;
    }
    char text[PATH_MAX];
    ssize_t n = readlink(target.c_str(), text, sizeof text);
    if (n < 0 || n == static_cast<ssize_t>(sizeof text)) {
      error = "Cannot read the symbolic link " + quoted(target) + ": " +
              std::strerror(n < 0 ? errno : ENAMETOOLONG) + ".";
      return false;
    }
    std::string next(text, static_cast<std::size_t>(n));
    target =
        next.starts_with('/') || target.find('/') == std::string::npos ? next : folder + "/" + next;
  }
}

static bool canReplaceOthersFiles() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return geteuid() == 0;
  return data[CAP_FOWNER / 32].effective & (1u << (CAP_FOWNER % 32));
}

static bool isTemporaryName(const std::string &name, const std::string &base) {
  std::string prefix = base + tempInfix;
  if (name.size() != prefix.size() + tempSuffixLength || name.compare(0, prefix.size(), prefix))
    return false;
  return name.find_first_not_of(tempLetters, prefix.size()) == std::string::npos;
}

std::vector<std::string> removeLeftoverTemporaryFiles(const std::string &target) {
  std::vector<std::string> removed;
  std::string dir = directoryOf(target), base = nameOf(target);
  DIR *d = opendir(dir.c_str());
  if (!d) return removed;
  while (dirent *e = readdir(d)) {
    std::string path = target.find('/') == std::string::npos ? e->d_name : dir + "/" + e->d_name;
    struct stat st;
    if (isTemporaryName(e->d_name, base) && lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        unlink(path.c_str()) == 0)
      removed.push_back(path);
  }
  closedir(d);
  return removed;
}

// An unnamed file in dir (O_TMPFILE), or -1 where the file system or kernel
// has none. fillName is set to a name that opens it, for writers that take a
// file name (OpenEXR).
static int openUnnamed(const std::string &dir, std::string &fillName) {
  int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  fillName = "/proc/self/fd/" + std::to_string(fd);
  struct stat st;
  if (stat(fillName.c_str(), &st) != 0) { // no /proc
    close(fd);
    return -1;
  }
  return fd;
}

// A fresh temporary name beside target: target, the infix, random letters.
static bool randomTempName(const std::string &target, std::string &name) {
  unsigned char random[tempSuffixLength];
  if (getrandom(random, sizeof random, 0) != sizeof random) return false;
  name = target + tempInfix;
  for (unsigned char r : random)
    name += tempLetters[r % (sizeof tempLetters - 1)];
  return true;
}

// Gives the unnamed file fd the temporary name beside target. linkat cannot
// replace a name, so the file gets a fresh one and is renamed over target.
static bool nameUnnamed(int fd, const std::string &target, std::string &temp, int &slot) {
  std::string source = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name;
    if (!randomTempName(target, name)) return false;
    if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      temp = name;
      slot = setPending(temp);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

// The temporary file of a write of target: an unnamed one, or where the file
// system has none, one named temp. fillName opens it; -1 with errno set.
static int createTemporary(const std::string &target, std::string &fillName, std::string &temp,
                           int &slot) {
  temp.clear();
  slot = -1;
  int fd = openUnnamed(directoryOf(target), fillName);
  if (fd >= 0) return fd;
  temp = target + tempInfix + std::string(tempSuffixLength, 'X');
  fd = mkstemp(temp.data());
  if (fd < 0) {
    temp.clear();
    return -1;
  }
  slot = setPending(temp);
  fillName = temp;
  return fd;
}

bool checkWholeFileWrite(const std::string &target, std::string &error) {
  // The temporary file as a write makes it, named as the write names it.
  std::string dir = directoryOf(target), fillName, temp;
  int slot = -1;
  int fd = createTemporary(target, fillName, temp, slot);
  bool made = fd >= 0 && (!temp.empty() || nameUnnamed(fd, target, temp, slot));
  int madeErrno = errno;
  if (fd >= 0) close(fd);
  if (!temp.empty()) unlink(temp.c_str());
  clearPending(slot);
  if (!made) {
    if (madeErrno == ENAMETOOLONG) {
      long max = pathconf(dir.c_str(), _PC_NAME_MAX);
      std::size_t extra = sizeof tempInfix - 1 + tempSuffixLength;
      error = "Output " + quoted(target) + ": the name is too long. The file is written as " +
              quoted(nameOf(target) + tempInfix + "XXXXXX") + " beside it first, so " +
              (max > static_cast<long>(extra) && nameOf(target).size() + extra > std::size_t(max)
                   ? "its name may have at most " + std::to_string(max - extra) + " bytes here."
                   : "its path must be shorter.");
    } else {
      error = "Output directory " + quoted(dir) + " is not writable (" + std::strerror(madeErrno) +
              ").";
    }
    return false;
  }
  // In a sticky folder (/tmp) only the file's or the folder's owner may
  // replace a file, so the final rename would fail after all the work.
  struct stat file, folder;
  if (stat(target.c_str(), &file) == 0 && stat(dir.c_str(), &folder) == 0 &&
      (folder.st_mode & S_ISVTX) && file.st_uid != geteuid() && folder.st_uid != geteuid() &&
      !canReplaceOthersFiles()) {
    error = "Output " + quoted(target) + " belongs to another user in " + quoted(dir) +
            ", a folder where only a file's owner may replace it.";
    return false;
  }
  return true;
}

// Moves the finished temporary file over target and makes the rename durable.
static bool moveIntoPlace(const std::string &temp, const std::string &target, int slot,
                          std::string &error) {
  if (std::rename(temp.c_str(), target.c_str()) != 0) {
    error =
        "Cannot move the finished file to " + quoted(target) + ": " + std::strerror(errno) + ".";
    unlink(temp.c_str());
    clearPending(slot);
    return false;
  }
  clearPending(slot);
  // The rename is only durable once the directory is on disk too.
  int dir = open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
  return true;
}

bool writeWholeFile(const std::string &path, const FileFiller &fill, std::string &error) {
  std::string target;
  if (!resolveOutputLinks(path, target, error)) return false;
  std::string fillName, temp;
  int slot = -1;
  int fd = createTemporary(target, fillName, temp, slot);
  if (fd < 0) {
    error = "Cannot create a file beside " + quoted(target) + ": " + std::strerror(errno) + ".";
    return false;
  }
  bool unnamed = temp.empty();
  std::string fillError;
  bool ok = fill(fd, fillName, fillError);
  int failErrno = 0;
  // The temporary file is private until whole; the result gets the usual
  // permissions.
  if (ok && (fchmod(fd, newFileMode()) != 0 || fsync(fd) != 0)) {
    ok = false;
    failErrno = errno;
  }
  if (ok && unnamed && !nameUnnamed(fd, target, temp, slot)) {
    ok = false;
    failErrno = errno;
  }
  if (close(fd) != 0 && ok) {
    ok = false;
    failErrno = errno;
  }
  if (!ok) {
    // A writer's message names what it opened; the user knows the target.
    while (!fillError.empty() && (fillError.back() == '.' || fillError.back() == ' '))
      fillError.pop_back();
    for (std::size_t at = 0; unnamed && (at = fillError.find(fillName, at)) != std::string::npos;
         at += target.size())
      fillError.replace(at, fillName.size(), target);
    error = "Writing " + quoted(target) + " failed: " +
            (!fillError.empty() ? fillError
             : failErrno        ? std::string(std::strerror(failErrno))
                                : std::string("write error")) +
            "; " + quoted(target) + " is unchanged.";
    if (!temp.empty()) unlink(temp.c_str());
    clearPending(slot);
    return false;
  }
  if (holding) {
    held.push_back({temp, target, slot});
    return true;
  }
  return moveIntoPlace(temp, target, slot, error);
}

void holdWholeFiles() {
  holding = true;
}

// A hard link to the file at target under a fresh temporary name beside it,
// which keeps the old file while a commit replaces it; empty where there is
// no file (false with errno where one cannot be made).
static bool keepAside(const std::string &target, std::string &aside) {
  aside.clear();
  struct stat st;
  if (lstat(target.c_str(), &st) != 0) return errno == ENOENT;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name;
    if (!randomTempName(target, name)) return false;
    if (link(target.c_str(), name.c_str()) == 0) {
      aside = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

static void syncFolder(const std::string &path) {
  int dir = open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

static std::string listed(const std::vector<HeldFile> &files, std::size_t from, std::size_t to) {
  std::string text;
  for (std::size_t k = from; k < to; ++k)
    text += (k == from ? "" : k + 1 == to ? " and " : ", ") + quoted(files[k].target);
  return text;
}

// Puts the files moved so far back as they were: the old file from its
// aside, or none where there was none. What could not be put back is said
// in error, with where its old file is kept.
static bool restoreMoved(std::size_t moved, const std::vector<std::string> &aside,
                         std::string &error) {
  bool all = true;
  for (std::size_t k = 0; k < moved; ++k) {
    const std::string &target = held[k].target;
    const bool back = aside[k].empty() ? unlink(target.c_str()) == 0 || errno == ENOENT
                                       : std::rename(aside[k].c_str(), target.c_str()) == 0;
    if (back) {
      syncFolder(target);
      continue;
    }
    all = false;
    // Appended piece by piece: GCC 12 warns falsely on "..." + std::string&&.
    error.append(" ").append(quoted(target)).append(" could not be put back (");
    error.append(std::strerror(errno)).append("): it holds the new file");
    if (!aside[k].empty()) error.append(", and its old one is kept as ").append(quoted(aside[k]));
    error += ".";
  }
  return all;
}

bool commitHeldFiles(std::string &error) {
  holding = false;
  std::vector<std::string> aside(held.size());
  std::size_t moved = 0, kept = 0;
  bool ok = true;
  for (; kept < held.size() && ok; ++kept)
    if (!keepAside(held[kept].target, aside[kept])) {
      error = "Cannot keep the old " + quoted(held[kept].target) + " aside while " +
              listed(held, 0, held.size()) + " are replaced together: " + std::strerror(errno) +
              ".";
      ok = false;
    }
  for (; ok && moved < held.size(); ++moved) {
    const HeldFile &f = held[moved];
    if (std::rename(f.temp.c_str(), f.target.c_str()) != 0) {
      error = "Cannot move the finished file to " + quoted(f.target) + ": " + std::strerror(errno) +
              ".";
      ok = false;
      break;
    }
    clearPending(f.slot);
    syncFolder(f.target);
  }
  if (!ok && restoreMoved(moved, aside, error))
    error += " Nothing was changed: " + listed(held, 0, held.size()) + " are as they were.";
  for (std::size_t k = 0; k < held.size(); ++k) {
    if (k >= moved) unlink(held[k].temp.c_str());
    clearPending(held[k].slot);
    // A file that was put back took its aside's name; one that was not keeps it.
    if (!aside[k].empty() && (ok || k >= moved)) unlink(aside[k].c_str());
  }
  held.clear();
  return ok;
}

void dropHeldFiles() {
  holding = false;
  for (const HeldFile &f : held) {
    unlink(f.temp.c_str());
    clearPending(f.slot);
  }
  held.clear();
}

// path's folder made absolute with its links resolved, and its own name.
static std::string canonicalName(const std::string &path) {
  char dir[PATH_MAX];
  if (!realpath(directoryOf(path).c_str(), dir)) return path;
  return std::string(dir) + "/" + nameOf(path);
}

bool sameOutputFile(const std::string &a, const std::string &b) {
  std::string ta, tb, error;
  if (!resolveOutputLinks(a, ta, error) || !resolveOutputLinks(b, tb, error)) return a == b;
  struct stat sa, sb;
  if (stat(ta.c_str(), &sa) == 0 && stat(tb.c_str(), &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino; // hard links too
  return canonicalName(ta) == canonicalName(tb);
}

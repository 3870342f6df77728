// The lock is a POSIX record lock (fcntl F_SETLK): NFS carries it to the
// server, so it holds across machines, and the kernel drops it when its
// process dies, kill -9 and lost nodes included (NFS servers reclaim the locks
// of a client that is gone). It sits on a small file beside the output rather
// than on the output itself, since every write renames a new file over the
// output and a lock on the replaced file would guard nothing.
//
// A writer removes its lock file when it ends, while still holding the lock.
// A second writer may have opened that file just before; once it gets the
// lock it finds that the path no longer leads to the file it locked, and
// starts again with a new one. So two writers never hold locks on two
// different files of one path, and no lock files pile up beside outputs.
#include "output_lock.h"

#include "whole_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The lock files this process holds, for removal at its end. Plain arrays,
// since removal also runs in a signal handler.
static const int maxLocks = 4;
static char lockPaths[maxLocks][PATH_MAX];
static volatile int lockCount = 0;

void removeOutputLocks() {
  for (int k = 0; k < lockCount; ++k)
    unlink(lockPaths[k]);
}

std::string outputLockPath(const std::string &target) {
  return target + ".lock";
}

// Remembers lockPath for removal at exit. The descriptor stays open until the
// process ends: closing any descriptor of the lock file would drop the lock.
static void keepLock(const std::string &lockPath) {
  if (lockCount == 0) std::atexit(removeOutputLocks);
  if (lockCount == maxLocks || lockPath.size() >= PATH_MAX) return; // left behind, harmless
  std::memcpy(lockPaths[lockCount], lockPath.c_str(), lockPath.size() + 1);
  lockCount = lockCount + 1;
}

// Whether fd is still the file at path: a writer that ended removed it.
static bool stillAtPath(int fd, const std::string &path) {
  struct stat held, named;
  return fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
         held.st_ino == named.st_ino;
}

bool lockOutput(const std::string &path, std::string &note, std::string &error) {
  note.clear();
  std::string target;
  if (!resolveOutputLinks(path, target, error)) return false;
  std::string lockPath = outputLockPath(target);
  for (int attempt = 0;; ++attempt) {
    int fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
      error = "Cannot open \"" + lockPath + "\", the lock that keeps a second writer off \"" +
              target + "\": " + std::strerror(errno) + ".";
      return false;
    }
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET; // the whole file
    if (fcntl(fd, F_SETLK, &lock) != 0) {
      int lockErrno = errno;
      if (lockErrno == EACCES || lockErrno == EAGAIN) {
        struct flock holder = lock;
        std::string who = "another process";
        if (fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK && holder.l_pid > 0)
          who += " (pid " + std::to_string(holder.l_pid) + ")";
        close(fd);
        error = "\"" + target + "\" is being written by " + who + ", which holds its lock \"" +
                lockPath + "\"; a second writer would overwrite its frames.";
        return false;
      }
      close(fd);
      // NFS mounted without a lock manager, say: refusing would stop every run
      // there, so the run goes on as it did before there was a lock.
      note = "\"" + lockPath + "\" cannot be locked (" + std::strerror(lockErrno) +
             "); nothing keeps a second writer off \"" + target + "\".";
      return true;
    }
    if (!stillAtPath(fd, lockPath)) {
      close(fd);
      if (attempt < 100) continue;
      error = "\"" + lockPath + "\" keeps changing; another writer of \"" + target +
              "\" seems to be starting and ending at the same time.";
      return false;
    }
    keepLock(lockPath);
    break;
  }
  for (const std::string &leftover : removeLeftoverTemporaryFiles(target))
    note += (note.empty() ? "removed " : ", ") + ("\"" + leftover + "\"");
  if (!note.empty()) note += ", left by a writer that was killed.";
  return true;
}

// The lock is a POSIX record lock (fcntl F_SETLK): NFS carries it to the
// server, so it holds across machines, and the kernel drops it when its
// process dies, kill -9 and lost nodes included (NFS servers reclaim the locks
// of a client that is gone). It sits on a small file beside the output rather
// than on the output itself, since every write renames a new file over the
// output and a lock on the replaced file would guard nothing. The lock file
// is never removed: a process about to lock it may already have it open, and
// deleting it then would let two writers hold locks on two different files.
#include "output_lock.h"

#include "whole_file.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

// Held open until the process ends: closing any descriptor of the lock file
// would drop the lock.
static int lockFd = -1;

std::string outputLockPath(const std::string &target) {
  return target + ".lock";
}

bool lockOutput(const std::string &path, std::string &note, std::string &error) {
  note.clear();
  std::string target;
  if (!resolveOutputLinks(path, target, error)) return false;
  std::string lockPath = outputLockPath(target);
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
    // NFS mounted without a lock manager, say: refusing would stop every run
    // there, so the run goes on as it did before there was a lock.
    close(fd);
    note = "\"" + lockPath + "\" cannot be locked (" + std::strerror(lockErrno) +
           "); nothing keeps a second writer off \"" + target + "\".";
    return true;
  }
  lockFd = fd;
  for (const std::string &leftover : removeLeftoverTemporaryFiles(target))
    note += (note.empty() ? "removed " : ", ") + ("\"" + leftover + "\"");
  if (!note.empty()) note += ", left by a writer that was killed.";
  return true;
}

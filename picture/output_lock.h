// One writer per output file. Two runs on one output (a requeued farm task
// starting while a lost node still runs the old one, on a shared file system)
// would overwrite each other's checkpoints; the second is refused before any
// work. exegfx-still and exegfx-merge take the same lock.
#pragma once

#include <string>

// The lock file of an output (a resolved path): PATH.lock beside it.
std::string outputLockPath(const std::string &target);

// Takes the output lock of path (symbolic links followed) for the rest of the
// process; the kernel drops it when the process ends, however it ends, and
// the lock file is removed when the process exits or removeOutputLocks runs. Then
// removes the temporary files that killed writers of the output left. False
// with a message when another process holds the lock or the lock file cannot
// be made. note says what was cleared, or that the file system offers no
// locks (the run then goes on unguarded); empty when there is nothing to say.
bool lockOutput(const std::string &path, std::string &note, std::string &error);

// Removes the lock files this process holds (their locks stay until it ends).
// Safe in a signal handler, for a process about to end; runs at exit anyway.
void removeOutputLocks();

// Files written whole or not at all: into a temporary file beside the target,
// flushed to disk, renamed over the target, and the rename itself flushed. An
// existing file at the target survives every failure, and a crash or power
// loss leaves either the old file or the new one.
#pragma once

#include <functional>
#include <string>

// fill writes the content into the temporary file, given both as an open
// descriptor and by name (either may be used; fill must not close fd). False
// from fill, with a message in error, abandons the write.
using FileFiller = std::function<bool(int fd, const std::string &tempPath, std::string &error)>;

// False with a message naming the problem; path is then unchanged.
bool writeWholeFile(const std::string &path, const FileFiller &fill, std::string &error);

// Removes the temporary file of a write in progress, if any. Safe in a signal
// handler, for a process that is about to end in the middle of a write.
void removeTemporaryFile();

// Files written whole or not at all: into a temporary file beside the target,
// flushed to disk, renamed over the target, and the rename itself flushed. An
// existing file at the target survives every failure, and a crash or power
// loss leaves either the old file or the new one.
//
// A symbolic link as the target is written through: the file it points to is
// replaced, in that file's own folder, and the link stays a link.
//
// The temporary file is unnamed where the file system offers O_TMPFILE, so a
// process killed while writing leaves nothing; it gets a name, PATH.partial-
// and six letters or digits, only for the rename. Elsewhere (NFS) it has that
// name throughout, and removeLeftoverTemporaryFiles clears what a killed
// writer left.
#pragma once

#include <functional>
#include <string>
#include <vector>

// fill writes the content into the temporary file, given both as an open
// descriptor and by a name that opens it (either may be used; fill must not
// close fd). False from fill, with a message in error, abandons the write.
using FileFiller = std::function<bool(int fd, const std::string &tempPath, std::string &error)>;

// False with a message naming the problem; path is then unchanged.
bool writeWholeFile(const std::string &path, const FileFiller &fill, std::string &error);

// Files that belong together (a picture and its maps) are written all or
// none: after holdWholeFiles, writeWholeFile leaves each finished file under
// its temporary name, and commitHeldFiles then moves them all into place,
// while dropHeldFiles removes them. Either ends the holding. The commit first
// keeps each existing target aside (a hard link beside it), so that when a
// rename fails, the files already moved are put back as they were; false
// with a message that says exactly what is on disk then.
void holdWholeFiles();
bool commitHeldFiles(std::string &error);
void dropHeldFiles();

// The file that writeWholeFile replaces for path: path itself, or the end of
// the chain of symbolic links it names (which need not exist yet). False with
// a message for a loop, or for a link that another user put into a shared
// sticky folder (the kernel's protected_symlinks rule, applied here too since
// the links are read rather than followed).
bool resolveOutputLinks(const std::string &path, std::string &target, std::string &error);

// Whether writes of a and b would replace the same file, whatever names,
// links and folders lead there.
bool sameOutputFile(const std::string &a, const std::string &b);

// Whether writeWholeFile could replace target (a resolved path in an existing
// folder): its temporary file is made and removed again, so a name too long
// for the temporary file or a folder that takes no new file is found before
// any work; and an existing target owned by another user in a sticky folder,
// which rename may not replace, is refused. False with a message.
bool checkWholeFileWrite(const std::string &target, std::string &error);

// Removes the named temporary files of writes of target (a resolved path)
// that never finished, and returns their names. Only safe while holding
// target's output lock, when no live writer of target can own one.
std::vector<std::string> removeLeftoverTemporaryFiles(const std::string &target);

// Removes the temporary file of a write in progress, if any. Safe in a signal
// handler, for a process that is about to end in the middle of a write.
void removeTemporaryFile();

// The output a program is asked to write: its format, from the name, and
// whether it can be written at all, both checked before any work.
#pragma once

#include <string>

enum class ImageFormat { Png, Pfm, Exr };

// The format the output path's extension names (.png, .pfm or .exr, any case);
// false with a message for anything else.
bool imageFormatFor(const std::string &path, ImageFormat &format, std::string &error);

// False with a message when the output cannot be written, before any work:
// its directory does not exist, is not a directory or takes no new file; the
// name is too long for the temporary file written beside it; the path is a
// directory, a FIFO or another non-regular file, or a file of another user
// in a sticky folder. A symbolic link is judged by the file it points to.
bool checkOutputPath(const std::string &path, std::string &error);

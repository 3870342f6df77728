#include "output_path.h"

#include "whole_file.h"

#include <cctype>

#include <sys/stat.h>

static std::string lower(std::string text) {
  for (char &ch : text)
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

bool imageFormatFor(const std::string &path, ImageFormat &format, std::string &error) {
  std::size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::size_t dot = name.find_last_of('.');
  std::string ext = dot == std::string::npos || dot == 0 ? "" : lower(name.substr(dot));
  if (ext == ".png") {
    format = ImageFormat::Png;
    return true;
  }
  if (ext == ".pfm") {
    format = ImageFormat::Pfm;
    return true;
  }
  if (ext == ".exr") {
    format = ImageFormat::Exr;
    return true;
  }
  error = "Output \"" + path + "\": " +
          (ext.empty() ? std::string("no file extension")
                       : "unknown extension \"" + name.substr(dot) + "\"") +
          "; use .png, .pfm or .exr.";
  return false;
}

bool checkOutputPath(const std::string &path, std::string &error) {
  // A link is written through, so its target is what must be writable.
  std::string target;
  if (!path.empty() && !resolveOutputLinks(path, target, error)) return false;
  if (target.empty() || target.back() == '/') {
    error = "Output \"" + path + "\" names no file.";
    return false;
  }
  std::size_t slash = target.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) {
    error = "Output directory \"" + dir + "\" does not exist.";
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = "Output directory \"" + dir + "\" is not a directory.";
    return false;
  }
  bool exists = stat(target.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    error = "Output \"" + target + "\" is a directory.";
    return false;
  }
  // A FIFO or a device would never take the renamed file as a file (and
  // reading a FIFO for --resume waits forever).
  if (exists && !S_ISREG(st.st_mode)) {
    error = "Output \"" + target + "\" is not a regular file (" +
            (S_ISFIFO(st.st_mode)   ? "a FIFO"
             : S_ISSOCK(st.st_mode) ? "a socket"
                                    : "a device") +
            "); give the name of a file to write.";
    return false;
  }
  // Making the real temporary file is the one sure test that the folder takes
  // it: the permission bits say nothing for root or on special file systems,
  // and the temporary name is longer than the output's.
  return checkWholeFileWrite(target, error);
}

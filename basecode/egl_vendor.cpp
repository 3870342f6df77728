#include "egl_vendor.h"

#include <algorithm>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <vector>

namespace fs = std::filesystem;

static std::vector<std::string> splitColons(const std::string &list) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = std::min(list.find(':', start), list.size());
    if (end > start) parts.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

// The library_path a vendor file gives; empty when it gives none.
static std::string libraryPath(const std::string &file) {
  std::ifstream in(file);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  static const std::regex field(R"re("library_path"\s*:\s*"([^"]*)")re");
  std::smatch match;
  return std::regex_search(text, match, field) ? match[1].str() : std::string();
}

// The vendor files glvnd reads, in its order (a folder's by name), and where
// it looks for them, as a message says it.
static std::vector<std::string> vendorFiles(const char *filenames, const char *dirs,
                                            std::string &where) {
  if (filenames) {
    where = std::string("glvnd reads only __EGL_VENDOR_LIBRARY_FILENAMES=\"") + filenames + "\"";
    return splitColons(filenames);
  }
  std::string folders = dirs ? dirs : "/etc/glvnd/egl_vendor.d:/usr/share/glvnd/egl_vendor.d";
  where = "glvnd looks in " + (dirs ? "__EGL_VENDOR_LIBRARY_DIRS=\"" + folders + "\""
                                    : "/etc/glvnd/egl_vendor.d and /usr/share/glvnd/egl_vendor.d");
  std::vector<std::string> files;
  for (const std::string &folder : splitColons(folders)) {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
      if (it->path().extension() == ".json") found.push_back(it->path().string());
    std::sort(found.begin(), found.end());
    files.insert(files.end(), found.begin(), found.end());
  }
  return files;
}

NvidiaEgl findNvidiaEgl(const char *filenames, const char *dirs) {
  NvidiaEgl found;
  std::string where;
  for (const std::string &file : vendorFiles(filenames, dirs, where)) {
    std::string library = libraryPath(file);
    if (library.find("libEGL_nvidia") == std::string::npos) continue;
    found.vendorFile = file;
    found.library = library;
    if (dlopen(library.c_str(), RTLD_LAZY | RTLD_LOCAL)) return found;
    const char *why = dlerror();
    found.problem = "the EGL vendor file " + file + " names " + library +
                    ", which does not load (" + (why ? why : "no reason given") + ")";
    return found;
  }
  found.problem = "no EGL vendor file names NVIDIA's libEGL_nvidia (" + where + ")";
  return found;
}

NvidiaEgl findNvidiaEgl() {
  return findNvidiaEgl(std::getenv("__EGL_VENDOR_LIBRARY_FILENAMES"),
                       std::getenv("__EGL_VENDOR_LIBRARY_DIRS"));
}

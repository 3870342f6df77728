// Where glvnd would find NVIDIA's EGL library, on made-up vendor folders.
#include "egl_vendor.h"

#include "test_files.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdio.h>

#include <filesystem>
#include <fstream>

namespace {

std::string vendorFile(const std::string &path, const std::string &library) {
  std::ofstream(path) << "{\n  \"file_format_version\" : \"1.0.0\",\n  \"ICD\" : {\n"
                      << "    \"library_path\" : \"" << library << "\"\n  }\n}\n";
  return path;
}

bool has(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

} // namespace

TEST(EglVendor, FindsNvidiasVendorFileWhereGlvndLooks) {
  std::string mesa = tempDir("egl_vendor_mesa"), nvidia = tempDir("egl_vendor_nvidia");
  vendorFile(mesa + "/50_mesa.json", "libEGL_mesa.so.0");
  vendorFile(mesa + "/05_nvidia.json.off", "libEGL_nvidia.so.0"); // not a .json: not read
  // Only Mesa's: NVIDIA's file is missing, and the message says where it was
  // looked for.
  NvidiaEgl found = findNvidiaEgl(nullptr, mesa.c_str());
  EXPECT_TRUE(found.vendorFile.empty());
  EXPECT_TRUE(has(found.problem, "no EGL vendor file names NVIDIA's libEGL_nvidia"))
      << found.problem;
  EXPECT_TRUE(has(found.problem, "__EGL_VENDOR_LIBRARY_DIRS=\"" + mesa + "\"")) << found.problem;

  // The file is there, the library it names is not (as on a node with the
  // driver installed for CUDA alone).
  std::string dirs = mesa + ":" + nvidia;
  std::string file = vendorFile(nvidia + "/10_nvidia.json", "libEGL_nvidia_missing.so.0");
  found = findNvidiaEgl(nullptr, dirs.c_str());
  EXPECT_EQ(found.vendorFile, file);
  EXPECT_TRUE(has(found.problem, file + " names libEGL_nvidia_missing.so.0, which does not load"))
      << found.problem;

  // A list of files wins over the folders, as in glvnd.
  std::string only = mesa + "/50_mesa.json";
  found = findNvidiaEgl(only.c_str(), dirs.c_str());
  EXPECT_TRUE(has(found.problem, "__EGL_VENDOR_LIBRARY_FILENAMES=\"" + only + "\""))
      << found.problem;

  // A library that loads: no problem. The C library stands in for NVIDIA's,
  // under its name; it is loaded already, so loading it changes nothing.
  Dl_info libc;
  ASSERT_NE(dladdr(reinterpret_cast<void *>(&fopen), &libc), 0);
  std::string library = nvidia + "/libEGL_nvidia.so.0";
  std::filesystem::create_symlink(libc.dli_fname, library);
  vendorFile(file, library);
  found = findNvidiaEgl(file.c_str(), nullptr);
  EXPECT_EQ(found.library, library);
  EXPECT_EQ(found.problem, "");
}

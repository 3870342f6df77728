// Whether glvnd's libEGL can reach NVIDIA's EGL library. On cluster nodes the
// driver is often installed for CUDA alone: without the vendor file that
// names libEGL_nvidia, or without the library itself, EGL offers no GPU
// while CUDA sees one.
#pragma once

#include <string>

struct NvidiaEgl {
  std::string vendorFile; // the vendor file naming libEGL_nvidia; empty: none
  std::string library;    // the library it names
  std::string problem;    // what is missing, as a phrase; empty: the library loads
};

// Looks where glvnd looks: the files listed in filenames
// (__EGL_VENDOR_LIBRARY_FILENAMES, colon-separated) when set, else the .json
// files of the folders in dirs (__EGL_VENDOR_LIBRARY_DIRS) when set, else
// those of /etc/glvnd/egl_vendor.d and /usr/share/glvnd/egl_vendor.d. The
// library found is loaded, and left loaded, to see that it loads.
NvidiaEgl findNvidiaEgl(const char *filenames, const char *dirs);

// The same with this process's environment.
NvidiaEgl findNvidiaEgl();

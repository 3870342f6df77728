#include "glproc.h"

#include "platform.h"

#include <cstdio>
#include <cstdlib>

void (*glFatalHandler)() = nullptr;

void *glEntry(const char *name) {
  void *p = glProcAddress(name);
  if (!p) {
    std::fflush(stdout);
    std::fprintf(stderr,
                 "\nThe OpenGL driver has no entry point %s; an OpenGL 4.6 "
                 "compatibility context is needed.\n",
                 name);
    if (glFatalHandler) glFatalHandler();
    std::exit(2);
  }
  return p;
}

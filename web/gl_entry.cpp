// The GL entry points of the shared host code, from the browser's WebGL 2.
#include "platform.h"

#include <emscripten/html5_webgl.h>

void *glProcAddress(const char *name) {
  return emscripten_webgl_get_proc_address(name);
}

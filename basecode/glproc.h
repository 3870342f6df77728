// GL entry points after version 1.1, looked up by name at each use.
#pragma once

#if defined(EXEGFX_GLES)
// The browser's WebGL 2, through emscripten's OpenGL ES 3.0.
#include <GLES3/gl3.h>
#else
#if defined(_WIN32)
#include <windows.h>
#endif
#include <GL/gl.h>
#include <GL/glext.h>
#endif

// The entry point's address. A missing one is reported by name on standard
// error, the fatal handler tears down, and the process exits with code 2.
void *glEntry(const char *name);

// Called before the exit for a missing entry point (the window teardown).
extern void (*glFatalHandler)();

template <class Fn> inline Fn glFn(const char *name) {
  return reinterpret_cast<Fn>(glEntry(name));
}

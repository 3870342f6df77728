// The render window and everything else the host needs from the platform.
// One backend is linked in: SDL2 (Linux desktop), EGL (headless) or Win32.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#endif

struct RenderWindow {
#if defined(_WIN32)
  HINSTANCE instance;
  HDC deviceContext;
  HGLRC glContext;
  HWND window;
  int fullscreen;
  char className[8];
#else
  void *instance; // unused outside Windows
  void *display;  // SDL: unused; EGL: EGLDisplay
  void *glContext;
  void *window; // SDL: SDL_Window*; EGL: the pbuffer EGLSurface
  int fullscreen;
  char className[8];
  unsigned width, height; // client size asked for by the caller
#endif
};

// The entry sequence's one window record: zero at load but for the class name.
extern RenderWindow renderWindow;

// The program's own module (the instance handle on Windows, null elsewhere).
void *platformInstance();

// Writes a human-readable name of the first graphics adapter into name
// (zero-terminated, at most size bytes); false when there is none.
bool platformAdapterName(char *name, std::size_t size);

// True when the window, its GL context and a 4.6 compatibility profile all exist
// and the context is current. On false the caller runs destroyRenderWindow.
bool createRenderWindow(RenderWindow &w);
// Releases whatever exists; safe on a partly created window.
void destroyRenderWindow(RenderWindow &w);

// Drains the message queue; true when the quit message was among the messages.
bool drainMessages(RenderWindow &w);
// Presents the back buffer.
void swapWindow(RenderWindow &w);

// Milliseconds since some fixed start, 32 bits, wrapping.
std::uint32_t tickCount();

// A modal notice the user dismisses; also written to standard error.
void showNotice(const char *caption, const char *text);

// The address of a GL entry point by name, null when the driver lacks it.
void *glProcAddress(const char *name);

// Sets MESA_GL_VERSION_OVERRIDE and MESA_GLSL_VERSION_OVERRIDE (unless the user
// has set them) so llvmpipe offers a 4.6 compatibility context.
void setMesaOverrides();
// Reads GL_VERSION and GL_SHADING_LANGUAGE_VERSION of the current context; false
// (with a message on standard error) when it is not a 4.6 compatibility context.
bool checkGlVersion();

// Headless backend: an EGL context with no window. A pbuffer of the render
// size stands in for the window's back buffer, so the display pass draws into
// framebuffer 0 exactly as it does on screen.
#include "platform.h"
#include "platform_egl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <ctime>

void *platformInstance() {
  return nullptr;
}

static bool hasExtension(const char *list, const char *name) {
  if (!list) return false;
  std::size_t n = std::strlen(name);
  for (const char *p = list; (p = std::strstr(p, name)); p += n)
    if ((p == list || p[-1] == ' ') && (p[n] == ' ' || p[n] == 0)) return true;
  return false;
}

static EglPath requestedPath = EglPath::Any;
static bool softwareDeviceAllowed = false;
static EglPath pathTaken = EglPath::Any;

void eglUsePath(EglPath path, bool softwareDevice) {
  requestedPath = path;
  softwareDeviceAllowed = softwareDevice;
}

EglPath eglPathTaken() {
  return pathTaken;
}

// A hardware EGL device when there is one (the NVIDIA driver offers only the
// device platform), else Mesa's surfaceless platform.
static EGLDisplay openDisplay() {
  const char *clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!getPlatformDisplay) return EGL_NO_DISPLAY;
  if (requestedPath != EglPath::Surfaceless &&
      hasExtension(clientExtensions, "EGL_EXT_device_enumeration")) {
    auto queryDevices =
        reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    auto queryDeviceString = reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(
        eglGetProcAddress("eglQueryDeviceStringEXT"));
    EGLDeviceEXT devices[16];
    EGLint count = 0;
    if (queryDevices && queryDevices(16, devices, &count)) {
      for (EGLint k = 0; k < count; ++k) {
        const char *ext = queryDeviceString ? queryDeviceString(devices[k], EGL_EXTENSIONS) : "";
        if (!softwareDeviceAllowed && hasExtension(ext, "EGL_MESA_device_software")) continue;
        EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[k], nullptr);
        if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) {
          pathTaken = EglPath::Device;
          return display;
        }
      }
    }
  }
  if (requestedPath != EglPath::Device &&
      hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
    EGLDisplay display =
        getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) {
      pathTaken = EglPath::Surfaceless;
      return display;
    }
  }
  return EGL_NO_DISPLAY;
}

bool createRenderWindow(RenderWindow &w) {
  setMesaOverrides();
  pathTaken = EglPath::Any;
  EGLDisplay display = openDisplay();
  if (display == EGL_NO_DISPLAY) {
    if (requestedPath == EglPath::Device)
      std::fprintf(stderr,
                   "No usable EGL device: no %sdevice of the EGL device platform could "
                   "be initialised.\n",
                   softwareDeviceAllowed ? "" : "GPU ");
    else if (requestedPath == EglPath::Surfaceless)
      std::fprintf(stderr, "No usable EGL device: Mesa's surfaceless platform could not be "
                           "initialised.\n");
    else
      std::fprintf(stderr, "No usable EGL device: neither a GPU device nor Mesa's surfaceless "
                           "platform could be initialised.\n");
    return false;
  }
  w.display = display;
  if (!eglBindAPI(EGL_OPENGL_API)) return false;
  const EGLint configAttributes[] = {EGL_SURFACE_TYPE,
                                     EGL_PBUFFER_BIT,
                                     EGL_RENDERABLE_TYPE,
                                     EGL_OPENGL_BIT,
                                     EGL_RED_SIZE,
                                     8,
                                     EGL_GREEN_SIZE,
                                     8,
                                     EGL_BLUE_SIZE,
                                     8,
                                     EGL_ALPHA_SIZE,
                                     8,
                                     EGL_NONE};
  EGLConfig config;
  EGLint configs = 0;
  if (!eglChooseConfig(display, configAttributes, &config, 1, &configs) || configs < 1) {
    std::fprintf(stderr, "The EGL device offers no RGBA8 pbuffer configuration for OpenGL.\n");
    return false;
  }
  const EGLint pbufferAttributes[] = {EGL_WIDTH, static_cast<EGLint>(w.width), EGL_HEIGHT,
                                      static_cast<EGLint>(w.height), EGL_NONE};
  w.window = eglCreatePbufferSurface(display, config, pbufferAttributes);
  if (w.window == EGL_NO_SURFACE) {
    std::fprintf(stderr, "Could not create a %u x %u EGL pbuffer.\n", w.width, w.height);
    return false;
  }
  const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                      4,
                                      EGL_CONTEXT_MINOR_VERSION,
                                      6,
                                      EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                      EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                      EGL_NONE};
  w.glContext = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
  if (w.glContext == EGL_NO_CONTEXT) {
    std::fprintf(stderr,
                 "The EGL device cannot create an OpenGL 4.6 compatibility context "
                 "(EGL error 0x%04x).\n",
                 eglGetError());
    return false;
  }
  if (!eglMakeCurrent(display, w.window, w.window, w.glContext)) return false;
  if (!checkGlVersion()) return false;
  glViewport(0, 0, static_cast<GLsizei>(w.width), static_cast<GLsizei>(w.height));
  return true;
}

void destroyRenderWindow(RenderWindow &w) {
  if (!w.display) return;
  eglMakeCurrent(w.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (w.glContext) eglDestroyContext(w.display, w.glContext);
  if (w.window) eglDestroySurface(w.display, w.window);
  eglTerminate(w.display);
  w.display = w.glContext = w.window = nullptr;
}

bool drainMessages(RenderWindow &) {
  return false;
}

void swapWindow(RenderWindow &w) {
  if (w.display) eglSwapBuffers(w.display, w.window);
}

std::uint32_t tickCount() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint32_t>(static_cast<unsigned long long>(ts.tv_sec) * 1000u +
                                    static_cast<unsigned long long>(ts.tv_nsec) / 1000000u);
}

void showNotice(const char *caption, const char *text) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", caption, text);
}

void *glProcAddress(const char *name) {
  return reinterpret_cast<void *>(eglGetProcAddress(name));
}

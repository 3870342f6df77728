// Headless backend: an EGL context with no window. A pbuffer of the render
// size stands in for the window's back buffer, so the display pass draws into
// framebuffer 0 exactly as it does on screen.
#include "platform.h"
#include "egl_vendor.h"
#include "gpu_choice.h"
#include "platform_egl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

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
static int gpuAsked = -1;
static bool softwareAllowed = false;
// The device rule runs once per process: the size probe and the real context
// must land on the same GPU, and its notes are said once.
static bool gpuChosen = false;
static GpuChoice gpuChoice;
static std::string deviceTaken;

void eglUsePath(EglPath path, bool softwareDevice) {
  requestedPath = path;
  softwareDeviceAllowed = softwareDevice;
}

void eglUseGpu(int gpu, bool allowSoftware) {
  gpuAsked = gpu;
  softwareAllowed = allowSoftware;
  gpuChosen = false;
}

EglPath eglPathTaken() {
  return pathTaken;
}

const char *eglDeviceTaken() {
  return deviceTaken.c_str();
}

struct EglDevices {
  std::vector<EGLDeviceEXT> handles;
  std::vector<EglGpu> info;
};

// Every EGL device with what its extensions tell of it, in EGL's order.
static EglDevices listDevices() {
  EglDevices list;
  const char *clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (!hasExtension(clientExtensions, "EGL_EXT_device_enumeration")) return list;
  auto queryDevices =
      reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
  auto queryString = reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(
      eglGetProcAddress("eglQueryDeviceStringEXT"));
  auto queryAttrib = reinterpret_cast<PFNEGLQUERYDEVICEATTRIBEXTPROC>(
      eglGetProcAddress("eglQueryDeviceAttribEXT"));
  auto queryBinary = reinterpret_cast<PFNEGLQUERYDEVICEBINARYEXTPROC>(
      eglGetProcAddress("eglQueryDeviceBinaryEXT"));
  EGLint count = 0;
  if (!queryDevices || !queryDevices(0, nullptr, &count) || count <= 0) return list;
  list.handles.resize(static_cast<std::size_t>(count));
  if (!queryDevices(count, list.handles.data(), &count)) count = 0;
  list.handles.resize(static_cast<std::size_t>(count));
  for (EGLDeviceEXT device : list.handles) {
    EglGpu gpu;
    const char *ext = queryString ? queryString(device, EGL_EXTENSIONS) : nullptr;
    gpu.software = hasExtension(ext, "EGL_MESA_device_software");
    EGLAttrib cuda = -1;
    if (queryAttrib && hasExtension(ext, "EGL_NV_device_cuda") &&
        queryAttrib(device, EGL_CUDA_DEVICE_NV, &cuda))
      gpu.cudaDevice = static_cast<int>(cuda);
    unsigned char uuid[16];
    EGLint size = 0;
    if (queryBinary && hasExtension(ext, "EGL_EXT_device_persistent_id") &&
        queryBinary(device, EGL_DEVICE_UUID_EXT, 16, uuid, &size) && size == 16)
      gpu.uuid = formatGpuUuid(uuid);
    if (queryString && hasExtension(ext, "EGL_EXT_device_drm")) {
      const char *file = queryString(device, EGL_DRM_DEVICE_FILE_EXT);
      if (file) gpu.drmFile = file;
    }
    list.info.push_back(gpu);
  }
  return list;
}

static EGLDisplay openDevice(EGLDeviceEXT device) {
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
  if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) return display;
  return EGL_NO_DISPLAY;
}

static GpuRequest gpuRequest() {
  GpuRequest request;
  request.gpu = gpuAsked;
  request.cudaVisibleDevices = std::getenv("CUDA_VISIBLE_DEVICES");
  request.cudaUuid = cudaFirstDeviceUuid;
  request.allowSoftware = softwareAllowed;
  request.eglVendorProblem = [] { return findNvidiaEgl().problem; };
  return request;
}

static GpuChoice chooseDevice(const EglDevices &list) {
  return chooseGpu(list.info, gpuRequest(), [&](int k) {
    EGLDisplay display = openDevice(list.handles[static_cast<std::size_t>(k)]);
    if (display == EGL_NO_DISPLAY) return false;
    eglTerminate(display);
    return true;
  });
}

// The device rule, run once per process; its note is said then.
static void chooseOnce(const EglDevices &list) {
  if (gpuChosen) return;
  gpuChoice = chooseDevice(list);
  gpuChosen = true;
  if (gpuChoice.kind != GpuChoice::Error && !gpuChoice.message.empty()) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", gpuChoice.message.c_str());
  }
}

bool eglCheckGpu(std::string &error) {
  if (requestedPath == EglPath::Surfaceless && gpuAsked < 0) return true; // no rule to run
  chooseOnce(listDevices());
  if (gpuChoice.kind != GpuChoice::Error) return true;
  error = gpuChoice.message;
  return false;
}

// The GPU the device rule takes, else Mesa's software device when allowed,
// else Mesa's surfaceless platform. --gpu never falls back.
static EGLDisplay openDisplay() {
  const char *clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (!getPlatformDisplay) return EGL_NO_DISPLAY;
  if (requestedPath != EglPath::Surfaceless || gpuAsked >= 0) {
    EglDevices list = listDevices();
    chooseOnce(list);
    if (gpuChoice.kind == GpuChoice::Error) return EGL_NO_DISPLAY;
    if (gpuChoice.kind == GpuChoice::Gpu &&
        static_cast<std::size_t>(gpuChoice.device) < list.handles.size()) {
      EGLDisplay display = openDevice(list.handles[static_cast<std::size_t>(gpuChoice.device)]);
      if (display != EGL_NO_DISPLAY) {
        pathTaken = EglPath::Device;
        deviceTaken = gpuLabel(list.info, gpuChoice.device);
        return display;
      }
      return EGL_NO_DISPLAY; // the chosen GPU went away: never another one
    }
    if (gpuAsked >= 0) return EGL_NO_DISPLAY;
    for (std::size_t k = 0; softwareDeviceAllowed && k < list.info.size(); ++k) {
      if (!list.info[k].software) continue;
      EGLDisplay display = openDevice(list.handles[k]);
      if (display != EGL_NO_DISPLAY) {
        pathTaken = EglPath::Device;
        deviceTaken = "EGL device " + std::to_string(k) + ", software";
        return display;
      }
    }
  }
  if (requestedPath != EglPath::Device &&
      hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
    EGLDisplay display =
        getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display != EGL_NO_DISPLAY && eglInitialize(display, nullptr, nullptr)) {
      pathTaken = EglPath::Surfaceless;
      deviceTaken = "no GPU, Mesa surfaceless";
      return display;
    }
  }
  return EGL_NO_DISPLAY;
}

bool eglPrintDevices() {
  EglDevices list = listDevices();
  const char *env = std::getenv("CUDA_VISIBLE_DEVICES");
  std::printf("CUDA_VISIBLE_DEVICES: %s\n",
              env ? (std::string("\"") + env + "\"").c_str() : "unset");
  std::string cuda = cudaFirstDeviceUuid();
  std::printf("CUDA device 0: %s\n",
              cuda.empty() ? "none (no CUDA driver, or no device)" : cuda.c_str());
  NvidiaEgl nvidia = findNvidiaEgl();
  std::printf("NVIDIA EGL: %s\n", nvidia.problem.empty()
                                      ? (nvidia.library + ", from " + nvidia.vendorFile).c_str()
                                      : nvidia.problem.c_str());
  std::printf("EGL devices: %zu\n", list.info.size());
  for (std::size_t k = 0; k < list.info.size(); ++k) {
    const EglGpu &gpu = list.info[k];
    EGLDisplay display = openDevice(list.handles[k]);
    const char *vendor = display != EGL_NO_DISPLAY ? eglQueryString(display, EGL_VENDOR) : nullptr;
    std::printf("  %zu: %s, %s, vendor %s, CUDA device %s, UUID %s, DRM %s\n", k,
                gpu.software ? "software" : "hardware",
                display != EGL_NO_DISPLAY ? "opens" : "does not open", vendor ? vendor : "-",
                gpu.cudaDevice >= 0 ? std::to_string(gpu.cudaDevice).c_str() : "-",
                gpu.uuid.empty() ? "-" : gpu.uuid.c_str(),
                gpu.drmFile.empty() ? "-" : gpu.drmFile.c_str());
    if (display != EGL_NO_DISPLAY) eglTerminate(display);
  }
  GpuChoice choice = chooseDevice(list);
  if (choice.kind == GpuChoice::Gpu)
    std::printf("Taken: %s\n", gpuLabel(list.info, choice.device).c_str());
  else if (choice.kind == GpuChoice::NoGpu)
    std::printf("Taken: no GPU (software renderer)\n");
  else
    std::printf("Refused: %s\n", choice.message.c_str());
  if (choice.kind != GpuChoice::Error && !choice.message.empty())
    std::printf("%s\n", choice.message.c_str());
  return choice.kind != GpuChoice::Error;
}

bool createRenderWindow(RenderWindow &w) {
  setMesaOverrides();
  pathTaken = EglPath::Any;
  deviceTaken.clear();
  EGLDisplay display = openDisplay();
  if (display == EGL_NO_DISPLAY) {
    if (gpuChoice.kind == GpuChoice::Error)
      std::fprintf(stderr, "%s\n", gpuChoice.message.c_str());
    else if (gpuChoice.kind == GpuChoice::Gpu)
      std::fprintf(stderr, "The GPU taken, EGL device %d, can no longer be initialised.\n",
                   gpuChoice.device);
    else if (gpuAsked >= 0)
      std::fprintf(stderr, "--gpu %d: no GPU could be opened.\n", gpuAsked);
    else if (requestedPath == EglPath::Device)
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

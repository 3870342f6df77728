// Windows backend: a Win32 window and message queue, a GDI pixel format, a WGL
// context, and a display-mode switch for the fullscreen run.
#include "platform.h"

#include "config.h"

#include <GL/gl.h>

#include <cstdio>

static_assert(sizeof(DEVMODEA) == 156, "the display mode request is the 156-byte record");
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40, "the pixel format record is 40 bytes");
static_assert(sizeof(DISPLAY_DEVICEA) == 424, "the adapter record is 424 bytes");

// Double-buffered RGBA, 32-bit colour with 8 bits of alpha, a 32-bit depth
// buffer; everything else zero: no accumulation, stencil or auxiliary buffers.
static PIXELFORMATDESCRIPTOR pixelFormat() {
  PIXELFORMATDESCRIPTOR p = {};
  p.nSize = sizeof p;
  p.nVersion = 1;
  p.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  p.iPixelType = PFD_TYPE_RGBA;
  p.cColorBits = 32;
  p.cAlphaBits = 8;
  p.cDepthBits = 32;
  p.iLayerType = PFD_MAIN_PLANE;
  return p;
}
static const PIXELFORMATDESCRIPTOR pfd = pixelFormat();

static const DWORD fullscreenExStyle = WS_EX_APPWINDOW;
static const DWORD fullscreenStyle = WS_POPUP | WS_VISIBLE;
static const DWORD windowedExStyle = 0;
static const DWORD windowedStyle = WS_POPUP | WS_VISIBLE | WS_OVERLAPPEDWINDOW;

static const int clientWidth = RunConfig::renderWidth;
static const int clientHeight = RunConfig::renderHeight;

void *platformInstance() {
  return GetModuleHandleA(nullptr);
}

bool platformAdapterName(char *name, std::size_t size) {
  DISPLAY_DEVICEA dd = {};
  dd.cb = sizeof dd;
  if (!EnumDisplayDevicesA(nullptr, 0, &dd, EDD_GET_DEVICE_INTERFACE_NAME)) return false;
  // The field is not promised to be terminated when the text fills it.
  std::snprintf(name, size, "%.*s", static_cast<int>(sizeof dd.DeviceString), dd.DeviceString);
  return true;
}

static LRESULT CALLBACK windowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  // Neither the screen saver nor monitor power-down interrupts a run.
  if (uMsg == WM_SYSCOMMAND && (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER)) return 0;
  // Closing only asks the loop to stop; the window stays until teardown.
  if (uMsg == WM_CLOSE || uMsg == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  if (uMsg == WM_KEYDOWN && wParam == VK_ESCAPE) {
    PostQuitMessage(0);
    return 0;
  }
  // The viewport follows the client area; before the context exists this does
  // nothing. The message then takes the default handling.
  if (uMsg == WM_SIZE) glViewport(0, 0, LOWORD(lParam), HIWORD(lParam));
  if (uMsg == WM_CHAR && wParam == 0x1B) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(hWnd, uMsg, wParam, lParam);
}

static bool fail(const char *what) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s failed (error %lu).\n", what,
               static_cast<unsigned long>(GetLastError()));
  return false;
}

bool createRenderWindow(RenderWindow &w) {
  WNDCLASSA wc = {};
  wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
  wc.lpfnWndProc = windowProc;
  wc.hInstance = w.instance;
  wc.hbrBackground = CreateSolidBrush(0);
  wc.lpszClassName = w.className;
  if (!RegisterClassA(&wc)) return fail("Registering the window class");

  DWORD exStyle = windowedExStyle, style = windowedStyle;
  if (w.fullscreen) {
    DEVMODEA dmScreenSettings = {};
    dmScreenSettings.dmSize = sizeof dmScreenSettings;
    dmScreenSettings.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    dmScreenSettings.dmBitsPerPel = 32;
    dmScreenSettings.dmPelsWidth = clientWidth;
    dmScreenSettings.dmPelsHeight = clientHeight;
    LONG result = ChangeDisplaySettingsA(&dmScreenSettings, CDS_FULLSCREEN);
    if (result != DISP_CHANGE_SUCCESSFUL) {
      std::fflush(stdout);
      std::fprintf(stderr, "The display cannot switch to %d x %d at 32 bits per pixel (%ld).\n",
                   clientWidth, clientHeight, static_cast<long>(result));
      return false;
    }
    exStyle = fullscreenExStyle;
    style = fullscreenStyle;
    while (ShowCursor(FALSE) >= 0) {
    }
  }

  RECT rec = {0, 0, clientWidth, clientHeight};
  AdjustWindowRect(&rec, style, FALSE);
  // Centred; the arithmetic shift floors odd and negative differences.
  int x = (GetSystemMetrics(SM_CXSCREEN) - rec.right + rec.left) >> 1;
  int y = (GetSystemMetrics(SM_CYSCREEN) - rec.bottom + rec.top) >> 1;
  w.window =
      CreateWindowExA(exStyle, w.className, "exegfx by Vund", style, x, y, rec.right - rec.left,
                      rec.bottom - rec.top, nullptr, nullptr, w.instance, nullptr);
  if (!w.window) return fail("Creating the window");
  w.deviceContext = GetDC(w.window);
  if (!w.deviceContext) return fail("Getting the window's device context");
  int format = ChoosePixelFormat(w.deviceContext, &pfd);
  if (!format) return fail("Choosing a pixel format");
  if (!SetPixelFormat(w.deviceContext, format, &pfd)) return fail("Setting the pixel format");
  w.glContext = wglCreateContext(w.deviceContext);
  if (!w.glContext) return fail("Creating the GL context");
  if (!wglMakeCurrent(w.deviceContext, w.glContext)) return fail("Making the GL context current");
  return checkGlVersion();
}

void destroyRenderWindow(RenderWindow &w) {
  if (w.glContext) {
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(w.glContext);
  }
  if (w.deviceContext) ReleaseDC(w.window, w.deviceContext);
  // The destroy message posts one more quit message, which nobody reads.
  if (w.window) DestroyWindow(w.window);
  UnregisterClassA(w.className, w.instance);
  if (w.fullscreen) {
    ChangeDisplaySettingsA(nullptr, 0);
    while (ShowCursor(TRUE) < 0) {
    }
  }
}

bool drainMessages(RenderWindow &) {
  MSG msg;
  bool quitMessage = false;
  // The whole queue is drained even after the quit message.
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) quitMessage = true;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return quitMessage;
}

void swapWindow(RenderWindow &w) {
  SwapBuffers(w.deviceContext);
}

std::uint32_t tickCount() {
  return GetTickCount();
}

void showNotice(const char *caption, const char *text) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", caption, text);
  // Tearing down a window that was already made posts a quit message, and a
  // pending quit message closes a message box the moment it opens: the notice
  // would never be seen. The run is ending anyway, so nothing is lost.
  MSG msg;
  while (PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
  }
  MessageBoxA(nullptr, text, caption, MB_ICONEXCLAMATION);
}

void *glProcAddress(const char *name) {
  PROC p = wglGetProcAddress(name);
  // Some drivers answer small integers instead of null for names they lack,
  // and the GL 1.1 names live in opengl32.dll itself.
  auto value = reinterpret_cast<INT_PTR>(p);
  if (value == 0 || value == 1 || value == 2 || value == 3 || value == -1) {
    static HMODULE opengl32 = GetModuleHandleA("opengl32.dll");
    p = opengl32 ? GetProcAddress(opengl32, name) : nullptr;
  }
  return reinterpret_cast<void *>(p);
}

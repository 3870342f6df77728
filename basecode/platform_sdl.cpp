// Linux desktop backend on SDL2: a real display-mode switch, a fullscreen
// window with a compatibility-profile GL context, and SDL's event queue.
#include "platform.h"

#include <SDL2/SDL.h>
#include <GL/gl.h>

#include <cstdio>
#include <initializer_list>

void *platformInstance() {
  return nullptr;
}

// A mode of exactly the render size at 32 bits per pixel (24 bits of colour in
// a 4-byte pixel); false when the display has none.
static bool findMode(unsigned width, unsigned height, SDL_DisplayMode &mode) {
  int modes = SDL_GetNumDisplayModes(0);
  for (int k = 0; k < modes; ++k) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, k, &m) == 0 && m.w == static_cast<int>(width) &&
        m.h == static_cast<int>(height) && SDL_BYTESPERPIXEL(m.format) == 4) {
      mode = m;
      return true;
    }
  }
  return false;
}

bool createRenderWindow(RenderWindow &w) {
  setMesaOverrides();
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "SDL cannot open the display: %s\n", SDL_GetError());
    return false;
  }
  SDL_DisableScreenSaver();
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN;
  SDL_DisplayMode mode{};
  int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
  if (w.fullscreen) {
    if (!findMode(w.width, w.height, mode)) {
      std::fprintf(stderr, "The display offers no %u x %u mode at 32 bits per pixel.\n", w.width,
                   w.height);
      return false;
    }
    // SDL leaves placing a fullscreen window to the window manager; without
    // one the window stays where it was made, and centred on the old mode it
    // misses the new one. The switch keeps the display's origin: start there.
    SDL_Rect bounds;
    if (SDL_GetDisplayBounds(0, &bounds) == 0) {
      x = bounds.x;
      y = bounds.y;
    }
    SDL_ShowCursor(SDL_DISABLE);
  } else {
    flags |= SDL_WINDOW_RESIZABLE;
  }

  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
  // The deepest depth buffer the display offers, up to 32 bits.
  for (int depth : {32, 24, 16, 0}) {
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
    w.window = SDL_CreateWindow("exegfx by Vund", x, y, static_cast<int>(w.width),
                                static_cast<int>(w.height), flags);
    if (w.window) break;
  }
  if (!w.window) {
    std::fprintf(stderr, "SDL cannot create the window: %s\n", SDL_GetError());
    return false;
  }
  auto window = static_cast<SDL_Window *>(w.window);
  if (w.fullscreen && (SDL_SetWindowDisplayMode(window, &mode) != 0 ||
                       SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN) != 0)) {
    std::fprintf(stderr, "SDL cannot switch the display mode: %s\n", SDL_GetError());
    return false;
  }
  SDL_ShowWindow(window);
  w.glContext = SDL_GL_CreateContext(window);
  if (!w.glContext) {
    std::fprintf(stderr, "SDL cannot create a GL context: %s\n", SDL_GetError());
    return false;
  }
  if (SDL_GL_MakeCurrent(window, w.glContext) != 0 || !checkGlVersion()) return false;
  int drawableWidth = 0, drawableHeight = 0;
  SDL_GL_GetDrawableSize(window, &drawableWidth, &drawableHeight);
  glViewport(0, 0, drawableWidth, drawableHeight);
  return true;
}

void destroyRenderWindow(RenderWindow &w) {
  if (w.glContext) {
    SDL_GL_MakeCurrent(static_cast<SDL_Window *>(w.window), nullptr);
    SDL_GL_DeleteContext(w.glContext);
  }
  // Destroying the fullscreen window puts the display's own mode back.
  if (w.window) SDL_DestroyWindow(static_cast<SDL_Window *>(w.window));
  if (w.fullscreen) SDL_ShowCursor(SDL_ENABLE);
  SDL_EnableScreenSaver();
  SDL_Quit();
}

bool drainMessages(RenderWindow &w) {
  bool quit = false;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    switch (e.type) {
    case SDL_QUIT:
      quit = true;
      break;
    case SDL_KEYDOWN:
      if (e.key.keysym.sym == SDLK_ESCAPE) quit = true;
      break;
    case SDL_WINDOWEVENT:
      if (e.window.event == SDL_WINDOWEVENT_CLOSE) quit = true;
      if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED && w.glContext)
        glViewport(0, 0, e.window.data1, e.window.data2);
      break;
    default:
      break;
    }
  }
  return quit;
}

void swapWindow(RenderWindow &w) {
  SDL_GL_SwapWindow(static_cast<SDL_Window *>(w.window));
}

std::uint32_t tickCount() {
  return SDL_GetTicks();
}

void showNotice(const char *caption, const char *text) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", caption, text);
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_WARNING, caption, text, nullptr);
}

void *glProcAddress(const char *name) {
  return SDL_GL_GetProcAddress(name);
}

#include "context.h"

#include "page.h"

#include <emscripten/html5.h>

#include <GLES3/gl3.h>

#include <algorithm>
#include <string>

static EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context;
static void (*onLost)();
static void (*onRestored)();

bool contextCreate(unsigned width, unsigned height) {
  if (emscripten_set_canvas_element_size("#canvas", static_cast<int>(width),
                                         static_cast<int>(height)) != EMSCRIPTEN_RESULT_SUCCESS) {
    page_fail("The page has no canvas to draw on.");
    return false;
  }
  EmscriptenWebGLContextAttributes attributes;
  emscripten_webgl_init_context_attributes(&attributes);
  attributes.majorVersion = 2;
  attributes.minorVersion = 0;
  // The display pass writes an alpha the page must not blend with.
  attributes.alpha = EM_FALSE;
  attributes.depth = EM_FALSE;
  attributes.stencil = EM_FALSE;
  attributes.antialias = EM_FALSE;
  attributes.powerPreference = EM_WEBGL_POWER_PREFERENCE_HIGH_PERFORMANCE;
  attributes.enableExtensionsByDefault = EM_FALSE;
  context = emscripten_webgl_create_context("#canvas", &attributes);
  if (context <= 0) {
    page_fail(page_has_webgl2()
                  ? "This browser knows WebGL 2 but would not start it here: it may be switched "
                    "off, or the GPU or its driver blocked. The picture needs WebGL 2."
                  : "This browser has no WebGL 2, which the picture needs.");
    return false;
  }
  emscripten_webgl_make_context_current(context);
  return contextPrepare(width, height);
}

bool contextPrepare(unsigned width, unsigned height) {
  if (!emscripten_webgl_enable_extension(context, "EXT_color_buffer_float")) {
    page_fail("This browser's WebGL 2 cannot render into 32-bit float textures "
              "(EXT_color_buffer_float), which the running sum needs.");
    return false;
  }
  GLint textureMax = 0, viewportMax[2] = {0, 0};
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &textureMax);
  glGetIntegerv(GL_MAX_VIEWPORT_DIMS, viewportMax);
  int drawingWidth = 0, drawingHeight = 0;
  emscripten_webgl_get_drawing_buffer_size(context, &drawingWidth, &drawingHeight);
  unsigned mostWidth = static_cast<unsigned>(std::min(textureMax, viewportMax[0]));
  unsigned mostHeight = static_cast<unsigned>(std::min(textureMax, viewportMax[1]));
  if (width > mostWidth || height > mostHeight) {
    std::string text = "This GPU renders at most " + std::to_string(mostWidth) + " x " +
                       std::to_string(mostHeight) + " pixels here: choose a smaller size.";
    page_fail(text.c_str());
    return false;
  }
  // Browsers may give a canvas less than it asks for where memory is short.
  if (static_cast<unsigned>(drawingWidth) != width ||
      static_cast<unsigned>(drawingHeight) != height) {
    std::string text = "The browser gave the canvas only " + std::to_string(drawingWidth) + " x " +
                       std::to_string(drawingHeight) + " pixels: choose a smaller size.";
    page_fail(text.c_str());
    return false;
  }
  return true;
}

bool contextTimerQueries() {
  return emscripten_webgl_enable_extension(context, "EXT_disjoint_timer_query_webgl2");
}

static EM_BOOL lost(int, const void *, void *) {
  if (onLost) onLost();
  return EM_TRUE; // asks the browser to restore it
}

static EM_BOOL restored(int, const void *, void *) {
  emscripten_webgl_make_context_current(context);
  if (onRestored) onRestored();
  return EM_TRUE;
}

void contextWatch(void (*lostFn)(), void (*restoredFn)()) {
  onLost = lostFn;
  onRestored = restoredFn;
  emscripten_set_webglcontextlost_callback("#canvas", nullptr, EM_FALSE, lost);
  emscripten_set_webglcontextrestored_callback("#canvas", nullptr, EM_FALSE, restored);
}

// exegfx in the browser: the window program's picture on the viewer's own GPU
// through WebGL 2. The address picks the size and the frames (?size=960x540,
// ?frames=64); the page around the canvas is shell.html and page.js.
#include "context.h"
#include "page.h"
#include "page_options.h"
#include "render_loop.h"
#include "save_png.h"

#include <emscripten/html5.h>

#include <cstdlib>
#include <cstring>
#include <string>

static PageOptions options;

static void contextLost() {
  loopStop();
  page_notice("The browser took the GPU away from this page (a GPU reset); the picture starts "
              "again once it gives it back.");
}

static void contextRestored() {
  page_notice(nullptr);
  if (contextPrepare(options.width, options.height)) loopStart(options, contextTimerQueries());
}

static EM_BOOL toggleFullscreen() {
  EmscriptenFullscreenChangeEvent state;
  if (emscripten_get_fullscreen_status(&state) == EMSCRIPTEN_RESULT_SUCCESS && state.isFullscreen)
    emscripten_exit_fullscreen();
  else
    emscripten_request_fullscreen("#page", EM_TRUE);
  return EM_TRUE;
}

static EM_BOOL clicked(int, const EmscriptenMouseEvent *, void *button) {
  if (std::strcmp(static_cast<const char *>(button), "save") == 0) {
    savePng();
    return EM_TRUE;
  }
  return toggleFullscreen();
}

static EM_BOOL keyDown(int, const EmscriptenKeyboardEvent *event, void *) {
  if (std::strcmp(event->key, "f") != 0 || event->ctrlKey || event->altKey || event->metaKey)
    return EM_FALSE;
  return toggleFullscreen();
}

int main() {
  PageParam params[3];
  const char *names[3] = {"size", "frames", "band-ms"};
  for (int k = 0; k < 3; ++k) {
    int count = 0, length = 0;
    char *value = page_param(names[k], &count, &length);
    params[k].count = static_cast<unsigned>(count);
    if (value) params[k].value.assign(value, static_cast<std::size_t>(length));
    std::free(value);
  }
  std::string error;
  bool ok = parsePageOptions(params[0], params[1], params[2], options, error);
  if (!ok) {
    page_fail(("The address asks for something the page cannot do: " + error).c_str());
    return 0;
  }
  if (!contextCreate(options.width, options.height)) return 0;
  contextWatch(contextLost, contextRestored);
  emscripten_set_click_callback("#save", const_cast<char *>("save"), EM_FALSE, clicked);
  emscripten_set_click_callback("#fullscreen", const_cast<char *>("fullscreen"), EM_FALSE, clicked);
  emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, keyDown);
  loopStart(options, contextTimerQueries());
  return 0;
}

#include "accumulation.h"
#include "config.h"
#include "console.h"
#include "glproc.h"
#include "host.h"
#include "platform.h"

#if defined(_WIN32)
RenderWindow renderWindow = {{}, {}, {}, {}, 0, "KLOM"};
#else
RenderWindow renderWindow = {{}, {}, {}, {}, 0, "KLOM", 0, 0};
#endif

static const char logo[] = R"( ___      ___                      __
 \  \    /  / __  __  _ ____   ___/ /
  \  \  /  / / / / / / '__  \ / __  /
   \  \/  / / /_/ / / /  / / / /_/ /
    \____/  \____/ /_/  /_/  \____/
   ~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~~

)";

static void tearDownOnFatalGlError() {
  destroyRenderWindow(renderWindow);
}

int exegfxMain() {
  quitRequested = false;
  renderWindow.instance = static_cast<decltype(renderWindow.instance)>(platformInstance());
  renderWindow.fullscreen += 1;
#if !defined(_WIN32)
  renderWindow.width = RunConfig::renderWidth;
  renderWindow.height = RunConfig::renderHeight;
#endif

  consoleText(logo);
  consoleText("-={ zorvane basecode 2024-08-04 }=-\n");
  consoleText("-={         Vund / NoXA         }=-\n\n");
  char adapter[128];
  if (platformAdapterName(adapter, sizeof adapter))
    consolePrint("     What's inside: %s\n", adapter);
  else
    consoleText("     What's inside: Unknown!\n");
  consolePrint(" Render resolution: %u x %u\n", RunConfig::renderWidth, RunConfig::renderHeight);
  consolePrint("  Max precalc time: %.2f secs\n", RunConfig::maxPrecalcTime);
  consolePrint("        Max frames: %i\n", RunConfig::maxFrames);
  consoleText(RunConfig::limitsEnforced ? "            Limits: Enforced\n"
                                        : "            Limits: NOT enforced\n");

  if (!createRenderWindow(renderWindow)) {
    destroyRenderWindow(renderWindow);
    showNotice("Oh dear", "Window init error! We're gonna have to abort...");
    // A failed start is a failure: the exit code says so.
    return 1;
  }
  glFatalHandler = tearDownOnFatalGlError;

  consoleText("\nCompiling shaders...\n");
  initAccumulation(RunConfig::renderWidth, RunConfig::renderHeight);
  consoleText("\nRendering (Close this window or Esc on render window to abort)\n\n");
  runMainLoop(renderWindow);
  return 0;
}

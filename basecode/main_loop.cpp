#include "accumulation.h"
#include "config.h"
#include "console.h"
#include "host.h"
#include "platform.h"

#include <cstdint>

bool quitRequested = false;
bool limitHit = false;

// Seconds since start, exact modulo 2^32 ms: the unsigned difference survives a
// wrap of the tick counter.
static float secondsSince(std::uint32_t startTick) {
  std::uint32_t ms = tickCount() - startTick;
  return static_cast<float>(static_cast<double>(ms)) / 1000.0f;
}

void runMainLoop(RenderWindow &w) {
  std::uint32_t startTick = tickCount();
  float elapsedSeconds = 0.0f;
  int frames = 0;
  while (!quitRequested) {
    if (drainMessages(w)) quitRequested = true;
    renderFrame(elapsedSeconds);
    elapsedSeconds = secondsSince(startTick);
    ++frames;
    swapWindow(w);
    if (!limitHit || !RunConfig::limitsEnforced) {
      consoleText(".");
      if (frames % RunConfig::progressInterval == 0) {
        float fps = static_cast<float>(frames) / secondsSince(startTick);
        consolePrint(" [%i, %.3f fps]\n", frames, static_cast<double>(fps));
      }
    }
    if ((elapsedSeconds >= static_cast<float>(RunConfig::maxPrecalcTime) ||
         frames >= RunConfig::maxFrames) &&
        !limitHit) {
      limitHit = true;
      consolePrint("\n[LIMIT HIT: %i/%i frames, %.2f/%.2f secs]\n", frames, RunConfig::maxFrames,
                   static_cast<double>(elapsedSeconds), RunConfig::maxPrecalcTime);
      if (RunConfig::limitsEnforced) consoleText("\n\nDone; close window to quit\n");
    }
  }
  destroyRenderWindow(w);
}

// Renders two frames headless so the GL calls of each can be traced; prints
// the GL object names the trace check substitutes into its expected calls.
#include "accumulation.h"
#include "still_core.h"

#include <cstdio>

int main() {
  // The window's frame: the fragment passes, without the still renderer's squares.
  if (!stillOpenWith(nullptr, nullptr, 8, 8, ScenePass::Fragment, nullptr, false)) return 1;
  stillRenderFrame();
  stillRenderFrame();
  AccumulationView v = accumulationView();
  std::printf("FB=%u T0=%u T1=%u P0=%u P1=%u\n", v.framebuffer, v.textures[0], v.textures[1],
              v.programs[0], v.programs[1]);
  stillClose();
  return 0;
}

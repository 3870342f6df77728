// A scripted stand-in for the platform backend and the frame passes, so the
// entry sequence and the main loop run without a window or GL.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FakePlatform {
  bool createSucceeds = true;
  bool adapterKnown = true;
  std::string adapter = "Test Adapter 9000";
  int quitOnTurn = 1; // the drain of this turn (1-based) yields the quit message
  // Tick at each reading; `turn` is the number of frame passes run so far.
  std::function<std::uint32_t(int turn)> clock = [](int) { return 1000u; };

  // What the host did.
  int turns = 0; // drains
  int creates = 0, destroys = 0, swaps = 0, inits = 0;
  std::vector<float> renderArgs;
  std::vector<std::string> notices;
  std::vector<std::string> events; // "drain", "render", "swap", "destroy", ...
};

extern FakePlatform fake;
void resetFake();

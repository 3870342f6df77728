// Choices of the headless EGL backend beyond platform.h, for checks and
// benchmarks that must know which EGL platform a context came from.
#pragma once

#include <string>

enum class EglPath {
  Any,        // a GPU of the EGL device platform, else Mesa's surfaceless platform
  Device,     // the EGL device platform only (NVIDIA's headless path)
  Surfaceless // Mesa's surfaceless platform only
};

// The paths later createRenderWindow calls may take. softwareDevice also lets
// the device platform take Mesa's software device, which is otherwise skipped.
void eglUsePath(EglPath path, bool softwareDevice = false);
// The path of the last createRenderWindow that opened a display (Any before
// one, or when the last one failed to).
EglPath eglPathTaken();

// The GPU later createRenderWindow calls take: N picks the Nth hardware device
// that opens, with no fallback; -1 (the default) leaves it to the device rule
// of gpu_choice.h (the scheduler's GPU, else the first, else no GPU).
// allowSoftware lets a scheduler's GPU that EGL cannot open fall back to the
// software renderer instead of being refused.
void eglUseGpu(int gpu, bool allowSoftware = false);
// Runs the device rule now, not at the first createRenderWindow, so that a
// refusal comes before the caller touches any file: false with the reason.
bool eglCheckGpu(std::string &error);
// The device of the last createRenderWindow that opened a display, as logs
// and partial files name it ("EGL device 0, GPU-..."); empty before one.
const char *eglDeviceTaken();
// Prints every EGL device, what its extensions tell of it, and the device the
// rule takes now (exegfx-still --list-gpus). False when the rule refuses.
bool eglPrintDevices();

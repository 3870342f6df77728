// Choices of the headless EGL backend beyond platform.h, for checks and
// benchmarks that must know which EGL platform a context came from.
#pragma once

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

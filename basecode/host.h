// The entry sequence and the main loop.
#pragma once

struct RenderWindow;

// The whole run: banner, report, window, shaders, main loop, teardown.
// Returns the process exit code.
int exegfxMain();

// Set by the message drain when the quit message arrives; tested at the top of
// each loop turn only.
extern bool quitRequested;
// True once the limit message has been printed; never reset by the program.
extern bool limitHit;

// Runs turns until quitRequested, then tears the window down.
void runMainLoop(RenderWindow &w);

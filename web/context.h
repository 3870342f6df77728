// The WebGL 2 context on the page's canvas (#canvas), the render size.
#pragma once

// Sizes the canvas to width x height, makes the context current and enables
// float render targets. False, with a plain message in the page saying what
// the browser lacks, when it offers no WebGL 2, no float targets or less room.
bool contextCreate(unsigned width, unsigned height);
// Enables what the passes need on the current context; false with a message.
bool contextPrepare(unsigned width, unsigned height);
// Enables GPU timer queries where the browser offers them (they time the
// bands exactly); false where it does not.
bool contextTimerQueries();
// lost runs when the browser takes the context away (a GPU reset), restored
// when it gives it back; the context is current again then.
void contextWatch(void (*lost)(), void (*restored)());

// The page around the canvas (page.js): what the host shows and saves there.
#pragma once

#include <cstdint>

extern "C" {
// The address's first value of ?name=, decoded, in memory the caller frees,
// its length in bytes (it may hold a NUL) and how often the address gives
// name; null where the address has none.
char *page_param(const char *name, int *count, int *length);
// Whether the browser knows WebGL 2 at all (it may still refuse a context).
int page_has_webgl2();
// Rendering: the render size and the frames it stops after.
void page_started(unsigned width, unsigned height, unsigned frameLimit);
// Progress for the overlay and for scripts (window.exegfx): frames finished,
// milliseconds since the start, the last frame's milliseconds and its bands
// (their number, mean pixels and the longest one's milliseconds); done once
// the last frame is finished.
void page_progress(unsigned frames, double elapsedMs, double frameMs, int bands,
                   double pixelsPerBand, double longestBandMs, int done);
// A plain message in place of the picture: what is missing or went wrong.
void page_fail(const char *text);
// A note over the picture, or none for null.
void page_notice(const char *text);
// Offers width x height RGBA bytes (rows from the top down) as a PNG download.
void page_save_png(const std::uint8_t *rgba, unsigned width, unsigned height, unsigned frames);
}

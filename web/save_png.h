// The running mean, read back: as the page's "Save PNG" saves it, and as
// floats for scripts (window.exegfx.mean()).
#pragma once

// Offers the picture as a PNG download, each value mapped to 8 bits exactly as
// exegfx-still's PNG maps it. Nothing while no frame is held.
void savePng();

extern "C" {
// The mean of the frames held (render width x height x 3 floats, red, green,
// blue, rows from the bottom up, as exegfx-still's PFM): sum / frames in
// 32-bit floats, as exegfx-still divides. Valid until the next call.
const float *exegfx_read_mean();
// The frames the running sum holds, which exegfx_read_mean divides by.
unsigned exegfx_frames_held();
}

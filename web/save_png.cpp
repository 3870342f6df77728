#include "save_png.h"

#include "accumulation.h"
#include "display_byte.h"
#include "page.h"
#include "render_loop.h"

#include <emscripten/emscripten.h>
#include <emscripten/html5_webgl.h>

#include <GLES3/gl3.h>

#include <cmath>
#include <cstdint>
#include <vector>

static std::vector<float> mean;

// The current running sum, RGBA floats, rows from the bottom up.
static void readSum(std::vector<float> &rgba, int width, int height) {
  AccumulationView view = accumulationView();
  rgba.resize(std::size_t(width) * height * 4);
  glBindFramebuffer(GL_FRAMEBUFFER, view.framebuffer);
  // The texture the last finished frame wrote; the next pass reads it.
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                         view.textures[1 - view.pingPong], 0);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, width, height, GL_RGBA, GL_FLOAT, rgba.data());
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

static void readMean(int &width, int &height) {
  emscripten_webgl_get_drawing_buffer_size(emscripten_webgl_get_current_context(), &width, &height);
  std::vector<float> rgba;
  readSum(rgba, width, height);
  float frames = static_cast<float>(loopFramesHeld());
  mean.resize(std::size_t(width) * height * 3);
  for (std::size_t p = 0, n = std::size_t(width) * height; p < n; ++p)
    for (int k = 0; k < 3; ++k)
      mean[p * 3 + k] = frames > 0.0f ? rgba[p * 4 + k] / frames : 0.0f;
}

void savePng() {
  if (loopFramesHeld() == 0) return;
  int width = 0, height = 0;
  readMean(width, height);
  std::vector<std::uint8_t> bytes(std::size_t(width) * height * 4);
  // PNG rows run from the top down.
  for (int row = 0; row < height; ++row) {
    const float *src = mean.data() + std::size_t(height - 1 - row) * width * 3;
    std::uint8_t *dst = bytes.data() + std::size_t(row) * width * 4;
    for (int x = 0; x < width; ++x) {
      for (int k = 0; k < 3; ++k)
        dst[x * 4 + k] = displayByte(src[x * 3 + k]);
      dst[x * 4 + 3] = 255;
    }
  }
  page_save_png(bytes.data(), static_cast<unsigned>(width), static_cast<unsigned>(height),
                loopFramesHeld());
}

extern "C" EMSCRIPTEN_KEEPALIVE const float *exegfx_read_mean() {
  int width = 0, height = 0;
  readMean(width, height);
  return mean.data();
}

extern "C" EMSCRIPTEN_KEEPALIVE unsigned exegfx_frames_held() {
  return loopFramesHeld();
}

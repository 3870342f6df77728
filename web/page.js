// The page's side of the host (see page.h): the overlay, the messages, the PNG
// download and window.exegfx, the state scripts and tests read.
mergeInto(LibraryManager.library, {
  page_param: function (name, count, length) {
    var values = new URLSearchParams(window.location.search).getAll(UTF8ToString(name));
    HEAP32[count >> 2] = values.length;
    if (values.length === 0) return 0;
    // Every byte, a NUL (%00) included: the page refuses what it cannot take.
    HEAP32[length >> 2] = lengthBytesUTF8(values[0]);
    return allocateUTF8(values[0]);
  },

  page_has_webgl2: function () {
    return typeof WebGL2RenderingContext !== 'undefined' ? 1 : 0;
  },

  page_started: function (width, height, frameLimit) {
    var page = window.exegfx;
    page.state = 'rendering';
    page.width = width;
    page.height = height;
    page.frameLimit = frameLimit;
    page.frames = 0;
    page.mean = function () {
      var at = _exegfx_read_mean() >> 2;
      return {width: width, height: height, frames: _exegfx_frames_held(),
              rgb: HEAPF32.slice(at, at + width * height * 3)};
    };
    document.getElementById('size').value = width + 'x' + height;
    document.getElementById('save').disabled = true;
    page.showProgress();
  },

  page_progress: function (frames, elapsedMs, frameMs, bands, pixelsPerBand, longestBandMs, done) {
    var page = window.exegfx;
    page.frames = frames;
    page.elapsedMs = elapsedMs;
    page.frameMs = frameMs;
    page.bands = {count: bands, pixels: pixelsPerBand, longestMs: longestBandMs};
    if (done) page.state = 'done';
    document.getElementById('save').disabled = frames === 0;
    page.showProgress();
  },

  page_fail: function (text) {
    window.exegfx.fail(UTF8ToString(text));
  },

  page_notice: function (text) {
    var note = document.getElementById('notice');
    note.textContent = text ? UTF8ToString(text) : '';
    note.hidden = !text;
    if (text) {
      // The running sum went with the context: nothing to save until it is back.
      window.exegfx.state = 'lost';
      document.getElementById('save').disabled = true;
    }
  },

  page_save_png: function (rgba, width, height, frames) {
    var canvas = document.createElement('canvas');
    canvas.width = width;
    canvas.height = height;
    var image = new ImageData(new Uint8ClampedArray(HEAPU8.subarray(rgba, rgba + width * height * 4)),
                              width, height);
    // Opaque pixels go into the PNG as they stand: no colour conversion, no alpha.
    canvas.getContext('2d').putImageData(image, 0, 0);
    canvas.toBlob(function (blob) {
      var link = document.createElement('a');
      link.href = URL.createObjectURL(blob);
      link.download = 'exegfx-' + width + 'x' + height + '-' + frames + 'frames.png';
      document.body.appendChild(link);
      link.click();
      link.remove();
      setTimeout(function () { URL.revokeObjectURL(link.href); }, 60000);
    }, 'image/png');
  },
});

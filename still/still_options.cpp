#include "still_options.h"

#include "size_text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <cstring>
#include <string_view>

const char *stillUsage() {
  return "Usage: exegfx-still [options]\n"
         "Renders the exegfx picture without a window and writes it to a file.\n"
         "\n"
         "  --size WxH       picture size in pixels (default 1920x1080)\n"
         "  --frames N       samples per pixel, one per frame (default 64)\n"
         "  --seconds S      stop after the frame in progress once S seconds have\n"
         "                   passed; the image holds the frames done\n"
         "  --until-noise L  stop once the noise figure noise_p95 is at most L: 95% of\n"
         "                   the traced pixels' 8-bit values are known to within L\n"
         "                   levels (one standard error); --frames stays the cap\n"
         "  --adaptive       with --until-noise L: each pixel stops on its own once its\n"
         "                   standard error is within L levels, so the frames go where\n"
         "                   the picture is noisy; no pixel gets more frames than the\n"
         "                   uniform render would give it\n"
         "  -o, --output P   output file: .png (8-bit, as the window shows it),\n"
         "                   .pfm (32-bit float mean) or .exr (the mean and the exact\n"
         "                   running sum, for --resume and exegfx-merge)\n"
         "                   (default exegfx.png)\n"
         "  --first-frame K  render frame numbers K .. K+N-1 of the picture (default 1);\n"
         "                   the samples are exactly those of one long run\n"
         "  --resume         continue the .exr output if it holds the first frames of\n"
         "                   this range; start it when it does not exist\n"
         "  --checkpoint-every S\n"
         "                   also write the output every S seconds of rendering\n"
         "  --pass P         scene pass: fragment (the window's passes), compute (one\n"
         "                   dispatch, for GPUs with few raster units) or auto\n"
         "                   (compute where the GL offers it; the default)\n"
         "  --gpu N          render on the Nth GPU that opens, counted from 0 (never\n"
         "                   the software renderer); without it, the first GPU of\n"
         "                   CUDA_VISIBLE_DEVICES (as schedulers set it), else the first\n"
         "                   GPU, else the software renderer\n"
         "  --allow-software\n"
         "                   where CUDA_VISIBLE_DEVICES names a GPU that EGL cannot\n"
         "                   open, render on the software renderer (hundreds of times\n"
         "                   slower) instead of refusing\n"
         "  --list-gpus      list the EGL devices and the one that would be taken\n"
         "  --check          only check the options and that the output can be\n"
         "                   written, as a render does before it starts, and exit 0\n"
         "                   if they pass; opens no GL, and leaves every file as it\n"
         "                   was (the output is not read: --resume's file is judged\n"
         "                   when the render starts)\n"
         "  --help           show this text\n"
         "  --version        show the version\n"
         "\n"
         "SIGINT (Ctrl-C), SIGTERM and SIGHUP stop after the frame in progress and\n"
         "write the frames done; a second signal quits at once, leaving the last\n"
         "checkpoint as it was.\n"
         "Exit status: 0 written (all frames done, or --seconds reached), 1 error\n"
         "(nothing written), 128+N stopped by signal N (130 SIGINT, 143 SIGTERM,\n"
         "129 SIGHUP) with the frames done written.\n";
}

static bool parseSize(std::string_view text, StillOptions &options, std::string &error) {
  unsigned long long w = 0, h = 0;
  if (!splitSize(text, w, h)) {
    error = "--size wants WIDTHxHEIGHT in whole pixels, like 1920x1080; got \"" +
            std::string(text) + "\".";
    return false;
  }
  if (w == 0 || h == 0) {
    error = "--size " + std::string(text) + " is empty: width and height must be at least 1.";
    return false;
  }
  // The GL implementation's own limit is checked once a context exists; this
  // only keeps the numbers in range of GL's sizes.
  if (w > 1000000 || h > 1000000) {
    error = "--size " + std::string(text) + " is far above any GL implementation's limit.";
    return false;
  }
  options.width = static_cast<unsigned>(w);
  options.height = static_cast<unsigned>(h);
  return true;
}

static bool parseFrames(std::string_view text, StillOptions &options, std::string &error) {
  unsigned long long n = 0;
  if (!parseCount(text, n) || n == 0 || n > maxRunFrames) {
    error = "--frames wants a whole number from 1 to " + std::to_string(maxRunFrames) + "; got \"" +
            std::string(text) + "\".";
    return false;
  }
  options.frames = static_cast<unsigned>(n);
  return true;
}

static bool parseFirstFrame(std::string_view text, StillOptions &options, std::string &error) {
  unsigned long long n = 0;
  if (!parseCount(text, n) || n == 0 || n > maxStillFrames) {
    error = "--first-frame wants a frame number from 1 to " + std::to_string(maxStillFrames) +
            "; got \"" + std::string(text) + "\".";
    return false;
  }
  options.firstFrame = static_cast<unsigned>(n);
  return true;
}

static bool parsePass(std::string_view text, StillOptions &options, std::string &error) {
  if (text == "fragment")
    options.pass = ScenePass::Fragment;
  else if (text == "compute")
    options.pass = ScenePass::Compute;
  else if (text == "auto")
    options.pass = ScenePass::Auto;
  else {
    error = "--pass wants fragment, compute or auto; got \"" + std::string(text) + "\".";
    return false;
  }
  return true;
}

static bool parseGpu(std::string_view text, StillOptions &options, std::string &error) {
  unsigned long long n = 0;
  if (!parseCount(text, n) || n > 1023) {
    error = "--gpu wants a GPU number from 0 (exegfx-still --list-gpus lists them); got \"" +
            std::string(text) + "\".";
    return false;
  }
  options.gpu = static_cast<int>(n);
  return true;
}

// A finite decimal number above 0, digits with at most one point ("30",
// "2.5", ".5"); false for anything else: signs, spaces, exponents, hex.
static bool parsePositive(std::string_view text, double &value) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos) return false;
  double v = 0.0;
  auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v) || v <= 0.0)
    return false;
  value = v;
  return true;
}

static bool parseSecondsValue(std::string_view name, std::string_view text, double &value,
                              std::string &error) {
  if (parsePositive(text, value)) return true;
  error = std::string(name) + " wants a number of seconds above 0, like 30 or 2.5; got \"" +
          std::string(text) + "\".";
  return false;
}

static bool parseLevels(std::string_view text, double &value, std::string &error) {
  if (parsePositive(text, value)) return true;
  error = "--until-noise wants a noise level above 0 in 8-bit levels, like 1 or 0.5; got \"" +
          std::string(text) + "\".";
  return false;
}

// What the options ask together: an output format, frames within the cap,
// and the options that need one another. False with a message.
static bool checkCombination(StillOptions &options, std::string &error) {
  if (!imageFormatFor(options.output, options.format, error)) return false;
  if (std::uint64_t{options.firstFrame} + options.frames - 1 > maxStillFrames) {
    error = "--first-frame " + std::to_string(options.firstFrame) + " with --frames " +
            std::to_string(options.frames) + " goes past frame " + std::to_string(maxStillFrames) +
            ", the highest frame number exegfx renders.";
    return false;
  }
  if (options.adaptive && options.untilNoise <= 0.0) {
    error = "--adaptive needs --until-noise L: each pixel stops on its own once its standard "
            "error is within L 8-bit levels, and the render once 95% of the pixels are.";
    return false;
  }
  if (options.adaptive && options.pass == ScenePass::Fragment) {
    error = "--adaptive renders with its own compute pass over the pixels still running; it "
            "takes no --pass fragment.";
    return false;
  }
  if (options.resume && options.format != ImageFormat::Exr) {
    error = "--resume continues an .exr partial render, which holds the running sum; \"" +
            options.output + "\" is not one.";
    return false;
  }
  return true;
}

StillCommand parseStillOptions(int argc, const char *const *argv, StillOptions &options,
                               std::string &error) {
  for (int k = 1; k < argc; ++k) {
    std::string_view arg = argv[k];
    if (arg == "--help" || arg == "-h") return StillCommand::Help;
    if (arg == "--version") return StillCommand::Version;
  }
  for (int k = 1; k < argc; ++k)
    if (std::string_view(argv[k]) == "--list-gpus") return StillCommand::ListGpus;
  static const std::string_view valued[] = {
      "--size", "--frames",           "--seconds", "--first-frame", "--output",
      "-o",     "--checkpoint-every", "--pass",    "--gpu",         "--until-noise"};
  for (int k = 1; k < argc; ++k) {
    std::string_view arg = argv[k];
    std::string_view name = arg, value;
    bool inlineValue = false;
    if (arg.starts_with("--")) {
      std::size_t eq = arg.find('=');
      if (eq != std::string_view::npos) {
        name = arg.substr(0, eq);
        value = arg.substr(eq + 1);
        inlineValue = true;
      }
    } else if (arg.starts_with("-o") && arg.size() > 2) {
      name = "-o";
      value = arg.substr(2);
      inlineValue = true;
    }
    if ((name == "--resume" || name == "--check") && !inlineValue) {
      (name == "--resume" ? options.resume : options.check) = true;
      continue;
    }
    if ((name == "--allow-software" || name == "--adaptive") && !inlineValue) {
      (name == "--adaptive" ? options.adaptive : options.allowSoftware) = true;
      continue;
    }
    if (std::find(std::begin(valued), std::end(valued), name) == std::end(valued)) {
      error = arg.starts_with("-") ? "Unknown option \"" + std::string(arg) + "\"."
                                   : "Unexpected argument \"" + std::string(arg) + "\".";
      error += " See exegfx-still --help.";
      return StillCommand::Error;
    }
    if (!inlineValue) {
      if (k + 1 >= argc) {
        error = std::string(name) + " needs a value. See exegfx-still --help.";
        return StillCommand::Error;
      }
      value = argv[++k];
    }
    bool ok = true;
    if (name == "--size")
      ok = parseSize(value, options, error);
    else if (name == "--frames")
      ok = parseFrames(value, options, error);
    else if (name == "--seconds")
      ok = parseSecondsValue(name, value, options.seconds, error);
    else if (name == "--checkpoint-every")
      ok = parseSecondsValue(name, value, options.checkpointEvery, error);
    else if (name == "--first-frame")
      ok = parseFirstFrame(value, options, error);
    else if (name == "--pass")
      ok = parsePass(value, options, error);
    else if (name == "--gpu")
      ok = parseGpu(value, options, error);
    else if (name == "--until-noise")
      ok = parseLevels(value, options.untilNoise, error);
    else {
      options.output = std::string(value);
    }
    if (!ok) return StillCommand::Error;
  }
  return checkCombination(options, error) ? StillCommand::Render : StillCommand::Error;
}

// Writing the running mean to a file: 8-bit PNG as the window shows it, or a
// 32-bit float PFM. Input everywhere: width x height x 3 floats (red, green,
// blue), rows from the bottom up, as the GL reads them back.
#pragma once

#include "display_byte.h"
#include "output_path.h"

#include <cstdint>
#include <string>

// Writes the image whole or not at all: into a temporary file beside path,
// flushed to disk, then renamed over it. An existing file at path is kept
// untouched on failure. False with a message naming the problem.
bool writeImage(const std::string &path, ImageFormat format, unsigned width, unsigned height,
                const float *rgb, std::string &error);

// An 8-bit RGB PNG from width x height x 3 bytes, rows from the top down,
// written as writeImage writes.
bool writePngBytes(const std::string &path, unsigned width, unsigned height,
                   const std::uint8_t *rgbTopDown, std::string &error);

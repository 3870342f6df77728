// The running sum of squares of each pixel's samples, beside the running sum:
// a small compute pass after every scene pass, from which the statistics take
// each pixel's variance. It only reads the sum textures, so the sum keeps
// exactly the bits it has without it.
#pragma once

// Builds the pass and its texture (cleared to zero) on the open context, for a
// width x height picture. Needs compute shaders (every GL 4.6 context has them).
void squaresOpen(unsigned width, unsigned height);
// Sets the running sum of squares: width x height x 3 floats, rows from the
// bottom up; null for zero.
void squaresStart(const float *sumSquaresRgb);
// Adds the squares of the frame that the scene pass just added: its sample is
// the texture it wrote (after) less the one it read (before).
void squaresAdd(unsigned afterTexture, unsigned beforeTexture);
// Copies the running sum of squares into rgb (width x height x 3 floats, rows
// from the bottom up).
void squaresRead(float *rgb);

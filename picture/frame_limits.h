// The frame numbers a render may run, which partial files and merges check
// against.
#pragma once

// The highest frame number rendered (2^30). Past frame 2048 the scene draws
// its random numbers from an integer hash of the frame number, exact for
// every 32-bit number; 2^30 keeps frame counts within a partial file's 32-bit
// signed count.
inline constexpr unsigned maxStillFrames = 1u << 30;
// The most frames one run adds up (2^17). Its running sum is 32-bit float on
// the GPU, where each sample is rounded to the sum's precision: a sum of
// 2^17 frames keeps samples down to about 1e-4 of its mean. More frames are
// split into runs, which the merge adds in double precision.
inline constexpr unsigned maxRunFrames = 131072;

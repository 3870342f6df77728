#version 460
// The fragment entry: one fragment per pixel of the full-screen rectangle, the
// new running sum its output.
#define FC gl_FragCoord
// The running sum of the frames before, at this pixel.
#define PS texture(fr, uv)
out vec3 c;


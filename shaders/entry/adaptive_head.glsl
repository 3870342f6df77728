#version 460
// The adaptive entry: one invocation per pixel still running, from a list in
// scanline order, so that neighbours share a SIMD group as in the full pass.
// Each adds its sample to the sums it is given: the mean's, or on decision
// frames the separate one the stopping rule reads.
layout(local_size_x = 64) in;
// The pixels, x in the low 16 bits and y in the high ones, and how many.
layout(std430, binding = 0) readonly buffer Running { uint pl[]; };
uniform uint pn;
// The running sum (rgb) and sample count (a), and the sum of squares.
layout(rgba32f, binding = 0) uniform image2D sa;
layout(rgba32f, binding = 1) uniform image2D sq;
vec4 FC = vec4(0);
vec3 c = vec3(0);
#define PS imageLoad(sa, ivec2(FC.xy))

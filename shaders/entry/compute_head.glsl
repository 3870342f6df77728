#version 460
// The compute entry: one invocation per pixel of the render size. 8 x 8 tiles:
// x matches llvmpipe's 8 float lanes (narrower halves its speed), and 64
// invocations are two warps on NVIDIA, one wave on AMD.
layout(local_size_x = 8, local_size_y = 8) in;
// The new running sum, on image unit 0.
layout(rgba32f, binding = 0) writeonly uniform image2D so;
// What the fragment pass sees as gl_FragCoord: the pixel centre at the depth
// of the host's rectangle. Set by main.
vec4 FC = vec4(0);
vec3 c = vec3(0);
#define PS texelFetch(fr, ivec2(FC.xy), 0)


#version 460
// The still renderer's statistics: after each scene pass, the frame's sample
// is the new running sum less the old one (the sample exactly as the sum took
// it), and its square is added to the running sum of squares. The sums are
// only read, so they stay as the scene pass left them.
layout(local_size_x = 8, local_size_y = 8) in;
layout(binding = 0) uniform sampler2D sn; // the running sum after this frame
layout(binding = 1) uniform sampler2D so; // the running sum before it
layout(rgba32f, binding = 0) uniform image2D sq;

void main()
{
    ivec2 p = ivec2(gl_GlobalInvocationID.xy);
    if (any(greaterThanEqual(p, imageSize(sq))))
        return;
    vec3 d = texelFetch(sn, p, 0).rgb - texelFetch(so, p, 0).rgb;
    imageStore(sq, p, imageLoad(sq, p) + vec4(d * d, 0));
}

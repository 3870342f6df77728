

void main()
{
    if (gl_GlobalInvocationID.x >= pn)
        return;
    uint q = pl[gl_GlobalInvocationID.x];
    ivec2 p = ivec2(q & 0xffffu, q >> 16);
    FC = vec4(vec2(p) + .5, .5, 1);
    vec4 o = imageLoad(sa, p);
    px();
    imageStore(sa, p, vec4(c, o.a + 1.));
    // The sample as the sum took it, as the uniform renderer's squares pass
    // takes it.
    vec3 d = c - o.rgb;
    imageStore(sq, p, imageLoad(sq, p) + vec4(d * d, 0));
}
